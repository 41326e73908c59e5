// KalimoGuard, the Windows service (LocalSystem) beside the station: it watches the stations of the
// console session and starts one that was ended or suspended again as the console's user, in the
// station folder; when a session ends it resets the console user's account (guard/windows_reset.h),
// and it does so too before it starts again a station that was ended during a session. Installed by
// an administrator with its folder on the command line:
//   sc create KalimoGuard binPath= "\"C:\Program Files\Kalimo\kalimo-guard.exe\" C:\Kalimo" start= auto
// It runs the kalimo.exe that stands beside it, and nothing else, and reads nothing a visitor can
// write: the stations' requests come on its own named pipe, from the watched station's process
// alone, and the reference copies lie where only the system and the administrators write.
// Run by an administrator, `kalimo-guard.exe --reference ACCOUNT` takes an account's reference copy;
// `--close PID...` is the service's own helper, run as the account to ask its windows to close.
#include "guard/guard_rules.h"
#include "guard/windows_guard_system.h"
#include "guard/windows_reset.h"
#include "guard/windows_stations.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
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

// The service's journal: the system's application log, under the service's name.
void say(const std::wstring& text, WORD type = EVENTLOG_INFORMATION_TYPE) {
    HANDLE log = RegisterEventSourceW(nullptr, service_name);
    if (log != nullptr) {
        const wchar_t* strings[] = {text.c_str()};
        ReportEventW(log, type, 0, 0, nullptr, 1, 0, strings, nullptr);
        DeregisterEventSource(log);
    }
}

bool reset_session(std::uint32_t session, const Opening& opened, std::uint32_t station,
                   const std::wstring& closer) {
    ResetAccount account;
    if (!session_account(session, account)) {
        say(L"reset: no user is signed in to the session", EVENTLOG_ERROR_TYPE);
        return false;
    }
    std::wstring said;
    const bool done = reset_account(account, opened, station, closer, said);
    say(said, done ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE);
    return done;
}

// An account without a reference copy gets one from its profile when the service first finds its
// station, before anyone signs in: the room's desktop as it stands then. Without one every reset
// would fail and keep the station locked.
void take_missing_reference(std::uint32_t session) {
    ResetAccount account;
    if (!session_account(session, account)) {
        return;
    }
    const std::wstring reference = reference_folder(account.name);
    if (reference.empty() || GetFileAttributesW(reference.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    const std::wstring failed = take_reference(account.profile, reference);
    say(failed.empty() ? L"reference copy of " + account.name + L" taken in " + reference
                       : L"no reference copy of " + account.name + L": " + failed,
        failed.empty() ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE);
}

// The stations of the console session not yet watched.
void find_stations(const std::wstring& program, std::map<std::uint32_t, Watched>& watched) {
    const std::uint32_t console = console_session();
    for (const StationProcess& found : station_processes(program)) {
        if (found.session == console && watched.count(found.pid) == 0) {
            Watched entry;
            entry.created = found.create_time;
            entry.session = found.session;
            watched[found.pid] = entry;
            take_missing_reference(found.session);
        }
    }
}

void watch(const std::wstring& program, const std::wstring& folder) {
    std::map<std::uint32_t, Watched> watched;
    GuardChannel channel;
    std::int64_t next_pass = 0;
    const std::wstring closer = program.substr(0, program.find_last_of(L'\\')) + L"\\kalimo-guard.exe";
    const StationActions actions{
        [](std::uint32_t session) {
            ResetAccount account;
            return opening_now(session_account(session, account) ? account.profile : std::wstring());
        },
        [&closer](std::uint32_t session, const Opening& opened, std::uint32_t station) {
            return reset_session(session, opened, station, closer);
        }};
    while (true) {
        channel.open(); // again at every turn while another process holds the name
        HANDLE waits[] = {stop_event, channel.ready()};
        const DWORD woke = WaitForMultipleObjects(waits[1] != nullptr ? 2 : 1, waits, FALSE, 200);
        if (woke == WAIT_OBJECT_0) {
            break;
        }
        ChannelRequest request;
        if (woke == WAIT_OBJECT_0 + 1 && channel.take(request)) {
            if (watched.count(request.pid) == 0) {
                find_stations(program, watched); // a station started since the last look
            }
            channel.answer(honour(request, watched, actions));
        }
        // However many clients knock, the stations are looked at every 200 ms, and no more often.
        const auto now = static_cast<std::int64_t>(GetTickCount64());
        if (now < next_pass) {
            continue;
        }
        next_pass = now + 200;
        find_stations(program, watched);
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
                // A station ended during a session (by the visitor, say) ends the session first:
                // the account is reset before the station comes back.
                if (entry.opened.filetime != 0 && reset_session(entry.session, entry.opened, 0, closer)) {
                    entry.opened = Opening{};
                    entry.clean = true;
                }
                const std::uint32_t started = start_as_session_user(entry.session, program, folder);
                if (started == 0) {
                    entry.last_start = now; // tried again after the spacing
                    next[pid] = entry;
                    break;
                }
                Watched again = entry;
                again.created = process_creation(started);
                again.suspended_since = -1;
                again.last_start = static_cast<std::int64_t>(GetTickCount64());
                next[started] = again;
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
    enable_reset_privileges();
    report(SERVICE_RUNNING);
    watch(program_folder + L"\\kalimo.exe", folder);
    report(SERVICE_STOPPED);
}

} // namespace

int main() {
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
    if (arguments.size() == 3 && arguments[1] == L"--reference") {
        ResetAccount account;
        if (!named_account(arguments[2], account)) {
            std::fwprintf(stderr, L"kalimo-guard: no account %ls with a profile\n", arguments[2].c_str());
            return 1;
        }
        const std::wstring reference = reference_folder(account.name);
        enable_reset_privileges();
        const std::wstring failed = reference.empty() ? L"no reference folder for this name"
                                                      : take_reference(account.profile, reference);
        if (!failed.empty()) {
            std::fwprintf(stderr, L"kalimo-guard: %ls\n", failed.c_str());
            return 1;
        }
        std::fwprintf(stdout, L"kalimo-guard: reference copy taken in %ls\n", reference.c_str());
        return 0;
    }
    SERVICE_TABLE_ENTRYW services[] = {{service_name, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(services) ? 0 : 1;
}
