// The database link: every operation opens it from the database file, read anew, and closes it before
// it returns. A link is one connection per operation, except the worker's, which keep theirs open
// across operations while the database file and the authority file say what they said when it was
// made and the server still answers on it: with TLS each new connection is a handshake on both sides.
// Statements are composed from their templates with every text value escaped on the operation's own
// connection; a statement that would not fit is refused, not cut.
#pragma once

#include "fonction/fixed_text.h"

#include <mysql.h>

#include <chrono>
#include <initializer_list>
#include <mutex>
#include <string>

// What the station knows of its server, shared by the window's link and the worker's. A connection
// that fails, or a statement the client library gave up on (the server went or stopped answering),
// says it is down; only a statement the server answered says it is up again, so a server that takes
// connections but never answers stays down. While it is down, a link that must not wait fails at once,
// as "not connected" would, instead of waiting out the bounds. A database file naming another server is
// tried afresh. An answer older than the last one taken (a slow attempt finishing late) changes nothing.
class ServerHealth {
  public:
    using Moment = std::chrono::steady_clock::time_point;
    bool known_down(const std::string& server) const;
    void report(const std::string& server, bool answered, Moment attempt_started);
    // The last answer taken, about whatever server, was a failure.
    bool down() const;

  private:
    mutable std::mutex mutex_;
    bool down_ = false;
    std::string server_;
    Moment latest_{};
};

struct DbLink {
    MYSQL* handle = nullptr;
    MYSQL_RES* result = nullptr;
    MYSQL_ROW row = nullptr;
    FixedText<3000> statement;
    FixedText<2000> statement_tail;
    bool connected = false;
    // The connection's session sql_mode has been made non-strict (done before the first statement that
    // needs it; a kept connection stays so).
    bool session_relaxed = false;
    // The session mode each piece's values were escaped for (true: relaxed).
    bool statement_escaped_relaxed = false;
    bool tail_escaped_relaxed = false;
    // Shared knowledge of the server (none: every operation tries); with fail_fast, an operation does
    // not try a server known not to answer.
    ServerHealth* health = nullptr;
    bool fail_fast = false;
    // The server the current connection is to, as the health knows it.
    std::string server;
    // Kept open across operations (the worker's links): close_link leaves a sound connection open,
    // and open_link uses it again while the files name the same server, account and authority and
    // the server answers on it; otherwise it is closed and a new one made.
    bool keep_open = false;
    // What the kept connection was made with: the database file's four values and the authority's bytes.
    std::string kept_for;
};

// Connection bounds: a server that does not answer must not freeze the station.
constexpr unsigned int connect_timeout_seconds = 3;
constexpr unsigned int read_write_timeout_seconds = 5;

// connect_status: 0 connected, 1 not.
void open_link(DbLink& link, int& connect_status);
void close_link(DbLink& link);
// Closes the connection, a kept one too (the worker's links when it ends).
void drop_link(DbLink& link);

// Opens the link for one operation and closes it (freeing any result left) on every path out,
// exceptions included.
class LinkScope {
  public:
    LinkScope(DbLink& link, int& connect_status) : link_(link) { open_link(link_, connect_status); }
    explicit LinkScope(DbLink& link) : link_(link) { open_link(link_, local_status_); }
    ~LinkScope() { close_link(link_); }
    LinkScope(const LinkScope&) = delete;
    LinkScope& operator=(const LinkScope&) = delete;

  private:
    DbLink& link_;
    int local_status_ = 1;
};

// One value for a template's conversion: %d %02d %04d (int), %u %02u %lu (unsigned), %s (text,
// escaped), %c (one character, escaped).
class SqlValue {
  public:
    enum class Kind { Integer, Unsigned, Text, Character };
    SqlValue(int value) : kind_(Kind::Integer), integer_(value) {}
    SqlValue(unsigned long value) : kind_(Kind::Unsigned), integer_(static_cast<long long>(value)) {}
    SqlValue(const char* text) : kind_(Kind::Text), text_(text == nullptr ? "" : text) {}
    SqlValue(const std::string& text) : kind_(Kind::Text), text_(text) {}
    template <std::size_t N>
    SqlValue(const FixedText<N>& text) : kind_(Kind::Text), text_(text.c_str(), text.size()) {}
    static SqlValue character(char c) {
        SqlValue v{std::string(1, c)};
        v.kind_ = Kind::Character;
        return v;
    }
    Kind kind() const { return kind_; }
    long long integer() const { return integer_; }
    const std::string& text() const { return text_; }

  private:
    Kind kind_;
    long long integer_ = 0;
    std::string text_;
};

// Formats `templ` with `values` into `target`, each text escaped for the sql_mode the statement will run
// in: a template that is not a plain read (a SELECT without double quotes) relaxes the session first.
// False (and `target` emptied) when the link is not connected, the session cannot be relaxed, the
// values do not match the template, or the result would not fit.
bool compose(DbLink& link, FixedText<3000>& target, const char* templ,
             std::initializer_list<SqlValue> values);
bool compose(DbLink& link, FixedText<2000>& target, const char* templ,
             std::initializer_list<SqlValue> values);
inline bool compose(DbLink& link, const char* templ, std::initializer_list<SqlValue> values) {
    return compose(link, link.statement, templ, values);
}
// Appends statement_tail to statement; false (statement emptied) when the whole would not fit or the
// two pieces were escaped for different session modes.
bool append_tail(DbLink& link);

// Sends `statement`; false on a statement error, a link that is not connected, or a statement escaped
// for another session mode than the one in force (nothing is sent then).
bool run_statement(DbLink& link);
// compose + run_statement.
bool run(DbLink& link, const char* templ, std::initializer_list<SqlValue> values);

bool store_result(DbLink& link); // buffered; false when there is no result set
bool use_result(DbLink& link);   // streamed
enum class Fetch { Row, End, Error };
Fetch fetch_row(DbLink& link);
unsigned int field_count(const DbLink& link);

// Sends `statement` and reads the first row of its result (buffered or streamed): Present with the
// row current, Absent when there is none, Failed when the statement, the result or the read failed.
enum class FirstRow { Present, Absent, Failed };
FirstRow first_row(DbLink& link, bool buffered);
unsigned long long row_count(const DbLink& link);
// Column text of the current row; SQL NULL reads as an empty text.
const char* column(const DbLink& link, unsigned int index);
void free_result(DbLink& link);
