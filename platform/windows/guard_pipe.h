// The channel between the station and the KalimoGuard service on Windows: the service's named pipe,
// one request and one answer per connection, each one message of a few words. The station's side
// is in windows_platform.cpp, the service's in guard/windows_guard_system.cpp.
#pragma once

#include "platform/platform.h"

#include <windows.h>

#include <string>

namespace guard_pipe {

// Only the service serves it: it holds the name's first instance and lets users connect to it but
// not add an instance of their own.
constexpr const wchar_t* name = L"\\\\.\\pipe\\KalimoGuard";
constexpr DWORD most_message_bytes = 64;
// How long a side waits for the other's message.
constexpr DWORD station_wait_ms = 2000;
constexpr DWORD service_wait_ms = 250;

inline const char* word_for(GuardRequest request) {
    switch (request) {
    case GuardRequest::StaffQuit:
        return "staff-quit";
    }
    return "";
}

inline bool request_for(const std::string& word, GuardRequest& request) {
    if (word == "staff-quit") {
        request = GuardRequest::StaffQuit;
        return true;
    }
    return false;
}

constexpr const char* done = "done";
constexpr const char* refused = "refused";

// One read or write on a handle opened for overlapped I/O, waited for at most `wait_ms`; the
// number of bytes moved, or -1.
inline long transfer(HANDLE pipe, bool writing, char* data, DWORD size, DWORD wait_ms) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return -1;
    }
    BOOL ok = writing ? WriteFile(pipe, data, size, nullptr, &overlapped)
                      : ReadFile(pipe, data, size, nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, wait_ms) != WAIT_OBJECT_0) {
            CancelIo(pipe);
        }
        ok = TRUE;
    }
    DWORD moved = 0;
    ok = ok && GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
    CloseHandle(overlapped.hEvent);
    return ok ? static_cast<long>(moved) : -1;
}

} // namespace guard_pipe
