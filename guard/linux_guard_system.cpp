#include "guard/linux_guard_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* unset_session = "4294967295";
constexpr std::size_t most_environment_bytes = 256 * 1024;
constexpr unsigned long listening = 0x10000; // __SO_ACCEPTCON in /proc/net/unix's flags

std::string proc_path(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

bool read_whole(const std::string& path, std::string& out, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.clear();
    char buffer[4096];
    while (out.size() < limit && in.read(buffer, sizeof buffer).gcount() > 0) {
        out.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return out.size() <= limit;
}

std::vector<std::string> lines_of(const std::string& path, std::size_t limit) {
    std::string text;
    std::vector<std::string> lines;
    if (read_whole(path, text, limit)) {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string read_link(const std::string& path) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    return length > 0 && static_cast<std::size_t>(length) < sizeof target ? std::string(target, length)
                                                                          : std::string();
}

// The display's number from ":N", ":N.S", "unix:N" or "unix:N.S"; false for any other display.
bool display_number(const std::string& display, std::string& number) {
    const std::size_t colon = display.find(':');
    if (colon == std::string::npos || (colon != 0 && display.compare(0, colon, "unix") != 0)) {
        return false;
    }
    std::size_t end = colon + 1;
    while (end < display.size() && std::isdigit(static_cast<unsigned char>(display[end])) != 0) {
        ++end;
    }
    if (end == colon + 1 || end - colon > 7 || (end < display.size() && display[end] != '.')) {
        return false;
    }
    number = display.substr(colon + 1, end - colon - 1);
    return true;
}

// The inodes of the listening sockets bound to `name`, from the kernel's list of this network's
// Unix sockets.
std::vector<std::string> listening_inodes(const std::string& name) {
    std::vector<std::string> inodes;
    for (const std::string& line : lines_of("/proc/net/unix", 16 * 1024 * 1024)) {
        std::istringstream fields(line);
        std::string slot, references, protocol, flags, type, state, inode;
        if (!(fields >> slot >> references >> protocol >> flags >> type >> state >> inode)) {
            continue;
        }
        std::string path;
        std::getline(fields, path);
        if (!path.empty() && path[0] == ' ') {
            path.erase(0, 1);
        }
        if (path == name && (std::strtoul(flags.c_str(), nullptr, 16) & listening) != 0) {
            inodes.push_back(inode);
        }
    }
    return inodes;
}

// The oldest process with one of these sockets open.
bool oldest_holder(const std::vector<std::string>& inodes, ProcessMark& holder) {
    std::vector<std::string> links;
    for (const std::string& inode : inodes) {
        links.push_back("socket:[" + inode + "]");
    }
    bool found = false;
    for (pid_t pid : running_pids()) {
        const std::string folder = proc_path(pid, "fd");
        DIR* fds = opendir(folder.c_str());
        if (fds == nullptr) {
            continue;
        }
        bool holds = false;
        while (dirent* entry = readdir(fds)) {
            if (entry->d_name[0] != '.' &&
                std::find(links.begin(), links.end(), read_link(folder + "/" + entry->d_name)) !=
                    links.end()) {
                holds = true;
                break;
            }
        }
        closedir(fds);
        char state = 0;
        unsigned long long start_time = 0;
        if (holds && read_stat(pid, state, start_time) && (!found || start_time < holder.start_time)) {
            holder = {pid, start_time};
            found = true;
        }
    }
    return found;
}

// A mounted control-group hierarchy: where it is mounted and which of its cgroups is mounted there.
struct Mount {
    std::string point;
    std::string root;
};

std::string unescape_mount_field(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) { // "\040": a space
            out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The first mount of the cgroup v2 hierarchy (`v2`), or of the v1 hierarchy holding the freezer.
bool find_mount(bool v2, Mount& mount) {
    for (const std::string& line : lines_of("/proc/self/mountinfo", 1024 * 1024)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, field;
        if (!(fields >> id >> parent >> device >> root >> point)) {
            continue;
        }
        while (fields >> field && field != "-") {
        }
        std::string type, source, options;
        if (!(fields >> type >> source >> options)) {
            continue;
        }
        const bool freezer = ("," + options + ",").find(",freezer,") != std::string::npos;
        if (v2 ? type == "cgroup2" : type == "cgroup" && freezer) {
            mount = {unescape_mount_field(point), unescape_mount_field(root)};
            return true;
        }
    }
    return false;
}

// The folder of a cgroup given by its path in the hierarchy; empty when it is not under the mount.
std::string cgroup_folder(const Mount& mount, const std::string& path) {
    if (mount.root == "/") {
        return mount.point + path;
    }
    if (path.compare(0, mount.root.size(), mount.root) == 0 &&
        (path.size() == mount.root.size() || path[mount.root.size()] == '/')) {
        return mount.point + path.substr(mount.root.size());
    }
    return std::string();
}

} // namespace

// The command name, in parentheses, may hold anything: the fields are counted from the last ')'.
bool read_stat(pid_t pid, char& state, unsigned long long& start_time) {
    std::string line;
    if (!read_whole(proc_path(pid, "stat"), line, 4096)) {
        return false;
    }
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    std::vector<std::string> after;
    while (after.size() < 20 && fields >> field) {
        after.push_back(field);
    }
    if (after.size() < 20 || after[0].size() != 1) {
        return false;
    }
    state = after[0][0];
    start_time = std::strtoull(after[19].c_str(), nullptr, 10); // field 22 of the line
    return true;
}

std::vector<pid_t> running_pids() {
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return pids;
    }
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && end != nullptr && *end == '\0') {
            pids.push_back(static_cast<pid_t>(pid));
        }
    }
    closedir(proc);
    return pids;
}

