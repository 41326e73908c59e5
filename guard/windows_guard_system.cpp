#include "guard/windows_guard_system.h"

#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <winternl.h>
#include <wtsapi32.h>

#include "platform/windows/guard_pipe.h"

#include <cwctype>
#include <iterator>
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
            for (ULONG i = 0; i < process->NumberOfThreads; ++i) {
                if (threads[i].ThreadState == 5 && threads[i].WaitReason == 5) {
                    return true;
                }
            }
            return false;
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
                                    const std::wstring& folder, const std::wstring& arguments) {
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
    std::wstring command = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
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

struct GuardChannel::Pipe {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};

    // Waits for the next client: the event is signalled once one is connected.
    void listen() {
        for (int tries = 0; tries < 3; ++tries) {
            ResetEvent(event);
            overlapped = OVERLAPPED{};
            overlapped.hEvent = event;
            ConnectNamedPipe(handle, &overlapped);
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_CONNECTED) {
                SetEvent(event);
            }
            if (error == ERROR_IO_PENDING || error == ERROR_PIPE_CONNECTED) {
                return;
            }
            DisconnectNamedPipe(handle); // a client that came and went already
        }
    }
    void let_go() {
        DisconnectNamedPipe(handle);
        listen();
    }
};

GuardChannel::GuardChannel() : pipe_(std::make_unique<Pipe>()) {}

GuardChannel::~GuardChannel() {
    if (pipe_->handle != INVALID_HANDLE_VALUE) {
        CancelIo(pipe_->handle);
        CloseHandle(pipe_->handle);
    }
    if (pipe_->event != nullptr) {
        CloseHandle(pipe_->event);
    }
}

bool GuardChannel::open() {
    if (pipe_->handle != INVALID_HANDLE_VALUE) {
        return true;
    }
    if (pipe_->event == nullptr && (pipe_->event = CreateEventW(nullptr, TRUE, FALSE, nullptr)) == nullptr) {
        return false;
    }
    // Owned by the system; the system and the administrators have every right, an interactive
    // user may read and write but not add an instance (FILE_CREATE_PIPE_INSTANCE is left out).
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:SYG:SYD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12008b;;;IU)", SDDL_REVISION_1, &descriptor,
            nullptr)) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    pipe_->handle = CreateNamedPipeW(
        guard_pipe::name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        guard_pipe::most_message_bytes, guard_pipe::most_message_bytes, 0, &attributes);
    LocalFree(descriptor);
    if (pipe_->handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    pipe_->listen();
    return true;
}

void* GuardChannel::ready() const {
    return pipe_->handle == INVALID_HANDLE_VALUE ? nullptr : pipe_->event;
}

bool GuardChannel::take(ChannelRequest& request) {
    ULONG pid = 0;
    char word[guard_pipe::most_message_bytes] = {};
    long length = -1;
    if (GetNamedPipeClientProcessId(pipe_->handle, &pid) && (request.created = process_creation(pid)) != 0 &&
        (length = guard_pipe::transfer(pipe_->handle, false, word, sizeof word,
                                       guard_pipe::service_wait_ms)) > 0 &&
        guard_pipe::request_for(std::string(word, static_cast<std::size_t>(length)), request.request)) {
        request.pid = pid;
        return true;
    }
    pipe_->let_go();
    return false;
}

void GuardChannel::answer(guard_pipe::Answer answer) {
    std::string word = guard_pipe::word_for(answer);
    if (guard_pipe::transfer(pipe_->handle, true, word.data(), static_cast<DWORD>(word.size()),
                             guard_pipe::service_wait_ms) > 0) {
        // Letting go at once would drop the answer unread: wait (a bounded time) for the client
        // to close its end.
        char rest[guard_pipe::most_message_bytes];
        guard_pipe::transfer(pipe_->handle, false, rest, sizeof rest, guard_pipe::service_wait_ms);
    }
    pipe_->let_go();
}
