#include "tests/support/test_database.h"

#include "tests/reliability/private_server.h"

#include <errmsg.h>

#include <QDir>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#ifndef KALIMO_SOURCE_DIR
#error "KALIMO_SOURCE_DIR must name the source tree"
#endif

namespace {

std::string env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

MYSQL* connect_admin(const ServerAccess& access, const char* database, std::string& error) {
    MYSQL* handle = mysql_init(nullptr);
    const unsigned int timeout = 3;
    mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (mysql_real_connect(handle, access.host.c_str(), access.user.c_str(), access.password.c_str(),
                           database, access.port, nullptr, CLIENT_MULTI_STATEMENTS) == nullptr) {
        error = mysql_error(handle);
        mysql_close(handle);
        return nullptr;
    }
    return handle;
}

// One query on a fresh administrative connection; its rows (NULL as "NULL"), or none and `error` set.
std::vector<std::vector<std::string>> query_on(const ServerAccess& access, const char* database,
                                               const std::string& sql, std::string& error) {
    std::vector<std::vector<std::string>> out;
    MYSQL* handle = connect_admin(access, database, error);
    if (handle == nullptr) {
        return out;
    }
    if (mysql_real_query(handle, sql.c_str(), sql.size()) != 0) {
        error = mysql_error(handle);
    } else if (MYSQL_RES* result = mysql_store_result(handle)) {
        const unsigned int fields = mysql_num_fields(result);
        while (MYSQL_ROW row = mysql_fetch_row(result)) {
            std::vector<std::string> values;
            for (unsigned int i = 0; i < fields; ++i) {
                values.emplace_back(row[i] != nullptr ? row[i] : "NULL");
            }
            out.push_back(std::move(values));
        }
        mysql_free_result(result);
    }
    mysql_close(handle);
    return out;
}

void run_all(MYSQL* handle, const std::string& sql) {
    if (mysql_real_query(handle, sql.c_str(), sql.size()) != 0) {
        throw std::runtime_error("SQL failed: " + std::string(mysql_error(handle)) +
                                 " in: " + sql.substr(0, 300));
    }
    do {
        if (MYSQL_RES* result = mysql_store_result(handle)) {
            mysql_free_result(result);
        }
    } while (mysql_next_result(handle) == 0);
    if (mysql_errno(handle) != 0) {
        throw std::runtime_error("SQL failed: " + std::string(mysql_error(handle)));
    }
}

// A file written for the mariadb client, as a room loads it: a line "DELIMITER x" sends what came
// before and makes x the end of each statement until the next such line (a trigger's body holds ';').
void run_script(MYSQL* handle, const std::string& sql) {
    std::istringstream lines(sql + "\nDELIMITER ;\n");
    std::string delimiter = ";";
    std::string pending;
    for (std::string line; std::getline(lines, line);) {
        const bool change = line.rfind("DELIMITER ", 0) == 0;
        const bool ends = !change && delimiter != ";" && line.size() >= delimiter.size() &&
                          line.compare(line.size() - delimiter.size(), delimiter.size(), delimiter) == 0;
        if (!change) {
            pending += line.substr(0, line.size() - (ends ? delimiter.size() : 0)) + "\n";
        }
        if ((change || ends) && pending.find_first_not_of(" \t\r\n") != std::string::npos) {
            run_all(handle, pending);
        }
        if (change || ends) {
            pending.clear();
        }
        delimiter = change ? line.substr(10) : delimiter;
    }
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The server of KALIMO_TEST_SERVER_MODE, for the process's life, or why it could not be started.
struct ModeServer {
    std::unique_ptr<PrivateServer> server;
    std::string failure;
};

ModeServer& mode_server() {
    static ModeServer instance;
    return instance;
}

// Each word of `mode` is in the server's global sql_mode.
bool server_has_mode(const std::string& mode, std::string& error) {
    const auto rows = query_on(ServerAccess::from_environment(), nullptr, "SELECT @@GLOBAL.sql_mode", error);
    if (!error.empty()) {
        return false;
    }
    const std::string global = rows.empty() ? std::string() : rows.front().front();
    std::istringstream words(mode);
    const std::string padded = "," + global + ",";
    for (std::string word; std::getline(words, word, ',');) {
        if (!word.empty() && padded.find("," + word + ",") == std::string::npos) {
            error = "the server's sql_mode is \"" + global + "\", without " + word;
            return false;
        }
    }
    return true;
}

} // namespace

std::string test_server_mode() {
    return env("KALIMO_TEST_SERVER_MODE", "");
}

void prepare_test_server() {
    static bool prepared = false;
    if (prepared) {
        return;
    }
    prepared = true;
    const std::string mode = test_server_mode();
    if (mode.empty()) {
        return;
    }
    ModeServer& own = mode_server();
    own.server = PrivateServer::start_new({"--sql-mode=" + mode}, own.failure);
    if (own.server == nullptr) {
        own.failure = "no server could be started in sql_mode " + mode + ": " + own.failure;
        return;
    }
    ::setenv("KALIMO_TEST_DB_HOST", own.server->host().c_str(), 1);
    if (!server_has_mode(mode, own.failure)) {
        own.failure = "the server started for sql_mode " + mode + " is not in it: " + own.failure;
    }
}

ServerAccess ServerAccess::from_environment() {
    prepare_test_server();
    ServerAccess access;
    access.host = env("KALIMO_TEST_DB_HOST", "127.0.0.1");
    access.user = env("KALIMO_TEST_DB_USER", "kalimo");
    access.password = env("KALIMO_TEST_DB_PASSWORD", "kalimo");
    access.station_user = env("KALIMO_TEST_STATION_USER", "kalimo_poste");
    access.station_password = env("KALIMO_TEST_STATION_PASSWORD", "poste");
    access.staff_user = env("KALIMO_TEST_STAFF_USER", "kalimo_accueil");
    access.staff_password = env("KALIMO_TEST_STAFF_PASSWORD", "accueil");
    access.port = static_cast<unsigned int>(std::strtoul(env("MYSQL_TCP_PORT", "3306").c_str(), nullptr, 10));
    return access;
}

bool server_required() {
    return std::getenv("KALIMO_TEST_REQUIRE_DB") != nullptr;
}

bool server_available(std::string& why) {
    static int known = -1;
    static std::string reason;
    prepare_test_server();
    if (!mode_server().failure.empty()) {
        why = mode_server().failure;
        return false;
    }
    if (known < 0) {
        MYSQL* handle = connect_admin(ServerAccess::from_environment(), nullptr, reason);
        known = handle != nullptr ? 1 : 0;
        if (handle != nullptr) {
            mysql_close(handle);
        }
    }
    why = reason;
    return known == 1;
}

WorkingFolder::WorkingFolder() {
    previous_ = QDir::currentPath().toStdString();
    QDir::setCurrent(dir_.path());
}

WorkingFolder::~WorkingFolder() {
    QDir::setCurrent(QString::fromStdString(previous_));
}

std::string WorkingFolder::path() const {
    return dir_.path().toStdString();
}

void WorkingFolder::write_file(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path() + "/" + name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string WorkingFolder::read_file(const std::string& name) const {
    return slurp(path() + "/" + name);
}

bool WorkingFolder::exists(const std::string& name) const {
    return QFile::exists(QString::fromStdString(path() + "/" + name));
}

TestDatabase::TestDatabase() {
    static std::atomic<int> counter{0};
    name_ = "kt_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    prepare_test_server();
    if (!mode_server().failure.empty()) {
        throw std::runtime_error(mode_server().failure);
    }
    connect();
    run_all(admin_, "DROP DATABASE IF EXISTS `" + name_ + "`; CREATE DATABASE `" + name_ +
                        "` CHARACTER SET latin1; USE `" + name_ + "`;");
    in_database_ = true;
    run_all(admin_, slurp(std::string(KALIMO_SOURCE_DIR) + "/db/schema.sql"));
    run_script(admin_, slurp(std::string(KALIMO_SOURCE_DIR) + "/db/station_account.sql"));
    run_script(admin_, slurp(std::string(KALIMO_SOURCE_DIR) + "/db/staff_account.sql"));
}

void TestDatabase::connect() {
    std::string error;
    admin_ = connect_admin(ServerAccess::from_environment(), in_database_ ? name_.c_str() : nullptr, error);
    if (admin_ == nullptr) {
        throw std::runtime_error("cannot reach the test server: " + error);
    }
    // The tests write their literals with backslash escapes and single quotes, whatever the server's
    // mode: the administrative session leaves NO_BACKSLASH_ESCAPES and ANSI_QUOTES (and keeps the rest).
    run_all(admin_, "SET SESSION sql_mode=TRIM(BOTH ',' FROM REPLACE(REPLACE(CONCAT(',', @@SESSION.sql_mode, "
                    "','), ',NO_BACKSLASH_ESCAPES,', ','), ',ANSI_QUOTES,', ','))");
}

bool TestDatabase::reconnected() {
    const unsigned int code = mysql_errno(admin_);
    if (code != CR_SERVER_GONE_ERROR && code != CR_SERVER_LOST) {
        return false;
    }
    // A cluster's balancer has moved to another node: this connection went with the old one.
    mysql_close(admin_);
    admin_ = nullptr;
    connect();
    return true;
}

TestDatabase::~TestDatabase() {
    if (admin_ == nullptr) {
        return;
    }
    // A dropped database keeps its table grants: the roles' are taken back first, so that the
    // server's grant tables do not grow with every test.
    try {
        for (const auto& row : rows("SELECT Table_name, User FROM mysql.tables_priv WHERE Db='" + name_ +
                                    "' AND User IN ('kalimo_station', 'kalimo_staff')")) {
            run_all(admin_, "REVOKE ALL PRIVILEGES ON `" + name_ + "`.`" + row[0] + "` FROM " + row[1]);
        }
    } catch (const std::exception&) {
        // What cannot be taken back names a database that is gone: harmless.
    }
    const std::string drop = "DROP DATABASE IF EXISTS `" + name_ + "`";
    mysql_real_query(admin_, drop.c_str(), drop.size());
    mysql_close(admin_);
}

void TestDatabase::write_database_file() const {
    const ServerAccess access = ServerAccess::from_environment();
    write_database_file(access.station_user, access.station_password);
}

void TestDatabase::write_staff_database_file() const {
    const ServerAccess access = ServerAccess::from_environment();
    write_database_file(access.staff_user, access.staff_password);
}

void TestDatabase::grant_station_role(const std::string& account) {
    exec("GRANT kalimo_station TO " + account + "; SET DEFAULT ROLE kalimo_station FOR " + account);
}

void TestDatabase::write_database_file(const std::string& user, const std::string& password) const {
    const ServerAccess access = ServerAccess::from_environment();
    std::ofstream out("Configuration_Base_de_donnee.init", std::ios::binary | std::ios::trunc);
    out << name_ << "\r\n" << access.host << "\r\n" << user << "\r\n" << password;
}

void TestDatabase::exec(const std::string& sql) {
    try {
        run_all(admin_, sql);
    } catch (const std::runtime_error&) {
        if (!reconnected()) {
            throw;
        }
        run_all(admin_, sql);
    }
    last_insert_id_ = static_cast<long long>(mysql_insert_id(admin_));
}

long long TestDatabase::insert_id() const {
    return last_insert_id_;
}

std::vector<std::vector<std::string>> TestDatabase::rows(const std::string& sql) {
    if (mysql_real_query(admin_, sql.c_str(), sql.size()) != 0 &&
        (!reconnected() || mysql_real_query(admin_, sql.c_str(), sql.size()) != 0)) {
        throw std::runtime_error("query failed: " + std::string(mysql_error(admin_)) + " in: " + sql);
    }
    std::vector<std::vector<std::string>> out;
    MYSQL_RES* result = mysql_store_result(admin_);
    if (result == nullptr) {
        return out;
    }
    const unsigned int fields = mysql_num_fields(result);
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        unsigned long* lengths = mysql_fetch_lengths(result);
        std::vector<std::string> values;
        for (unsigned int i = 0; i < fields; ++i) {
            values.push_back(row[i] == nullptr ? std::string("NULL") : std::string(row[i], lengths[i]));
        }
        out.push_back(std::move(values));
    }
    mysql_free_result(result);
    return out;
}

std::string TestDatabase::scalar(const std::string& sql) {
    const auto result = rows(sql);
    if (result.empty() || result.front().empty()) {
        throw std::runtime_error("no value for: " + sql);
    }
    return result.front().front();
}

long long TestDatabase::count(const std::string& table) {
    return std::stoll(scalar("SELECT COUNT(*) FROM `" + table + "`"));
}

long long TestDatabase::open_connections(long long at_most) {
    // A connection the client has just closed stays listed until the server's thread notices; give
    // it up to two seconds to go before counting it as left open.
    long long open = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        open = std::stoll(scalar("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB='" + name_ +
                                 "' AND ID <> CONNECTION_ID()"));
        if (open <= at_most) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return open;
}

std::string sql_quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "'";
}

