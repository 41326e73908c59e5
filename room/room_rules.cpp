#include "room/room_rules.h"

#include "fonction/records.h"
#include "fonction/registration_text.h"
#include "fonction/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

bool day_number(const std::string& date, long long& days) {
    int year = 0;
    int month = 0;
    int day = 0;
    char tail = 0;
    if (std::sscanf(date.c_str(), "%d-%d-%d%c", &year, &month, &day, &tail) != 3 || year < 1 || month < 1 ||
        month > 12 || day < 1 || day > 31) {
        return false;
    }
    // Days from the civil date (the proleptic Gregorian calendar), 1970-01-01 being day 0.
    const long long y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long year_of_era = y - era * 400;
    const long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    days = era * 146097 + day_of_era - 719468;
    return true;
}

namespace {

long long seconds_of(const LocalTime& t, long long days) {
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

LocalTime time_of(const std::string& date, long long seconds_in_day) {
    LocalTime t;
    std::sscanf(date.c_str(), "%d-%d-%d", &t.year, &t.month, &t.day);
    t.hour = static_cast<int>(seconds_in_day / 3600);
    t.minute = static_cast<int>(seconds_in_day / 60 % 60);
    t.second = static_cast<int>(seconds_in_day % 60);
    return t;
}

} // namespace

StationLine station_line(const RoomComputer& computer, const LocalTime& now) {
    StationLine line;
    line.computer = computer;
    long long now_days = 0;
    day_number(local_date_text(now), now_days);
    const long long now_s = seconds_of(now, now_days);

    long long beat_days = 0;
    const bool beat = day_number(computer.heartbeat_date, beat_days) && computer.heartbeat_seconds >= 0 &&
                      computer.heartbeat_seconds < 86400;
    const bool open = computer.id_resa > 0;
    const bool staff = open && is_staff_status(computer.status_user);
    if (!beat) {
        line.state = StationStatus::NeverSeen;
    } else if (now_s - (beat_days * 86400 + computer.heartbeat_seconds) > silent_after_seconds) {
        line.state = StationStatus::Silent;
        line.has_since = true;
        line.since = time_of(computer.heartbeat_date, computer.heartbeat_seconds);
    } else if (!open) {
        line.state = StationStatus::Free;
    } else {
        line.state = staff ? StationStatus::Staff : StationStatus::InUse;
    }

    long long opened_days = 0;
    if (open && day_number(computer.session_date, opened_days) && computer.session_minute >= 0 &&
        computer.session_minute < 24 * 60) {
        if (line.state != StationStatus::Silent) {
            line.has_since = true;
            line.since = time_of(computer.session_date, computer.session_minute * 60LL);
        }
        if (!staff) {
            // The station's counter: the credit of its sign-in (the allowance less the day's other rows
            // not closed normally) less the time since the session opened, never below zero.
            const long long used_s =
                std::max(0LL, now_s - (opened_days * 86400 + computer.session_minute * 60LL));
            line.used_minutes = static_cast<int>(std::min<long long>(used_s / 60, 1000000));
            line.left_minutes = std::max(0, computer.allowance - computer.spent - line.used_minutes);
        }
    }
    line.can_end = open && !staff;
    return line;
}

namespace {

// Text with its runs of digits compared by value, letters by the code page's lower case: -1, 0 or 1.
int natural_compare(const std::string& a, const std::string& b) {
    const auto digit = [](const std::string& text, std::size_t at) {
        return at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0;
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a, i) && digit(b, j)) {
            while (digit(a, i + 1) && a[i] == '0') {
                ++i;
            }
            while (digit(b, j + 1) && b[j] == '0') {
                ++j;
            }
            std::size_t ni = i;
            std::size_t nj = j;
            while (digit(a, ni)) {
                ++ni;
            }
            while (digit(b, nj)) {
                ++nj;
            }
            // Without leading zeros, the longer number is the larger.
            const int by_value =
                ni - i != nj - j ? (ni - i < nj - j ? -1 : 1) : a.compare(i, ni - i, b, j, nj - j);
            if (by_value != 0) {
                return by_value < 0 ? -1 : 1;
            }
            i = ni;
            j = nj;
            continue;
        }
        const auto la = static_cast<unsigned char>(lower_case_char(a[i]));
        const auto lb = static_cast<unsigned char>(lower_case_char(b[j]));
        if (la != lb) {
            return la < lb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) {
        return i < a.size() ? 1 : -1;
    }
    return 0;
}

} // namespace

std::vector<StationLine> room_lines(const std::vector<RoomComputer>& computers, const LocalTime& now) {
    // The newest open row of each computer (a station that died left one, and a new session opened).
    std::map<int, const RoomComputer*> newest;
    for (const RoomComputer& computer : computers) {
        const RoomComputer*& kept = newest[computer.id_computer];
        if (kept == nullptr || computer.id_resa > kept->id_resa) {
            kept = &computer;
        }
    }
    std::vector<StationLine> lines;
    lines.reserve(newest.size());
    for (const auto& each : newest) {
        lines.push_back(station_line(*each.second, now));
    }
    std::stable_sort(lines.begin(), lines.end(), [](const StationLine& a, const StationLine& b) {
        const RoomComputer& x = a.computer;
        const RoomComputer& y = b.computer;
        for (const auto& field : {&RoomComputer::space, &RoomComputer::room, &RoomComputer::name}) {
            if (const int order = natural_compare(x.*field, y.*field); order != 0) {
                return order < 0;
            }
        }
        return x.id_computer < y.id_computer;
    });
    return lines;
}

StateCounts count_states(const std::vector<StationLine>& lines) {
    StateCounts counts;
    for (const StationLine& line : lines) {
        switch (line.state) {
        case StationStatus::Free:
            ++counts.free;
            break;
        case StationStatus::InUse:
            ++counts.in_use;
            break;
        case StationStatus::Staff:
            ++counts.staff;
            break;
        case StationStatus::Silent:
            ++counts.silent;
            break;
        case StationStatus::NeverSeen:
            ++counts.never_seen;
            break;
        }
    }
    return counts;
}

bool line_matches(const StationLine& line, const std::string& text) {
    const std::string wanted = lower_case(text);
    const RoomComputer& c = line.computer;
    for (const std::string* field : {&c.name, &c.room, &c.space, &c.login, &c.surname, &c.first_name}) {
        if (lower_case(*field).find(wanted) != std::string::npos) {
            return true;
        }
    }
    return false;
}
