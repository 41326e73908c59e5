// Stands in for the desktop shell and for the station in the Windows tests: copies of it under the
// shell's names are started and must be ended by the killer, and copies named kalimo.exe are the
// guard's stations. It only waits, on two threads as a station's window and worker do, then exits
// with a code (7) that tells a natural end from a termination (exit code 0).
#include <windows.h>

#include <cstdlib>

namespace {

DWORD WINAPI wait_forever(void*) {
    Sleep(INFINITE);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    HANDLE worker = CreateThread(nullptr, 0, wait_forever, nullptr, 0, nullptr);
    Sleep(static_cast<DWORD>(seconds > 0 ? seconds : 60) * 1000);
    if (worker != nullptr) {
        CloseHandle(worker);
    }
    return 7;
}
