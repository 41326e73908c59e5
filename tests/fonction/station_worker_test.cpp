// The worker on its own thread against the real server, with the window's side played by this test's
// thread: requests and results cross under the worker's locks only, while the test's own link shares
// the ServerHealth. scripts/test runs this under ThreadSanitizer too.
#include "fonction/station_queries.h"
#include "fonction/station_worker.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class WorkerThread : public ::testing::Test {
  protected:
    void SetUp() override {
        // The window's side has an event loop: the worker's pick-up timer belongs to it.
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "worker_thread_tests";
            static char* argv[] = {name, nullptr};
            static QCoreApplication application(argc, argv);
        }
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
        db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer) "
                 "VALUES ('Poste-01', '00-1A-2B-3C-4D-5E', 1)");
        id_computer = static_cast<int>(db->insert_id());
        id_resa = open_row();
        worker = std::make_unique<StationWorker>(health, WorkerMode::Thread);
        QObject::connect(worker.get(), &StationWorker::status_polled, [this](int id, int status) {
            polled.push_back({id, status});
        });
        QObject::connect(worker.get(), &StationWorker::beat_done,
                         [this](bool answered) { beats.push_back(answered); });
    }
    void TearDown() override { worker.reset(); }
    int open_row() {
        db->exec("INSERT INTO tab_resa (id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
                 "date_creation_resa, status_resa) VALUES (1, 7, '2026-12-09', 630, 90, '2026-12-09', 0)");
        return static_cast<int>(db->insert_id());
    }
    std::vector<std::string> row(int id) {
        return db->rows("SELECT duree_resa, status_resa FROM tab_resa WHERE id_resa=" + std::to_string(id))
            .at(0);
    }
    // The connect status a link of the window's (fail fast) gets from the shared health now.
    int window_connect_status() {
        DbLink window_link;
        window_link.health = &health;
        window_link.fail_fast = true;
        int status = 0;
        LinkScope scope(window_link, status);
        return status;
    }
    // What the window's pick-up timer does.
    void settle() {
        worker->drain();
        worker->deliver_results();
    }

    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    ServerHealth health;
    std::unique_ptr<StationWorker> worker;
    int id_computer = 0;
    int id_resa = 0;
    std::vector<std::pair<int, int>> polled;
    std::vector<bool> beats;
};

} // namespace

TEST_F(WorkerThread, RequestsRunInOrderAndTheirResultsComeBackOnTheCallersThread) {
    const LocalTime now = system.now;
    worker->session_opened(OpenSession{id_resa, 7, 1, now, now, {}});
    for (int i = 0; i < 20; ++i) {
        worker->poll_status(7, id_resa, 0);
        if (i % 5 == 0) {
            worker->beat(id_computer);
        }
        // The window's side reads the record while the worker writes it.
        EXPECT_LE(worker->pending_closes().size(), 0u);
    }
    worker->drain();
    db->exec("UPDATE tab_resa SET status_resa=2 WHERE id_resa=" + std::to_string(id_resa));
    worker->poll_status(7, id_resa, 0);
    EXPECT_TRUE(polled.empty()) << "results wait for the window's thread";
    settle();
    ASSERT_EQ(polled.size(), 21u);
    EXPECT_EQ(polled.front(), std::make_pair(id_resa, 0));
    EXPECT_EQ(polled.back(), std::make_pair(id_resa, 2)) << "in the order asked";
    EXPECT_EQ(beats, std::vector<bool>(4, true));
    EXPECT_EQ(db->scalar("SELECT date_lastetat_computer FROM tab_computer"), "2026-12-09");
    ASSERT_TRUE(worker->record().open.has_value());
    EXPECT_EQ(worker->record().open->id_resa, id_resa);

    // Staff's status 2 stands: the close is refused, kept, then dropped at the next beat.
    worker->close_session(PendingClose{3, 1, id_resa, 7});
    settle();
    EXPECT_EQ(row(id_resa), (std::vector<std::string>{"90", "2"}));
    EXPECT_EQ(worker->pending_closes().size(), 1u);
    worker->beat(id_computer);
    settle();
    EXPECT_TRUE(worker->record().empty());
    EXPECT_FALSE(folder.exists(session_record_file_name));
}

TEST_F(WorkerThread, AServerThatIsGoneFailsTheWindowsLinkAtOnceUntilTheWorkerReachesItAgain) {
    const std::string good = folder.read_file("Configuration_Base_de_donnee.init");
    // No server answers on this address: the worker's attempt fails and tells the window's link.
    folder.write_file("Configuration_Base_de_donnee.init", db->name() + "\r\n127.0.0.1\r\nkalimo\r\nfaux");
    worker->close_session(PendingClose{5, 1, id_resa, 7});
    worker->beat(id_computer);
    settle();
    EXPECT_EQ(beats, std::vector<bool>{false});
    ASSERT_EQ(worker->pending_closes().size(), 1u);
    EXPECT_TRUE(health.down());

    EXPECT_EQ(window_connect_status(), 1) << "known down: not tried";

    folder.write_file("Configuration_Base_de_donnee.init", good);
    worker->beat(id_computer);
    settle();
    EXPECT_EQ(beats, (std::vector<bool>{false, true}));
    EXPECT_TRUE(worker->pending_closes().empty());
    EXPECT_FALSE(health.down());
    EXPECT_EQ(row(id_resa), (std::vector<std::string>{"5", "1"}));
}

// A server that takes connections but does not answer statements (here a table another session holds
// locked: the heartbeat's update waits out the read bound) is as good as gone: the window's link fails
// at once until a statement is answered again.
TEST_F(WorkerThread, AServerThatConnectsButDoesNotAnswerIsDownUntilAStatementIsAnswered) {
    db->exec("LOCK TABLES tab_computer WRITE");
    worker->beat(id_computer);
    settle();
    EXPECT_EQ(beats, std::vector<bool>{false}) << "connected, but the update was never answered";
    EXPECT_TRUE(health.down());
    EXPECT_EQ(window_connect_status(), 1);
    db->exec("UNLOCK TABLES");
    worker->beat(id_computer);
    settle();
    EXPECT_EQ(beats, (std::vector<bool>{false, true}));
    EXPECT_FALSE(health.down());
}
