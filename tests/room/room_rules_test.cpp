#include "room/room_rules.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

namespace {

const LocalTime now{2026, 12, 9, 10, 30, 0}; // 37 800 s after midnight

RoomComputer computer(const char* beat_date, int beat_seconds, int id_resa = 0, int status_user = 1,
                      const char* session_date = "2026-12-09", int minute = 600, int allowance = 120,
                      int spent = 0) {
    RoomComputer c;
    c.id_computer = 1;
    c.heartbeat_date = beat_date;
    c.heartbeat_seconds = beat_seconds;
    c.id_resa = id_resa;
    c.status_user = status_user;
    c.session_date = session_date;
    c.session_minute = minute;
    c.allowance = allowance;
    c.spent = spent;
    return c;
}

// "state since used/left", "+" when staff may end the session.
std::string summary(const StationLine& line) {
    static const char* const states[] = {"free", "in use", "staff", "silent", "never seen"};
    char since[32] = "-";
    if (line.has_since) {
        std::snprintf(since, sizeof since, "%02d-%02d %02d:%02d:%02d", line.since.month, line.since.day,
                      line.since.hour, line.since.minute, line.since.second);
    }
    return std::string(states[static_cast<int>(line.state)]) + " " + since + " " +
           std::to_string(line.used_minutes) + "/" + std::to_string(line.left_minutes) +
           (line.can_end ? " +" : "");
}

} // namespace

TEST(StationLine, TheHeartbeatThenTheOpenRowDecideAndTheTimeIsCountedAsTheStationCountsIt) {
    const struct {
        RoomComputer computer;
        const char* expected;
    } cases[] = {
        {computer("", 0), "never seen - -1/-1"},
        {computer("2026-13-01", 100), "never seen - -1/-1"},
        {computer("2026-12-09", 37785), "free - -1/-1"}, // 15 s ago
        {computer("2026-12-09", 37784), "silent 12-09 10:29:44 -1/-1"},
        {computer("2026-12-08", 86399), "silent 12-08 23:59:59 -1/-1"},
        {computer("2026-12-09", 37900), "free - -1/-1"}, // a station's clock ahead
        // The credit of its sign-in (120 less 30 of the day's other rows) less the 30 minutes since 10:00.
        {computer("2026-12-09", 37795, 7, 1, "2026-12-09", 600, 120, 30), "in use 12-09 10:00:00 30/60 +"},
        {computer("2026-12-09", 37795, 7, 1, "2026-12-09", 600, 40, 30), "in use 12-09 10:00:00 30/0 +"},
        {computer("2026-12-09", 37795, 7, 1, "2026-12-08", 1430, 999), "in use 12-08 23:50:00 640/359 +"},
        {computer("2026-12-09", 37795, 7, 1, "2026-12-09", 631), "in use 12-09 10:31:00 0/120 +"},
        {computer("2026-12-09", 37795, 7, 1, "2026-12-09", 1440), "in use - -1/-1 +"},
        {computer("2026-12-09", 37795, 7, 3), "staff 12-09 10:00:00 -1/-1"},
        {computer("2026-12-09", 37795, 7, 4), "staff 12-09 10:00:00 -1/-1"},
        // Its visitor cannot sign in elsewhere while the row is open: staff may end it.
        {computer("2026-12-09", 30000, 7, 1), "silent 12-09 08:20:00 30/90 +"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(summary(station_line(c.computer, now)), c.expected);
    }
}

TEST(RoomLines, OneLineAComputerItsNewestRowSortedByRoomThenNameByTheirNumbersAndCounted) {
    const auto at = [](int id, const char* room, const char* name, int id_resa = 0,
                       const char* beat = "2026-12-09") {
        RoomComputer c = computer(beat, 37795, id_resa);
        c.id_computer = id;
        c.room = room;
        c.name = name;
        return c;
    };
    const std::vector<StationLine> lines =
        room_lines({at(1, "Salle B", "Poste-10", 5), at(2, "Salle B", "Poste-2"),
                    at(1, "Salle B", "Poste-10", 9), at(3, "salle a", "poste-3", 0, ""),
                    at(4, "Salle B", "Poste-02b"), at(5, "Salle A", "Poste-1", 4, "2026-12-01")},
                   now);
    std::string order;
    for (const StationLine& line : lines) {
        order += line.computer.name + "/" + std::to_string(line.computer.id_resa) + " ";
    }
    const StateCounts n = count_states(lines);
    EXPECT_EQ(order + std::to_string(n.free) + std::to_string(n.in_use) + std::to_string(n.staff) +
                  std::to_string(n.silent) + std::to_string(n.never_seen),
              "Poste-1/4 poste-3/0 Poste-2/0 Poste-02b/0 Poste-10/9 21011");
    // The search: any name, letter case aside, accented capitals of the code page included.
    const std::string mediatheque = std::string("M\xe9") + "diath\xe8que";
    RoomComputer named = at(6, mediatheque.c_str(), "Poste-12");
    named.surname = "DURAND";
    const StationLine line = station_line(named, now);
    for (const auto& [text, found] :
         std::vector<std::pair<std::string, bool>>{{"", true},
                                                   {"poste-1", true},
                                                   {std::string("M\xc9") + "DIA", true},
                                                   {"durand", true},
                                                   {"Poste-13", false},
                                                   {"%", false}}) {
        EXPECT_EQ(line_matches(line, text), found) << text;
    }
}

TEST(RegistrationVerdict, NothingIsWrittenForARegistrationGoneWithoutLoginOrClashing) {
    using O = RegistrationOutcome;
    for (const auto& [facts, allowance, outcome] : std::vector<std::tuple<RegistrationFacts, int, O>>{
             {{true, "jdupont", false, false}, 0, O::Validated},
             {{false, "jdupont", false, false}, 60, O::Gone},
             {{true, "", false, false}, 60, O::NoLogin},
             {{true, "jdupont", true, true}, 60, O::LoginTaken},
             {{true, "jdupont", false, true}, 60, O::PersonKnown},
             {{true, "jdupont", false, false}, -1, O::BadAllowance}}) {
        EXPECT_EQ(registration_verdict(facts, allowance), outcome) << facts.login << " " << allowance;
    }
}
