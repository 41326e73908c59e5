// The room view's decisions over plain records, apart from the widgets: what state each station is in
// from its computer row, its open session and the clock; the time used and left as the station counts
// them; the counts of each state; the order and the search of the list.
#pragma once

#include "fonction/room_queries.h"
#include "platform/platform.h"

#include <string>
#include <vector>

// Silent: no heartbeat for this long (a station beats every five seconds).
constexpr int silent_after_seconds = 15;

enum class StationStatus { Free, InUse, Staff, Silent, NeverSeen };

struct StationLine {
    RoomComputer computer;
    StationStatus state = StationStatus::NeverSeen;
    // Since when: the session's opening (in use, staff) or the last heartbeat (silent).
    bool has_since = false;
    LocalTime since{};
    // A visitor's session: minutes used and left, to the minute (the row keeps its opening minute);
    // -1 where there is none.
    int used_minutes = -1;
    int left_minutes = -1;
    // A visitor's session row is open: staff may end it (silent stations included: their visitor
    // cannot sign in elsewhere until it is closed).
    bool can_end = false;
};

StationLine station_line(const RoomComputer& computer, const LocalTime& now);

// One line per computer (the newest of its open rows), sorted by room then name, numbers in names by
// their value (Poste-2 before Poste-10).
std::vector<StationLine> room_lines(const std::vector<RoomComputer>& computers, const LocalTime& now);

struct StateCounts {
    int free = 0;
    int in_use = 0;
    int staff = 0;
    int silent = 0;
    int never_seen = 0;
    int total() const { return free + in_use + staff + silent + never_seen; }
};
StateCounts count_states(const std::vector<StationLine>& lines);

// The search box: the line's station, room, space, login or names hold the text (Windows-1252 bytes),
// letter case aside. An empty text matches every line.
bool line_matches(const StationLine& line, const std::string& text);

// The days since 1970-01-01 of a "%u-%02u-%02u" date; false when the text is not such a date.
bool day_number(const std::string& date, long long& days);
