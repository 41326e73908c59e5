// kalimo-guard: the supervisor beside the stations of this computer, run as root by its system unit.
// It finds every running station by its program file, remembers who runs it (account, groups,
// environment, desktop session) and, when a station ends in any way but staff's choice or stays
// stopped, starts it again as that same account in that same desktop session. It never runs
// anything as root and never acts on what a visitor could write: the station's identity comes from
// the kernel, the chosen-exit note from the station folder, which only the station's group writes.
#include "guard/guard_rules.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* station_program = KALIMO_STATION_PROGRAM;
constexpr const char* station_folder = KALIMO_STATION_FOLDER;
constexpr const char* unset_session = "4294967295";
constexpr std::size_t most_environment_bytes = 256 * 1024;
constexpr auto poll_interval = std::chrono::milliseconds(200);

volatile std::sig_atomic_t stopping = 0;

void on_stop_signal(int) {
    stopping = 1;
}

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

// The process's state letter and start time, from its stat line; false when it is gone. The
// command name, in parentheses, may hold anything: the fields are counted from the last ')'.
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
    while (fields >> field && after.size() < 20) {
        after.push_back(field);
    }
    if (after.size() < 20 || after[0].size() != 1) {
        return false;
    }
    state = after[0][0];
    start_time = std::strtoull(after[19].c_str(), nullptr, 10); // field 22 of the line
    return true;
}

bool runs_station_program(pid_t pid) {
    char target[4096];
    const ssize_t length = readlink(proc_path(pid, "exe").c_str(), target, sizeof target - 1);
    if (length <= 0) {
        return false;
    }
    target[length] = '\0';
    return std::strcmp(target, station_program) == 0;
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

// Who runs a station, read from the kernel's view of the process.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::vector<std::string> environment;
    std::string session;
    std::string display;
    // A station's file broker keeps the program's group, which the station itself gives up as it starts.
    bool keeps_group = false;
};

bool read_identity(pid_t pid, Identity& who) {
    std::ifstream status(proc_path(pid, "status"));
    std::string line;
    bool have_uid = false;
    bool have_gid = false;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "Uid:") {
            unsigned long real = 0;
            have_uid = static_cast<bool>(fields >> real);
            who.uid = static_cast<uid_t>(real);
        } else if (key == "Gid:") {
            unsigned long real = 0;
            unsigned long effective = 0;
            unsigned long saved = 0;
            have_gid = static_cast<bool>(fields >> real >> effective >> saved);
            who.gid = static_cast<gid_t>(real);
            who.keeps_group = effective != real || saved != real;
        } else if (key == "Groups:") {
            unsigned long group = 0;
            while (fields >> group) {
                who.groups.push_back(static_cast<gid_t>(group));
            }
        }
    }
    std::string environ_text;
    if (!have_uid || !have_gid ||
        !read_whole(proc_path(pid, "environ"), environ_text, most_environment_bytes)) {
        return false;
    }
    std::size_t begin = 0;
    while (begin < environ_text.size()) {
        const std::size_t end = environ_text.find('\0', begin);
        const std::string entry =
            environ_text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (entry.find('=') != std::string::npos) {
            who.environment.push_back(entry);
            if (entry.compare(0, 8, "DISPLAY=") == 0) {
                who.display = entry.substr(8);
            }
        }
        if (end == std::string::npos) {
            break;
        }
        begin = end + 1;
    }
    read_whole(proc_path(pid, "sessionid"), who.session, 32);
    return true;
}

// The desktop session is still there: another process of the same login session lives, and the
// X display's socket (a local display) still exists.
bool desktop_alive(const Identity& who, pid_t gone) {
    if (!who.display.empty() && who.display[0] == ':') {
        const std::string number = who.display.substr(1, who.display.find('.') - 1);
        struct stat socket_status {};
        if (stat(("/tmp/.X11-unix/X" + number).c_str(), &socket_status) != 0) {
            return false;
        }
    }
    if (who.session.empty() || who.session == unset_session) {
        return true; // no login session to follow: the display tells
    }
    for (pid_t pid : running_pids()) {
        std::string session;
        if (pid != gone && read_whole(proc_path(pid, "sessionid"), session, 32) && session == who.session) {
            return true;
        }
    }
    return false;
}

// The station left a note that staff ended it on purpose; the note is used once.
bool chosen_exit(pid_t pid) {
    const std::string note = std::string(station_folder) + "/Arret_demande.init";
    std::string text;
    if (!read_whole(note, text, 32)) {
        return false;
    }
    const bool ours = std::strtol(text.c_str(), nullptr, 10) == static_cast<long>(pid);
    if (ours) {
        std::remove(note.c_str());
    }
    return ours;
}

