// KalimoGuard, the Windows service (LocalSystem) beside the station: it watches the stations of the
// console session and starts one that was ended or suspended again as the console's user, in the
// station folder. Installed by an administrator with its folder on the command line:
//   sc create KalimoGuard binPath= "\"C:\Program Files\Kalimo\kalimo-guard.exe\" C:\Kalimo" start= auto
// It runs the kalimo.exe that stands beside it, and nothing else, and reads nothing a visitor can
// write: staff's quit comes on its own named pipe, from the watched station's process alone.
#include "guard/guard_rules.h"
#include "guard/windows_guard_system.h"
#include "guard/windows_reset.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

SERVICE_STATUS_HANDLE status_handle = nullptr;
HANDLE stop_event = nullptr;
wchar_t service_name[] = L"KalimoGuard";

void report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI on_control(DWORD code, DWORD, void*, void*) {
    if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        SetEvent(stop_event);
    }
    return NO_ERROR;
}

struct Watched {
    std::uint64_t created = 0;
    std::uint32_t session = 0;
    std::int64_t suspended_since = -1;
    std::int64_t last_start = -1; // when the service last started it (the tick count)
    bool quit_by_staff = false;
};

// A request honoured only from the watched station's own process: another program of the
// visitor's may connect to the pipe, but it is not the station.
bool honour(const ChannelRequest& request, std::map<std::uint32_t, Watched>& watched) {
    const auto station = watched.find(request.pid);
    if (station == watched.end() || station->second.created != request.created) {
        return false;
    }
    switch (request.request) {
    case GuardRequest::StaffQuit:
        station->second.quit_by_staff = true;
        return true;
    }
    return false;
}

void watch(const std::wstring& program, const std::wstring& folder) {
    std::map<std::uint32_t, Watched> watched;
    GuardChannel channel;
    std::int64_t next_pass = 0;
    while (true) {
        channel.open(); // again at every turn while another process holds the name
        HANDLE waits[] = {stop_event, channel.ready()};
        const DWORD woke = WaitForMultipleObjects(waits[1] != nullptr ? 2 : 1, waits, FALSE, 200);
        if (woke == WAIT_OBJECT_0) {
            break;
        }
        ChannelRequest request;
        if (woke == WAIT_OBJECT_0 + 1 && channel.take(request)) {
            channel.answer(honour(request, watched));
        }
        // However many clients knock, the stations are looked at every 200 ms, and no more often.
        const auto now = static_cast<std::int64_t>(GetTickCount64());
        if (now < next_pass) {
            continue;
        }
        next_pass = now + 200;
        const std::uint32_t console = console_session();
        for (const StationProcess& found : station_processes(program)) {
            if (found.session == console && watched.count(found.pid) == 0) {
                watched[found.pid] = Watched{found.create_time, found.session, -1, -1, false};
            }
        }
        std::map<std::uint32_t, Watched> next;
        for (auto& [pid, entry] : watched) {
            StationWatch observed;
            if (!process_alive(pid, entry.created)) {
                observed.seen = StationSeen::Gone;
                observed.chosen_exit = entry.quit_by_staff;
                observed.desktop_alive =
                    entry.session == console_session() && session_has_user(entry.session);
            } else if (process_suspended(pid, entry.created)) {
                observed.seen = StationSeen::Stopped;
                if (entry.suspended_since < 0) {
                    entry.suspended_since = now;
                }
                observed.stopped_ms = now - entry.suspended_since;
            } else {
                entry.suspended_since = -1;
            }
            if (entry.last_start >= 0) {
                observed.since_start_ms = now - entry.last_start;
            }
            switch (next_step(observed)) {
            case GuardStep::Watch:
                next[pid] = entry;
                break;
            case GuardStep::End:
                end_station(pid);
                next[pid] = entry;
                break;
            case GuardStep::Start: {
                const std::uint32_t started = start_as_session_user(entry.session, program, folder);
                if (started == 0) {
                    entry.last_start = now; // tried again after the spacing
                    next[pid] = entry;
                    break;
                }
                next[started] = Watched{process_creation(started), entry.session, -1, now, false};
                break;
            }
            case GuardStep::Forget:
                break;
            }
        }
        watched = std::move(next);
    }
}

void WINAPI service_main(DWORD, wchar_t**) {
    status_handle = RegisterServiceCtrlHandlerExW(service_name, on_control, nullptr);
    if (status_handle == nullptr) {
        return;
    }
    stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The station beside this program; the station folder from the service's own command line.
    wchar_t own[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameW(nullptr, own, static_cast<DWORD>(std::size(own)));
    std::wstring program_folder(own, length);
    program_folder.erase(program_folder.find_last_of(L'\\'));
    std::wstring folder = program_folder;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words != nullptr && count > 1) {
        folder = words[1];
    }
    LocalFree(words);
    report(SERVICE_RUNNING);
    watch(program_folder + L"\\kalimo.exe", folder);
    report(SERVICE_STOPPED);
}

} // namespace

int main() {
    // `--close PID...`: the service's helper, run as the console's user to ask those processes'
    // windows to close, which a service in its own session cannot reach.
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::vector<std::wstring> arguments(words, words + (words != nullptr ? count : 0));
    LocalFree(words);
    if (arguments.size() >= 2 && arguments[1] == L"--close") {
        std::vector<std::uint32_t> pids;
        for (std::size_t i = 2; i < arguments.size(); ++i) {
            pids.push_back(static_cast<std::uint32_t>(wcstoul(arguments[i].c_str(), nullptr, 10)));
        }
        close_windows_of(pids);
        return 0;
    }
    SERVICE_TABLE_ENTRYW services[] = {{service_name, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(services) ? 0 : 1;
}
