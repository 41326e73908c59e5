// What must survive a crash or a power cut: the session open on this station and the closes the
// server has not taken yet. Without it a dead station leaves its row open, and the account is
// refused on every station until staff close the row by hand.
//
// The record is a small text file in the station folder, beside the configuration files,
// replaced whole (temporary file, flushed to disk, renamed over it), so that a power cut leaves the
// old record or the new one. Lines end with CR LF:
//
//   Kalimo session record 3
//   open <id_resa> <id_user> <closing_status> <YYYY-MM-DD HH:MM:SS opened> <YYYY-MM-DD HH:MM:SS last alive>
//        <opened on the process clock, ms> <its boot, or ->
//   pending <duration_minutes> <closing_status> <id_resa> <id_user>
//   end
//
// (the open line is one line) with at most one open line, any number of pending lines (up to
// max_pending_closes), and the end line last, so that a record cut short is told from a whole one.
// A record of version 2 (an open line without the process clock) is read as a session whose
// opening on that clock is unknown. A record of version 1 (pending lines without their account) is
// read for its open line; its pending lines cannot be checked against their account, and are
// dropped.
//
// On Linux the guard reads the open line too: a station ended during a session has its desktop reset
// from that opening before it is started again.
//
// Whoever could write the file is not trusted with the rows it names: a close is sent only for a row
// the server still has open for the account the record names, with a duration of at most a day.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

extern const char* const session_record_file_name; // "Session_en_cours.init"

// A close the server did not take: sent again, unchanged, until it does.
struct PendingClose {
    int duration_minutes; // 0 to max_settled_minutes
    int closing_status;   // 1 visitor, 2 staff
    int id_resa;          // 1 or more
    int id_user;          // the account whose session it closes, 1 or more
};

struct OpenSession {
    int id_resa;        // 1 or more
    int id_user;        // 1 or more
    int closing_status; // the status its close will give: 1 visitor, 2 staff
    LocalTime opened;
    LocalTime last_alive; // updated at each heartbeat
    // The opening on the clock process starts are stamped with: what its end resets goes by it. Unknown
    // (0 and no boot) in a record an earlier version wrote.
    ProcessClock opened_clock;
};

struct SessionRecord {
    std::optional<OpenSession> open;
    std::vector<PendingClose> pending;
    bool empty() const { return !open && pending.empty(); }
};

// More closes than this waiting for the server is not a state the station reaches; a file claiming
// it is not read, so the reader's work stays bounded.
constexpr std::size_t max_pending_closes = 1000;

// A settled duration is at most one day: a longer one comes from a clock set forward (a station
// starting on a reset date, corrected later), or from a record someone wrote, not from a visit. A
// close kept for later is held to it too.
constexpr int max_settled_minutes = 24 * 60;

enum class RecordRead { Absent, Read, Unreadable };

// Absent: no record (out is emptied). Read: out holds it. Unreadable: the file is not a whole record
// of this version with every value in range (out is emptied); the caller removes it, as an
// unreadable configuration file is replaced. Never throws, whatever the file holds.
RecordRead read_session_record(SessionRecord& out);

// Replaces the record whole, or removes the file when the record is empty. False, with the file as it
// was, when a value is out of range (what is written can always be read back) or the file system
// refused.
bool write_session_record(const SessionRecord& record);

void remove_session_record();

// The record's whole text, checked as read_session_record checks the file, and the text it writes.
// The Linux guard reads the file itself, as root, and uses these alone.
bool parse_session_record(const std::string& bytes, SessionRecord& out);
std::string session_record_text(const SessionRecord& record);

// True when every field is in the range the reader accepts.
bool valid_session_record(const SessionRecord& record);

// Whole minutes from the opening to the last moment the station was alive, counted as a visitor's
// session is (elapsed seconds / 60 rounded down, 1 when that gives 0), across midnight and days.
// A last sign of life before the opening (the clock set back) gives 1; more than
// max_settled_minutes gives max_settled_minutes.
int lived_minutes(const LocalTime& opened, const LocalTime& last_alive);

// The close an open session gets when its station died: a visitor's with the minutes it lived,
// status 1; a staff session with 0 minutes, status 2, as staff sessions are closed.
PendingClose close_of(const OpenSession& session);
