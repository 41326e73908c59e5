#include "fonction/room_queries.h"
#include "fonction/session_queries.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <QString>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string cp(const char* utf8) {
    return to_cp1252(QString::fromUtf8(utf8));
}

// Every statement runs as the staff stations' account, unless a test says otherwise.
class RoomQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_staff_database_file();
    }
    void as_station() const { db->write_database_file(); }
    // A space with two rooms, its computers, and one of another space.
    void add_room() {
        db->exec(
            "INSERT INTO tab_espace (id_espace, nom_espace) VALUES (1, 'Espace Jean Moulin'), "
            "(2, 'L''Atelier \\\\ 100%_'); INSERT INTO tab_salle (id_salle, id_espace, nom_salle) VALUES "
            "(1, 1, 'Salle B'), (2, 1, 'Médiathèque'), (3, 2, 'Quai'); "
            "INSERT INTO tab_computer (id_computer, nom_computer, usage_computer, id_salle, "
            "date_lastetat_computer, lastetat_computer) "
            "VALUES (1, 'Accueil', 2, 1, '2026-12-09', 37795), (2, 'Poste-01', 1, 1, '2026-12-09', 37790), "
            "(3, 'Poste-02', 1, 2, NULL, NULL), (4, 'Poste-03', 1, 3, '2026-12-08', 100), "
            "(5, 'Orphelin', 0, 99, '', 0); INSERT INTO tab_user (id_user, login_user, status_user, "
            "temps_user, nom_user, prenom_user) VALUES (1, 'mdurand', 1, 120, 'DURAND', 'Élise'), "
            "(2, 'animateur', 3, 999, 'KERBRAT', 'Yann')");
    }
    int add_resa(int computer, int user, const std::string& date, int duration, int status) {
        db->exec("INSERT INTO tab_resa VALUES (NULL, " + std::to_string(computer) + ", " +
                 std::to_string(user) + ", '" + date + "', 600, " + std::to_string(duration) + ", '" + date +
                 "', " + std::to_string(status) + ")");
        return static_cast<int>(db->insert_id());
    }
    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(RoomQueries, TheRefreshReadsEachOpenRowAndWhatItsDayCountedAndStaffEndOnlyAnOpenOne) {
    add_room();
    const int open = add_resa(2, 1, "2026-12-09", 90, 0);
    add_resa(4, 1, "2026-12-09", 30, 2); // counted against the allowance
    add_resa(4, 1, "2026-12-09", 45, 1); // closed normally: not counted
    add_resa(4, 1, "2026-12-08", 50, 2); // another day
    const int staff = add_resa(1, 2, "2026-12-09", 90, 0);
    std::vector<RoomComputer> space, network;
    ASSERT_EQ(read_room_computers(link, 1, false, space), RoomRead::Read);
    ASSERT_EQ(read_room_computers(link, 1, true, network), RoomRead::Read);
    const auto summary = [](const std::vector<RoomComputer>& rows) {
        Rows out;
        for (const RoomComputer& c : rows) {
            out.push_back({std::to_string(c.id_computer), c.name, c.room, c.space, c.heartbeat_date,
                           std::to_string(c.heartbeat_seconds), std::to_string(c.id_resa), c.login, c.surname,
                           c.first_name, std::to_string(c.status_user), std::to_string(c.allowance),
                           std::to_string(c.spent)});
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    const Rows expected_space = {
        {"1", "Accueil", "Salle B", "Espace Jean Moulin", "2026-12-09", "37795", std::to_string(staff),
         "animateur", "KERBRAT", "Yann", "3", "999", "0"},
        {"2", "Poste-01", "Salle B", "Espace Jean Moulin", "2026-12-09", "37790", std::to_string(open),
         "mdurand", "DURAND", cp("Élise"), "1", "120", "30"},
        {"3", "Poste-02", cp("Médiathèque"), "Espace Jean Moulin", "", "0", "0", "", "", "", "0", "0", "0"},
    };
    EXPECT_EQ(summary(space), expected_space);
    Rows expected_network = expected_space;
    expected_network.push_back(
        {"4", "Poste-03", "Quai", "L'Atelier \\ 100%_", "2026-12-08", "100", "0", "", "", "", "0", "0", "0"});
    expected_network.push_back({"5", "Orphelin", "", "", "", "0", "0", "", "", "", "0", "0", "0"});
    EXPECT_EQ(summary(network), expected_network);

    // Ended from outside as staff always could: the row closed with status 1, which the station's next
    // poll sees; the station then writes its own duration with the same status.
    EXPECT_EQ(end_session_from_outside(link, open, 12), EndOutcome::Ended);
    EXPECT_EQ(end_session_from_outside(link, open, 15), EndOutcome::NotOpen);
    as_station();
    int polled = 0;
    poll_session_status(link, 1, open, polled);
    EXPECT_EQ(polled, 1);
    EXPECT_TRUE(close_session_row(link, 13, 1, open));
    EXPECT_EQ(db->scalar("SELECT CONCAT(duree_resa, '/', status_resa) FROM tab_resa WHERE id_resa=" +
                         std::to_string(open)),
              "13/1");
}

TEST_F(RoomQueries, AValidationCreatesTheAccountAndMarksTheRegistrationOrWritesNothing) {
    db->exec("INSERT INTO tab_user (login_user, pass_user, status_user, temps_user, nom_user, prenom_user, "
             "sexe_user, jour_naissance_user, mois_naissance_user, annee_naissance_user) VALUES ('mdurand', "
             "'x', 1, 120, 'DURAND', 'Marie', 'F', 12, 4, 1978)");
    // The person of row 3 is an account already (under another login); row 4 was refused; row 5 has no login.
    db->exec(
        "INSERT INTO tab_inscription_user (id_inscription_user, date_inscription_user, nom_inscription_user, "
        "prenom_inscription_user, sexe_inscription_user, jour_naissance_inscription_user, "
        "mois_naissance_inscription_user, annee_naissance_inscription_user, login_inscription_user, "
        "pass_inscription_user, status_inscription_user) VALUES "
        "(1, '2026-12-05', 'L''HÔTE \\\\ %', 'Zoë', 'F', 3, 9, 1992, 'zl''hôte \\\\ %', "
        "'de20d02e54c21e19b58144ab39ff7e48', 1), (2, '2026-12-06', 'MARTIN', 'Paul', 'H', 1, 1, 1990, "
        "'mdurand', 'p', 1), (3, '2026-12-06', 'DURAND', 'Marie', 'F', 12, 4, 1978, 'mdurand2', 'p', 1), "
        "(4, '2026-12-06', 'ROUX', 'Léa', 'F', 2, 2, 2002, 'lroux', 'p', 3), "
        "(5, '2026-12-07', 'SANS', 'Nom', 'H', 2, 2, 2002, '', 'p', 1)");
    using O = RegistrationOutcome;
    for (const auto& [id, outcome] : std::vector<std::pair<int, O>>{{1, O::Validated},
                                                                    {1, O::Gone},
                                                                    {2, O::LoginTaken},
                                                                    {3, O::PersonKnown},
                                                                    {4, O::Gone},
                                                                    {5, O::NoLogin},
                                                                    {99, O::Gone}}) {
        EXPECT_EQ(validate_registration(link, id, 45), outcome) << id;
    }
    EXPECT_EQ(
        db->rows(
            "SELECT login_user, pass_user, status_user, temps_user, nom_user, prenom_user, sexe_user, "
            "jour_naissance_user, mois_naissance_user, annee_naissance_user FROM tab_user ORDER BY id_user"),
        (Rows{{"mdurand", "x", "1", "120", "DURAND", "Marie", "F", "12", "4", "1978"},
              {"zl'hôte \\ %", "de20d02e54c21e19b58144ab39ff7e48", "1", "45", "L'HÔTE \\ %", "Zoë", "F", "3",
               "9", "1992"}}));
    EXPECT_TRUE(refuse_registration(link, 2));
    EXPECT_FALSE(refuse_registration(link, 2)) << "refused already";
    EXPECT_FALSE(refuse_registration(link, 1)) << "validated";
    EXPECT_EQ(db->scalar("SELECT GROUP_CONCAT(status_inscription_user ORDER BY id_inscription_user) FROM "
                         "tab_inscription_user"),
              "2,3,1,3,1")
        << "nothing deleted";
    std::vector<WaitingRegistration> waiting;
    ASSERT_TRUE(read_waiting_registrations(link, waiting));
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].login, "mdurand2");
}

