#include "fonction/registration_queries.h"
#include "fonction/registration_text.h"
#include "fonction/text.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <QString>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <tuple>

namespace {

std::string cp(const char* utf8) {
    return to_cp1252(QString::fromUtf8(utf8));
}

// The admin connection speaks UTF-8; the program's rows are read back through it.
std::string utf8(const std::string& cp1252) {
    return from_cp1252(cp1252).toStdString();
}

class RegistrationQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
    }
    // Nobody listens on this loopback address: the connection is refused at once.
    void point_at_dead_server() {
        const ServerAccess access = ServerAccess::from_environment();
        folder.write_file("Configuration_Base_de_donnee.init", db->name() + "\r\n127.0.0.3\r\n" +
                                                                   access.station_user + "\r\n" +
                                                                   access.station_password);
    }
    // Texts in UTF-8, as the admin connection speaks.
    void add_account(const std::string& login, const std::string& nom, const std::string& prenom, char sexe,
                     int day, int month, int year) {
        db->exec("INSERT INTO tab_user (login_user, nom_user, prenom_user, sexe_user, jour_naissance_user, "
                 "mois_naissance_user, annee_naissance_user) VALUES (" +
                 sql_quoted(login) + ", " + sql_quoted(nom) + ", " + sql_quoted(prenom) + ", '" +
                 std::string(1, sexe) + "', " + std::to_string(day) + ", " + std::to_string(month) + ", " +
                 std::to_string(year) + ")");
    }
    void add_pending(const std::string& login, const std::string& nom, const std::string& prenom, char sexe,
                     int day, int month, int year) {
        db->exec("INSERT INTO tab_inscription_user (login_inscription_user, nom_inscription_user, "
                 "prenom_inscription_user, sexe_inscription_user, jour_naissance_inscription_user, "
                 "mois_naissance_inscription_user, annee_naissance_inscription_user) VALUES (" +
                 sql_quoted(login) + ", " + sql_quoted(nom) + ", " + sql_quoted(prenom) + ", '" +
                 std::string(1, sexe) + "', " + std::to_string(day) + ", " + std::to_string(month) + ", " +
                 std::to_string(year) + ")");
    }
    RegistrationValues jean_dupont() {
        RegistrationValues v;
        v.surname = "DUPONT";
        v.first_name = "Jean";
        v.sex_code = 0;
        v.birth_day = 5;
        v.birth_month = 3;
        v.birth_year = 1990;
        v.csp_code = 11;
        v.equipment_code = 2;
        v.usage_place_code = 3;
        v.knowledge_text = cp("Intermédiaire");
        v.id_city = 42;
        v.other_town = cp("Saint-étienne");
        v.login = "jdupont";
        v.digest = password_digest("05031990");
        v.address = "12 rue Haute\r\nBat B\r\n";
        v.postcode = "69001";
        v.telephone = "04 78 00 00 00";
        v.mobile = "06 00 00 00 00";
        v.mail = "jean@example.org";
        v.info = "Aime lire\r\n";
        return v;
    }
    static constexpr const char* all_columns =
        "SELECT date_inscription_user, nom_inscription_user, prenom_inscription_user, sexe_inscription_user, "
        "jour_naissance_inscription_user, mois_naissance_inscription_user, annee_naissance_inscription_user, "
        "adresse_inscription_user, code_postal_inscription, ville_inscription_user, "
        "commune_inscription_autres, "
        "tel_inscription_user, tel_port_inscription_user, mail_inscription_user, temps_inscription_user, "
        "csp_inscription_user, equipement_inscription_user, utilisation_inscription_user, "
        "connaissance_inscription_user, info_inscription_user, login_inscription_user, "
        "pass_inscription_user, "
        "status_inscription_user, lastvisit_inscription_user FROM tab_inscription_user";

    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(RegistrationQueries, TownsAreCountedAndReadByPositionInTheServersOrder) {
    int count = 9;
    count_cities(link, count);
    EXPECT_EQ(count, 0) << "an empty table";
    EXPECT_EQ(city_name_at(link, 0), "");

    db->exec("INSERT INTO tab_city (nom_city) VALUES ('Lyon'), ('Autres'), ('Saint-Étienne'), ('L''Isle')");
    count_cities(link, count);
    ASSERT_EQ(count, 4);
    const auto expected = db->rows("SELECT nom_city FROM tab_city");
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(utf8(city_name_at(link, i)), expected[static_cast<std::size_t>(i)][0]) << i;
    }
    EXPECT_EQ(city_name_at(link, 4), "") << "past the last row";
    EXPECT_EQ(city_name_at(link, -1), "");
    EXPECT_EQ(db->open_connections(), 0);

    point_at_dead_server();
    count = 9;
    count_cities(link, count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(city_name_at(link, 0), "");
}

