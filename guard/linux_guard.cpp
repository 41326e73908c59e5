// kalimo-guard: the supervisor beside the stations of this computer, run as root by its system unit.
// It finds every running station by its program file, remembers who runs it (account, groups,
// environment) and what tells that its desktop session lives (the login session of the first
// station, the X server's process), and, when a station ends in any way but staff's choice or stays
// stopped, starts it again as that same account in that same desktop session. It never runs
// anything as root and never acts on what a visitor could write: the station's identity comes from
// the kernel, the chosen-exit note from the station folder, which only the station's group writes.
// What the kernel no longer shows (a station's login session, one that ended while no guard ran)
// is kept in a root-only file under /run, so that a restart or an upgrade of the guard takes the
// running stations back into its watch.
// When a session ends it resets the desktop's account (guard/linux_reset.h): asked by the station
// through its folder, or by itself before it starts again a station ended during a session. It says
// it runs in /run/kalimo-guard.pid, which the stations read.
//
//   kalimo-guard                    the supervisor, from its system unit
//   kalimo-guard --reference NAME   takes the home of the account NAME as its reference copy
#include "fonction/session_record.h"
#include "guard/guard_rules.h"
#include "guard/linux_guard_system.h"
#include "guard/linux_reset.h"
#include "platform/station_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* station_program = KALIMO_STATION_PROGRAM;
constexpr const char* station_folder_path = KALIMO_STATION_FOLDER;
constexpr const char* state_folder = "/run/kalimo-guard";
constexpr const char* state_file = "/run/kalimo-guard/stations";
constexpr const char* state_header = "kalimo-guard stations 1";
constexpr const char* pid_file = "/run/kalimo-guard.pid";
// The station waits 15 s from its request: the answer comes before, whatever the reset met.
constexpr auto reset_bound = std::chrono::seconds(12);
constexpr std::size_t most_request_bytes = 256;
constexpr std::size_t most_state_bytes = 16 * 1024 * 1024;
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

struct Watched {
    ProcessMark process;
    ProcessHandle handle; // not valid once the process is gone
    Identity who;
    std::string session;          // the first station's login session; empty when it had none
    ProcessMark x_server;         // pid 0 when none was found
    std::int64_t last_start = -1; // when the guard last started it (the monotonic clock's ms)
    std::int64_t stopped_since = -1;
};

void log(const std::string& what, const Watched& station) {
    std::fprintf(stderr, "kalimo-guard: %s (process %ld, account %lu)\n", what.c_str(),
                 static_cast<long>(station.process.pid), static_cast<unsigned long>(station.who.uid));
}

// The desktop session lives while its login session has another process and its X server runs:
// neither can be ended or faked by the visitor's account short of ending the desktop itself.
bool desktop_alive(const Watched& station) {
    if (station.session.empty() && station.x_server.pid == 0) {
        return false; // nothing to follow: not a local desktop
    }
    return (station.session.empty() || session_lives(station.session, station.process.pid)) &&
           (station.x_server.pid == 0 || alive(station.x_server));
}