TEST_F(RoomQueries, AccountsAreFoundWithTheSearchsOwnWildcardsTakenLiterally) {
    db->exec("INSERT INTO tab_user (login_user, nom_user) VALUES ('a%b', ''), ('a_b', ''), ('axb', ''), "
             "('a!b', ''), ('jdupont', 'DUPONT'), ('l''x\\\\', '')");
    for (const auto& [text, logins] :
         std::vector<std::pair<std::string, std::string>>{{"%", "a%b "},
                                                          {"_", "a_b "},
                                                          {"!", "a!b "},
                                                          {"a", "a!b a%b a_b axb "},
                                                          {"dup", "jdupont "},
                                                          {"'x\\", "l'x\\ "},
                                                          {"", "a!b a%b a_b axb jdupont l'x\\ "}}) {
        std::vector<AccountRow> found;
        ASSERT_TRUE(find_accounts(link, text, found)) << text;
        std::string listed;
        for (const AccountRow& a : found) {
            listed += a.login + " ";
        }
        EXPECT_EQ(listed, logins) << text;
    }
}

// The account keeps the form the stations read: its digest is the one a station computes at sign-in.
TEST_F(RoomQueries, AnAccountCreatedOrChangedSignsInOnAStation) {
    const std::string digest = password_digest(cp("café"));
    ASSERT_EQ(digest, "961f50f6282239d09e48f812c1ca7276");
    EXPECT_EQ(create_account(link, NewAccount{"cmorvan", digest, "MORVAN", "Corentin", 1, 90}),
              AccountOutcome::Done);
    EXPECT_EQ(create_account(link, NewAccount{"cmorvan", digest, "X", "Y", 3, 1}),
              AccountOutcome::LoginTaken);
    const std::string id = db->scalar("SELECT id_user FROM tab_user WHERE login_user='cmorvan'");
    const std::string account = "SELECT status_user, temps_user, pass_user FROM tab_user WHERE id_user=" + id;
    AccountChange change;
    change.allowance_changed = true;
    change.allowance = 60;
    EXPECT_TRUE(change_account(link, std::stoi(id), change));
    EXPECT_EQ(db->rows(account), (Rows{{"1", "60", digest}})) << "only what changed";
    change = AccountChange{};
    change.status_changed = true;
    change.status = 2;
    change.digest = password_digest(cp("été"));
    EXPECT_TRUE(change_account(link, std::stoi(id), change));
    EXPECT_EQ(db->rows(account), (Rows{{"2", "60", change.digest}}));
    as_station();
    int id_user = 0, status = 0, outcome = 0;
    lookup_account(link, "cmorvan", change.digest.c_str(), id_user, status, outcome);
    EXPECT_EQ(std::vector<int>({id_user, status, outcome}), std::vector<int>({std::stoi(id), 2, 1}));
}

