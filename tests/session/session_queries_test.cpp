#include "fonction/conversion.h"
#include "fonction/session_queries.h"
#include "fonction/text.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class SessionQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
        system.now = LocalTime{2026, 3, 7, 14, 25, 9};
    }
    int add_user(const std::string& login, const std::string& password, int status,
                 const std::string& minutes) {
        db->exec("INSERT INTO tab_user (login_user, pass_user, status_user, temps_user) VALUES ('" + login +
                 "', MD5('" + password + "'), " + std::to_string(status) + ", " + minutes + ")");
        return static_cast<int>(db->insert_id());
    }
    void add_resa(int id_user, const std::string& date, int duration, int status) {
        db->exec("INSERT INTO tab_resa (id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
                 "date_creation_resa, status_resa) VALUES (1, " +
                 std::to_string(id_user) + ", '" + date + "', 600, " + std::to_string(duration) + ", '" +
                 date + "', " + std::to_string(status) + ")");
    }
    int credit_of(int id_user) {
        int credit = -12345;
        compute_credit(link, id_user, credit);
        return credit;
    }
    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(SessionQueries, LookupNeedsLoginAndDigestAndCountsOpenSessionsOfAnyDay) {
    const int id = add_user("mdurand", "soleil", 1, "120");
    int id_user = 0, status = 0, outcome = 0;
    lookup_account(link, "mdurand", password_digest("Soleil").c_str(), id_user, status, outcome);
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(id_user, 0) << "outputs untouched without a match";
    lookup_account(link, "MDURAND", password_digest("soleil").c_str(), id_user, status, outcome);
    EXPECT_EQ(outcome, 0) << "logins are compared exactly";
    lookup_account(link, "mdurand", password_digest("soleil").c_str(), id_user, status, outcome);
    EXPECT_EQ(outcome, 1);
    EXPECT_EQ(id_user, id);
    EXPECT_EQ(status, 1);

    add_resa(id, "2025-01-02", 30, 0); // forgotten on another day, still open
    outcome = 0;
    lookup_account(link, "mdurand", password_digest("soleil").c_str(), id_user, status, outcome);
    EXPECT_EQ(outcome, 2);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SessionQueries, HostileLoginsMatchNothingAndAlterNothing) {
    add_user("mdurand", "soleil", 1, "120");
    const std::vector<std::string> logins = {
        "' OR '1'='1",          "mdurand' -- ", "mdurand\\", "%", "'; DROP TABLE tab_user; --",
        std::string(2900, '\'')};
    for (const std::string& login : logins) {
        int id_user = 0, status = 0, outcome = 0;
        lookup_account(link, login.c_str(), password_digest("soleil").c_str(), id_user, status, outcome);
        EXPECT_EQ(outcome, 0) << login.substr(0, 40);
    }
    EXPECT_EQ(db->count("tab_user"), 1);
}

TEST_F(SessionQueries, CreditSubtractsTodaysRowsNotClosedNormally) {
    const int id = add_user("mdurand", "soleil", 1, "120");
    EXPECT_EQ(credit_of(id), 120) << "no row today: the whole allowance";
    add_resa(id, "2026-03-07", 30, 2);
    add_resa(id, "2026-03-07", 45, 1);
    add_resa(id, "2026-03-06", 50, 2); // yesterday
    EXPECT_EQ(credit_of(id), 90);
    add_resa(id, "2026-03-07", 100, 2);
    EXPECT_EQ(credit_of(id), -10);
}

TEST_F(SessionQueries, AnUnreadableAllowanceGivesNoCreditAndNullIsAConversionError) {
    EXPECT_EQ(credit_of(999), 0) << "no such account";
    const int id = add_user("vide", "x", 1, "NULL");
    EXPECT_THROW(credit_of(id), ConversionError);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SessionQueries, TheSessionRowHoldsTheStationTheDayAndTheOpeningMinute) {
    const int id = add_user("mdurand", "soleil", 1, "120");
    int id_resa = 0;
    open_session_row(link, 7, id, 90, id_resa);
    ASSERT_GT(id_resa, 0);
    const auto rows = db->rows("SELECT id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
                               "date_creation_resa, status_resa FROM tab_resa WHERE id_resa=" +
                               std::to_string(id_resa));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"7", std::to_string(id), "2026-03-07", "865", "90",
                                                 "2026-03-07", "0"}));
}

