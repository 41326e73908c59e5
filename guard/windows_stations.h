// The stations the KalimoGuard service watches, and what it does with a request on its pipe: it
// honours one only from the watched station's own process (named by the system, checked with its
// creation time), notes a session's opening on its own clock and resets the account when asked.
#pragma once

#include "guard/windows_guard_system.h"
#include "guard/windows_reset.h"

#include <cstdint>
#include <functional>
#include <map>

struct Watched {
    std::uint64_t created = 0;
    std::uint32_t session = 0;
    std::int64_t suspended_since = -1;
    std::int64_t last_start = -1; // when the service last started it (the tick count)
    bool quit_by_staff = false;
    Opening opened;     // the session open on it, as the service noted it; none when filetime is 0
    bool clean = false; // its account was reset and no session opened since: nothing to reset
};

// What honouring a request does to the system, apart so that tests can watch it.
struct StationActions {
    std::function<Opening(std::uint32_t session)> note_opening;
    // Resets the account of the session; true when all was done.
    std::function<bool(std::uint32_t session, const Opening& opened, std::uint32_t station)> reset;
};

guard_pipe::Answer honour(const ChannelRequest& request, std::map<std::uint32_t, Watched>& watched,
                          const StationActions& actions);