// Shown, replaced and withdrawn as the stations' own statement picks the newest active row.
TEST_F(RoomQueries, WelcomeMessagesAreReplacedAndWithdrawnAsTheStationsShowThem) {
    add_room();
    db->exec("INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES "
             "('ancien', '0', 0), ('de l''espace', '1', 0), ('autre espace', '2', 0)");
    WelcomeMessages read;
    ASSERT_TRUE(read_welcome_messages(link, 1, read));
    EXPECT_EQ(std::vector<std::string>({read.space_id, read.network, read.space}),
              std::vector<std::string>({"1", "ancien", "de l'espace"}));
    const std::string hostile = cp("Fermé lundi\r\n« 100 % » l'x \\ \"y\" €");
    const auto station_shows = [this] {
        as_station();
        int visible = 0;
        const std::string shown = load_space_message(link, "Espace Jean Moulin", visible);
        db->write_staff_database_file();
        return shown;
    };
    ASSERT_TRUE(publish_message(link, "0", hostile));
    EXPECT_EQ(station_shows(), hostile);
    ASSERT_TRUE(withdraw_messages(link, "0"));
    EXPECT_EQ(station_shows(), "de l'espace");
    ASSERT_TRUE(publish_message(link, "1", "nouveau"));
    EXPECT_EQ(station_shows(), "nouveau");
    EXPECT_EQ(db->scalar("SELECT GROUP_CONCAT(espace_message, status_message ORDER BY id_message) FROM "
                         "tab_message_kalimo"),
              "01,11,20,01,10")
        << "older rows withdrawn, none deleted";
}

