// The operating-system seam: everything the station asks of the system goes through here, so the
// program builds and is tested on Linux while its stations run Windows.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using HardwareAddress = std::array<unsigned char, 6>;

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::string exe_name; // executable file name only, as the system reports it
};

// What the station tells the guard beside it (kalimo-guard on Linux, the KalimoGuard service on
// Windows). One request, one answer.
enum class GuardRequest {
    StaffQuit,     // staff ended the station on purpose: it is not to be started again
    SessionOpened, // a session whose end resets the desktop opened now, before its desktop shell starts
};

enum class GuardAnswer {
    Done,    // the guard took it
    Refused, // the guard would not
    NoGuard, // no guard the station trusts answered in time
};

// A moment on the clock the system stamps a process's start with, and the start of the system it
// belongs to: a process of the same start stamped at or after it began after that moment. None (0,
// no boot) stands for no moment at all.
struct ProcessClock {
    std::int64_t ms = 0;
    std::string boot; // letters, digits and '-' only
    bool none() const { return ms == 0 && boot.empty(); }
};

// Where the reset of the desktop's account after a session stands. The guard beside the station does
// it (kalimo-guard on Linux, the KalimoGuard service on Windows), with rights the visitor lacks.
enum class ResetProgress {
    NoGuard, // no guard watches this station: nothing is reset
    Waiting,
    Done,
    Failed,
};

struct LocalTime {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // First six bytes of every network adapter's hardware address, in the order the system lists them.
    virtual std::vector<HardwareAddress> adapter_addresses() = 0;
    // Host name of this computer; false when it cannot be read.
    virtual bool host_name(std::string& name) = 0;
    // First IPv4 address the resolver gives for a host name, dotted; false when none.
    virtual bool first_ipv4_of(const std::string& name, std::string& address) = 0;
    // One snapshot of the running processes.
    virtual std::vector<ProcessEntry> process_snapshot() = 0;
    // Ends one process; false when it could not be opened or ended.
    virtual bool end_process(std::uint32_t pid) = 0;
    // Hands one command text to the system command interpreter. The result is not reported.
    virtual void run_command(const std::string& command) = 0;
    virtual LocalTime local_time() = 0;
    // Milliseconds from an arbitrary origin; never goes back, whatever is done to the date and time.
    virtual std::int64_t monotonic_ms() = 0;
    // Whether a notification area (system tray) is there now. The toolkit cannot tell: on Windows the
    // station ends the shell that draws it, and the toolkit still reports one.
    virtual bool notification_area_present() = 0;

    // While the station is locked no key chord may reach the system or another program: the
    // keyboard is held for the station. `display` is the toolkit's own connection to the display
    // where the system has one (on X a keyboard grab belongs to the connection that takes it; null
    // elsewhere), `window` the native id of the locked window. Taking it again while held is
    // harmless. True when the keyboard is held.
    virtual bool hold_keyboard(void* display, std::uintptr_t window) = 0;
    // Gives the keyboard back to the desktop; nothing when it is not held.
    virtual void release_keyboard(void* display) = 0;
    // The window on top of every other, as the window system stacks them (on X the window manager's
    // _NET_CLIENT_LIST_STACKING; on Windows the foreground window); 0 when it cannot tell. Asking
    // changes nothing.
    virtual std::uintptr_t top_window(void* display) = 0;
    // Whether a program may lock this desktop at all: false in a Wayland session, where an X
    // program can neither cover the screen nor hold the keyboard.
    virtual bool desktop_lockable() = 0;
    // Tells the guard; waits at most a couple of seconds for its answer. On Linux staff's quit is
    // a note in the station folder, which only the station's group writes, and a session's opening
    // is the guard's to read from the reset's request; on Windows both are requests on the
    // service's named pipe, which the service honours only from the station's process, and the
    // service notes the opening on its own clock.
    virtual GuardAnswer ask_guard(GuardRequest request) = 0;

    // Now, on the clock process starts are stamped with.
    virtual ProcessClock process_clock() = 0;
    // Asks the guard to put the desktop's account back as the room keeps it after the session that
    // opened at `opened`: the programs started since then ended, the home restored, what the
    // account left in the shared temporary folders removed. Returns at once: Waiting, or NoGuard.
    virtual ResetProgress ask_reset(const ProcessClock& opened) = 0;
    // Where the last reset asked stands (Waiting while the guard works on it).
    virtual ResetProgress reset_progress() = 0;
};

// The platform in force. main() installs the system one; tests install a fake.
Platform& platform();
void install_platform(Platform* instance);
std::unique_ptr<Platform> make_system_platform();
