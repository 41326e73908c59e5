// Windows implementation of the system seam: IP Helper for the adapters, Windows Sockets for the
// host name and address, Toolhelp32 snapshots for the processes, the C runtime's system(), the tick
// count for elapsed time, the taskbar's window for the notification area, a low-level keyboard
// hook for the locked keyboard and the KalimoGuard service's named pipe for the guard.
#include "platform/locked_keys.h"
#include "platform/platform.h"

#include <winsock2.h>
#include <windows.h>
#include <aclapi.h>
#include <iphlpapi.h>
#include <tlhelp32.h>

#include "platform/windows/guard_pipe.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr ULONG adapter_buffer_size = 10240;
constexpr DWORD terminate_rights = 0x411; // PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ

// A wide system text in the station's code page; characters outside it become '?'.
std::string narrow(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return std::string();
    }
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(length - 1)); // without the terminating NUL
    return result;
}

// The hook that keeps the system's key chords from a locked station. It runs on the thread that
// installed it, between two of its messages, so it must answer at once.
HHOOK keyboard_hook = nullptr;

LRESULT CALLBACK locked_keyboard(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION && (message == WM_KEYDOWN || message == WM_SYSKEYDOWN)) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        const bool alt = (key->flags & LLKHF_ALTDOWN) != 0;
        const bool ctrl = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
        const bool shift = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
        if (swallowed_while_locked(key->vkCode, alt, ctrl, shift)) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, message, data);
}

// The pipe is the system's or the administrators': a visitor's program that took the name while
// the service was away owns its pipe itself, and is not told anything.
bool served_by_the_system(HANDLE pipe) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool trusted = owner != nullptr && (IsWellKnownSid(owner, WinLocalSystemSid) != 0 ||
                                              IsWellKnownSid(owner, WinBuiltinAdministratorsSid) != 0);
    LocalFree(descriptor);
    return trusted;
}

class WindowsPlatform final : public Platform {
  public:
    WindowsPlatform() = default;
    ~WindowsPlatform() override {
        drop_reset();
        CloseHandle(reset_event_);
    }
    WindowsPlatform(const WindowsPlatform&) = delete;
    WindowsPlatform& operator=(const WindowsPlatform&) = delete;

