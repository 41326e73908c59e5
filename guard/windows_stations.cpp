#include "guard/windows_stations.h"

guard_pipe::Answer honour(const ChannelRequest& request, std::map<std::uint32_t, Watched>& watched,
                          const StationActions& actions) {
    // Another program of the visitor's may connect to the pipe, but it is not the station.
    const auto station = watched.find(request.pid);
    if (station == watched.end() || station->second.created != request.created) {
        return guard_pipe::Answer::Refused;
    }
    Watched& entry = station->second;
    switch (request.request) {
    case guard_pipe::Request::StaffQuit:
        entry.quit_by_staff = true;
        return guard_pipe::Answer::Done;
    case guard_pipe::Request::SessionOpened:
        entry.opened = actions.note_opening(entry.session);
        entry.clean = false;
        return guard_pipe::Answer::Done;
    case guard_pipe::Request::Reset:
        if (!entry.clean) {
            if (!actions.reset(entry.session, entry.opened, request.pid)) {
                return guard_pipe::Answer::Failed; // the opening is kept for the next try
            }
            entry.opened = Opening{};
            entry.clean = true;
        }
        return guard_pipe::Answer::Done;
    }
    return guard_pipe::Answer::Refused;
}
