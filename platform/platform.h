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
};

// The platform in force. main() installs the system one; tests install a fake.
Platform& platform();
void install_platform(Platform* instance);
std::unique_ptr<Platform> make_system_platform();
