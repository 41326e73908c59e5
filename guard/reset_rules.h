// What a visitor's session leaves behind, and what the guard takes away when the session ends,
// decided the same way on every system over records the system fills in: the running processes,
// the entries of the account's home and of the room's reference copy of it, the entries of the
// shared temporary folders. The account and the kernel's clocks decide, never a name or a path the
// visitor could choose. The Linux guard and the Windows service observe, this decides, they act.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The session whose end is being cleaned up.
struct SessionScope {
    std::string account;       // the desktop's account: a uid on Linux, a SID on Windows
    std::int64_t opened = 0;   // the opening, on the clock that stamps a process's start
    std::string boot;          // the system's start the opening belongs to
    std::uint32_t station = 0; // the station that asks, left running
};

struct ProcessSeen {
    std::uint32_t pid = 0;
    std::string account;
    std::int64_t started = 0; // on the same clock as SessionScope::opened
};

// The processes a session's end ends: the account's, started at or after the opening, other than
// the station. An opening of an earlier start of the system ends none: its processes are gone, and
// every one running now began after it.
std::vector<std::uint32_t> processes_to_end(const std::vector<ProcessSeen>& seen, const SessionScope& scope,
                                            const std::string& current_boot);

enum class EntryKind { File, Directory, Link, Other };

// One entry of a home or of its reference copy.
struct HomeEntry {
    std::string path; // relative to the home's top, '/' between names; none is "." or ".."
    EntryKind kind = EntryKind::File;
    std::uint32_t mode = 0; // permission bits
    std::string owner;      // its account and group, as the system writes them
    std::int64_t size = 0;
    std::int64_t modified = 0; // the content's time, which its owner may set back
    std::int64_t changed = 0;  // when the entry itself last changed, which nobody can set back
    std::string target;        // a link's
};

enum class HomeStep {
    Remove,  // the entry, and what it holds
    Restore, // the reference's entry copied back, a directory with all it holds
    Fix,     // a directory's mode and owner, as the reference has them
};

struct HomeAction {
    HomeStep step;
    std::string path;
};

// What makes the home the reference copy again: every entry the session added removed, every one
// it changed or removed restored. An entry counts as changed when its kind, size, time, mode, owner
// or target differ, or when it changed at or after `since` (the opening, on the clock of
// HomeEntry::changed): a file whose content was changed and its time set back is caught too.
// Paths in `kept` (the desktop session's own authority and runtime files), and what lies under
// them, are left alone on both sides. Removals come first, then the rest with every directory
// before what it holds.
std::vector<HomeAction> plan_home_reset(const std::vector<HomeEntry>& live,
                                        const std::vector<HomeEntry>& reference, std::int64_t since,
                                        const std::vector<std::string>& kept);

// An entry at the top of a temporary folder every account shares (/tmp, /var/tmp, /dev/shm).
struct SharedEntry {
    std::string name;
    std::string account;      // its owner
    std::int64_t changed = 0; // on the clock of `since`
};

// The entries the account made or changed in a shared folder since the session opened; what was
// there before (the desktop's own sockets, another account's files) stays.
std::vector<std::string> shared_entries_to_remove(const std::vector<SharedEntry>& entries,
                                                  const std::string& account, std::int64_t since);
