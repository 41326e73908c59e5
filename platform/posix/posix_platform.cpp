// Linux implementation of the system seam. The station's Windows commands are mapped onto the
// closest equivalents here, so the same program text acts sensibly on either system.
#include "platform/platform.h"
#include "platform/posix/posix_commands.h"
#include "platform/posix/privileged_start.h"
#include "platform/station_folder.h"

#include <algorithm>
#include <ifaddrs.h>
#include <net/if.h>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <sstream>
#include <arpa/inet.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <cstdio>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

// Where the guard says it runs: root's, out of the visitor's reach, readable by every account.
constexpr const char* guard_pid_file = "/run/kalimo-guard.pid";

// This boot's identity, as the kernel gives it: the guard compares it with the current one.
std::string boot_identity() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    const bool plain =
        !id.empty() && id.size() <= 64 &&
        std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isalnum(c) != 0 || c == '-'; });
    return plain ? id : std::string();
}

// A guard watches the stations of this computer: the process its pid file names is alive (one of
// root's: signalling it is refused, which says it exists).
bool guard_running() {
    std::ifstream in(guard_pid_file);
    long pid = 0;
    if (!(in >> pid) || pid <= 1) {
        return false;
    }
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string read_first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool parse_hardware_address(const std::string& text, HardwareAddress& out) {
    // /sys gives "aa:bb:cc:dd:ee:ff"
    unsigned values[6];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &values[0], &values[1], &values[2], &values[3],
                    &values[4], &values[5], &tail) != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        out[static_cast<std::size_t>(i)] = static_cast<unsigned char>(values[i]);
    }
    return true;
}

// A Wayland session: its compositor, not the X server the station may reach through it, owns the
// screens and the keyboard.
bool wayland_session() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* socket = std::getenv("WAYLAND_DISPLAY");
    return (type != nullptr && std::strcmp(type, "wayland") == 0) || (socket != nullptr && *socket != '\0');
}

std::string base_name(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the X server of DISPLAY has a window owning its default screen's system-tray selection,
// as a notification area does while it runs (the freedesktop.org system tray protocol).
bool system_tray_selection_owned() {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (connection == nullptr) {
        return false;
    }
    bool owned = false;
    if (xcb_connection_has_error(connection) == 0) {
        const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr);
        // only_if_exists: no atom means nobody ever claimed the selection.
        if (atom != nullptr && atom->atom != XCB_ATOM_NONE) {
            xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
                connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
            owned = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
            std::free(owner);
        }
        std::free(atom);
    }
    xcb_disconnect(connection);
    return owned;
}