// The staff stations' role holds what the view needs and nothing more; the stations' role is refused
// every statement of the view that reads or writes beyond what a station's own statements do. Three
// need nothing more: the search reads what the sign-in reads, the messages what the welcome screen
// reads, and a station may close any open session row (it closes its own so).
TEST_F(RoomQueries, EachRoleIsRefusedWhatItsStatementsDoNotNeed) {
    add_room();
    const int open = add_resa(2, 1, "2026-12-09", 90, 0);
    db->exec("INSERT INTO tab_inscription_user (id_inscription_user, login_inscription_user, "
             "nom_inscription_user, status_inscription_user) VALUES (1, 'jdupont', 'DUPONT', 1), "
             "(2, 'pmartin', 'MARTIN', 1)");
    for (const std::string& sql :
         {std::string("DELETE FROM `tab_user`"), std::string("DELETE FROM `tab_inscription_user`"),
          std::string("UPDATE `tab_user` SET `login_user`='x'"),
          std::string("UPDATE `tab_resa` SET `id_user_resa`=2"),
          std::string("UPDATE `tab_message_kalimo` SET `corp_message`='x'"),
          std::string("DROP TABLE `tab_city`"), std::string("ALTER TABLE `tab_user` ADD `x` INT"),
          std::string("CREATE USER 'kt_probe'@'%'")}) {
        LinkScope scope(link);
        EXPECT_FALSE(run(link, sql.c_str(), {})) << sql;
    }
    as_station();
    std::vector<RoomComputer> computers;
    std::vector<WaitingRegistration> registrations;
    AccountChange change;
    change.allowance_changed = true;
    EXPECT_EQ(read_room_computers(link, 1, true, computers), RoomRead::Refused);
    EXPECT_FALSE(read_waiting_registrations(link, registrations));
    EXPECT_EQ(validate_registration(link, 1, 60), RegistrationOutcome::Failed);
    EXPECT_FALSE(refuse_registration(link, 2));
    EXPECT_EQ(create_account(link, NewAccount{"x", "d", "", "", 3, 1}), AccountOutcome::Failed);
    EXPECT_FALSE(change_account(link, 1, change));
    EXPECT_FALSE(publish_message(link, "0", "x"));
    EXPECT_FALSE(withdraw_messages(link, "1"));
    std::vector<AccountRow> accounts;
    WelcomeMessages messages;
    EXPECT_TRUE(find_accounts(link, "mdurand", accounts));
    EXPECT_TRUE(read_welcome_messages(link, 1, messages));
    EXPECT_EQ(end_session_from_outside(link, open, 5), EndOutcome::Ended);
    EXPECT_EQ(db->scalar("SELECT GROUP_CONCAT(status_inscription_user) FROM tab_inscription_user"), "1,1");
    EXPECT_EQ(db->count("tab_user"), 2);
    EXPECT_EQ(db->count("tab_message_kalimo"), 0);
}
