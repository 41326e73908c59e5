#include "guard/linux_reset.h"

#include "guard/linux_guard_system.h"
#include "guard/reset_rules.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace {

constexpr auto grace = std::chrono::seconds(2);
constexpr auto look_again = std::chrono::milliseconds(20);
// Levels of folders a reference copy holds; deeper ones are left out of it.
constexpr int deepest = 256;
// Past this many entries listed in the home, a folder of the reference is replaced whole instead.
constexpr std::size_t most_listed = 1000000;
// A file's change time is stamped from a coarser clock than the opening's: what changed in the
// second before the opening counts as changed, which at worst copies a file back for nothing.
constexpr std::int64_t change_margin_ms = 1000;
constexpr const char* new_name = ".kalimo-reset.new";

// A descriptor closed with its scope.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

Fd open_folder_at(int parent, const std::string& name, dev_t device) {
    Fd folder(openat(parent, name.c_str(), folder_flags));
    struct stat seen {};
    if (folder.valid() && (fstat(folder.get(), &seen) != 0 || seen.st_dev != device)) {
        folder.reset();
        errno = EXDEV;
    }
    return folder;
}

std::int64_t ms_of(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

std::int64_t clock_ms(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return ms_of(now);
}

bool expired(ResetClock::time_point deadline) {
    return ResetClock::now() >= deadline;
}

std::vector<std::string> names_in(int folder) {
    std::vector<std::string> names;
    DIR* listing = fdopendir(dup(folder));
    if (listing == nullptr) {
        return names;
    }
    rewinddir(listing);
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    return names;
}

std::string joined(const std::string& prefix, const std::string& name) {
    return prefix.empty() ? name : prefix + "/" + name;
}

bool kept_path(const std::string& path, const std::vector<std::string>& kept) {
    return std::any_of(kept.begin(), kept.end(), [&](const std::string& k) {
        return path.compare(0, k.size(), k) == 0 && (path.size() == k.size() || path[k.size()] == '/');
    });
}

// --- Removing and copying, through descriptors alone.

// Removes `name` from `parent`, a folder with all it holds, depth-first with one folder open at a
// time; the way back up is checked, so that a folder moved meanwhile ends the work.
bool remove_entry(int parent, const std::string& name, dev_t device, ResetClock::time_point deadline) {
    struct stat top {};
    if (fstatat(parent, name.c_str(), &top, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(top.st_mode)) {
        return unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT;
    }
    struct Level {
        std::string name;
        ino_t inode;
        std::vector<std::string> folders;
    };
    std::vector<Level> levels{{name, top.st_ino, {}}};
    Fd current = open_folder_at(parent, name, device);
    bool listed = false;
    while (current.valid() && !expired(deadline)) {
        if (!listed) {
            for (const std::string& entry : names_in(current.get())) {
                struct stat seen {};
                if (fstatat(current.get(), entry.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
                    continue;
                }
                if (S_ISDIR(seen.st_mode)) {
                    levels.back().folders.push_back(entry);
                } else if (unlinkat(current.get(), entry.c_str(), 0) != 0 && errno != ENOENT) {
                    return false;
                }
            }
            listed = true;
        }
        if (!levels.back().folders.empty()) {
            const std::string next = levels.back().folders.back();
            levels.back().folders.pop_back();
            Fd child = open_folder_at(current.get(), next, device);
            struct stat seen {};
            if (!child.valid() || fstat(child.get(), &seen) != 0) {
                return false; // another file system mounted there, or the folder went
            }
            levels.push_back({next, seen.st_ino, {}});
            current = std::move(child);
            listed = false;
            continue;
        }
        if (levels.size() == 1) {
            current.reset();
            return unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
        }
        Fd up(openat(current.get(), "..", folder_flags));
        struct stat seen {};
        if (!up.valid() || fstat(up.get(), &seen) != 0 || seen.st_dev != device ||
            seen.st_ino != levels[levels.size() - 2].inode) {
            return false;
        }
        const std::string emptied = levels.back().name;
        levels.pop_back();
        current = std::move(up);
        if (unlinkat(current.get(), emptied.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            return false;
        }
    }
    return false;
}

struct Copy {
    dev_t device;                         // of the source: other file systems are left out
    const std::vector<std::string>& kept; // paths left out
    ResetClock::time_point deadline;
    int copied = 0;
    int left_out = 0;
};

bool copy_bytes(int from, int to) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(to, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR) {
                return false;
            }
            done += put < 0 ? 0 : put;
        }
    }
}

// Copies the entry `name` of `from` to the name `name` in `to`, with its owner, mode and times: a
// file or a link is made under a new name and renamed over what is there; a folder, which must not be
// there, is made and filled.
bool copy_entry(int from, int to, const std::string& name, const std::string& path, int depth, Copy& copy) {
    if (kept_path(path, copy.kept)) {
        ++copy.left_out;
        return true;
    }
    if (expired(copy.deadline)) {
        return false;
    }
    struct stat source {};
    if (fstatat(from, name.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT; // gone meanwhile
    }
    const timespec times[2] = {source.st_atim, source.st_mtim};
    if (S_ISDIR(source.st_mode)) {
        if (source.st_dev != copy.device || depth >= deepest) {
            ++copy.left_out;
            return true;
        }
        Fd in = open_folder_at(from, name, copy.device);
        if (!in.valid() || mkdirat(to, name.c_str(), 0700) != 0) {
            return false;
        }
        struct stat made {};
        Fd out(openat(to, name.c_str(), folder_flags));
        if (!out.valid() || fstat(out.get(), &made) != 0) {
            return false;
        }
        bool whole = true;
        for (const std::string& entry : names_in(in.get())) {
            whole = copy_entry(in.get(), out.get(), entry, joined(path, entry), depth + 1, copy) && whole;
        }
        ++copy.copied;
        return fchown(out.get(), source.st_uid, source.st_gid) == 0 &&
               fchmod(out.get(), source.st_mode & 07777) == 0 && futimens(out.get(), times) == 0 && whole;
    }
    if (!S_ISREG(source.st_mode) && !S_ISLNK(source.st_mode)) {
        ++copy.left_out; // a socket, a pipe, a device: the session's own, never the room's
        return true;
    }
    if (unlinkat(to, new_name, 0) != 0 && errno == EISDIR) {
        unlinkat(to, new_name, AT_REMOVEDIR);
    }
    if (S_ISLNK(source.st_mode)) {
        std::string target(4096, '\0');
        const ssize_t length = readlinkat(from, name.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            return false;
        }
        target.resize(static_cast<std::size_t>(length));
        if (symlinkat(target.c_str(), to, new_name) != 0 ||
            fchownat(to, new_name, source.st_uid, source.st_gid, AT_SYMLINK_NOFOLLOW) != 0 ||
            utimensat(to, new_name, times, AT_SYMLINK_NOFOLLOW) != 0) {
            return false;
        }
    } else {
        Fd in(openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {};
        if (!in.valid() || fstat(in.get(), &opened) != 0 || opened.st_ino != source.st_ino ||
            !S_ISREG(opened.st_mode)) {
            return false;
        }
        Fd out(openat(to, new_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        // The owner first: changing it would clear the set-id bits the mode gives.
        if (!out.valid() || !copy_bytes(in.get(), out.get()) ||
            fchown(out.get(), source.st_uid, source.st_gid) != 0 ||
            fchmod(out.get(), source.st_mode & 07777) != 0 || futimens(out.get(), times) != 0) {
            return false;
        }
    }
    if (renameat(to, new_name, to, name.c_str()) != 0) {
        return false;
    }
    ++copy.copied;
    return true;
}

// Opens the folder at `path` (relative, '/' between names) under `top`, one name at a time.
Fd open_path(int top, const std::string& path, dev_t device) {
    Fd current(fcntl(top, F_DUPFD_CLOEXEC, 0));
    std::size_t begin = 0;
    while (current.valid() && begin < path.size()) {
        std::size_t end = path.find('/', begin);
        end = end == std::string::npos ? path.size() : end;
        current = open_folder_at(current.get(), path.substr(begin, end - begin), device);
        begin = end + 1;
    }
    return current;
}

// --- Listing a home and its reference.

struct Listing {
    dev_t device;
    ResetClock::time_point deadline;
    const std::set<std::string>* descend; // when set, folders entered are these only
    std::vector<HomeEntry> entries;
    std::set<std::string> entered;
    bool whole = true;
};

void list_tree(int folder, const std::string& prefix, int depth, Listing& listing) {
    for (const std::string& name : names_in(folder)) {
        if (expired(listing.deadline)) {
            listing.whole = false;
            return;
        }
        struct stat seen {};
        if (fstatat(folder, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        HomeEntry entry;
        entry.path = joined(prefix, name);
        entry.kind = S_ISDIR(seen.st_mode)   ? EntryKind::Directory
                     : S_ISREG(seen.st_mode) ? EntryKind::File
                     : S_ISLNK(seen.st_mode) ? EntryKind::Link
                                             : EntryKind::Other;
        entry.mode = seen.st_mode & 07777;
        entry.owner = std::to_string(seen.st_uid) + ":" + std::to_string(seen.st_gid);
        entry.size = seen.st_size;
        entry.modified = ms_of(seen.st_mtim);
        entry.changed = ms_of(seen.st_ctim);
        if (entry.kind == EntryKind::Link) {
            char target[4096];
            const ssize_t length = readlinkat(folder, name.c_str(), target, sizeof target);
            entry.target = length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
        }
        // A folder mounted from elsewhere, or one too full to list, counts as another kind: it is
        // replaced whole (and a mount point there fails to go, which the reset says).
        if (entry.kind == EntryKind::Directory &&
            (seen.st_dev != listing.device || listing.entries.size() >= most_listed)) {
            entry.kind = EntryKind::Other;
        }
        const bool enter = entry.kind == EntryKind::Directory && depth < deepest &&
                           (listing.descend == nullptr || listing.descend->count(entry.path) != 0);
        listing.entries.push_back(entry);
        if (enter) {
            Fd inner = open_folder_at(folder, name, listing.device);
            if (inner.valid()) {
                listing.entered.insert(entry.path);
                list_tree(inner.get(), entry.path, depth + 1, listing);
            }
        }
    }
}

// The kept paths, with the session's error logs (".xsession-errors", ".xsession-errors.old") found at
// the top of either tree.
std::vector<std::string> with_error_logs(std::vector<std::string> kept, const std::vector<HomeEntry>& a,
                                         const std::vector<HomeEntry>& b) {
    for (const auto* entries : {&a, &b}) {
        for (const HomeEntry& entry : *entries) {
            if (entry.path.compare(0, 16, ".xsession-errors") == 0 &&
                entry.path.find('/') == std::string::npos) {
                kept.push_back(entry.path);
            }
        }
    }
    return kept;
}

// The folder holding the account's reference copy, when it is root's alone, and the copy's name in it.
Fd open_references(const ResetAccount& account, bool create, std::string& name) {
    const std::size_t slash = account.reference.rfind('/');
    const std::string folder_path = slash == 0 ? std::string("/") : account.reference.substr(0, slash);
    name = account.reference.substr(slash + 1);
    if (slash == std::string::npos || name.empty() || name[0] == '.' ||
        (create && mkdir(folder_path.c_str(), 0700) != 0 && errno != EEXIST)) {
        return Fd();
    }
    Fd folder(open(folder_path.c_str(), folder_flags));
    struct stat seen {};
    if (folder.valid() &&
        (fstat(folder.get(), &seen) != 0 || seen.st_uid != 0 || (seen.st_mode & 022) != 0)) {
        folder.reset();
    }
    return folder;
}

// The home, opened without following a link, when it is still a folder of the account's.
Fd open_home(const ResetAccount& account, dev_t& device) {
    Fd home(open(account.home.c_str(), folder_flags));
    struct stat seen {};
    if (home.valid() && (fstat(home.get(), &seen) != 0 || seen.st_uid != account.uid)) {
        home.reset();
    }
    device = seen.st_dev;
    return home;
}

bool reset_home(const ResetAccount& account, std::int64_t since, ResetClock::time_point deadline,
                ResetReport& report) {
    dev_t home_device = 0;
    Fd home = open_home(account, home_device);
    if (!home.valid()) {
        report.failures.push_back("the home " + account.home + " is not a folder of the account's");
        return false;
    }
    std::string reference_name;
    Fd references = open_references(account, false, reference_name);
    Fd reference =
        references.valid() ? Fd(openat(references.get(), reference_name.c_str(), folder_flags)) : Fd();
    struct stat seen {};
    if (!reference.valid() || fstat(reference.get(), &seen) != 0 || seen.st_uid != 0 ||
        (seen.st_mode & 077) != 0) {
        report.failures.push_back("no reference copy of the home: take one with kalimo-guard --reference " +
                                  account.name);
        return false;
    }
    Listing wanted{seen.st_dev, deadline, nullptr, {}, {}, true};
    list_tree(reference.get(), "", 0, wanted);
    Listing live{home_device, deadline, &wanted.entered, {}, {}, true};
    list_tree(home.get(), "", 0, live);
    if (!wanted.whole || !live.whole) {
        report.failures.push_back("the home could not be listed in time");
        return false;
    }
    const std::vector<std::string> kept = with_error_logs(account.kept, live.entries, wanted.entries);
    bool whole = true;
    for (const HomeAction& action : plan_home_reset(live.entries, wanted.entries, since, kept)) {
        const std::size_t slash = action.path.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : action.path.substr(0, slash);
        const std::string name = action.path.substr(slash == std::string::npos ? 0 : slash + 1);
        Fd live_folder = open_path(home.get(), folder, home_device);
        Fd model_folder =
            action.step == HomeStep::Remove ? Fd() : open_path(reference.get(), folder, seen.st_dev);
        bool done = live_folder.valid() && (action.step == HomeStep::Remove || model_folder.valid());
        if (done && action.step == HomeStep::Remove) {
            done = remove_entry(live_folder.get(), name, home_device, deadline);
            report.removed += done ? 1 : 0;
        } else if (done && action.step == HomeStep::Restore) {
            Copy copy{seen.st_dev, kept, deadline};
            const int depth = static_cast<int>(std::count(action.path.begin(), action.path.end(), '/'));
            done = copy_entry(model_folder.get(), live_folder.get(), name, action.path, depth, copy);
            report.restored += done ? 1 : 0;
        } else if (done) {
            struct stat model {};
            Fd target = open_folder_at(live_folder.get(), name, home_device);
            done = fstatat(model_folder.get(), name.c_str(), &model, AT_SYMLINK_NOFOLLOW) == 0 &&
                   target.valid() && fchown(target.get(), model.st_uid, model.st_gid) == 0 &&
                   fchmod(target.get(), model.st_mode & 07777) == 0;
            report.fixed += done ? 1 : 0;
        }
        if (!done) {
            report.failures.push_back("the home's " + action.path + " could not be put back");
            whole = false;
        }
        if (expired(deadline)) {
            report.failures.push_back("the home was not put back in time");
            return false;
        }
    }
    return whole;
}

// --- The shared temporary folders, cron, at and lingering.

bool reset_shared(const ResetAccount& account, std::int64_t since, bool earlier_boot,
                  ResetClock::time_point deadline, ResetReport& report) {
    bool whole = true;
    // An earlier start of the system emptied /tmp (tmpfiles) and /dev/shm (a tmpfs): what the account
    // has there now is its new desktop's. /var/tmp outlives a start.
    for (const char* path : {"/tmp", "/var/tmp", "/dev/shm"}) {
        if (earlier_boot && std::strcmp(path, "/var/tmp") != 0) {
            continue;
        }
        Fd folder(open(path, folder_flags));
        struct stat seen {};
        if (!folder.valid() || fstat(folder.get(), &seen) != 0) {
            continue;
        }
        std::vector<SharedEntry> entries;
        for (const std::string& name : names_in(folder.get())) {
            struct stat entry {};
            if (fstatat(folder.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
                entries.push_back({name, std::to_string(entry.st_uid), ms_of(entry.st_ctim)});
            }
        }
        for (const std::string& name :
             shared_entries_to_remove(entries, std::to_string(account.uid), since)) {
            if (remove_entry(folder.get(), name, seen.st_dev, deadline)) {
                ++report.shared;
            } else {
                report.failures.push_back(std::string(path) + "/" + name + " could not be removed");
                whole = false;
            }
        }
    }
    // What runs later: the account's crontab, its at jobs, its user manager kept after logout.
    const auto remove_made_since = [&](const char* folder_path, const std::string& only) {
        Fd folder(open(folder_path, folder_flags));
        if (!folder.valid()) {
            return;
        }
        for (const std::string& name :
             only.empty() ? names_in(folder.get()) : std::vector<std::string>{only}) {
            struct stat entry {};
            if (fstatat(folder.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
                (only.empty() && entry.st_uid != account.uid) || ms_of(entry.st_ctim) < since ||
                S_ISDIR(entry.st_mode)) {
                continue;
            }
            if (unlinkat(folder.get(), name.c_str(), 0) == 0) {
                ++report.scheduled;
            } else {
                report.failures.push_back(std::string(folder_path) + "/" + name + " could not be removed");
                whole = false;
            }
        }
    };
    remove_made_since("/var/spool/cron/crontabs", account.name);
    remove_made_since("/var/spool/cron/atjobs", "");
    remove_made_since("/var/lib/systemd/linger", account.name);
    return whole;
}

// --- Processes.

bool read_owner(pid_t pid, uid_t& uid, pid_t& parent) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    bool found = false;
    for (std::string line; std::getline(status, line);) {
        unsigned long value = 0;
        if (std::sscanf(line.c_str(), "PPid: %lu", &value) == 1) {
            parent = static_cast<pid_t>(value);
        } else if (std::sscanf(line.c_str(), "Uid: %lu", &value) == 1) {
            uid = static_cast<uid_t>(value); // the real one: who started it
            found = true;
            break;
        }
    }
    return found;
}

std::string current_boot() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

std::vector<ProcessMark> processes_left(const ResetAccount& account, const ResetOpening& opening,
                                        const std::string& boot) {
    const long ticks = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
    const std::int64_t tick_ms = 1000 / ticks;
    std::vector<ProcessSeen> seen;
    std::map<pid_t, unsigned long long> starts;
    for (pid_t pid : running_pids()) {
        char state = 0;
        unsigned long long start = 0;
        uid_t uid = 0;
        pid_t parent = 0;
        if (!read_stat(pid, state, start) || state == 'Z' || state == 'X' || !read_owner(pid, uid, parent) ||
            uid != account.uid) {
            continue;
        }
        // The asking station's file broker, which it started itself; the station ends without it.
        if (opening.station != 0 && parent == opening.station && runs_program(pid, opening.station_program)) {
            continue;
        }
        seen.push_back({static_cast<std::uint32_t>(pid), std::to_string(uid),
                        static_cast<std::int64_t>(start) * 1000 / ticks});
        starts[pid] = start;
    }
    // The kernel stamps a start in whole ticks: one in the opening's tick counts as after it.
    const SessionScope scope{std::to_string(account.uid), opening.ms - opening.ms % tick_ms, opening.boot,
                             static_cast<std::uint32_t>(opening.station)};
    std::vector<ProcessMark> left;
    for (std::uint32_t pid : processes_to_end(seen, scope, boot)) {
        left.push_back({static_cast<pid_t>(pid), starts[static_cast<pid_t>(pid)]});
    }
    return left;
}

bool end_processes(const ResetAccount& account, const ResetOpening& opening, const std::string& boot,
                   ResetClock::time_point deadline, ResetReport& report) {
    struct Asked {
        unsigned long long start;
        ProcessHandle handle;
        bool killed;
    };
    std::map<pid_t, Asked> asked;
    const auto outright_from = ResetClock::now() + grace;
    for (;;) {
        const std::vector<ProcessMark> left = processes_left(account, opening, boot);
        if (left.empty()) {
            return true;
        }
        if (expired(deadline)) {
            report.failures.push_back(std::to_string(left.size()) + " programs would not end");
            return false;
        }
        const bool outright = ResetClock::now() >= outright_from;
        for (const ProcessMark& process : left) {
            auto known = asked.find(process.pid);
            if (known == asked.end() || known->second.start != process.start_time) {
                ProcessHandle handle(process);
                if (handle.ended()) {
                    continue;
                }
                ++report.ended;
                known =
                    asked.insert_or_assign(process.pid, Asked{process.start_time, std::move(handle), false})
                        .first;
                if (!outright) {
                    known->second.handle.signal(SIGTERM);
                    continue;
                }
            }
            if (outright && !known->second.killed) {
                // Under the v1 freezer a frozen process would not even die.
                move_to_roots(process.pid, frozen_in(process.pid));
                known->second.handle.kill();
                known->second.killed = true;
                ++report.killed;
            }
        }
        std::this_thread::sleep_for(look_again);
    }
}

bool usable_home(const std::string& home, uid_t uid, std::string& why) {
    static const char* const system_folders[] = {
        "/bin",  "/boot", "/dev", "/etc",  "/lib", "/lib32", "/lib64",          "/libx32",
        "/proc", "/root", "/run", "/sbin", "/sys", "/usr",   "/var/lib/kalimo", "/var/lib/kalimo-reference"};
    static const char* const shared_tops[] = {"/",        "/home", "/tmp", "/var", "/var/lib",
                                              "/var/tmp", "/srv",  "/opt", "/mnt", "/media"};
    const bool plain = !home.empty() && home[0] == '/' && home.back() != '/' &&
                       home.find("//") == std::string::npos && home.find("/./") == std::string::npos &&
                       home.find("/../") == std::string::npos &&
                       home.compare(home.size() - 2, 2, "/.") != 0 &&
                       (home.size() < 3 || home.compare(home.size() - 3, 3, "/..") != 0);
    const bool system = std::any_of(std::begin(system_folders), std::end(system_folders),
                                    [&](const char* folder) { return kept_path(home, {folder}); }) ||
                        std::any_of(std::begin(shared_tops), std::end(shared_tops),
                                    [&](const char* folder) { return home == folder; });
    struct stat seen {};
    if (!plain || system) {
        why = "its home (" + home + ") is \"/\" or a system folder";
        return false;
    }
    if (lstat(home.c_str(), &seen) != 0 || !S_ISDIR(seen.st_mode) || seen.st_uid != uid) {
        why = "its home (" + home + ") is not a folder it owns";
        return false;
    }
    return true;
}

bool complete_account(const passwd* entry, const std::vector<std::string>& environment, ResetAccount& account,
                      std::string& why) {
    if (entry == nullptr) {
        why = "no such account";
        return false;
    }
    account.uid = entry->pw_uid;
    account.gid = entry->pw_gid;
    account.name = entry->pw_name;
    account.home = entry->pw_dir != nullptr ? entry->pw_dir : "";
    if (account.uid == 0 || account.name.empty() || account.name.find('/') != std::string::npos ||
        account.name[0] == '.') {
        why = "not an account whose desktop is reset";
        return false;
    }
    account.reference = std::string(reference_folder) + "/" + account.name;
    account.kept = {".Xauthority", ".ICEauthority", ".dbus"};
    for (const std::string& entry_text : environment) {
        for (const char* variable : {"XAUTHORITY=", "ICEAUTHORITY="}) {
            const std::size_t length = std::strlen(variable);
            const std::string top = account.home + "/";
            if (entry_text.compare(0, length, variable) != 0 ||
                entry_text.compare(length, top.size(), top) != 0) {
                continue;
            }
            const std::string inside = entry_text.substr(length + top.size());
            if (!inside.empty() && inside.find("..") == std::string::npos &&
                inside.find("//") == std::string::npos && inside.back() != '/') {
                account.kept.push_back(inside);
            }
        }
    }
    return usable_home(account.home, account.uid, why);
}

} // namespace

std::string ResetReport::text() const {
    std::string out = std::to_string(ended) + " programs ended (" + std::to_string(killed) +
                      " outright); home: " + std::to_string(removed) + " removed, " +
                      std::to_string(restored) + " restored, " + std::to_string(fixed) + " folders fixed; " +
                      std::to_string(shared) + " from the shared temporary folders; " +
                      std::to_string(scheduled) + " scheduled removed";
    for (const std::string& failure : failures) {
        out += "; " + failure;
    }
    return out;
}

bool find_account(uid_t uid, const std::vector<std::string>& environment, ResetAccount& account,
                  std::string& why) {
    return complete_account(getpwuid(uid), environment, account, why);
}

bool find_account(const std::string& name, const std::vector<std::string>& environment, ResetAccount& account,
                  std::string& why) {
    return complete_account(getpwnam(name.c_str()), environment, account, why);
}

bool reset_account(const ResetAccount& account, const ResetOpening& opening, ResetClock::time_point deadline,
                   ResetReport& report) {
    const std::string boot = current_boot();
    const bool earlier_boot = opening.boot.empty() || opening.boot != boot;
    // The opening on the clock of the files' change times; an earlier start's is unknown there, so
    // everything counts as changed.
    const std::int64_t since =
        earlier_boot ? 0
                     : clock_ms(CLOCK_REALTIME) - clock_ms(CLOCK_BOOTTIME) + opening.ms - change_margin_ms;
    // The programs first: they could write again what is being put back.
    bool whole = end_processes(account, opening, boot, deadline, report);
    whole = reset_home(account, since, deadline, report) && whole;
    whole = reset_shared(account, since, earlier_boot, deadline, report) && whole;
    return whole;
}

bool has_reference(const ResetAccount& account) {
    struct stat seen {};
    return lstat(account.reference.c_str(), &seen) == 0 && S_ISDIR(seen.st_mode);
}

bool take_reference(const ResetAccount& account, ResetClock::time_point deadline, int& copied, int& left_out,
                    std::string& why) {
    copied = left_out = 0;
    dev_t device = 0;
    Fd home = open_home(account, device);
    std::string name;
    Fd references = open_references(account, true, name);
    if (!home.valid() || !references.valid()) {
        why = !home.valid() ? "the home is not a folder of the account's"
                            : "the folder of " + account.reference + " is not root's alone";
        return false;
    }
    struct stat seen {};
    fstat(references.get(), &seen);
    const std::string fresh = "." + name + ".new";
    if (!remove_entry(references.get(), fresh, seen.st_dev, deadline) ||
        mkdirat(references.get(), fresh.c_str(), 0700) != 0) {
        why = "the copy could not be made beside " + account.reference;
        return false;
    }
    Fd into(openat(references.get(), fresh.c_str(), folder_flags));
    std::vector<std::string> kept = account.kept;
    for (const std::string& name : names_in(home.get())) {
        if (name.compare(0, 16, ".xsession-errors") == 0) {
            kept.push_back(name);
        }
    }
    Copy copy{device, kept, deadline};
    bool whole = into.valid();
    for (const std::string& name : into.valid() ? names_in(home.get()) : std::vector<std::string>{}) {
        whole = copy_entry(home.get(), into.get(), name, name, 0, copy) && whole;
    }
    copied = copy.copied;
    left_out = copy.left_out;
    // The new copy takes the old one's place at once; the old one then goes.
    if (!whole ||
        (renameat2(references.get(), fresh.c_str(), references.get(), name.c_str(), RENAME_EXCHANGE) != 0 &&
         renameat(references.get(), fresh.c_str(), references.get(), name.c_str()) != 0)) {
        remove_entry(references.get(), fresh, seen.st_dev, ResetClock::now() + std::chrono::minutes(1));
        why = expired(deadline) ? "the home is too large to copy in time"
                                : "the home could not be copied whole";
        return false;
    }
    remove_entry(references.get(), fresh, seen.st_dev, ResetClock::now() + std::chrono::minutes(1));
    return true;
}

bool parse_reset_request(const std::string& text, pid_t& station, std::int64_t& ms, std::string& boot) {
    std::string line = text;
    if (line.size() > 200 || line.empty() || line.back() != '\n') {
        return false;
    }
    line.pop_back();
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    std::istringstream fields(line);
    std::string pid_text, ms_text, tail;
    if (!(fields >> pid_text >> ms_text >> boot) || (fields >> tail) ||
        line != pid_text + " " + ms_text + " " + boot) {
        return false;
    }
    const auto digits = [](const std::string& value, std::size_t most) {
        return !value.empty() && value.size() <= most &&
               std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const bool boot_ok =
        boot.size() <= 64 && std::all_of(boot.begin(), boot.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
        });
    if (!digits(pid_text, 9) || !digits(ms_text, 18) || !boot_ok) {
        return false;
    }
    station = static_cast<pid_t>(std::stol(pid_text));
    ms = std::stoll(ms_text);
    if (boot == "-") {
        boot.clear();
    }
    return station > 1;
}
