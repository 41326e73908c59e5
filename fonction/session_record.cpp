#include "fonction/session_record.h"

#include "fonction/records.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

const char* const session_record_file_name = "Session_en_cours.init";

namespace {

const char* const header_line = "Kalimo session record 3";
// Its open line lacks the process clock.
const char* const second_header_line = "Kalimo session record 2";
// Its pending lines lack the account: they are skipped.
const char* const first_header_line = "Kalimo session record 1";

// The largest whole record with max_pending_closes closes is about 35 kB.
constexpr std::size_t max_record_bytes = 64 * 1024;

// ---- Dates ----

bool leap_year(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year(year) ? 29 : days[month - 1];
}

bool valid_time(const LocalTime& t) {
    // Four-digit years; a second of 60 is a leap second some clocks report.
    return t.year >= 1000 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= days_in_month(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 60;
}

// Days since 1970-01-01 of a proleptic Gregorian date; 64-bit throughout, so no int input overflows.
long long days_from_civil(long long year, long long month, long long day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long year_of_era = year - era * 400;
    const long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

long long seconds_of(const LocalTime& t) {
    return days_from_civil(t.year, t.month, t.day) * 86400 + static_cast<long long>(t.hour) * 3600 +
           static_cast<long long>(t.minute) * 60 + t.second;
}

// ---- Validation ----

// Letters, digits and '-', as a boot's identity is written; empty when unknown.
bool valid_boot(const std::string& boot) {
    return boot.size() <= 64 &&
           std::all_of(boot.begin(), boot.end(),
                       [](char c) {
                           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                                  (c >= 'A' && c <= 'Z') || c == '-';
                       }) &&
           boot != "-";
}

bool valid_open(const OpenSession& open) {
    return open.id_resa >= 1 && open.id_user >= 1 && (open.closing_status == 1 || open.closing_status == 2) &&
           valid_time(open.opened) && valid_time(open.last_alive) && open.opened_clock.ms >= 0 &&
           valid_boot(open.opened_clock.boot);
}

// What a pending line may say. A longer duration is read, and left to the settlement to drop: the
// rest of the record is still worth settling.
bool well_formed_pending(const PendingClose& close) {
    return close.duration_minutes >= 0 && (close.closing_status == 1 || close.closing_status == 2) &&
           close.id_resa >= 1 && close.id_user >= 1;
}

// What the station itself writes.
bool valid_pending(const PendingClose& close) {
    return well_formed_pending(close) && close.duration_minutes <= max_settled_minutes;
}

// ---- Text ----

std::string time_text(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

std::string record_text(const SessionRecord& record) {
    std::string text = std::string(header_line) + "\r\n";
    if (record.open) {
        const OpenSession& o = *record.open;
        text += "open " + std::to_string(o.id_resa) + ' ' + std::to_string(o.id_user) + ' ' +
                std::to_string(o.closing_status) + ' ' + time_text(o.opened) + ' ' + time_text(o.last_alive) +
                ' ' + std::to_string(o.opened_clock.ms) + ' ' +
                (o.opened_clock.boot.empty() ? std::string("-") : o.opened_clock.boot) + "\r\n";
    }
    for (const PendingClose& c : record.pending) {
        text += "pending " + std::to_string(c.duration_minutes) + ' ' + std::to_string(c.closing_status) +
                ' ' + std::to_string(c.id_resa) + ' ' + std::to_string(c.id_user) + "\r\n";
    }
    return text + "end\r\n";
}

// Splits a line at single spaces; an empty field (two spaces, a leading or trailing one) is kept as
// an empty field, which no reader accepts.
std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == ' ') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

// Decimal digits only, no sign, within 0..INT_MAX.
bool parse_int(const std::string& text, int& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    long long v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    if (v > INT_MAX) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

// Exactly `width` digits.
bool parse_digits(const std::string& text, std::size_t at, std::size_t width, int& value) {
    if (at + width > text.size()) {
        return false;
    }
    return parse_int(text.substr(at, width), value);
}

// "YYYY-MM-DD" and "HH:MM:SS", a real date and time.
bool parse_time(const std::string& date, const std::string& clock, LocalTime& t) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-' || clock.size() != 8 || clock[2] != ':' ||
        clock[5] != ':') {
        return false;
    }
    return parse_digits(date, 0, 4, t.year) && parse_digits(date, 5, 2, t.month) &&
           parse_digits(date, 8, 2, t.day) && parse_digits(clock, 0, 2, t.hour) &&
           parse_digits(clock, 3, 2, t.minute) && parse_digits(clock, 6, 2, t.second) && valid_time(t);
}

// Decimal digits only, no sign, at most 18 of them.
bool parse_count(const std::string& text, std::int64_t& value) {
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    value = std::stoll(text);
    return true;
}

// The process clock follows from version 3 on.
bool parse_open(const std::vector<std::string>& f, OpenSession& o, bool with_clock) {
    if (f.size() != (with_clock ? 10u : 8u) || !parse_int(f[1], o.id_resa) || !parse_int(f[2], o.id_user) ||
        !parse_int(f[3], o.closing_status) || !parse_time(f[4], f[5], o.opened) ||
        !parse_time(f[6], f[7], o.last_alive)) {
        return false;
    }
    if (with_clock) {
        if (!parse_count(f[8], o.opened_clock.ms) || f[9].empty()) {
            return false;
        }
        o.opened_clock.boot = f[9] == "-" ? std::string() : f[9];
    }
    return valid_open(o);
}

bool parse_pending(const std::vector<std::string>& f, PendingClose& c) {
    return f.size() == 5 && parse_int(f[1], c.duration_minutes) && parse_int(f[2], c.closing_status) &&
           parse_int(f[3], c.id_resa) && parse_int(f[4], c.id_user) && well_formed_pending(c);
}

// A version 1 pending line, well formed: read and let go.
bool parse_first_pending(const std::vector<std::string>& f) {
    PendingClose c{};
    return f.size() == 4 && parse_int(f[1], c.duration_minutes) && parse_int(f[2], c.closing_status) &&
           parse_int(f[3], c.id_resa);
}

// The whole file's bytes: a header, the body lines, "end", each ending with CR LF (LF alone is taken
// too), nothing after.
bool parse_record(const std::string& bytes, SessionRecord& record) {
    std::size_t at = 0;
    bool first = true;
    bool first_version = false;
    bool with_clock = true;
    while (at < bytes.size()) {
        const std::size_t lf = bytes.find('\n', at);
        if (lf == std::string::npos) {
            return false; // the last line was cut short
        }
        std::string line = bytes.substr(at, lf - at);
        at = lf + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (first) {
            first_version = line == first_header_line;
            with_clock = line == header_line;
            if (!with_clock && !first_version && line != second_header_line) {
                return false;
            }
            first = false;
            continue;
        }
        if (line == "end") {
            return at == bytes.size();
        }
        const std::vector<std::string> fields = fields_of(line);
        if (fields[0] == "open") {
            OpenSession open{};
            if (record.open || !parse_open(fields, open, with_clock)) {
                return false;
            }
            record.open = open;
        } else if (fields[0] == "pending" && first_version) {
            if (!parse_first_pending(fields)) {
                return false;
            }
        } else if (fields[0] == "pending") {
            PendingClose close{};
            if (record.pending.size() >= max_pending_closes || !parse_pending(fields, close)) {
                return false;
            }
            record.pending.push_back(close);
        } else {
            return false;
        }
    }
    return false; // no end line
}

} // namespace

bool valid_session_record(const SessionRecord& record) {
    if (record.open && !valid_open(*record.open)) {
        return false;
    }
    if (record.pending.size() > max_pending_closes) {
        return false;
    }
    for (const PendingClose& close : record.pending) {
        if (!valid_pending(close)) {
            return false;
        }
    }
    return true;
}

bool parse_session_record(const std::string& bytes, SessionRecord& out) {
    out = SessionRecord{};
    SessionRecord record;
    if (bytes.size() > max_record_bytes || !parse_record(bytes, record)) {
        return false;
    }
    out = record;
    return true;
}

std::string session_record_text(const SessionRecord& record) {
    return record_text(record);
}

int lived_minutes(const LocalTime& opened, const LocalTime& last_alive) {
    const long long seconds = seconds_of(last_alive) - seconds_of(opened);
    // Counted as a visitor's session is; a clock set back gives the shortest, a clock set forward at
    // most a day.
    const long long longest = static_cast<long long>(max_settled_minutes) * 60;
    const long long counted = seconds < 0 ? 0 : (seconds > longest ? longest : seconds);
    return static_cast<int>(session_minutes(static_cast<std::uint32_t>(counted)));
}

PendingClose close_of(const OpenSession& session) {
    if (session.closing_status == 2) {
        return PendingClose{0, 2, session.id_resa, session.id_user};
    }
    return PendingClose{lived_minutes(session.opened, session.last_alive), session.closing_status,
                        session.id_resa, session.id_user};
}