// Starts the station as the account that ran it; 0 when it could not be started.
pid_t start_station(const Identity& who) {
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
    // The account's own rights, every one of them given up for good before anything is run.
    if (setgroups(who.groups.size(), who.groups.data()) != 0 || setresgid(who.gid, who.gid, who.gid) != 0 ||
        setresuid(who.uid, who.uid, who.uid) != 0 || getuid() != who.uid || geteuid() != who.uid ||
        setuid(0) == 0) {
        _exit(126);
    }
    if (chdir(station_folder) != 0 && chdir("/") != 0) {
        _exit(126);
    }
    std::vector<char*> environment;
    std::vector<std::string> copy = who.environment;
    for (std::string& entry : copy) {
        environment.push_back(entry.data());
    }
    environment.push_back(nullptr);
    char name[] = "kalimo";
    char* arguments[] = {name, nullptr};
    execve(station_program, arguments, environment.data());
    _exit(127);
}

struct Watched {
    unsigned long long start_time = 0;
    Identity who;
    std::int64_t stopped_since = -1;
    std::deque<std::int64_t> starts; // when the guard started this station's line, last minute
};

void log(const char* what, pid_t pid, const Identity& who) {
    std::fprintf(stderr, "kalimo-guard: %s (process %ld, account %lu)\n", what, static_cast<long>(pid),
                 static_cast<unsigned long>(who.uid));
}

} // namespace

int main() {
    if (geteuid() != 0) {
        std::fprintf(stderr, "kalimo-guard: runs as root, from its system unit\n");
        return 1;
    }
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    // The stations the guard starts are reaped by the kernel.
    struct sigaction children {};
    children.sa_handler = SIG_IGN;
    children.sa_flags = SA_NOCLDWAIT;
    sigaction(SIGCHLD, &children, nullptr);

    std::map<pid_t, Watched> watched;
    while (stopping == 0) {
        // Stations started meanwhile (by a login's autostart entry) join the watch.
        for (pid_t pid : running_pids()) {
            if (watched.count(pid) != 0 || !runs_station_program(pid)) {
                continue;
            }
            Watched entry;
            char state = 0;
            // A process still holding the group is a station's broker, or a station in its first
            // instant, seen again at the next look.
            if (read_stat(pid, state, entry.start_time) && read_identity(pid, entry.who) &&
                entry.who.uid != 0 && !entry.who.keeps_group) {
                log("watching a station", pid, entry.who);
                watched.emplace(pid, std::move(entry));
            }
        }

        const std::int64_t now = now_ms();
        std::map<pid_t, Watched> next;
        for (auto& [pid, entry] : watched) {
            StationWatch watch;
            char state = 0;
            unsigned long long start_time = 0;
            if (!read_stat(pid, state, start_time) || start_time != entry.start_time || state == 'Z') {
                watch.seen = StationSeen::Gone;
            } else if (state == 'T' || state == 't') {
                watch.seen = StationSeen::Stopped;
                if (entry.stopped_since < 0) {
                    entry.stopped_since = now;
                }
                watch.stopped_ms = now - entry.stopped_since;
            } else {
                entry.stopped_since = -1;
            }
            while (!entry.starts.empty() && now - entry.starts.front() > 60000) {
                entry.starts.pop_front();
            }
            watch.recent_starts = static_cast<int>(entry.starts.size());
            if (watch.seen == StationSeen::Gone) {
                watch.chosen_exit = chosen_exit(pid);
                watch.desktop_alive = desktop_alive(entry.who, pid);
            }
            switch (next_step(watch)) {
            case GuardStep::Watch:
                next.emplace(pid, std::move(entry));
                break;
            case GuardStep::End:
                log("ending a stopped station", pid, entry.who);
                kill(pid, SIGKILL);
                next.emplace(pid, std::move(entry));
                break;
            case GuardStep::Start: {
                const pid_t started = start_station(entry.who);
                char started_state = 0;
                Watched again;
                again.who = std::move(entry.who);
                again.starts = std::move(entry.starts);
                again.starts.push_back(now);
                // The new process's start time, once the kernel shows it.
                if (started > 0) {
                    for (int i = 0; i < 50 && !read_stat(started, started_state, again.start_time); ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    }
                    log("station ended: started again", started, again.who);
                    next.emplace(started, std::move(again));
                }
                break;
            }
            case GuardStep::Forget:
                log(watch.chosen_exit ? "station quit by staff" : "station not started again", pid,
                    entry.who);
                break;
            }
        }
        watched = std::move(next);
        std::this_thread::sleep_for(poll_interval);
    }
    return 0;
}
