// The hostile corpus through every query operation that takes text, on the server of the executable
// (the script's, or one in NO_BACKSLASH_ESCAPES,ANSI_QUOTES and strict mode): a text matches only the
// row holding exactly its bytes, is stored exactly, and never reaches another row.
#include "fonction/registration_queries.h"
#include "fonction/session_queries.h"
#include "fonction/setup_queries.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"
#include "tests/reliability/hostile_corpus.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// What the station hands the operations for a typed text: Windows-1252 bytes, ended at a NUL.
std::string station_text(const HostileText& hostile) {
    const std::string bytes = to_cp1252(hostile.text);
    return bytes.substr(0, bytes.find('\0'));
}

// The corpus, and logins that would sign in as the first account if a value were escaped for one
// sql_mode and read in another.
std::vector<std::pair<std::string, std::string>> hostile_texts() {
    std::vector<std::pair<std::string, std::string>> texts;
    for (const HostileText& hostile : hostile_corpus()) {
        texts.emplace_back(hostile.name, station_text(hostile));
    }
    for (const char* injection : {"\\' OR 1=1 -- \"", "\\' OR 1=1 -- ", "\\' OR 1=1 #\"", "\" OR \"\"=\"",
                                  "\\\" OR 1=1 -- \"", "' OR 1=1 -- \""}) {
        texts.emplace_back(injection, injection);
    }
    return texts;
}

class HostileQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
    }
    int add_account(const std::string& login_bytes, const std::string& password, int status) {
        db->exec("INSERT INTO tab_user (login_user, pass_user, status_user, temps_user) VALUES (" +
                 latin1_literal(login_bytes) + ", '" + password_digest(password) + "', " +
                 std::to_string(status) + ", 60)");
        return static_cast<int>(db->insert_id());
    }
    // The bytes of one column of one row, as hexadecimal.
    std::string stored(const std::string& column, const std::string& table, const std::string& where) {
        return db->scalar("SELECT HEX(" + column + ") FROM " + table + " WHERE " + where);
    }

    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(HostileQueries, ASignInFindsOnlyTheAccountWhoseLoginHoldsExactlyTheseBytes) {
    const int staff = add_account("admin", "secret", 3);
    add_account("mdurand", "soleil", 1);
    for (const auto& [name, login] : hostile_texts()) {
        SCOPED_TRACE(name);
        int id_user = 0, status = 0, outcome = 0;
        // The staff account's own digest: an injection that reached any row would sign in.
        lookup_account(link, login.c_str(), password_digest("secret").c_str(), id_user, status, outcome);
        EXPECT_EQ(id_user, 0);
        EXPECT_EQ(outcome, 0);
        if (login.size() > 255) {
            continue; // longer than any login can be
        }
        const int own = add_account(login, "mot de passe", 1);
        lookup_account(link, login.c_str(), password_digest("mot de passe").c_str(), id_user, status,
                       outcome);
        EXPECT_EQ(id_user, own);
        EXPECT_EQ(outcome, 1);
        id_user = 0;
        lookup_account(link, login.c_str(), password_digest("secret").c_str(), id_user, status, outcome);
        EXPECT_EQ(id_user, 0) << "another account's password";
        db->exec("DELETE FROM tab_user WHERE id_user=" + std::to_string(own));
    }
    EXPECT_EQ(db->scalar("SELECT COUNT(*) FROM tab_user WHERE id_user=" + std::to_string(staff)), "1");
    EXPECT_EQ(db->count("tab_user"), 2);
}

