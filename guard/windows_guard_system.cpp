#include "guard/windows_guard_system.h"

#include <windows.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <winternl.h>
#include <wtsapi32.h>

#include <cstdlib>
#include <cwctype>
#include <iterator>
#include <cstdio>
#include <memory>

namespace {

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

struct Handle {
    explicit Handle(HANDLE h) : h(h) {}
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE h;
};

std::uint64_t creation_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

} // namespace

std::vector<StationProcess> station_processes(const std::wstring& program) {
    std::vector<StationProcess> found;
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.h == INVALID_HANDLE_VALUE) {
        return found;
    }
    const std::wstring wanted = lower(program);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.h, &entry); more; more = Process32NextW(snapshot.h, &entry)) {
        Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (process.h == nullptr) {
            continue;
        }
        wchar_t path[MAX_PATH * 2];
        DWORD length = static_cast<DWORD>(std::size(path));
        if (!QueryFullProcessImageNameW(process.h, 0, path, &length) ||
            lower(std::wstring(path, length)) != wanted) {
            continue;
        }
        DWORD session = 0;
        ProcessIdToSessionId(entry.th32ProcessID, &session);
        found.push_back({entry.th32ProcessID, session, creation_time(process.h)});
    }
    return found;
}

std::uint64_t process_creation(std::uint32_t pid) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return process.h == nullptr ? 0 : creation_time(process.h);
}

bool process_alive(std::uint32_t pid, std::uint64_t create_time) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    return process.h != nullptr && WaitForSingleObject(process.h, 0) == WAIT_TIMEOUT &&
           creation_time(process.h) == create_time;
}

bool process_suspended(std::uint32_t pid, std::uint64_t create_time) {
    if (!process_alive(pid, create_time)) {
        return false;
    }
    // The system's process list with each thread's state: suspended is a wait for the reason
    // "Suspended" (5) in the state "Waiting" (5).
    using Query = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return false;
    }
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status = 0;
    for (int tries = 0; tries < 4; ++tries) {
        status = query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != static_cast<NTSTATUS>(0xC0000004L)) { // STATUS_INFO_LENGTH_MISMATCH
            break;
        }
        buffer.resize(needed + (1 << 16));
    }
    if (status < 0) {
        return false;
    }
    std::size_t offset = 0;
    while (offset + sizeof(SYSTEM_PROCESS_INFORMATION) <= buffer.size()) {
        const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<std::uintptr_t>(process->UniqueProcessId) == pid) {
            const auto* threads = reinterpret_cast<const SYSTEM_THREAD_INFORMATION*>(process + 1);
            if (process->NumberOfThreads == 0) {
                return false;
            }
            for (ULONG i = 0; i < process->NumberOfThreads; ++i) {
                if (threads[i].ThreadState != 5 || threads[i].WaitReason != 5) {
                    return false;
                }
            }
            return true;
        }
        if (process->NextEntryOffset == 0) {
            break;
        }
        offset += process->NextEntryOffset;
    }
    return false;
}

bool end_station(std::uint32_t pid) {
    Handle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    return process.h != nullptr && TerminateProcess(process.h, 1) != 0;
}

std::uint32_t console_session() {
    return WTSGetActiveConsoleSessionId();
}

bool session_has_user(std::uint32_t session) {
    HANDLE token = nullptr;
    if (session == 0xFFFFFFFF || !WTSQueryUserToken(session, &token)) {
        return false;
    }
    CloseHandle(token);
    return true;
}

std::uint32_t start_as_session_user(std::uint32_t session, const std::wstring& program,
                                    const std::wstring& folder) {
    HANDLE user_token = nullptr;
    if (!WTSQueryUserToken(session, &user_token)) {
        return 0;
    }
    Handle user(user_token);
    HANDLE primary_token = nullptr;
    if (!DuplicateTokenEx(user.h, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary,
                          &primary_token)) {
        return 0;
    }
    Handle primary(primary_token);
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, primary.h, FALSE)) {
        environment = nullptr;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION started{};
    std::wstring command = L"\"" + program + L"\"";
    const BOOL ok =
        CreateProcessAsUserW(primary.h, program.c_str(), command.data(), nullptr, nullptr, FALSE,
                             CREATE_UNICODE_ENVIRONMENT, environment, folder.c_str(), &startup, &started);
    if (environment != nullptr) {
        DestroyEnvironmentBlock(environment);
    }
    if (!ok) {
        return 0;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return started.dwProcessId;
}

bool take_chosen_exit(const std::wstring& folder, std::uint32_t pid) {
    const std::wstring note = folder + L"\\Arret_demande.init";
    std::FILE* in = _wfopen(note.c_str(), L"rb");
    if (in == nullptr) {
        return false;
    }
    char text[32] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, in);
    std::fclose(in);
    text[length] = '\0';
    if (std::strtol(text, nullptr, 10) != static_cast<long>(pid)) {
        return false;
    }
    DeleteFileW(note.c_str());
    return true;
}
