// The Linux guard's reset of a desktop's account when a session ends, as root: the account's
// programs started since the opening ended, its home put back as the room's reference copy, what it
// left in the shared temporary folders and its cron and at jobs and lingering flag removed. The
// decisions are guard/reset_rules' (shared with Windows); this observes and acts. The home is the
// visitor's and may hold anything: it is walked and changed through directory descriptors only,
// never following a link, never crossing into another file system, never writing into a file that
// is there (a new one is renamed over it). Nothing of the account's is ever run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using ResetClock = std::chrono::steady_clock;

// The account whose desktop is reset, from the password database.
struct ResetAccount {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
    std::string reference; // its reference copy
    // Inside the home, left alone on both sides: the desktop session's own authority and runtime files.
    std::vector<std::string> kept;
};

// Where the room's reference copies live: root's alone.
constexpr const char* reference_folder = "/var/lib/kalimo-reference";

// The account `uid` (or `name`) from the password database, its kept files completed from the
// environment of its desktop (XAUTHORITY and ICEAUTHORITY when they lie inside the home). False,
// with the reason, for an account whose home may not be reset: not a directory owned by it, "/" or a
// system folder.
bool find_account(uid_t uid, const std::vector<std::string>& environment, ResetAccount& account,
                  std::string& why);
bool find_account(const std::string& name, const std::vector<std::string>& environment, ResetAccount& account,
                  std::string& why);

// The session whose end is reset.
struct ResetOpening {
    std::int64_t ms = 0; // on CLOCK_BOOTTIME
    std::string boot;    // empty: unknown, as an earlier start of the system
    pid_t station = 0;   // the station that asks, left running with its file broker; 0 for none
    std::string station_program;
};

// What a reset did, for the journal.
struct ResetReport {
    int ended = 0;                            // programs ended
    int killed = 0;                           // of which outright, after the grace
    int removed = 0, restored = 0, fixed = 0; // in the home
    int shared = 0;                           // entries of the shared temporary folders
    int scheduled = 0;                        // crontab, at jobs, lingering flag
    std::vector<std::string> failures;
    std::string text() const;
};

// The whole reset, within `deadline`; true when all of it was done.
bool reset_account(const ResetAccount& account, const ResetOpening& opening, ResetClock::time_point deadline,
                   ResetReport& report);

// Takes the home as the account's reference copy, in place of any earlier one; the kept files, sockets,
// devices and other file systems are left out (`left_out` counts them). False, with the reason, when
// it could not.
bool take_reference(const ResetAccount& account, ResetClock::time_point deadline, int& copied, int& left_out,
                    std::string& why);
bool has_reference(const ResetAccount& account);

// The request a station writes in its folder: "<pid> <opening ms> <boot id or ->" and CR LF. False
// for anything else.
bool parse_reset_request(const std::string& text, pid_t& station, std::int64_t& ms, std::string& boot);