namespace test_cluster {

namespace {

std::string node_file(const std::string& node, const std::string& name) {
    return folder() + "/" + node + "/" + name;
}

pid_t node_pid(const std::string& node) {
    std::ifstream in(node_file(node, "started.pid"));
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

// One query on the node's own port.
std::vector<std::vector<std::string>> query_node(const std::string& node, const char* database,
                                                 const std::string& sql, std::string& error) {
    ServerAccess access = ServerAccess::from_environment();
    std::ifstream in(node_file(node, "port"));
    in >> access.port;
    access.host = "127.0.0.1";
    return query_on(access, database, sql, error);
}

} // namespace

std::string folder() {
    return env("KALIMO_TEST_CLUSTER_DIR", "");
}

std::string serving_node() {
    std::string error;
    const auto rows = query_on(ServerAccess::from_environment(), nullptr, "SELECT @@wsrep_node_name", error);
    if (!error.empty()) {
        throw std::runtime_error("the cluster's balancer does not answer: " + error);
    }
    return rows.empty() ? std::string() : rows.front().front();
}

bool node_running(const std::string& node) {
    const pid_t pid = node_pid(node);
    return pid > 0 && ::kill(pid, 0) == 0;
}

void kill_node(const std::string& node) {
    const pid_t pid = node_pid(node);
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0) {
        throw std::runtime_error("cluster node " + node + " has no process to end");
    }
    // Not our child: it is gone once the signal cannot reach it.
    for (int waited = 0; ::kill(pid, 0) == 0 && waited < 500; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool rejoin(const std::string& node, std::string& error) {
    const std::string start = node_file(node, "start");
    if (std::system(("'" + start + "'").c_str()) != 0) {
        error = "cannot run " + start;
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < until) {
        error.clear();
        const auto state = query_node(node, nullptr,
                                      "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS "
                                      "WHERE VARIABLE_NAME='wsrep_local_state_comment'",
                                      error);
        if (!state.empty() && state.front().front() == "Synced") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    error = "node " + node + " did not come back synced: " + error;
    return false;
}

std::vector<std::vector<std::string>> rows_on(const std::string& node, const std::string& database,
                                              const std::string& sql) {
    std::string error;
    auto out = query_node(node, database.c_str(), sql, error);
    if (!error.empty()) {
        throw std::runtime_error("on " + node + ": " + error + " in: " + sql);
    }
    return out;
}

} // namespace test_cluster