// The station left a note that staff ended it on purpose; the note is used once.
bool chosen_exit(pid_t pid) {
    const std::string note = std::string(station_folder_path) + "/" + station_folder::chosen_exit_file;
    char text[32] = {};
    std::FILE* in = std::fopen(note.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    const std::size_t length = std::fread(text, 1, sizeof text - 1, in);
    std::fclose(in);
    text[length] = '\0';
    const bool ours = std::strtol(text, nullptr, 10) == static_cast<long>(pid);
    if (ours) {
        std::remove(note.c_str());
    }
    return ours;
}

// --- The state kept across the guard's restarts: NUL-separated fields, written whole and renamed.

void put(std::string& out, const std::string& field) {
    out += field;
    out += '\0';
}

std::string state_text(const std::map<pid_t, Watched>& watched) {
    std::string out;
    put(out, state_header);
    for (const auto& [pid, station] : watched) {
        put(out, "station");
        for (unsigned long long number :
             {static_cast<unsigned long long>(pid), station.process.start_time,
              static_cast<unsigned long long>(station.x_server.pid), station.x_server.start_time,
              static_cast<unsigned long long>(station.last_start + 1), // 0: never
              static_cast<unsigned long long>(station.who.uid),
              static_cast<unsigned long long>(station.who.gid),
              static_cast<unsigned long long>(station.who.groups.size())}) {
            put(out, std::to_string(number));
        }
        for (gid_t group : station.who.groups) {
            put(out, std::to_string(group));
        }
        put(out, station.session);
        put(out, std::to_string(station.who.environment.size()));
        for (const std::string& entry : station.who.environment) {
            put(out, entry);
        }
    }
    return out;
}

// Reads the fields back, each checked; any fault drops the whole file.
class StateReader {
  public:
    explicit StateReader(const std::string& text) : text_(text) {}

    bool field(std::string& out) {
        const std::size_t end = text_.find('\0', at_);
        if (end == std::string::npos) {
            return false;
        }
        out = text_.substr(at_, end - at_);
        at_ = end + 1;
        return true;
    }
    bool number(unsigned long long limit, unsigned long long& value) {
        std::string text;
        if (!field(text) || text.empty() || text.size() > 20 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        errno = 0;
        value = std::strtoull(text.c_str(), nullptr, 10);
        return errno == 0 && value <= limit;
    }
    bool done() const { return at_ == text_.size(); }

  private:
    const std::string& text_;
    std::size_t at_ = 0;
};

bool parse_station(StateReader& in, Watched& station) {
    constexpr unsigned long long any = ~0ULL;
    constexpr unsigned long long most_id = 0xFFFFFFFEULL;
    unsigned long long pid = 0, x_pid = 0, last_start = 0, uid = 0, gid = 0, groups = 0, entries = 0;
    if (!in.number(0x3FFFFFFF, pid) || pid == 0 || !in.number(any, station.process.start_time) ||
        !in.number(0x3FFFFFFF, x_pid) || !in.number(any, station.x_server.start_time) ||
        !in.number(0x7FFFFFFFFFFFFFFFULL, last_start) || !in.number(most_id, uid) || uid == 0 ||
        !in.number(most_id, gid) || !in.number(65536, groups)) {
        return false;
    }
    station.process.pid = static_cast<pid_t>(pid);
    station.x_server.pid = static_cast<pid_t>(x_pid);
    station.last_start = static_cast<std::int64_t>(last_start) - 1;
    station.who.uid = static_cast<uid_t>(uid);
    station.who.gid = static_cast<gid_t>(gid);
    for (unsigned long long i = 0; i < groups; ++i) {
        unsigned long long group = 0;
        if (!in.number(most_id, group)) {
            return false;
        }
        station.who.groups.push_back(static_cast<gid_t>(group));
    }
    if (!in.field(station.session) || station.session.find_first_not_of("0123456789") != std::string::npos ||
        !in.number(65536, entries)) {
        return false;
    }
    for (unsigned long long i = 0; i < entries; ++i) {
        std::string entry;
        if (!in.field(entry) || entry.find('=') == std::string::npos) {
            return false;
        }
        if (entry.compare(0, 8, "DISPLAY=") == 0) {
            station.who.display = entry.substr(8);
        }
        station.who.environment.push_back(std::move(entry));
    }
    return true;
}

// The folder is root's alone, or the state is neither read nor written.
bool state_folder_ready() {
    if (mkdir(state_folder, 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat folder {};
    return lstat(state_folder, &folder) == 0 && S_ISDIR(folder.st_mode) && folder.st_uid == 0 &&
           (folder.st_mode & 077) == 0;
}

std::map<pid_t, Watched> read_state() {
    std::map<pid_t, Watched> stations;
    const int fd = open(state_file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return stations;
    }
    struct stat file {};
    std::string text;
    if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && file.st_uid == 0 && (file.st_mode & 077) == 0 &&
        static_cast<std::size_t>(file.st_size) <= most_state_bytes) {
        text.resize(static_cast<std::size_t>(file.st_size));
        if (read(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            text.clear();
        }
    }
    close(fd);
    StateReader in(text);
    std::string field;
    if (!in.field(field) || field != state_header) {
        return stations;
    }
    while (!in.done()) {
        Watched station;
        if (!in.field(field) || field != "station" || !parse_station(in, station)) {
            std::fprintf(stderr, "kalimo-guard: %s is damaged: not used\n", state_file);
            return {};
        }
        const pid_t pid = station.process.pid;
        stations.emplace(pid, std::move(station));
    }
    return stations;
}

void write_state(const std::string& text) {
    const std::string temporary = std::string(state_file) + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) == 0 && written) {
        std::rename(temporary.c_str(), state_file);
    }
}

// --- The desktop's reset.

// The station folder, when it is root's and its group's alone; `group` is that group (kalimo).
int open_station_folder(gid_t& group) {
    const int folder = open(station_folder_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat seen {};
    if (folder >= 0 && (fstat(folder, &seen) != 0 || seen.st_uid != 0 || (seen.st_mode & 07) != 0)) {
        close(folder);
        return -1;
    }
    group = seen.st_gid;
    return folder;
}

// A file of the station folder as only the station's group and root can have written it: a plain
// file of the group, within `limit`. Absent or anything else: false.
bool read_folder_file(const char* name, std::size_t limit, std::string& bytes) {
    gid_t group = 0;
    const int folder = open_station_folder(group);
    if (folder < 0) {
        return false;
    }
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    close(folder);
    struct stat file {};
    bool read_whole = false;
    if (fd >= 0 && fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && file.st_gid == group &&
        static_cast<std::size_t>(file.st_size) <= limit) {
        bytes.assign(static_cast<std::size_t>(file.st_size), '\0');
        read_whole = read(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    if (fd >= 0) {
        close(fd);
    }
    return read_whole;
}

// The session a station left open, from its record; false when none is.
bool open_session(ProcessClock& opened) {
    std::string bytes;
    SessionRecord record;
    if (!read_folder_file(session_record_file_name, 64 * 1024, bytes) ||
        !parse_session_record(bytes, record) || !record.open) {
        return false;
    }
    opened = record.open->opened_clock;
    return true;
}

// The answer, root's and the group's, written whole and renamed; the request goes first, so that a
// new one is never taken for it.
void answer(pid_t station, bool done) {
    gid_t group = 0;
    const int folder = open_station_folder(group);
    if (folder < 0) {
        return;
    }
    unlinkat(folder, station_folder::reset_request_file, 0);
    const std::string text = std::to_string(station) + (done ? " ok" : " failed") + "\r\n";
    const std::string temporary = std::string(station_folder::reset_answer_file) + ".guard";
    unlinkat(folder, temporary.c_str(), 0);
    const int fd =
        openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const bool written = fchown(fd, 0, group) == 0 && fchmod(fd, 0660) == 0 &&
                             write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (close(fd) == 0 && written) {
            renameat(folder, temporary.c_str(), folder, station_folder::reset_answer_file);
        } else {
            unlinkat(folder, temporary.c_str(), 0);
        }
    }
    close(folder);
}

// Resets the account that runs `station` from the opening; `asking` is the running station that
// asked (0 when it is gone).
bool reset_desktop(const Watched& station, const ProcessClock& opened, pid_t asking) {
    ResetAccount account;
    std::string why;
    if (!find_account(station.who.uid, station.who.environment, account, why)) {
        log("the desktop is not reset: " + why, station);
        return false;
    }
    const ResetOpening opening{opened.ms, opened.boot, asking, station_program};
    const auto began = ResetClock::now();
    ResetReport report;
    const bool done = reset_account(account, opening, began + reset_bound, report);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(ResetClock::now() - began);
    log(std::string(done ? "desktop reset" : "desktop reset FAILED") + " in " + std::to_string(took.count()) +
            " ms: " + report.text(),
        station);
    return done;
}

// A station's request, taken from the folder and answered.
void answer_request(std::map<pid_t, Watched>& watched) {
    std::string text;
    if (!read_folder_file(station_folder::reset_request_file, most_request_bytes, text)) {
        return; // none, or not one the station's group wrote: left for the station to write again
    }
    pid_t pid = 0;
    ProcessClock opened;
    if (!parse_reset_request(text, pid, opened.ms, opened.boot)) {
        gid_t group = 0;
        const int folder = open_station_folder(group);
        if (folder >= 0) {
            unlinkat(folder, station_folder::reset_request_file, 0);
            close(folder);
        }
        std::fprintf(stderr, "kalimo-guard: a reset request that is not one: removed\n");
        return;
    }
    const auto station = watched.find(pid);
    if (station == watched.end()) {
        std::fprintf(stderr, "kalimo-guard: a reset request from process %ld, which is no station: failed\n",
                     static_cast<long>(pid));
        answer(pid, false);
        return;
    }
    // A station that died since it asked is no longer spared; its reset is still done.
    const bool running = !station->second.handle.ended();
    answer(pid, reset_desktop(station->second, opened, running ? pid : 0));
}

// The first time the guard watches an account's station with no session open, the account's home
// becomes its reference copy when it has none.
void take_first_reference(const Watched& station, std::set<uid_t>& tried) {
    ProcessClock opened;
    if (!tried.insert(station.who.uid).second || open_session(opened) ||
        access((std::string(station_folder_path) + "/" + station_folder::reset_request_file).c_str(), F_OK) ==
            0) {
        return;
    }
    ResetAccount account;
    std::string why;
    if (!find_account(station.who.uid, station.who.environment, account, why)) {
        log("no reference copy of the home: " + why, station);
        return;
    }
    if (has_reference(account)) {
        return;
    }
    int copied = 0;
    int left_out = 0;
    if (take_reference(account, ResetClock::now() + reset_bound, copied, left_out, why)) {
        log("the home " + account.home + " taken as its reference copy " + account.reference + " (" +
                std::to_string(copied) + " entries, " + std::to_string(left_out) + " left out)",
            station);
    } else {
        log("no reference copy of the home taken: " + why, station);
    }
}

// The guard says it runs, for the stations: root's file in /run, written whole and renamed.
void write_pid_file() {
    const std::string temporary = std::string(pid_file) + ".new";
    const std::string text = std::to_string(getpid()) + "\n";
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    const bool written =
        fchmod(fd, 0644) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) == 0 && written) {
        std::rename(temporary.c_str(), pid_file);
    }
}

// kalimo-guard --reference NAME: the account's home as it is now becomes its reference copy. The
// kept files are completed from a running station of the account's, when there is one.
int take_reference_command(const std::string& name) {
    std::vector<std::string> environment;
    const passwd* entry = getpwnam(name.c_str());
    for (pid_t pid : running_pids()) {
        Identity who;
        if (entry != nullptr && runs_program(pid, station_program) && read_identity(pid, who) &&
            who.uid == entry->pw_uid && !who.keeps_group) {
            environment = who.environment;
            break;
        }
    }
    ResetAccount account;
    std::string why;
    int copied = 0;
    int left_out = 0;
    if (!find_account(name, environment, account, why) ||
        !take_reference(account, ResetClock::now() + std::chrono::hours(1), copied, left_out, why)) {
        std::fprintf(stderr, "kalimo-guard: no reference copy of %s's home: %s\n", name.c_str(), why.c_str());
        return 1;
    }
    std::fprintf(stderr, "kalimo-guard: %s taken as the reference copy %s: %d entries, %d left out\n",
                 account.home.c_str(), account.reference.c_str(), copied, left_out);
    return 0;
}

// --- Watching.

// Stations started meanwhile (by a login's autostart entry), or found at the guard's start, join
// the watch. What the guard knew of one before its restart is taken back.
void find_stations(std::map<pid_t, Watched>& watched, std::map<pid_t, Watched>& remembered,
                   std::set<uid_t>& tried) {
    for (pid_t pid : running_pids()) {
        char state = 0;
        Watched station;
        station.process.pid = pid;
        if (watched.count(pid) != 0 || !runs_program(pid, station_program) ||
            !read_stat(pid, state, station.process.start_time) || !read_identity(pid, station.who) ||
            station.who.uid == 0 || station.who.keeps_group ||
            runs_program(station.who.parent, station_program)) {
            continue;
        }
        station.handle = ProcessHandle(station.process);
        if (station.handle.ended()) {
            continue;
        }
        const auto known = remembered.find(pid);
        if (known != remembered.end() && known->second.process.start_time == station.process.start_time) {
            station.session = known->second.session;
            station.x_server = known->second.x_server;
            station.last_start = known->second.last_start;
            remembered.erase(known);
        } else {
            station.session = login_session(pid);
            find_x_server(station.who.display, station.x_server);
        }
        log("watching a station, login session " + (station.session.empty() ? "none" : station.session) +
                ", X server " + std::to_string(station.x_server.pid),
            station);
        take_first_reference(station, tried);
        watched.emplace(pid, std::move(station));
    }
}

// Starts the station again; the new one is watched in its place.
void start_again(std::map<pid_t, Watched>& next, Watched& gone, std::int64_t now) {
    Watched again;
    again.process.pid = start_as(gone.who, station_program, station_folder_path);
    char state = 0;
    if (again.process.pid == 0 || !read_stat(again.process.pid, state, again.process.start_time)) {
        gone.last_start = now; // tried again after the spacing
        log("station ended: not started again, tried again shortly", gone);
        const pid_t pid = gone.process.pid;
        next.emplace(pid, std::move(gone));
        return;
    }
    again.handle = ProcessHandle(again.process);
    again.who = std::move(gone.who);
    again.session = std::move(gone.session);
    again.x_server = gone.x_server;
    again.last_start = now;
    log("station ended: started again", again);
    const pid_t pid = again.process.pid;
    next.emplace(pid, std::move(again));
}

} // namespace

int main(int argc, char** argv) {
    if (geteuid() != 0) {
        std::fprintf(stderr, "kalimo-guard: runs as root, from its system unit\n");
        return 1;
    }
    if (argc == 3 && std::string(argv[1]) == "--reference") {
        return take_reference_command(argv[2]);
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: kalimo-guard [--reference ACCOUNT]\n");
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    // The stations the guard starts stay its children until it reaps them, so that no other
    // process can take their number before it holds their pidfd.
    struct sigaction children {};
    children.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &children, nullptr);

    const bool keep_state = state_folder_ready();
    if (!keep_state) {
        std::fprintf(stderr, "kalimo-guard: %s is not root's alone: nothing is kept across restarts\n",
                     state_folder);
    }
    std::map<pid_t, Watched> remembered = keep_state ? read_state() : std::map<pid_t, Watched>{};
    std::map<pid_t, Watched> watched;
    std::set<uid_t> tried_reference;
    find_stations(watched, remembered, tried_reference);
    // Stations that ended while no guard ran are judged as if they had just ended.
    for (auto& [pid, station] : remembered) {
        if (watched.count(pid) == 0 && !alive(station.process)) {
            log("a station ended while the guard was away", station);
            watched.emplace(pid, std::move(station));
        }
    }
    remembered.clear();
    std::string saved;
    write_pid_file();

    while (stopping == 0) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        find_stations(watched, remembered, tried_reference);
        answer_request(watched);
        const std::int64_t now = now_ms();
        std::map<pid_t, Watched> next;
        for (auto& [pid, station] : watched) {
            StationWatch watch;
            char state = 0;
            unsigned long long start_time = 0;
            const bool gone = station.handle.ended() || !read_stat(pid, state, start_time) ||
                              start_time != station.process.start_time || state == 'Z';
            if (gone) {
                watch.seen = StationSeen::Gone;
                watch.chosen_exit = chosen_exit(pid);
                watch.desktop_alive = desktop_alive(station);
            } else if (runs_another_program(pid, station_program)) {
                watch.seen = StationSeen::Elsewhere;
            } else if (state == 'T' || state == 't' || !frozen_in(pid).empty()) {
                watch.seen = StationSeen::Stopped;
                if (station.stopped_since < 0) {
                    station.stopped_since = now;
                }
                watch.stopped_ms = now - station.stopped_since;
            } else {
                station.stopped_since = -1;
            }
            if (station.last_start >= 0) {
                watch.since_start_ms = now - station.last_start;
            }
            switch (next_step(watch)) {
            case GuardStep::Watch:
                next.emplace(pid, std::move(station));
                break;
            case GuardStep::End:
                log("station stopped: ended", station);
                move_to_roots(pid, frozen_in(pid));
                station.handle.kill();
                next.emplace(pid, std::move(station));
                break;
            case GuardStep::Start: {
                // Ended during a session: the session ends here, with its desktop reset, so that
                // a visitor's program that ends the station ends with it.
                ProcessClock opened;
                if (open_session(opened) && !opened.none()) {
                    log("station ended during a session", station);
                    reset_desktop(station, opened, 0);
                }
                start_again(next, station, now_ms());
                break;
            }
            case GuardStep::Forget:
                log(watch.seen == StationSeen::Elsewhere ? "not a station: no longer watched"
                    : watch.chosen_exit                  ? "station quit by staff"
                                        : "the desktop session ended: station not started again",
                    station);
                break;
            }
        }
        watched = std::move(next);
        if (keep_state) {
            std::string text = state_text(watched);
            if (text != saved) {
                write_state(text);
                saved = std::move(text);
            }
        }
        std::this_thread::sleep_for(poll_interval);
    }
    unlink(pid_file);
    return 0;
}
