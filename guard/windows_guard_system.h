// What the Windows guard asks of the system: the stations running in a session, whether one is
// suspended, the console's user, starting the station as that user, and staff's chosen-exit note.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StationProcess {
    std::uint32_t pid = 0;
    std::uint32_t session = 0;
    std::uint64_t create_time = 0; // tells a process from a later one under the same number
};

// The processes whose program file is `program` (a full path, compared without regard to case).
std::vector<StationProcess> station_processes(const std::wstring& program);

// The process exists and every thread of it is suspended; false when it is gone or runs.
bool process_suspended(std::uint32_t pid, std::uint64_t create_time);

// When the process was created; 0 when it cannot be opened.
std::uint64_t process_creation(std::uint32_t pid);

// The process still exists (the same one: its creation time matches).
bool process_alive(std::uint32_t pid, std::uint64_t create_time);

// Ends a process; false when it could not be opened or ended.
bool end_station(std::uint32_t pid);

// The session on the physical console and whether a user is signed in to it.
std::uint32_t console_session();
bool session_has_user(std::uint32_t session);

// Starts `program` in `folder` as the user signed in to `session`, on that user's desktop, with
// that user's own environment; the new process's number, 0 when it could not be started.
std::uint32_t start_as_session_user(std::uint32_t session, const std::wstring& program,
                                    const std::wstring& folder);

// Staff's note that the station with this process number was ended on purpose; used once.
bool take_chosen_exit(const std::wstring& folder, std::uint32_t pid);