namespace {

// Only root writes the program's folder, so only an upgrade leaves this "(deleted)" target.
bool names_program(const std::string& target, const std::string& program) {
    return target == program || target == program + " (deleted)";
}

} // namespace

bool runs_program(pid_t pid, const std::string& program) {
    return names_program(read_link(proc_path(pid, "exe")), program);
}

bool runs_another_program(pid_t pid, const std::string& program) {
    const std::string target = read_link(proc_path(pid, "exe"));
    return !target.empty() && !names_program(target, program);
}

bool alive(const ProcessMark& process) {
    char state = 0;
    unsigned long long start_time = 0;
    return process.pid > 0 && read_stat(process.pid, state, start_time) && start_time == process.start_time &&
           state != 'Z' && state != 'X';
}

bool read_identity(pid_t pid, Identity& who) {
    bool have_uid = false;
    bool have_gid = false;
    for (const std::string& line : lines_of(proc_path(pid, "status"), 64 * 1024)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        unsigned long value = 0;
        if (key == "PPid:" && fields >> value) {
            who.parent = static_cast<pid_t>(value);
        } else if (key == "Uid:") {
            have_uid = static_cast<bool>(fields >> value);
            who.uid = static_cast<uid_t>(value);
        } else if (key == "Gid:") {
            unsigned long effective = 0;
            unsigned long saved = 0;
            have_gid = static_cast<bool>(fields >> value >> effective >> saved);
            who.gid = static_cast<gid_t>(value);
            who.keeps_group = effective != value || saved != value;
        } else if (key == "Groups:") {
            while (fields >> value) {
                who.groups.push_back(static_cast<gid_t>(value));
            }
        }
    }
    std::string environ_text;
    if (!have_uid || !have_gid ||
        (!read_whole(proc_path(pid, "environ"), environ_text, most_environment_bytes) &&
         environ_text.size() <= most_environment_bytes)) {
        return false;
    }
    // A larger environment, which the visitor can give the session, keeps its first entries: the
    // station is watched all the same.
    if (environ_text.size() > most_environment_bytes) {
        const std::size_t cut = environ_text.rfind('\0', most_environment_bytes - 1);
        environ_text.resize(cut == std::string::npos ? 0 : cut + 1);
    }
    std::size_t begin = 0;
    while (begin < environ_text.size()) {
        std::size_t end = environ_text.find('\0', begin);
        if (end == std::string::npos) {
            end = environ_text.size();
        }
        const std::string entry = environ_text.substr(begin, end - begin);
        if (entry.find('=') != std::string::npos) {
            who.environment.push_back(entry);
            if (entry.compare(0, 8, "DISPLAY=") == 0) {
                who.display = entry.substr(8);
            }
        }
        begin = end + 1;
    }
    return true;
}

