// A fresh database on the private MariaDB server for one test, created from db/schema.sql, and a
// working folder holding the database file that points the program at it.
#pragma once

#include <QTemporaryDir>
#include <mysql.h>

#include <string>
#include <vector>

// Connection parameters of the private server, from the environment the test script sets.
//
// KALIMO_TEST_SERVER_MODE, when set (CTest sets it for some test executables), is an sql_mode, e.g.
// "NO_BACKSLASH_ESCAPES,ANSI_QUOTES,STRICT_ALL_TABLES": the process then starts a private server of its
// own whose global sql_mode is that, on the script's port and a loopback address of its own, and every
// test database and database file of the process is on it. A server that cannot be started in that
// mode makes the server unavailable: the tests never fall back on the script's server.
struct ServerAccess {
    std::string host;
    std::string user; // the scripts' administrator: databases, rows, accounts
    std::string password;
    // The stations' account, which holds only the role kalimo_station (db/station_account.sql).
    std::string station_user;
    std::string station_password;
    // The staff stations' account, which holds only the role kalimo_staff (db/staff_account.sql).
    std::string staff_user;
    std::string staff_password;
    unsigned int port = 0;
    static ServerAccess from_environment();
};

// True when the private server answers; when it does not and the suite runs under the test script,
// the caller must fail rather than skip.
bool server_available(std::string& why);
bool server_required();

// The sql_mode asked for by KALIMO_TEST_SERVER_MODE; empty when the script's server is used.
std::string test_server_mode();
// Starts the server in that mode, once per process, and points KALIMO_TEST_DB_HOST at it; does nothing
// without KALIMO_TEST_SERVER_MODE. Everything that reads the server's address calls it first.
void prepare_test_server();

// Changes into a new empty folder for the test's life; the configuration files live there.
class WorkingFolder {
  public:
    WorkingFolder();
    ~WorkingFolder();
    std::string path() const;
    void write_file(const std::string& name, const std::string& bytes) const;
    std::string read_file(const std::string& name) const;
    bool exists(const std::string& name) const;

  private:
    QTemporaryDir dir_;
    std::string previous_;
};

class TestDatabase {
  public:
    TestDatabase();
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& name() const { return name_; }
    // Writes the database file (in the current folder) that reaches this database as the stations'
    // account, or as another one.
    void write_database_file() const;
    void write_database_file(const std::string& user, const std::string& password) const;
    // The same as the staff stations' account.
    void write_staff_database_file() const;
    // Gives an account ('name'@'host', quoted) the stations' role, as its default.
    void grant_station_role(const std::string& account);

    // Statements and queries on an administrative connection that speaks UTF-8.
    void exec(const std::string& sql);
    std::vector<std::vector<std::string>> rows(const std::string& sql);
    std::string scalar(const std::string& sql);
    long long count(const std::string& table);
    long long insert_id() const;
    // Connections the server has open to this test's database (the program must leave none behind
    // but those it keeps), once those just closed have gone: down to `at_most` if they go.
    long long open_connections(long long at_most = 0);

  private:
    void connect();
    // After a lost connection (a cluster's balancer moved on), a new one; false for any other error.
    bool reconnected();

    MYSQL* admin_ = nullptr;
    bool in_database_ = false;
    std::string name_;
    long long last_insert_id_ = 0;
};

// The private Galera cluster of scripts/lib.sh, when KALIMO_TEST_CLUSTER_DIR names its folder: the
// server of ServerAccess is then its balancer. Nodes are named node1 to node3.
namespace test_cluster {
// Empty when the suite is not running on a cluster.
std::string folder();
// The node the balancer hands a new connection to.
std::string serving_node();
// Ends a node as a crash would, and waits until its process has gone.
void kill_node(const std::string& node);
bool node_running(const std::string& node);
// Starts a node again with its first options; true once it is synced with the others.
bool rejoin(const std::string& node, std::string& error);
// Rows of a query in one database, on that node alone.
std::vector<std::vector<std::string>> rows_on(const std::string& node, const std::string& database,
                                              const std::string& sql);
} // namespace test_cluster

// A text as an SQL literal for the admin connection: quotes and backslashes escaped.
std::string sql_quoted(const std::string& text);

// In a test body: makes the test fail under the test script, or skip elsewhere, when no server answers.
#define REQUIRE_SERVER()                                                                                     \
    do {                                                                                                     \
        std::string why_;                                                                                    \
        if (!server_available(why_)) {                                                                       \
            if (server_required()) {                                                                         \
                FAIL() << "the private MariaDB server is required: " << why_;                                \
            }                                                                                                \
            GTEST_SKIP() << "no MariaDB server: " << why_;                                                   \
        }                                                                                                    \
    } while (0)
