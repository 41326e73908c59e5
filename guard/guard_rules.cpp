#include "guard/guard_rules.h"

GuardStep next_step(const StationWatch& watch) {
    switch (watch.seen) {
    case StationSeen::Running:
        return GuardStep::Watch;
    case StationSeen::Stopped:
        return watch.stopped_ms >= stopped_grace_ms ? GuardStep::End : GuardStep::Watch;
    case StationSeen::Elsewhere:
        return GuardStep::Forget;
    case StationSeen::Gone:
        if (watch.chosen_exit || !watch.desktop_alive) {
            return GuardStep::Forget;
        }
        return watch.since_start_ms >= restart_spacing_ms ? GuardStep::Start : GuardStep::Watch;
    }
    return GuardStep::Watch;
}
