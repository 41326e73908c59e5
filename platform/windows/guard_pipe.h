// The channel between the station and the KalimoGuard service on Windows: the service's named pipe,
// one request and one answer per connection, each one message of a few words (guard_words.h). A
// reset's answer comes when the reset is over: the station reads it at its later looks, not waiting
// for it. The station's side is in windows_platform.cpp, the service's in
// guard/windows_guard_system.cpp.
#pragma once

#include "platform/windows/guard_words.h"

#include <windows.h>

namespace guard_pipe {

// Only the service serves it: it holds the name's first instance and lets users connect to it but
// not add an instance of their own.
constexpr const wchar_t* name = L"\\\\.\\pipe\\KalimoGuard";
constexpr DWORD most_message_bytes = 64;
// How long a side waits for the other's message.
constexpr DWORD station_wait_ms = 2000;
constexpr DWORD service_wait_ms = 250;
// The reset's answer comes when the reset is over; a refusal comes at once, and is waited for
// this long before the station goes back to its window.
constexpr DWORD refusal_wait_ms = 300;

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