std::string login_session(pid_t pid) {
    std::string session;
    if (!read_whole(proc_path(pid, "sessionid"), session, 32) || session.empty() ||
        session == unset_session || session.find_first_not_of("0123456789") != std::string::npos) {
        return std::string();
    }
    return session;
}

bool session_lives(const std::string& session, pid_t except) {
    for (pid_t pid : running_pids()) {
        char state = 0;
        unsigned long long start_time = 0;
        // A zombie, not yet reaped, still shows its session.
        if (pid != except && login_session(pid) == session && read_stat(pid, state, start_time) &&
            state != 'Z' && state != 'X') {
            return true;
        }
    }
    return false;
}

bool find_x_server(const std::string& display, ProcessMark& server) {
    std::string number;
    if (!display_number(display, number)) {
        return false;
    }
    // Only the server can hold the abstract name while it runs; the file may be anyone's by now.
    const std::vector<std::string> abstract = listening_inodes("@/tmp/.X11-unix/X" + number);
    return oldest_holder(abstract.empty() ? listening_inodes("/tmp/.X11-unix/X" + number) : abstract, server);
}

std::vector<std::string> frozen_in(pid_t pid) {
    std::vector<std::string> roots;
    for (const std::string& line : lines_of(proc_path(pid, "cgroup"), 64 * 1024)) {
        // "ID:CONTROLLERS:PATH"; cgroup names hold no newline, the path may hold colons.
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        const bool v2 = line.compare(0, second + 1, "0::") == 0;
        if (!v2 && controllers.find(",freezer,") == std::string::npos) {
            continue;
        }
        Mount mount;
        std::string folder;
        if (!find_mount(v2, mount) || (folder = cgroup_folder(mount, line.substr(second + 1))).empty()) {
            continue;
        }
        bool frozen = false;
        if (v2) {
            for (const std::string& event : lines_of(folder + "/cgroup.events", 4096)) {
                frozen = frozen || event == "frozen 1";
            }
        } else {
            const std::vector<std::string> state = lines_of(folder + "/freezer.state", 4096);
            frozen = !state.empty() && (state[0] == "FROZEN" || state[0] == "FREEZING");
        }
        if (frozen) {
            roots.push_back(mount.point + "/cgroup.procs");
        }
    }
    return roots;
}

void move_to_roots(pid_t pid, const std::vector<std::string>& roots) {
    const std::string number = std::to_string(pid);
    for (const std::string& procs : roots) {
        const int fd = open(procs.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            (void)!write(fd, number.data(), number.size());
            close(fd);
        }
    }
}

ProcessHandle::ProcessHandle(const ProcessMark& process) {
    // Called through syscall(): the C library's declarations of these lack C linkage.
    fd_ = static_cast<int>(syscall(SYS_pidfd_open, process.pid, 0));
    // Opened after the start time was read: the same start time now means the same process.
    if (fd_ >= 0 && !alive(process)) {
        close(fd_);
        fd_ = -1;
    }
}

ProcessHandle::~ProcessHandle() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool ProcessHandle::ended() const {
    if (fd_ < 0) {
        return true;
    }
    pollfd ready{fd_, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
}

void ProcessHandle::kill() const {
    signal(SIGKILL);
}

void ProcessHandle::signal(int number) const {
    if (fd_ >= 0) {
        syscall(SYS_pidfd_send_signal, fd_, number, nullptr, 0);
    }
}

pid_t start_as(const Identity& who, const char* program, const char* folder) {
    const pid_t child = fork();
    if (child != 0) {
        return child < 0 ? 0 : child;
    }
    setsid();
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
    }
    close_range(3, ~0U, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The account's own rights, every one of them given up for good before anything is run.
    if (setgroups(who.groups.size(), who.groups.data()) != 0 || setresgid(who.gid, who.gid, who.gid) != 0 ||
        setresuid(who.uid, who.uid, who.uid) != 0 || getuid() != who.uid || geteuid() != who.uid ||
        setuid(0) == 0) {
        _exit(126);
    }
    if (chdir(folder) != 0 && chdir("/") != 0) {
        _exit(126);
    }
    std::vector<std::string> copy = who.environment;
    std::vector<char*> environment;
    for (std::string& entry : copy) {
        environment.push_back(entry.data());
    }
    environment.push_back(nullptr);
    char name[] = "kalimo";
    char* arguments[] = {name, nullptr};
    execve(program, arguments, environment.data());
    _exit(127);
}