// Starts a program detached from the station, so that it survives the station's own exit. The
// middle process waits for the program's exec: until then the last child runs the station's file, and
// orphaned it would look like a station to the guard, which takes only a station's child for none.
void spawn_detached(const char* program, const char* const* args) {
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        int started[2] = {-1, -1};
        const bool piped = pipe2(started, O_CLOEXEC) == 0;
        // A setgid station's group stays with the station: the desktop shell is the visitor's.
        const pid_t last = fork();
        if (last == 0) {
            if (drop_station_rights()) {
                execv(program, const_cast<char* const*>(args));
            }
            _exit(127);
        }
        if (piped) {
            close(started[1]);
            char none = 0;
            while (last > 0 && read(started[0], &none, 1) < 0 && errno == EINTR) {
            }
        }
        _exit(0);
    }
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool is_loopback(const in_addr& address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

// The first IPv4 address of an interface that is up and not loopback; `address` is kept when none.
void first_interface_address(in_addr& address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return;
    }
    for (const ifaddrs* each = list; each != nullptr; each = each->ifa_next) {
        if (each->ifa_addr == nullptr || each->ifa_addr->sa_family != AF_INET ||
            (each->ifa_flags & IFF_UP) == 0 || (each->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const in_addr candidate = reinterpret_cast<const sockaddr_in*>(each->ifa_addr)->sin_addr;
        if (!is_loopback(candidate)) {
            address = candidate;
            break;
        }
    }
    freeifaddrs(list);
}

class PosixPlatform final : public Platform {
  public:
    std::vector<HardwareAddress> adapter_addresses() override {
        // Order by interface index, as the system numbers its adapters; loopback and adapters
        // without a six-byte address are not network cards.
        std::vector<std::pair<long, HardwareAddress>> found;
        DIR* dir = opendir("/sys/class/net");
        if (dir == nullptr) {
            return {};
        }
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string base = "/sys/class/net/" + name + "/";
            if (read_first_line(base + "addr_len") != "6") {
                continue;
            }
            HardwareAddress address{};
            if (!parse_hardware_address(read_first_line(base + "address"), address)) {
                continue;
            }
            if (std::all_of(address.begin(), address.end(), [](unsigned char b) { return b == 0; })) {
                continue;
            }
            const long index = std::strtol(read_first_line(base + "ifindex").c_str(), nullptr, 10);
            found.emplace_back(index, address);
        }
        closedir(dir);
        std::stable_sort(found.begin(), found.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<HardwareAddress> result;
        result.reserve(found.size());
        for (const auto& item : found) {
            result.push_back(item.second);
        }
        return result;
    }

    bool host_name(std::string& name) override {
        char buffer[256] = {};
        if (gethostname(buffer, sizeof buffer - 1) != 0) {
            return false;
        }
        name = buffer;
        return true;
    }

    bool first_ipv4_of(const std::string& name, std::string& address) override {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
            return false;
        }
        // Debian maps the machine's own name to a loopback address in /etc/hosts; the address the
        // room's staff need to see is the one on the network, so loopback comes last.
        in_addr chosen = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
        bool found_network_address = false;
        for (const addrinfo* each = list; each != nullptr; each = each->ai_next) {
            const in_addr candidate = reinterpret_cast<const sockaddr_in*>(each->ai_addr)->sin_addr;
            if (!is_loopback(candidate)) {
                chosen = candidate;
                found_network_address = true;
                break;
            }
        }
        freeaddrinfo(list);
        char own_name[256] = {};
        if (!found_network_address && gethostname(own_name, sizeof own_name - 1) == 0 && name == own_name) {
            first_interface_address(chosen);
        }
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &chosen, text, sizeof text) == nullptr) {
            return false;
        }
        address = text;
        return true;
    }

    std::vector<ProcessEntry> process_snapshot() override {
        std::vector<ProcessEntry> entries;
        DIR* dir = opendir("/proc");
        if (dir == nullptr) {
            return entries;
        }
        while (dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (!std::isdigit(static_cast<unsigned char>(name[0]))) {
                continue;
            }
            ProcessEntry process;
            process.pid = static_cast<std::uint32_t>(std::strtoul(name, nullptr, 10));
            const std::string base = std::string("/proc/") + name;
            char target[4096];
            const ssize_t length = readlink((base + "/exe").c_str(), target, sizeof target - 1);
            if (length > 0) {
                std::string path(target, static_cast<std::size_t>(length));
                const std::string deleted = " (deleted)";
                if (path.size() > deleted.size() &&
                    path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
                    path.resize(path.size() - deleted.size());
                }
                process.exe_name = base_name(path);
            } else {
                // Other users' processes hide their executable; the kernel's short name is what is left.
                process.exe_name = read_first_line(base + "/comm");
            }
            if (!process.exe_name.empty()) {
                entries.push_back(std::move(process));
            }
        }
        closedir(dir);
        return entries;
    }

    bool end_process(std::uint32_t pid) override {
        if (pid == 0 || static_cast<pid_t>(pid) == getpid()) {
            return false;
        }
        return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
    }

    void run_command(const std::string& command) override {
        const std::string shell = access(posix_desktop_shell, X_OK) == 0 ? posix_desktop_shell : "";
        const char* session = std::getenv("XDG_SESSION_ID");
        const std::vector<std::string> words =
            posix_command_for(command, shell, session == nullptr ? "" : session);
        if (words.empty()) {
            return;
        }
        std::vector<const char*> args;
        for (const std::string& word : words) {
            args.push_back(word.c_str());
        }
        args.push_back(nullptr);
        spawn_detached(args[0], args.data());
    }

    LocalTime local_time() override {
        const std::time_t now = std::time(nullptr);
        std::tm parts{};
        localtime_r(&now, &parts);
        LocalTime t;
        t.year = parts.tm_year + 1900;
        t.month = parts.tm_mon + 1;
        t.day = parts.tm_mday;
        t.hour = parts.tm_hour;
        t.minute = parts.tm_min;
        t.second = parts.tm_sec;
        return t;
    }

    std::int64_t monotonic_ms() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

    bool notification_area_present() override { return system_tray_selection_owned(); }

    bool hold_keyboard(void* display, std::uintptr_t window) override {
        auto* connection = static_cast<xcb_connection_t*>(display);
        if (connection == nullptr || window == 0 || xcb_connection_has_error(connection) != 0) {
            return false;
        }
        // An active grab outranks every passive one: the window manager's key bindings and the
        // desktop's shortcuts no longer fire. It is taken on the root window, which is always
        // viewable: a grab on the locked window itself ends the moment another program unmaps or
        // minimises it, and would be missing until the window is back. With owner_events the
        // station's own windows (a message box among them) still receive their keys as usual; keys
        // meant for any other window come to the station, which drops them.
        xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(
            connection, xcb_get_geometry(connection, static_cast<xcb_window_t>(window)), nullptr);
        if (geometry == nullptr) {
            return false;
        }
        const xcb_window_t root = geometry->root;
        std::free(geometry);
        xcb_grab_keyboard_reply_t* reply =
            xcb_grab_keyboard_reply(connection,
                                    xcb_grab_keyboard(connection, 1, root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        const bool held = reply != nullptr && reply->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(reply);
        return held;
    }

    void release_keyboard(void* display) override {
        auto* connection = static_cast<xcb_connection_t*>(display);
        if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
            return;
        }
        xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }

    bool desktop_lockable() override { return !wayland_session(); }

    // A process's start is stamped on the boot clock, which counts a suspended computer's time too.
    ProcessClock process_clock() override {
        timespec now{};
        clock_gettime(CLOCK_BOOTTIME, &now);
        return {static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000, boot_identity()};
    }

    // The station asks through its folder, which only its group and root write: the guard answers
    // there once the reset is over.
    ResetProgress ask_reset(const ProcessClock& opened) override {
        if (!guard_running()) {
            return ResetProgress::NoGuard;
        }
        station_folder::remove(station_folder::reset_answer_file);
        // Unwritten, the request is never answered: the station stays locked and says so.
        station_folder::write(station_folder::reset_request_file,
                              std::to_string(getpid()) + ' ' + std::to_string(opened.ms) + ' ' +
                                  (opened.boot.empty() ? std::string("-") : opened.boot) + "\r\n");
        return ResetProgress::Waiting;
    }

    ResetProgress reset_progress() override {
        std::string answer;
        if (station_folder::read(station_folder::reset_answer_file, answer) !=
            station_folder::FileRead::Read) {
            return ResetProgress::Waiting;
        }
        std::istringstream fields(answer);
        long pid = 0;
        std::string outcome;
        if (!(fields >> pid >> outcome) || pid != static_cast<long>(getpid())) {
            return ResetProgress::Waiting;
        }
        station_folder::remove(station_folder::reset_answer_file);
        return outcome == "ok" ? ResetProgress::Done : ResetProgress::Failed;
    }

    std::uintptr_t top_window(void* display) override {
        auto* connection = static_cast<xcb_connection_t*>(display);
        if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
            return 0;
        }
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        static const char name[] = "_NET_CLIENT_LIST_STACKING";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
        std::uintptr_t top = 0;
        if (atom != nullptr && atom->atom != XCB_ATOM_NONE) {
            // Bottom to top: the last window is the one on top. Only the last is read.
            xcb_get_property_reply_t* list = xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 4096),
                nullptr);
            if (list != nullptr && list->format == 32 && xcb_get_property_value_length(list) >= 4) {
                const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list));
                top = windows[xcb_get_property_value_length(list) / 4 - 1];
            }
            std::free(list);
        }
        std::free(atom);
        return top;
    }

    // kalimo-guard reads staff's note from the station folder, the working folder, which only the
    // station's group may write, and a session's opening from the reset's request there.
    GuardAnswer ask_guard(GuardRequest request) override {
        switch (request) {
        case GuardRequest::StaffQuit:
            return station_folder::write(station_folder::chosen_exit_file, std::to_string(getpid()))
                       ? GuardAnswer::Done
                       : GuardAnswer::NoGuard;
        case GuardRequest::SessionOpened:
            return GuardAnswer::Done; // the reset's request carries the opening
        }
        return GuardAnswer::Refused;
    }
};

} // namespace

std::vector<std::string> posix_command_for(const std::string& command, const std::string& desktop_shell,
                                           const std::string& session_id) {
    if (command == "start c://Windows//explorer.exe") {
        if (desktop_shell.empty()) {
            return {};
        }
        return {desktop_shell};
    }
    if (command == "shutdown /s /f") {
        return {"/usr/bin/systemctl", "poweroff"};
    }
    if (command == "shutdown /r /f") {
        return {"/usr/bin/systemctl", "reboot"};
    }
    if (command == "shutdown /l /f") {
        if (session_id.empty()) {
            return {};
        }
        return {"/usr/bin/loginctl", "terminate-session", session_id};
    }
    return {}; // the station knows no other command; anything else is not ours to run
}

std::unique_ptr<Platform> make_system_platform() {
    return std::make_unique<PosixPlatform>();
}