TEST_F(RegistrationQueries, TheTownListIsReadWholeInTheServersOrderAsTheTownByTownReadingGivesIt) {
    // Keys out of alphabetical order: the list follows the keys, as the server returns the rows.
    db->exec("INSERT INTO tab_city (id_city, nom_city) VALUES (7, 'Annecy'), (3, 'Zurich'), (5, NULL), "
             "(9, 'Autres'), (4, " +
             sql_quoted("L'Isle \\ 100% \"x\" %s") +
             "), (6, CAST(X'53E97A6980' AS CHAR CHARACTER SET latin1)), "
             "(8, '" +
             std::string(255, 'v') + "')");
    std::vector<std::string> names = {"left over"};
    read_city_names(link, names);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Zurich", "L'Isle \\ 100% \"x\" %s", "", "S\xE9zi\x80", "Annecy",
                                        std::string(registration_capacity::city, 'v'), "Autres"}));
    int count = 0;
    count_cities(link, count);
    ASSERT_EQ(count, static_cast<int>(names.size()));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(city_name_at(link, i), names[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_EQ(db->open_connections(), 0);

    db->exec("DELETE FROM tab_city");
    names = {"left over"};
    read_city_names(link, names);
    EXPECT_TRUE(names.empty()) << "an empty table";

    db->exec("INSERT INTO tab_city (nom_city) VALUES ('Lyon')");
    point_at_dead_server();
    names = {"left over"};
    read_city_names(link, names);
    EXPECT_TRUE(names.empty()) << "no server, no town";
    db->write_database_file();
    db->exec("ALTER TABLE tab_city RENAME COLUMN nom_city TO nom");
    names = {"left over"};
    read_city_names(link, names);
    EXPECT_TRUE(names.empty()) << "a refused statement, no town";
}

TEST_F(RegistrationQueries, APersonIsKnownByAccountOrPendingRegistration) {
    add_account("jdupont", "DUPONT", "Jean", 'H', 5, 3, 1990);
    add_pending("mmartin", "MARTIN", "Marie", 'F', 31, 12, 2001);
    int known = 7;
    person_already_known(link, "DUPONT", "Jean", 'H', 5, 3, 1990, known);
    EXPECT_EQ(known, 1) << "in the accounts";
    known = 7;
    person_already_known(link, "MARTIN", "Marie", 'F', 31, 12, 2001, known);
    EXPECT_EQ(known, 1) << "in the pending registrations";
    // One differing value is another person.
    for (const auto& other : {std::make_tuple("DUPONT", "Jean", 'F', 5, 3, 1990),
                              std::make_tuple("DUPONT", "Jean", 'H', 6, 3, 1990),
                              std::make_tuple("DUPONT", "Jean", 'H', 5, 4, 1990),
                              std::make_tuple("DUPONT", "Jean", 'H', 5, 3, 1991),
                              std::make_tuple("DUPONT", "Jeanne", 'H', 5, 3, 1990),
                              std::make_tuple("MARTIN", "Marie", 'H', 31, 12, 2001)}) {
        known = 7;
        person_already_known(link, std::get<0>(other), std::get<1>(other), std::get<2>(other),
                             std::get<3>(other), std::get<4>(other), std::get<5>(other), known);
        EXPECT_EQ(known, 0) << std::get<1>(other) << " " << std::get<2>(other) << std::get<3>(other);
    }
    // Quotes in the names are values, not SQL.
    known = 7;
    person_already_known(link, "X' OR '1'='1", "Y' OR '1'='1", 'H', 5, 3, 1990, known);
    EXPECT_EQ(known, 0);
    add_account("obrien", "O'BRIEN \\ 100% \"", "Seán", 'H', 1, 1, 1980);
    known = 7;
    person_already_known(link, "O'BRIEN \\ 100% \"", cp("Seán").c_str(), 'H', 1, 1, 1980, known);
    EXPECT_EQ(known, 1);
    EXPECT_EQ(db->open_connections(), 0);

    point_at_dead_server();
    known = 7;
    person_already_known(link, "DUPONT", "Jean", 'H', 5, 3, 1990, known);
    EXPECT_EQ(known, 7) << "the flag is written only when a statement answers";
}

TEST_F(RegistrationQueries, ALoginIsFreeWhenNoAccountAndNoPendingRegistrationHoldsIt) {
    add_account("jdupont", "DUPONT", "Jean", 'H', 5, 3, 1990);
    add_pending("mmartin", "MARTIN", "Marie", 'F', 31, 12, 2001);
    int free = 7;
    login_is_free(link, "jdupont", free);
    EXPECT_EQ(free, 0);
    free = 7;
    login_is_free(link, "mmartin", free);
    EXPECT_EQ(free, 0) << "already promised to a pending registration";
    free = 7;
    login_is_free(link, "jedupont", free);
    EXPECT_EQ(free, 1);
    free = 7;
    login_is_free(link, "JDUPONT", free);
    EXPECT_EQ(free, 1) << "logins compare exactly";
    free = 7;
    login_is_free(link, "x' OR '1'='1", free);
    EXPECT_EQ(free, 1);
    EXPECT_EQ(db->open_connections(), 0);

    point_at_dead_server();
    free = 7;
    login_is_free(link, "jedupont", free);
    EXPECT_EQ(free, 7);
}

TEST_F(RegistrationQueries, TheFirstFreeCandidateIsTheLogin) {
    FixedText<registration_capacity::login + 1> login("unchanged");
    ASSERT_TRUE(find_free_login(link, "Jean", "DUPONT", login));
    EXPECT_EQ(login.str(), "jdupont");
    add_account("jdupont", "A", "B", 'H', 1, 1, 1970);
    add_pending("jedupont", "C", "D", 'H', 1, 1, 1970);
    ASSERT_TRUE(find_free_login(link, "Jean", "DUPONT", login));
    EXPECT_EQ(login.str(), "jeadupont");
    add_account("jeadupont", "A", "B", 'H', 1, 1, 1970);
    add_account("jeandupont", "A", "B", 'H', 1, 1, 1970);
    login = "unchanged";
    EXPECT_FALSE(find_free_login(link, "Jean", "DUPONT", login)) << "every candidate taken";
    EXPECT_EQ(login.str(), "unchanged");

    point_at_dead_server();
    EXPECT_FALSE(find_free_login(link, "Paul", "NEUF", login)) << "a server that cannot answer frees nothing";
}

TEST_F(RegistrationQueries, ATownIdIsReadByNameAndKeptWhenThereIsNone) {
    db->exec("INSERT INTO tab_city (nom_city) VALUES ('Lyon'), ('Autres'), ('L''Isle \\\\ 100%')");
    const int lyon = std::stoi(db->scalar("SELECT id_city FROM tab_city WHERE nom_city='Lyon'"));
    const int isle = std::stoi(db->scalar("SELECT id_city FROM tab_city WHERE nom_city LIKE 'L''Isle%'"));
    int id = 0;
    city_id_of_name(link, "Lyon", id);
    EXPECT_EQ(id, lyon);
    city_id_of_name(link, "L'Isle \\ 100%", id);
    EXPECT_EQ(id, isle);
    city_id_of_name(link, "Nowhere' OR '1'='1", id);
    EXPECT_EQ(id, isle) << "unchanged when no town has that name";
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(RegistrationQueries, TheRegistrationRowHoldsEveryValue) {
    system.now = LocalTime{2026, 2, 7, 9, 5, 0};
    ASSERT_TRUE(insert_registration(link, jean_dupont()));
    const auto rows = db->rows(all_columns);
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<std::string> expected = {"2026-02-07",
                                               "DUPONT",
                                               "Jean",
                                               "H",
                                               "5",
                                               "3",
                                               "1990",
                                               "12 rue Haute\r\nBat B\r\n",
                                               "69001",
                                               "42",
                                               "Saint-étienne",
                                               "04 78 00 00 00",
                                               "06 00 00 00 00",
                                               "jean@example.org",
                                               "999",
                                               "11",
                                               "2",
                                               "3",
                                               "Intermédiaire",
                                               "Aime lire\r\n",
                                               "jdupont",
                                               password_digest("05031990"),
                                               "1",
                                               "2026-02-07"};
    EXPECT_EQ(rows[0], expected);
    EXPECT_EQ(db->scalar("SELECT pass_inscription_user = MD5('05031990') FROM tab_inscription_user"), "1");
    EXPECT_EQ(db->open_connections(), 0);

    RegistrationValues woman = jean_dupont();
    woman.sex_code = 1;
    woman.other_town.clear();
    ASSERT_TRUE(insert_registration(link, woman));
    EXPECT_EQ(db->scalar(
                  "SELECT sexe_inscription_user FROM tab_inscription_user ORDER BY id_inscription_user DESC"),
              "F");
    EXPECT_EQ(
        db->scalar("SELECT commune_inscription_autres FROM tab_inscription_user ORDER BY id_inscription_user "
                   "DESC"),
        "");
}

TEST_F(RegistrationQueries, EveryTextAtItsCapacityAndAllInNeedOfEscapingStillFits) {
    RegistrationValues v = jean_dupont();
    namespace cap = registration_capacity;
    v.surname = std::string(cap::name, '\'');
    v.first_name = std::string(cap::name, '\\');
    v.other_town = std::string(cap::name, '"');
    v.login = std::string(cap::login, '\'');
    v.postcode = std::string(cap::postcode, '\\');
    v.telephone = std::string(cap::telephone, '\'');
    v.mobile = std::string(cap::telephone, '\\');
    v.mail = std::string(cap::mail, '\'');
    v.address = std::string(cap::address, '\n');
    v.info = std::string(cap::info, '\r');
    v.id_city = -2147483647 - 1;
    v.birth_year = -2147483647 - 1;
    ASSERT_TRUE(insert_registration(link, v));
    const auto rows =
        db->rows("SELECT nom_inscription_user, prenom_inscription_user, commune_inscription_autres, "
                 "login_inscription_user, code_postal_inscription, tel_inscription_user, "
                 "tel_port_inscription_user, mail_inscription_user, adresse_inscription_user, "
                 "info_inscription_user FROM tab_inscription_user");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{v.surname.str(), v.first_name.str(), v.other_town.str(),
                                        v.login.str(), v.postcode.str(), v.telephone.str(), v.mobile.str(),
                                        v.mail.str(), v.address.str(), v.info.str()}));
}

TEST_F(RegistrationQueries, LongerTextIsCutAtTheCapacityOfItsValue) {
    RegistrationValues v = jean_dupont();
    v.surname = std::string(500, 'A');
    v.info = std::string(5000, 'i');
    EXPECT_EQ(v.surname.size(), registration_capacity::name);
    EXPECT_EQ(v.info.size(), registration_capacity::info);
    ASSERT_TRUE(insert_registration(link, v));
    EXPECT_EQ(db->scalar("SELECT nom_inscription_user FROM tab_inscription_user"), std::string(99, 'A'));
    EXPECT_EQ(db->scalar("SELECT info_inscription_user FROM tab_inscription_user"), std::string(120, 'i'));
}

TEST_F(RegistrationQueries, ARefusedInsertSaysSoAndWritesNothing) {
    point_at_dead_server();
    EXPECT_FALSE(insert_registration(link, jean_dupont())) << "server gone";
    db->write_database_file();
    db->exec("ALTER TABLE tab_inscription_user DROP COLUMN info_inscription_user");
    EXPECT_FALSE(insert_registration(link, jean_dupont())) << "statement error";
    EXPECT_EQ(db->count("tab_inscription_user"), 0);
    EXPECT_EQ(db->open_connections(), 0);
}
