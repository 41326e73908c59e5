// Stands in for the desktop shell in the Windows tests: copies of it under the shell's names are
// started and must be ended by the killer. It only waits, then exits with a code (7) that tells a
// natural end from a termination (exit code 0).
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    Sleep(static_cast<DWORD>(seconds > 0 ? seconds : 60) * 1000);
    return 7;
}