    std::vector<HardwareAddress> adapter_addresses() override {
        std::vector<HardwareAddress> result;
        // 10240 bytes hold about fifteen adapters. A computer with more (virtual switches, VPNs)
        // gets the size it needs; the list may grow between two calls, hence the few tries.
        ULONG size = adapter_buffer_size;
        std::vector<unsigned char> buffer;
        DWORD status = ERROR_BUFFER_OVERFLOW;
        for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
            buffer.resize(size);
            status = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
        }
        if (status != ERROR_SUCCESS) {
            return result; // no adapter at all, or the list could not be read: the callers see none
        }
        for (auto* entry = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); entry != nullptr;
             entry = entry->Next) {
            HardwareAddress address{};
            std::memcpy(address.data(), entry->Address, address.size());
            result.push_back(address);
        }
        return result;
    }

    bool host_name(std::string& name) override {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            return false;
        }
        char buffer[256] = {};
        const bool ok = gethostname(buffer, 255) == 0;
        WSACleanup();
        if (ok) {
            name = buffer;
        }
        return ok;
    }

    bool first_ipv4_of(const std::string& name, std::string& address) override {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            return false;
        }
        bool ok = false;
        if (const hostent* host = gethostbyname(name.c_str())) {
            if (host->h_addrtype == AF_INET && host->h_addr_list[0] != nullptr) {
                in_addr first;
                std::memcpy(&first, host->h_addr_list[0], sizeof first);
                address = inet_ntoa(first);
                ok = true;
            }
        }
        WSACleanup();
        return ok;
    }

    std::vector<ProcessEntry> process_snapshot() override {
        std::vector<ProcessEntry> entries;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) {
            return entries;
        }
        // The wide entry points, named explicitly: a build that defines UNICODE (as every target
        // linked with Qt does) must not turn the names into wide texts behind our back.
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            ProcessEntry process;
            process.pid = entry.th32ProcessID;
            process.exe_name = narrow(entry.szExeFile);
            entries.push_back(process);
        }
        CloseHandle(snapshot);
        return entries;
    }

    bool end_process(std::uint32_t pid) override {
        HANDLE process = OpenProcess(terminate_rights, FALSE, pid);
        if (process == nullptr) {
            return false;
        }
        const bool ended = TerminateProcess(process, 0) != 0;
        CloseHandle(process);
        return ended;
    }

    void run_command(const std::string& command) override { (void)std::system(command.c_str()); }

    LocalTime local_time() override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        LocalTime t;
        t.year = now.wYear;
        t.month = now.wMonth;
        t.day = now.wDay;
        t.hour = now.wHour;
        t.minute = now.wMinute;
        t.second = now.wSecond;
        return t;
    }

    std::int64_t monotonic_ms() override { return static_cast<std::int64_t>(GetTickCount64()); }

    // The notification area lives in the taskbar, which explorer.exe draws: once the station has ended
    // the shell, the taskbar's window is gone with it.
    bool notification_area_present() override { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }

    bool hold_keyboard(void*, std::uintptr_t) override {
        if (keyboard_hook == nullptr) {
            keyboard_hook = SetWindowsHookExW(WH_KEYBOARD_LL, locked_keyboard, GetModuleHandleW(nullptr), 0);
        }
        return keyboard_hook != nullptr;
    }

    void release_keyboard(void*) override {
        if (keyboard_hook != nullptr) {
            UnhookWindowsHookEx(keyboard_hook);
            keyboard_hook = nullptr;
        }
    }

    std::uintptr_t top_window(void*) override {
        return reinterpret_cast<std::uintptr_t>(GetForegroundWindow());
    }

    // The station's own desktop: nothing on Windows stands between it and the screen.
    bool desktop_lockable() override { return true; }

    GuardAnswer ask_guard(GuardRequest request) override {
        HANDLE pipe = connect_to_guard(10);
        if (pipe == INVALID_HANDLE_VALUE) {
            return GuardAnswer::NoGuard;
        }
        std::string word = guard_pipe::word_for(guard_pipe::request_of(request));
        char reply[guard_pipe::most_message_bytes] = {};
        long length = -1;
        guard_pipe::Answer said = guard_pipe::Answer::Failed;
        GuardAnswer answer = GuardAnswer::NoGuard;
        if (guard_pipe::transfer(pipe, true, word.data(), static_cast<DWORD>(word.size()),
                                 guard_pipe::station_wait_ms) == static_cast<long>(word.size()) &&
            (length = guard_pipe::transfer(pipe, false, reply, sizeof reply, guard_pipe::station_wait_ms)) >
                0 &&
            guard_pipe::answer_for(std::string(reply, static_cast<std::size_t>(length)), said) &&
            said != guard_pipe::Answer::Failed) {
            answer = said == guard_pipe::Answer::Done ? GuardAnswer::Done : GuardAnswer::Refused;
            guard_seen_ = guard_seen_ || answer == GuardAnswer::Done;
        }
        CloseHandle(pipe);
        return answer;
    }
    // Process creation times are FILETIMEs: 100 ns since 1601, in UTC, the same clock whatever the
    // start of the system. The service notes a session's opening on its own clock: the station's is
    // only its record's.
    ProcessClock process_clock() override {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const auto ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        return {static_cast<std::int64_t>(ticks / 10000), "filetime"};
    }

    // The service resets the account it knows the session of: the opening is its own. A refusal
    // comes at once (a station it does not watch); the reset's end is read at the later looks.
    ResetProgress ask_reset(const ProcessClock&) override {
        drop_reset();
        reset_wanted_ = true;
        if (!send_reset(10)) {
            // A guard that answered this station before is there: a visitor's program may hold
            // the pipe's one instance a while, and the station asks again at its next looks.
            reset_wanted_ = guard_seen_;
            return guard_seen_ ? ResetProgress::Waiting : ResetProgress::NoGuard;
        }
        WaitForSingleObject(reset_read_.hEvent, guard_pipe::refusal_wait_ms);
        return reset_progress();
    }

    ResetProgress reset_progress() override {
        if (reset_pipe_ == INVALID_HANDLE_VALUE) {
            if (!reset_wanted_) {
                return reset_last_;
            }
            send_reset(1);
            return ResetProgress::Waiting;
        }
        DWORD length = 0;
        if (!GetOverlappedResult(reset_pipe_, &reset_read_, &length, FALSE)) {
            if (GetLastError() != ERROR_IO_INCOMPLETE) {
                drop_reset(); // the service went away: asked again at the next look
            }
            return ResetProgress::Waiting;
        }
        guard_pipe::Answer said = guard_pipe::Answer::Failed;
        guard_pipe::answer_for(std::string(reset_reply_, length), said);
        drop_reset();
        reset_wanted_ = false;
        if (said == guard_pipe::Answer::Refused) {
            // Not a station the service watches: nobody resets this desktop, unless the service
            // took this station's session before.
            reset_last_ = guard_seen_ ? ResetProgress::Failed : ResetProgress::NoGuard;
        } else {
            guard_seen_ = true;
            reset_last_ = said == guard_pipe::Answer::Done ? ResetProgress::Done : ResetProgress::Failed;
        }
        return reset_last_;
    }

  private:
    // The service's pipe, once its server is known to be the system's; INVALID_HANDLE_VALUE when
    // there is none, or while another client holds it after `tries` waits of a fifth of a second.
    static HANDLE connect_to_guard(int tries) {
        // The server may only impersonate the station to identify it.
        const DWORD flags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
        HANDLE pipe = INVALID_HANDLE_VALUE;
        for (int tried = 0; tried < tries && pipe == INVALID_HANDLE_VALUE; ++tried) {
            pipe = CreateFileW(guard_pipe::name, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                               flags, nullptr);
            if (pipe == INVALID_HANDLE_VALUE &&
                (GetLastError() != ERROR_PIPE_BUSY || tried + 1 == tries ||
                 !WaitNamedPipeW(guard_pipe::name, guard_pipe::station_wait_ms / 10))) {
                break;
            }
        }
        if (pipe != INVALID_HANDLE_VALUE && !served_by_the_system(pipe)) {
            CloseHandle(pipe);
            pipe = INVALID_HANDLE_VALUE;
        }
        return pipe;
    }

    // Sends the reset's request and leaves its answer to be read; false when the service could
    // not be told.
    bool send_reset(int tries) {
        HANDLE pipe = connect_to_guard(tries);
        std::string word = guard_pipe::word_for(guard_pipe::Request::Reset);
        if (pipe == INVALID_HANDLE_VALUE) {
            return false;
        }
        if (guard_pipe::transfer(pipe, true, word.data(), static_cast<DWORD>(word.size()),
                                 guard_pipe::station_wait_ms) != static_cast<long>(word.size())) {
            CloseHandle(pipe);
            return false;
        }
        reset_read_ = OVERLAPPED{};
        reset_read_.hEvent = reset_event_;
        ResetEvent(reset_event_);
        if (!ReadFile(pipe, reset_reply_, sizeof reset_reply_, nullptr, &reset_read_) &&
            GetLastError() != ERROR_IO_PENDING) {
            CloseHandle(pipe);
            return false;
        }
        reset_pipe_ = pipe;
        return true;
    }

    void drop_reset() {
        if (reset_pipe_ != INVALID_HANDLE_VALUE) {
            CancelIo(reset_pipe_);
            DWORD ignored = 0;
            GetOverlappedResult(reset_pipe_, &reset_read_, &ignored, TRUE); // the buffer is free again
            CloseHandle(reset_pipe_);
            reset_pipe_ = INVALID_HANDLE_VALUE;
        }
    }

    HANDLE reset_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE reset_pipe_ = INVALID_HANDLE_VALUE; // the asked reset's connection, its answer awaited
    OVERLAPPED reset_read_{};
    char reset_reply_[guard_pipe::most_message_bytes] = {};
    bool reset_wanted_ = false;                         // asked, and not yet answered
    ResetProgress reset_last_ = ResetProgress::NoGuard; // the last answer
    bool guard_seen_ = false;                           // the service has answered this station
};

} // namespace

std::unique_ptr<Platform> make_system_platform() {
    return std::make_unique<WindowsPlatform>();
}
