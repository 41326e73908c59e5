// The Windows calls of a session's end, made by the KalimoGuard service (LocalSystem) for the user
// of the console: the account's processes started since the opening ended, its profile put back as
// the room's reference copy, its temporary folder and recycle bins emptied, the tasks it scheduled
// removed. What to end and what to restore is decided by guard/reset_rules, as on Linux: this
// observes and acts. No name is followed through a junction or a symbolic link, and no existing
// file is written into: every folder is walked one name at a time from a handle on the folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The account a reset is for.
struct ResetAccount {
    std::wstring sid; // its security identifier, as text
    std::wstring name;
    std::wstring domain;
    std::wstring profile;      // its profile folder, from the system's profile list
    std::uint32_t session = 0; // the desktop session its windows are in
};

// The user signed in to `session`; false when there is none.
bool session_account(std::uint32_t session, ResetAccount& account);
// An account by its name, with its profile folder from the system's profile list; false when it
// has none yet.
bool named_account(const std::wstring& name, ResetAccount& account);

// A session's opening as the service notes it: the clock process creation times are stamped on,
// and where the change journal of the profile's volume stood (a file's change number cannot be set
// back, its times can).
struct Opening {
    std::int64_t filetime = 0; // 100 ns since 1601, UTC; 0: no opening known
    std::uint64_t journal = 0; // the journal's identity; 0: no journal
    std::int64_t usn = 0;      // the next change number then
};

Opening opening_now(const std::wstring& profile);

// Ends the account's processes created at or after `opened`, other than `station`: their windows
// are asked to close by `closer` (this program again, run as the account on its desktop, since a
// service cannot reach another session's windows), what is left is ended outright after
// `grace_ms`, and they are looked for again until none is left. False when some remain at
// `deadline` (on the tick count). With no opening known, none is ended.
bool end_session_processes(const ResetAccount& account, std::int64_t opened, std::uint32_t station,
                           const std::wstring& closer, std::int64_t grace_ms, std::uint64_t deadline);

// The closer's work: WM_CLOSE to the top-level windows of these processes on this desktop.
void close_windows_of(const std::vector<std::uint32_t>& pids);

struct RestoreTally {
    int removed = 0;
    int restored = 0;
    int in_use = 0; // held by a program older than the session, left as it is
    int failed = 0;
};

// Makes the profile its reference copy again, as plan_home_reset says. An entry is changed when its
// change number is past the opening's; without a journal every file and link is restored. The
// registry hive (NTUSER.DAT and its logs, UsrClass.dat) and AppData\Local\Temp stay out, on both
// sides. False when an entry could not be put back or the deadline passed.
bool restore_profile(const std::wstring& profile, const std::wstring& reference, const Opening& opened,
                     std::uint64_t deadline, RestoreTally& tally);

// Removes what the folder `path` under `top` holds but the names in `spared`, following no link on
// the way either; a link in the folder's place is removed, and with `make` a folder made anew
// there. The number of entries left.
int empty_folder(const std::wstring& top, const std::vector<std::wstring>& path,
                 const std::vector<std::wstring>& spared, bool make, std::uint64_t deadline);

// Empties the account's recycle bin on every fixed drive; the number of entries left.
int empty_recycle_bins(const std::wstring& sid, std::uint64_t deadline);

// Removes the scheduled tasks whose principal or author is the account; false when the scheduler
// could not be asked or a task not removed.
bool remove_scheduled_tasks(const ResetAccount& account, int& removed);

// The account's reference copy, ProgramData\Kalimo\Reference\<name>; empty for a name that cannot
// be a folder's.
std::wstring reference_folder(const std::wstring& name);

// The reference copy and the folders above it up to ProgramData belong to the system or the
// administrators, and nobody else may change them.
bool reference_trusted(const std::wstring& reference);

// Copies the profile into a new reference copy (what was there before is removed), leaving out
// what the reset leaves alone; the folders above it are created for the system and the
// administrators alone. An empty text, or what went wrong.
std::wstring take_reference(const std::wstring& profile, const std::wstring& reference);

// The rights a reset needs: to read and replace any file of the profile whatever its permissions
// (the visitor owns them and may deny the system), and to make links.
void enable_reset_privileges();

// How long a whole reset may take: the station gives up waiting a little later.
constexpr std::uint64_t reset_bound_ms = 12000;
constexpr std::int64_t close_grace_ms = 2000;

// The whole reset, bounded by reset_bound_ms; true when everything was done. `said` tells what was
// done, in counts, for the service's log.
bool reset_account(const ResetAccount& account, const Opening& opened, std::uint32_t station,
                   const std::wstring& closer, std::wstring& said);
