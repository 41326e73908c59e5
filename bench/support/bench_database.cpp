#include "bench/support/bench_database.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#ifndef KALIMO_SOURCE_DIR
#error "KALIMO_SOURCE_DIR must name the source tree"
#endif

namespace {

std::string env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

} // namespace

BenchServer BenchServer::from_environment() {
    BenchServer server;
    server.host = env("KALIMO_TEST_DB_HOST", "127.0.0.1");
    server.user = env("KALIMO_TEST_DB_USER", "kalimo");
    server.password = env("KALIMO_TEST_DB_PASSWORD", "kalimo");
    server.port = static_cast<unsigned int>(std::strtoul(env("MYSQL_TCP_PORT", "3306").c_str(), nullptr, 10));
    return server;
}

BenchDatabase::BenchDatabase(std::string name) : name_(std::move(name)) {
    const BenchServer server = BenchServer::from_environment();
    admin_ = mysql_init(nullptr);
    const unsigned int timeout = 3;
    mysql_options(admin_, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(admin_, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (mysql_real_connect(admin_, server.host.c_str(), server.user.c_str(), server.password.c_str(), nullptr,
                           server.port, nullptr, CLIENT_MULTI_STATEMENTS) == nullptr) {
        const std::string error = mysql_error(admin_);
        mysql_close(admin_);
        admin_ = nullptr;
        throw std::runtime_error("cannot reach the private MariaDB server: " + error);
    }
    // The demo room's rows, like the station's, give '' for automatic keys: not strict here either.
    run_all(admin_, "SET SESSION sql_mode=''");
    run_all(admin_, "DROP DATABASE IF EXISTS `" + name_ + "`; CREATE DATABASE `" + name_ +
                        "` CHARACTER SET latin1 COLLATE latin1_swedish_ci; USE `" + name_ + "`;");
    run_all(admin_, slurp(std::string(KALIMO_SOURCE_DIR) + "/db/schema.sql"));
    run_all(admin_, slurp(std::string(KALIMO_SOURCE_DIR) + "/db/demo.sql"));
}

BenchDatabase::~BenchDatabase() {
    if (admin_ != nullptr) {
        const std::string drop = "DROP DATABASE IF EXISTS `" + name_ + "`";
        mysql_real_query(admin_, drop.c_str(), drop.size());
        mysql_close(admin_);
    }
}

void BenchDatabase::exec(const std::string& sql) {
    run_all(admin_, sql);
}

std::vector<std::vector<std::string>> BenchDatabase::rows(const std::string& sql) {
    if (mysql_real_query(admin_, sql.c_str(), sql.size()) != 0) {
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

std::string BenchDatabase::scalar(const std::string& sql) {
    const auto result = rows(sql);
    if (result.empty() || result.front().empty()) {
        throw std::runtime_error("no value for: " + sql);
    }
    return result.front().front();
}

void BenchDatabase::write_database_file(const std::string& folder) const {
    const BenchServer server = BenchServer::from_environment();
    write_database_file(folder, server.user, server.password);
}

void BenchDatabase::write_database_file(const std::string& folder, const std::string& user,
                                        const std::string& password) const {
    const BenchServer server = BenchServer::from_environment();
    std::ofstream out(folder + "/Configuration_Base_de_donnee.init", std::ios::binary | std::ios::trunc);
    out << name_ << "\r\n" << server.host << "\r\n" << user << "\r\n" << password;
}

BenchFolder::BenchFolder() {
    char previous[PATH_MAX] = {};
    if (getcwd(previous, sizeof previous) != nullptr) {
        previous_ = previous;
    }
    std::string pattern = (std::getenv("TMPDIR") != nullptr ? std::string(std::getenv("TMPDIR")) : "/tmp") +
                          "/kalimo-bench.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
        throw std::runtime_error("cannot make a working folder");
    }
    path_ = pattern;
}

BenchFolder::~BenchFolder() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
        return;
    }
    // The folder is ours (mkdtemp): every file the benchmark or the station left in it goes.
    if (DIR* dir = opendir(path_.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                unlink((path_ + "/" + entry->d_name).c_str());
            }
        }
        closedir(dir);
    }
    rmdir(path_.c_str());
}

void BenchFolder::write_file(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string sql_quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\') {
            out.push_back(c == '\'' ? '\'' : '\\');
        }
        out.push_back(c);
    }
    out.push_back('\'');
    return out;
}