TEST_F(HostileQueries, ARegistrationStoresEveryTextsExactBytesAndItsLookupsFindThem) {
    for (const auto& [name, text] : hostile_texts()) {
        SCOPED_TRACE(name);
        RegistrationValues v;
        v.surname = text;
        v.first_name = text;
        v.other_town = text;
        v.address = text;
        v.postcode = text;
        v.telephone = text;
        v.mobile = text;
        v.mail = text;
        v.info = text;
        v.login = text;
        v.knowledge_text = "Avance";
        v.digest = password_digest("01021990");
        v.birth_day = 1;
        v.birth_month = 2;
        v.birth_year = 1990;
        ASSERT_TRUE(insert_registration(link, v));
        const std::string row = "id_inscription_user=" + db->scalar("SELECT MAX(id_inscription_user) FROM "
                                                                    "tab_inscription_user");
        const std::vector<std::pair<const char*, std::string>> columns = {
            {"nom_inscription_user", v.surname.str()},
            {"prenom_inscription_user", v.first_name.str()},
            {"commune_inscription_autres", v.other_town.str()},
            {"adresse_inscription_user", v.address.str()},
            {"code_postal_inscription", v.postcode.str()},
            {"tel_inscription_user", v.telephone.str()},
            {"tel_port_inscription_user", v.mobile.str()},
            {"mail_inscription_user", v.mail.str()},
            {"info_inscription_user", v.info.str()},
            {"login_inscription_user", v.login.str()}};
        for (const auto& [column, expected] : columns) {
            EXPECT_EQ(stored(column, "tab_inscription_user", row), hex(expected)) << column;
        }

        int known = 7;
        person_already_known(link, v.surname.c_str(), v.first_name.c_str(), 'H', 1, 2, 1990, known);
        EXPECT_EQ(known, 1) << "the registration just written";
        person_already_known(link, v.surname.c_str(), (v.first_name.str() + "x").c_str(), 'H', 1, 2, 1990,
                             known);
        EXPECT_EQ(known, 0);
        int free = 7;
        login_is_free(link, v.login.c_str(), free);
        EXPECT_EQ(free, 0) << "promised to the registration";

        const std::string town = text.substr(0, 255);
        db->exec("INSERT INTO tab_city (nom_city) VALUES (" + latin1_literal(town) + ")");
        const int id_city = static_cast<int>(db->insert_id());
        int found = -1;
        city_id_of_name(link, town.c_str(), found);
        EXPECT_EQ(found, id_city);
        found = -1;
        city_id_of_name(link, (town + "'").c_str(), found);
        EXPECT_EQ(found, -1) << "no other town";
    }
}

TEST_F(HostileQueries, SetUpAndStartUpStoreAndFindExactNames) {
    db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer) VALUES ('Poste-02', '')");
    for (const auto& [name, text] : hostile_texts()) {
        SCOPED_TRACE(name);
        const std::string station = text.substr(0, 255);
        db->exec("INSERT INTO tab_espace (nom_espace) VALUES (" + latin1_literal(text.substr(0, 999)) + ")");
        const std::string id_espace = std::to_string(db->insert_id());
        db->exec("INSERT INTO tab_config_logiciel (id_espace, affichage_temps_logiciel) VALUES (" +
                 id_espace + ", 7)");
        db->exec("INSERT INTO tab_salle (id_espace, nom_salle) VALUES (" + id_espace + ", 'Salle')");
        const std::string id_salle = std::to_string(db->insert_id());
        db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, id_salle) VALUES (" +
                 latin1_literal(station) + ", '', " + id_salle + ")");
        const std::string row = "id_computer=" + std::to_string(db->insert_id());

        EXPECT_EQ(update_computer_record(link, station.c_str(), 1, "00-1A-2B-3C-4D-5E", "10.0.0.1",
                                         text.substr(0, 255).c_str()),
                  UpdateRun);
        EXPECT_EQ(stored("nom_hote_computer", "tab_computer", row), hex(text.substr(0, 255)));
        EXPECT_EQ(stored("adresse_mac_computer", "tab_computer", row), hex("00-1A-2B-3C-4D-5E"));
        EXPECT_EQ(db->scalar("SELECT adresse_mac_computer FROM tab_computer WHERE nom_computer='Poste-02'"),
                  "")
            << "no other record";

        FixedText<1000> space;
        int status = 1;
        read_space_name(link, station.c_str(), space, status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(hex(space.str()), hex(text.substr(0, 999)));
        SpaceSettings settings;
        read_space_settings(link, space.c_str(), settings);
        EXPECT_EQ(settings.affichage_temps_logiciel, 7);
        // Staff free it: the next claim gives the same MAC.
        db->exec("UPDATE tab_computer SET nom_computer='ancien', adresse_mac_computer='' WHERE " + row);
    }
}

TEST_F(HostileQueries, ASurveyAnswerIsRecordedOnlyForTheCaptionHoldingExactlyTheseBytes) {
    db->exec("INSERT INTO tab_utilisation (nom_utilisation) VALUES ('Emploi')");
    for (const auto& [name, caption] : hostile_texts()) {
        SCOPED_TRACE(name);
        db->exec("DELETE FROM rel_utilisation_user");
        record_usage_answer(link, caption.c_str(), 5);
        EXPECT_EQ(db->count("rel_utilisation_user"), 0) << "no caption holds it yet";
        if (caption.size() > 499) {
            continue; // longer than any caption can be
        }
        db->exec("INSERT INTO tab_utilisation (nom_utilisation) VALUES (" + latin1_literal(caption) + ")");
        const std::string id = std::to_string(db->insert_id());
        record_usage_answer(link, caption.c_str(), 5);
        EXPECT_EQ(db->rows("SELECT id_utilisation, id_user FROM rel_utilisation_user"),
                  (std::vector<std::vector<std::string>>{{id, "5"}}));
        db->exec("DELETE FROM tab_utilisation WHERE id_utilisation=" + id);
    }
}
