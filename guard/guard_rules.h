// What the guard does about one station it watches, decided the same way on every system: the
// Linux supervisor and the Windows service observe, this decides, they act.
#pragma once

#include <cstdint>
#include <limits>

enum class StationSeen {
    Running, // running and scheduled
    Stopped, // stopped (a signal, a debugger, a frozen control group) or suspended
    Gone,    // the process has ended, however
    // Runs another program's file now: a station's child, found between its fork and its exec,
    // that was never a station. A station that is ending (its file no longer shown, its end not
    // yet told) is still Running: it is Gone at the next look.
    Elsewhere,
};

enum class GuardStep {
    Watch,  // nothing to do yet (a gone station may be waiting for its next start)
    End,    // end the stopped station; it is started again once it is gone
    Start,  // start the station again, as the same account in the same desktop session
    Forget, // stop watching it: staff quit, the desktop session ended, or it was never a station
};

struct StationWatch {
    StationSeen seen = StationSeen::Running;
    // How long the station has been seen stopped without a break, in milliseconds.
    std::int64_t stopped_ms = 0;
    // The station ended on staff's choice: the quit button or "Installer plus tard".
    bool chosen_exit = false;
    // The desktop session the station ran in is still there.
    bool desktop_alive = true;
    // How long ago the guard last started this station, in milliseconds; one it never started
    // counts as started long ago.
    std::int64_t since_start_ms = std::numeric_limits<std::int64_t>::max();
};

// A station stopped this long is ended: a moment's stop (a debugger's step, the system's own
// freeze of a process) is let be.
constexpr std::int64_t stopped_grace_ms = 500;
// A station that keeps ending as soon as it starts (no display yet, a broken installation, a
// visitor's loop) is started again at most this often; while its desktop lives it is never given
// up, and one that ran a while is started again at once.
constexpr std::int64_t restart_spacing_ms = 2000;

GuardStep next_step(const StationWatch& watch);