TEST_F(SessionQueries, ARefusedSessionRowKeepsTheIdAndClosingReportsFailure) {
    int id_resa = 41;
    db->exec("DROP TABLE tab_resa");
    open_session_row(link, 7, 1, 90, id_resa);
    EXPECT_EQ(id_resa, 41);
    EXPECT_FALSE(close_session_row(link, 1, 1, 41));
    int polled = 0;
    poll_session_status(link, 1, 41, polled);
    EXPECT_EQ(polled, 0) << "a failing poll leaves the status";
}

TEST_F(SessionQueries, AnswersAreFoundByTheirExactCaptionApostrophesIncluded) {
    db->exec("INSERT INTO tab_utilisation (nom_utilisation) VALUES ('Recherche d''information'), ('Emploi'), "
             "('Rien \"du\" tout')");
    const long long first = db->insert_id();
    record_usage_answer(link, "Recherche d'information", 5);
    record_usage_answer(link, "Rien \"du\" tout", 5);
    record_usage_answer(link, "emploi ", 5); // not a caption
    record_usage_answer(link, "\" OR \"1\"=\"1", 5);
    const auto rows =
        db->rows("SELECT id_utilisation, id_user, date_utilisation FROM rel_utilisation_user ORDER BY "
                 "id_rel_utilisation_user");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{std::to_string(first), "5", "2026-03-07"}));
    // A cluster hands out ids in steps of its size: the row's own id, not first + 2.
    EXPECT_EQ(rows[1][0],
              db->scalar("SELECT id_utilisation FROM tab_utilisation WHERE nom_utilisation LIKE 'Rien%'"));
}

TEST_F(SessionQueries, AnAnswerWhoseIdIsZeroIsNotRecorded) {
    db->exec("INSERT INTO tab_utilisation (id_utilisation, nom_utilisation) VALUES (0, 'Autres')");
    db->exec("UPDATE tab_utilisation SET id_utilisation=0");
    record_usage_answer(link, "Autres", 5);
    EXPECT_EQ(db->count("rel_utilisation_user"), 0);
}

TEST_F(SessionQueries, PollReadsTheRowsStatusAndAMissingRowChangesNothing) {
    add_resa(3, "2026-03-07", 90, 0);
    const int id_resa = static_cast<int>(db->insert_id());
    int polled = 7;
    poll_session_status(link, 3, id_resa, polled);
    EXPECT_EQ(polled, 0);
    db->exec("UPDATE tab_resa SET status_resa=1");
    poll_session_status(link, 3, id_resa, polled);
    EXPECT_EQ(polled, 1);
    polled = 5;
    poll_session_status(link, 4, id_resa, polled); // another account's row
    EXPECT_EQ(polled, 5);
    db->exec("UPDATE tab_resa SET status_resa=NULL");
    EXPECT_THROW(poll_session_status(link, 3, id_resa, polled), ConversionError);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SessionQueries, ClosingWritesDurationAndStatusOfThatRowOnly) {
    add_resa(3, "2026-03-07", 90, 0);
    const int first = static_cast<int>(db->insert_id());
    add_resa(4, "2026-03-07", 90, 0);
    EXPECT_TRUE(close_session_row(link, 2, 1, first));
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa ORDER BY id_resa"),
              (std::vector<std::vector<std::string>>{{"2", "1"}, {"90", "0"}}));
    EXPECT_TRUE(close_session_row(link, 0, 2, 0)) << "row 0 does not exist: nothing changes";
    EXPECT_EQ(db->scalar("SELECT SUM(status_resa) FROM tab_resa"), "1");
}
