// Stands in for the desktop shell and for the station in the Windows tests: copies of it under the
// shell's names are started and must be ended by the killer, and copies named kalimo.exe are the
// guard's stations. It only waits, on two threads as a station's window and worker do, then exits
// with a code (7) that tells a natural end from a termination (exit code 0 or 1). Given "window",
// it shows a window and ends with the code 8 when the window is asked to close, as a visitor's
// program would.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

DWORD WINAPI wait_forever(void*) {
    Sleep(INFINITE);
    return 0;
}

LRESULT CALLBACK on_message(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        PostQuitMessage(8);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

int windowed() {
    WNDCLASSW kind{};
    kind.lpfnWndProc = on_message;
    kind.hInstance = GetModuleHandleW(nullptr);
    kind.lpszClassName = L"KalimoSleeper";
    RegisterClassW(&kind);
    if (CreateWindowW(L"KalimoSleeper", L"sleeper", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                      kind.hInstance, nullptr) == nullptr) {
        return 9;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "window") == 0) {
        return windowed();
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    HANDLE worker = CreateThread(nullptr, 0, wait_forever, nullptr, 0, nullptr);
    Sleep(static_cast<DWORD>(seconds > 0 ? seconds : 60) * 1000);
    if (worker != nullptr) {
        CloseHandle(worker);
    }
    return 7;
}
