#include "fonction/session_queries.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::vector<std::string>>;

class SessionSettlement : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
    }
    // A session row as sign-in writes it: planned duration 90, open (status 0) unless told.
    int add_resa(int id_user, int status = 0, int duration = 90) {
        db->exec("INSERT INTO tab_resa (id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
                 "date_creation_resa, status_resa) VALUES (1, " +
                 std::to_string(id_user) + ", '2026-03-07', 600, " + std::to_string(duration) +
                 ", '2026-03-07', " + std::to_string(status) + ")");
        return static_cast<int>(db->insert_id());
    }
    Rows resa_rows() {
        return db->rows("SELECT id_resa, duree_resa, status_resa FROM tab_resa ORDER BY id_resa");
    }
    static OpenSession open_session(int id_resa, int id_user, int closing_status) {
        return OpenSession{id_resa,
                           id_user,
                           closing_status,
                           LocalTime{2026, 3, 7, 10, 0, 0},
                           LocalTime{2026, 3, 7, 10, 42, 30},
                           ProcessClock{}};
    }
    static std::vector<int> ids_of(const std::vector<PendingClose>& closes) {
        std::vector<int> ids;
        for (const PendingClose& c : closes) {
            ids.push_back(c.id_resa);
        }
        return ids;
    }
    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(SessionSettlement, AnOpenSessionIsClosedWithItsKindsStatusAndDuration) {
    const int visitor = add_resa(3);
    const int staff = add_resa(4);
    const int other = add_resa(3); // the same person's row on another station: not ours to close
    SessionRecord left;
    left.open = open_session(visitor, 3, 1);
    EXPECT_TRUE(settle_session_record(link, left).empty());
    left.open = open_session(staff, 4, 2);
    EXPECT_TRUE(settle_session_record(link, left).empty());
    EXPECT_EQ(resa_rows(), (Rows{{std::to_string(visitor), "42", "1"},
                                 {std::to_string(staff), "0", "2"},
                                 {std::to_string(other), "90", "0"}}));
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SessionSettlement, ARowClosedFromOutsideOrGoneIsLeftAsItIs) {
    const int closed_by_staff = add_resa(3, 2, 17);
    const int someone_else = add_resa(5);
    const Rows before = resa_rows();
    SessionRecord left;
    left.open = open_session(closed_by_staff, 3, 1);
    EXPECT_TRUE(settle_session_record(link, left).empty());
    left.open = open_session(someone_else, 3, 1); // the id now belongs to another account's row
    EXPECT_TRUE(settle_session_record(link, left).empty());
    left.open = open_session(someone_else + 100, 3, 1);
    EXPECT_TRUE(settle_session_record(link, left).empty());
    EXPECT_EQ(resa_rows(), before);
}

TEST_F(SessionSettlement, PendingClosesAreSentAndTheRefusedOneAndThoseAfterItAreKept) {
    const int first = add_resa(3);
    const int refused = add_resa(4);
    const int after = add_resa(5);
    const int open = add_resa(6);
    // The server refuses to close one row, as a server going away would refuse them all.
    db->exec("CREATE TRIGGER refuse_close BEFORE UPDATE ON tab_resa FOR EACH ROW BEGIN IF OLD.id_resa = " +
             std::to_string(refused) + " THEN SIGNAL SQLSTATE '45000'; END IF; END");
    SessionRecord left;
    left.pending = {PendingClose{12, 1, first, 3}, PendingClose{0, 2, refused, 4},
                    PendingClose{30, 1, after, 5}};
    left.open = open_session(open, 6, 1);
    const SessionRecord kept = settle_session_record(link, left);
    EXPECT_EQ(ids_of(kept.pending), (std::vector<int>{refused, after}));
    EXPECT_EQ(kept.pending[1].duration_minutes, 30);
    ASSERT_TRUE(kept.open);
    EXPECT_EQ(kept.open->id_resa, open);
    EXPECT_EQ(resa_rows(), (Rows{{std::to_string(first), "12", "1"},
                                 {std::to_string(refused), "90", "0"},
                                 {std::to_string(after), "90", "0"},
                                 {std::to_string(open), "90", "0"}}));

    db->exec("DROP TRIGGER refuse_close");
    EXPECT_TRUE(settle_session_record(link, kept).empty());
    EXPECT_EQ(resa_rows(), (Rows{{std::to_string(first), "12", "1"},
                                 {std::to_string(refused), "0", "2"},
                                 {std::to_string(after), "30", "1"},
                                 {std::to_string(open), "42", "1"}}));
    EXPECT_EQ(db->open_connections(), 0);
}

// Whoever could write the record chose these: none of them may rewrite a row.
TEST_F(SessionSettlement, AClosesRowMustBeOpenForItsAccountAndItsDurationAtMostADay) {
    const int another_account = add_resa(8);
    const int closed_by_staff = add_resa(3, 1, 25);
    const int too_long = add_resa(3);
    const int good = add_resa(3);
    SessionRecord left;
    left.pending = {PendingClose{1, 1, another_account, 3}, PendingClose{0, 1, closed_by_staff, 3},
                    PendingClose{max_settled_minutes + 1, 1, too_long, 3}, PendingClose{5, 1, 999999, 3},
                    PendingClose{max_settled_minutes, 1, good, 3}};
    EXPECT_TRUE(settle_session_record(link, left).empty()) << "dropped, not kept for later";
    EXPECT_EQ(resa_rows(), (Rows{{std::to_string(another_account), "90", "0"},
                                 {std::to_string(closed_by_staff), "25", "1"},
                                 {std::to_string(too_long), "90", "0"},
                                 {std::to_string(good), "1440", "1"}}));
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SessionSettlement, WhenTheServerCannotTellEverythingIsKept) {
    const int open = add_resa(3);
    const int pending = add_resa(4);
    const Rows before = resa_rows();
    SessionRecord left;
    left.open = open_session(open, 3, 1);
    left.pending = {PendingClose{8, 1, pending, 4}};

    folder.write_file("Configuration_Base_de_donnee.init", "absente\r\n127.0.0.1\r\nkalimo\r\nfaux");
    SessionRecord kept = settle_session_record(link, left);
    EXPECT_EQ(ids_of(kept.pending), std::vector<int>{pending});
    ASSERT_TRUE(kept.open);
    EXPECT_EQ(kept.open->id_resa, open);
    EXPECT_EQ(kept.open->last_alive.minute, 42);
    EXPECT_EQ(resa_rows(), before);

    // It answers, but with a status that is not a number: the row may still be open.
    db->write_database_file();
    db->exec("UPDATE tab_resa SET status_resa=NULL WHERE id_resa=" + std::to_string(open));
    left.pending.clear();
    kept = settle_session_record(link, left);
    ASSERT_TRUE(kept.open);
    EXPECT_EQ(kept.open->id_resa, open);
    EXPECT_EQ(db->scalar("SELECT duree_resa FROM tab_resa WHERE id_resa=" + std::to_string(open)), "90");
    EXPECT_EQ(db->open_connections(), 0);
}
