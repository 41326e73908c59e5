#include "fonction/db_link.h"

#include "fonction/config_files.h"
#include "platform/station_folder.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <strings.h>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

bool ServerHealth::known_down(const std::string& server) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return down_ && server == server_;
}

void ServerHealth::report(const std::string& server, bool answered, Moment attempt_started) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (attempt_started < latest_) {
        return;
    }
    latest_ = attempt_started;
    down_ = !answered;
    server_ = server;
}

bool ServerHealth::down() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return down_;
}

namespace {

// A statement the server answered, even with an error of its own, tells that it is there; one the
// client library gave up on (its errors are 2000 to 2999: lost, gone, timed out) tells that it is not.
void note_answer(DbLink& link, bool ran, ServerHealth::Moment started) {
    if (link.health == nullptr || link.handle == nullptr) {
        return;
    }
    const unsigned int error = ran ? 0 : mysql_errno(link.handle);
    if (!ran && error == 0) {
        return; // nothing was sent
    }
    const bool client_gave_up = error >= 2000 && error <= 2999;
    link.health->report(link.server, !client_gave_up, started);
}

// Sends one statement text and tells the health what came of it.
bool query(DbLink& link, const char* text, unsigned long length) {
    const ServerHealth::Moment started = std::chrono::steady_clock::now();
    const bool ran = mysql_real_query(link.handle, text, length) == 0;
    note_answer(link, ran, started);
    return ran;
}

// Waits up to `milliseconds` for the server's answer to arrive on a connection.
bool answer_within(my_socket socket, int milliseconds) {
#ifdef _WIN32
    WSAPOLLFD waiting{};
    waiting.fd = socket;
    waiting.events = POLLRDNORM;
    return WSAPoll(&waiting, 1, milliseconds) > 0;
#else
    pollfd waiting{static_cast<int>(socket), POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&waiting, 1, milliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
#endif
}

enum class Probe { Answered, Lost, Silent };

// A kept connection may have died since its last operation (a restarted server, a node the balancer
// dropped, the server's wait_timeout, a network cut): a statement that changes nothing finds out
// before any of the operation's own is sent, so none of those is ever sent twice. Its answer is
// awaited no longer than a new connection's greeting would be.
Probe probe(MYSQL* handle) {
    static const char nothing[] = "DO 0";
    if (mysql_send_query(handle, nothing, sizeof nothing - 1) != 0) {
        return Probe::Lost;
    }
    if (!answer_within(mysql_get_socket(handle), static_cast<int>(connect_timeout_seconds) * 1000)) {
        return Probe::Silent;
    }
    return mysql_read_query_result(handle) == 0 ? Probe::Answered : Probe::Lost;
}

// What a connection is made with, to be compared before a kept one is used again.
std::string identity(const std::string& server, AuthorityFile authority, const std::string& bytes) {
    std::string made_with = server;
    made_with.append(1, '\n').append(1, authority == AuthorityFile::Read ? 'R' : '-').append(bytes);
    return made_with;
}

} // namespace

void open_link(DbLink& link, int& connect_status) {
    link.connected = false;
    link.statement_escaped_relaxed = false;
    link.tail_escaped_relaxed = false;
    link.result = nullptr;
    link.row = nullptr;
    FixedText<255> name;
    FixedText<255> host;
    FixedText<70> user;
    FixedText<70> password;
    int file_status = 0;
    read_database_file(name, host, user, password, file_status);
    // Given no user name, the client library would sign in as the system account running the
    // station: a file without one has no credentials.
    if (file_status != 1 || user.empty()) {
        drop_link(link);
        connect_status = 1;
        return;
    }
    std::string authority;
    const AuthorityFile authority_file = read_server_authority(authority);
    std::string& server = link.server;
    server.assign(host.str()).append(1, '\n').append(user.str()).append(1, '\n');
    server.append(password.str()).append(1, '\n').append(name.str());
    if (link.health != nullptr && link.fail_fast && link.health->known_down(server)) {
        connect_status = 1;
        return;
    }
    const std::string made_with =
        link.keep_open ? identity(server, authority_file, authority) : std::string();
    // A kept connection is used again only for the same server, account and authority: one made under
    // another authority, or none, proves nothing about the server the files now name.
    if (link.handle != nullptr && !link.kept_for.empty() && link.kept_for == made_with &&
        authority_file != AuthorityFile::Unreadable) {
        const ServerHealth::Moment started = std::chrono::steady_clock::now();
        switch (probe(link.handle)) {
        case Probe::Answered:
            link.connected = true;
            connect_status = 0;
            return;
        case Probe::Silent:
            // As a new connection to a server that never greets: not connected, after the same bound.
            drop_link(link);
            if (link.health != nullptr) {
                link.health->report(server, false, started);
            }
            connect_status = 1;
            return;
        case Probe::Lost:
            break;
        }
    }
    drop_link(link);
    link.handle = mysql_init(nullptr);
    if (link.handle == nullptr) {
        connect_status = 1;
        return;
    }
    const unsigned int connect_timeout = connect_timeout_seconds;
    const unsigned int io_timeout = read_write_timeout_seconds;
    mysql_options(link.handle, MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
    mysql_options(link.handle, MYSQL_OPT_READ_TIMEOUT, &io_timeout);
    mysql_options(link.handle, MYSQL_OPT_WRITE_TIMEOUT, &io_timeout);
    // latin1 on the server is Windows-1252, the stations' code page.
    mysql_options(link.handle, MYSQL_SET_CHARSET_NAME, "latin1");
    // Encrypted whenever the server offers it. With the server's authority beside the database file,
    // only a server that proves itself against it, under the name the file gives, is spoken to; one
    // that offers no encryption then is refused too.
    mysql_ssl_set(link.handle, nullptr, nullptr, nullptr, nullptr, nullptr);
    // The library opens the authority by path, while it connects.
    std::optional<station_folder::OpenablePath> authority_path;
    if (authority_file != AuthorityFile::Absent) {
        const my_bool verify = 1;
        authority_path.emplace(server_authority_file_name);
        mysql_options(link.handle, MYSQL_OPT_SSL_CA, authority_path->c_str());
        mysql_options(link.handle, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
    }
    const ServerHealth::Moment started = std::chrono::steady_clock::now();
    // An empty password is passed as "", never NULL (NULL would make the library read MYSQL_PWD).
    link.connected = mysql_real_connect(link.handle, host.c_str(), user.c_str(), password.c_str(),
                                        name.c_str(), 0, nullptr, 0) != nullptr;
    connect_status = link.connected ? 0 : 1;
    if (link.health != nullptr && !link.connected) {
        link.health->report(server, false, started);
    }
    if (link.connected) {
        link.kept_for = made_with;
    }
}

void close_link(DbLink& link) {
    free_result(link);
    link.connected = false;
    // Kept only as sound as it was made: no statement's answer left pending, and no error of the
    // client library's (a connection lost, a statement given up on) on the operation's last call.
    const bool sound = link.handle != nullptr && link.handle->status == MYSQL_STATUS_READY &&
                       mysql_get_socket(link.handle) != MARIADB_INVALID_SOCKET &&
                       !(mysql_errno(link.handle) >= 2000 && mysql_errno(link.handle) <= 2999);
    if (!link.keep_open || link.kept_for.empty() || !sound) {
        drop_link(link);
    }
}

void drop_link(DbLink& link) {
    free_result(link);
    if (link.handle != nullptr) {
        mysql_close(link.handle);
    }
    link.handle = nullptr;
    link.connected = false;
    link.session_relaxed = false;
    link.kept_for.clear();
}

namespace {

// A SELECT without double quotes means the same in every sql_mode the station can meet: the strict
// modes judge only the values that INSERT and UPDATE write, and ANSI_QUOTES changes only what double
// quotes mean. Decided on the template: a value holding a double quote changes nothing.
bool reads_the_same_in_any_mode(const char* templ) {
    while (*templ == ' ' || *templ == '\t' || *templ == '\r' || *templ == '\n') {
        ++templ;
    }
    return strncasecmp(templ, "SELECT", 6) == 0 && std::strchr(templ, '"') == nullptr;
}

// The statements give an empty text for automatic keys and quote every integer; a server in a strict
// mode (the default of current servers) would refuse such rows, and the survey lookup quotes its text
// with double quotes. So the session leaves strict mode, ANSI_QUOTES and NO_BACKSLASH_ESCAPES before
// its first statement that depends on them, and before that statement's values are escaped: the
// escaping follows the mode (quotes doubled, or backslashes), and a value escaped for one mode and
// read in the other is an injection. A link that only reads (the status poll every second, the
// start-up chain) is spared that extra round trip to the server.
bool relax_session_for(DbLink& link, const char* templ) {
    if (link.session_relaxed || reads_the_same_in_any_mode(templ)) {
        return true;
    }
    static const char relax[] = "SET SESSION sql_mode=''";
    if (!query(link, relax, sizeof relax - 1)) {
        return false;
    }
    link.session_relaxed = true;
    return true;
}

template <std::size_t N>
bool compose_into(DbLink& link, FixedText<N>& target, const char* templ,
                  std::initializer_list<SqlValue> values) {
    target.clear();
    if (!link.connected || link.handle == nullptr || !relax_session_for(link, templ)) {
        return false;
    }
    // mysql_real_escape_string reads the mode from the server's last status: the one now in force.
    if (static_cast<void*>(&target) == &link.statement) {
        link.statement_escaped_relaxed = link.session_relaxed;
    } else if (static_cast<void*>(&target) == &link.statement_tail) {
        link.tail_escaped_relaxed = link.session_relaxed;
    }
    std::string out;
    const SqlValue* next = values.begin();
    std::vector<char> escaped;
    for (const char* p = templ; *p != '\0'; ++p) {
        if (*p != '%') {
            out.push_back(*p);
            continue;
        }
        std::string conversion_flags;
        const char* q = p + 1;
        while (*q != '\0' && std::strchr("0123456789l", *q) != nullptr) {
            conversion_flags.push_back(*q++);
        }
        const char conversion = *q;
        if (conversion == '%') {
            out.push_back('%');
            p = q;
            continue;
        }
        if (next == values.end()) {
            return false;
        }
        const SqlValue& value = *next++;
        switch (conversion) {
        case 'd':
        case 'u': {
            if (value.kind() != SqlValue::Kind::Integer && value.kind() != SqlValue::Kind::Unsigned) {
                return false;
            }
            // Only zero padding occurs in the templates ("%02d", "%04d").
            std::size_t width = 0;
            for (const char digit : conversion_flags) {
                if (digit >= '0' && digit <= '9') {
                    width = width * 10 + static_cast<std::size_t>(digit - '0');
                }
            }
            const long long v = value.integer();
            std::string digits = std::to_string(v < 0 ? -(v + 1) + 1ULL : static_cast<unsigned long long>(v));
            while (digits.size() + (v < 0 ? 1 : 0) < width) {
                digits.insert(digits.begin(), '0');
            }
            if (v < 0) {
                out.push_back('-');
            }
            out += digits;
            break;
        }
        case 's':
        case 'c': {
            if (value.kind() != SqlValue::Kind::Text && value.kind() != SqlValue::Kind::Character) {
                return false;
            }
            const std::string& text = value.text();
            escaped.assign(text.size() * 2 + 1, '\0');
            const unsigned long length =
                mysql_real_escape_string(link.handle, escaped.data(), text.data(), text.size());
            out.append(escaped.data(), length);
            break;
        }
        default:
            return false;
        }
        if (out.size() > FixedText<N>::capacity) {
            return false;
        }
        p = q;
    }
    if (next != values.end() || !FixedText<N>::fits(out.size())) {
        return false;
    }
    target.assign(out);
    return true;
}

} // namespace

bool compose(DbLink& link, FixedText<3000>& target, const char* templ,
             std::initializer_list<SqlValue> values) {
    return compose_into(link, target, templ, values);
}

bool compose(DbLink& link, FixedText<2000>& target, const char* templ,
             std::initializer_list<SqlValue> values) {
    return compose_into(link, target, templ, values);
}

bool append_tail(DbLink& link) {
    const std::size_t total = link.statement.size() + link.statement_tail.size();
    if (!FixedText<3000>::fits(total) || link.statement_escaped_relaxed != link.tail_escaped_relaxed) {
        link.statement.clear();
        return false;
    }
    link.statement.assign(link.statement.str() + link.statement_tail.str());
    return true;
}

bool run_statement(DbLink& link) {
    if (!link.connected || link.handle == nullptr || link.statement.empty() ||
        link.statement_escaped_relaxed != link.session_relaxed) {
        return false;
    }
    return query(link, link.statement.c_str(), link.statement.size());
}

bool run(DbLink& link, const char* templ, std::initializer_list<SqlValue> values) {
    return compose(link, templ, values) && run_statement(link);
}

bool store_result(DbLink& link) {
    free_result(link);
    const ServerHealth::Moment started = std::chrono::steady_clock::now();
    link.result = link.handle != nullptr ? mysql_store_result(link.handle) : nullptr;
    if (link.result == nullptr && link.handle != nullptr) {
        note_answer(link, false, started);
    }
    return link.result != nullptr;
}

bool use_result(DbLink& link) {
    free_result(link);
    link.result = link.handle != nullptr ? mysql_use_result(link.handle) : nullptr;
    return link.result != nullptr;
}

Fetch fetch_row(DbLink& link) {
    if (link.result == nullptr) {
        return Fetch::Error;
    }
    link.row = mysql_fetch_row(link.result);
    if (link.row != nullptr) {
        return Fetch::Row;
    }
    return mysql_errno(link.handle) != 0 ? Fetch::Error : Fetch::End;
}

unsigned int field_count(const DbLink& link) {
    return link.result != nullptr ? mysql_num_fields(link.result) : 0;
}

unsigned long long row_count(const DbLink& link) {
    return link.result != nullptr ? static_cast<unsigned long long>(mysql_num_rows(link.result)) : 0;
}

const char* column(const DbLink& link, unsigned int index) {
    if (link.row == nullptr || index >= field_count(link) || link.row[index] == nullptr) {
        return "";
    }
    return link.row[index];
}

void free_result(DbLink& link) {
    if (link.result != nullptr) {
        // A streamed result must be read to its end before the connection can be reused or closed cleanly.
        mysql_free_result(link.result);
    }
    link.result = nullptr;
    link.row = nullptr;
}

FirstRow first_row(DbLink& link, bool buffered) {
    if (!run_statement(link)) {
        return FirstRow::Failed;
    }
    if (!(buffered ? store_result(link) : use_result(link))) {
        return FirstRow::Failed;
    }
    switch (fetch_row(link)) {
    case Fetch::Row:
        return FirstRow::Present;
    case Fetch::End:
        return FirstRow::Absent;
    case Fetch::Error:
        break;
    }
    return FirstRow::Failed;
}
