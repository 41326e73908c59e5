// What the guard does about one station it watches, decided the same way on every system: the
// Linux supervisor and the Windows service observe, this decides, they act.
#pragma once

#include <cstdint>

enum class StationSeen {
    Running, // running and scheduled
    Stopped, // stopped (a signal, a debugger) or suspended
    Gone,    // the process has ended, however
};

enum class GuardStep {
    Watch,  // nothing to do yet
    End,    // end the stopped station; it is started again once it is gone
    Start,  // start the station again, as the same account in the same desktop session
    Forget, // stop watching it: staff quit, the desktop session ended, or it cannot stay up
};

struct StationWatch {
    StationSeen seen = StationSeen::Running;
    // How long the station has been seen stopped without a break, in milliseconds.
    std::int64_t stopped_ms = 0;
    // The station ended on staff's choice: the quit button or "Installer plus tard".
    bool chosen_exit = false;
    // The desktop session the station ran in is still there.
    bool desktop_alive = true;
    // How many times the guard started this station again in the last minute.
    int recent_starts = 0;
};

// A station stopped this long is ended: a moment's stop (a debugger's step, the system's own
// freeze of a process) is let be.
constexpr std::int64_t stopped_grace_ms = 500;
// A station that keeps ending as soon as it starts (no display, a broken installation) is not
// started again for ever.
constexpr int most_starts_per_minute = 10;

GuardStep next_step(const StationWatch& watch);
