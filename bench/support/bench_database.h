// The benchmarks' database: a fresh database on the private MariaDB server, created from
// db/schema.sql and db/demo.sql, and a working folder whose database file points the program at it.
#pragma once

#include <mysql.h>

#include <string>
#include <vector>

// Connection parameters of the private server, from the environment scripts/lib.sh sets.
struct BenchServer {
    std::string host;
    std::string user;
    std::string password;
    unsigned int port = 0;
    static BenchServer from_environment();
};

class BenchDatabase {
  public:
    // Drops any database of that name and creates it anew, loaded with the schema and the demo room.
    explicit BenchDatabase(std::string name);
    ~BenchDatabase();
    BenchDatabase(const BenchDatabase&) = delete;
    BenchDatabase& operator=(const BenchDatabase&) = delete;

    const std::string& name() const { return name_; }
    // Statements on an administrative connection that speaks UTF-8; throws on failure.
    void exec(const std::string& sql);
    std::vector<std::vector<std::string>> rows(const std::string& sql);
    std::string scalar(const std::string& sql);

    // Writes Configuration_Base_de_donnee.init (CR LF between lines) into `folder`.
    void write_database_file(const std::string& folder) const;
    void write_database_file(const std::string& folder, const std::string& user,
                             const std::string& password) const;

  private:
    MYSQL* admin_ = nullptr;
    std::string name_;
};

// A new empty folder, made the current directory for the object's life, removed afterwards.
class BenchFolder {
  public:
    BenchFolder();
    ~BenchFolder();
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;
    const std::string& path() const { return path_; }
    void write_file(const std::string& name, const std::string& bytes) const;

  private:
    std::string path_;
    std::string previous_;
};

// SQL text literal with quotes and backslashes doubled/escaped, for the administrative connection.
std::string sql_quoted(const std::string& text);
