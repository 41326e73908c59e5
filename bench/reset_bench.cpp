// The desktop's reset after a session, as the Linux guard does it (guard/linux_reset.h, its real
// code): from the end of a session to the account reset. Each iteration plays a session first, not
// timed: an account of no one (a free uid, a home in a temporary folder, its reference copy beside)
// gets a dozen programs started after the opening, two of them deaf to SIGTERM, and its home and the
// shared temporary folders changed. Needs root, as the guard does.
#include "bench/support/bench_report.h"
#include "guard/linux_reset.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int folders = 20;
constexpr int files_per_folder = 15;
constexpr int programs = 12;
// The guard takes a request within one of its polls, the station its answer within one of its own.
constexpr double polls_s = 0.2 + 0.1;

struct Bench {
    ResetAccount account;
    std::string top;
    std::string shared_file;   // in /dev/shm
    std::string shared_folder; // in /tmp
    bool ready = false;
    std::string why;
};

void write_file(const std::string& path, std::size_t bytes, uid_t uid) {
    std::ofstream(path) << std::string(bytes, 'k');
    chown(path.c_str(), uid, uid);
}

// An account of no one: no entry in the password database, no process.
bool uid_in_use(uid_t uid) {
    if (getpwuid(uid) != nullptr) {
        return true;
    }
    DIR* proc = opendir("/proc");
    bool used = false;
    while (proc != nullptr && !used) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr) {
            break;
        }
        struct stat seen {};
        used = entry->d_name[0] >= '1' && entry->d_name[0] <= '9' &&
               stat(("/proc/" + std::string(entry->d_name)).c_str(), &seen) == 0 && seen.st_uid == uid;
    }
    if (proc != nullptr) {
        closedir(proc);
    }
    return used;
}

Bench& bench() {
    static Bench b = [] {
        Bench made;
        if (geteuid() != 0) {
            made.why = "the reset runs as root: run this as root";
            return made;
        }
        uid_t uid = 61000;
        while (uid < 61200 && uid_in_use(uid)) {
            ++uid;
        }
        char pattern[] = "/tmp/kalimo-bench-reset.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            made.why = "no temporary folder";
            return made;
        }
        made.top = pattern;
        chmod(made.top.c_str(), 0755);
        ResetAccount& account = made.account;
        account.uid = uid;
        account.gid = uid;
        account.name = "kalimo-bench-" + std::to_string(uid); // no one's crontab or lingering flag
        account.home = made.top + "/home";
        account.reference = made.top + "/reference/" + account.name;
        account.kept = {".Xauthority"};
        mkdir(account.home.c_str(), 0700);
        chown(account.home.c_str(), uid, uid);
        // A few hundred entries: folders of small files, a link, the session's own authority.
        for (int f = 0; f < folders; ++f) {
            const std::string folder = account.home + "/dossier" + std::to_string(f);
            mkdir(folder.c_str(), 0755);
            chown(folder.c_str(), uid, uid);
            for (int i = 0; i < files_per_folder; ++i) {
                write_file(folder + "/fichier" + std::to_string(i), 512 + 256 * static_cast<std::size_t>(i),
                           uid);
            }
        }
        symlink("dossier0", (account.home + "/lien").c_str());
        lchown((account.home + "/lien").c_str(), uid, uid);
        write_file(account.home + "/.Xauthority", 60, uid);
        mkdir((made.top + "/reference").c_str(), 0700);
        int copied = 0;
        int left_out = 0;
        if (!take_reference(account, ResetClock::now() + std::chrono::seconds(60), copied, left_out,
                            made.why)) {
            return made;
        }
        made.shared_folder = "/tmp/" + std::string(pattern + 5) + "-visitor";
        made.shared_file = "/dev/shm/" + std::string(pattern + 5) + "-visitor";
        made.ready = true;
        return made;
    }();
    return b;
}

std::int64_t boot_ms() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string boot_id() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

// A program of the account's: the benchmark's own child, which waits to be ended (or will not be
// asked: `deaf` ignores SIGTERM).
pid_t start_program(uid_t uid, bool deaf) {
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGTERM, deaf ? SIG_IGN : SIG_DFL);
        if (setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0) {
            _exit(1);
        }
        for (;;) {
            pause();
        }
    }
    return child;
}

// What a visitor leaves: `programs` running (`deaf` of them deaf to SIGTERM) and, when `files`, a
// folder of downloads, changed and removed files, and entries in /tmp and /dev/shm.
std::vector<pid_t> play_session(Bench& b, int count, int deaf, bool files) {
    const ResetAccount& account = b.account;
    std::vector<pid_t> started;
    for (int i = 0; i < count; ++i) {
        started.push_back(start_program(account.uid, i < deaf));
    }
    if (files) {
        const std::string downloads = account.home + "/Telechargements";
        mkdir(downloads.c_str(), 0755);
        chown(downloads.c_str(), account.uid, account.uid);
        for (int i = 0; i < 50; ++i) {
            write_file(downloads + "/piece" + std::to_string(i), 4096, account.uid);
        }
        for (int f = 0; f < 10; ++f) {
            write_file(account.home + "/dossier" + std::to_string(f) + "/fichier0", 100, account.uid);
        }
        unlink((account.home + "/dossier19/fichier14").c_str());
        mkdir(b.shared_folder.c_str(), 0700);
        chown(b.shared_folder.c_str(), account.uid, account.uid);
        write_file(b.shared_folder + "/cache", 1000, account.uid);
        write_file(b.shared_file, 1000, account.uid);
    }
    return started;
}

void BM_reset(benchmark::State& state) {
    Bench& b = bench();
    if (!b.ready) {
        state.SkipWithError(b.why.c_str());
        return;
    }
    const int count = static_cast<int>(state.range(0));
    const int deaf = static_cast<int>(state.range(1));
    const bool files = state.range(2) != 0;
    const std::string boot = boot_id();
    ResetReport last;
    for (auto _ : state) {
        // What the last reset put back changed just now: the next opening comes later than the second
        // the reset allows the files' coarser clock.
        sleep(1);
        usleep(100000);
        const ResetOpening opening{boot_ms(), boot, 0, ""};
        const std::vector<pid_t> started = play_session(b, count, deaf, files);
        const auto began = ResetClock::now();
        ResetReport report;
        const bool done = reset_account(b.account, opening, began + std::chrono::seconds(12), report);
        state.SetIterationTime(std::chrono::duration<double>(ResetClock::now() - began).count());
        for (pid_t pid : started) {
            waitpid(pid, nullptr, 0);
        }
        if (!done || report.ended != count ||
            (files && (report.removed == 0 || report.restored == 0 || report.shared != 2))) {
            state.SkipWithError(("the reset was not whole: " + report.text()).c_str());
            break;
        }
        last = report;
    }
    state.counters["ended"] = last.ended;
    state.counters["outright"] = last.killed;
    state.counters["home"] = last.removed + last.restored + last.fixed;
}

BENCHMARK(BM_reset)
    ->Args({programs, 2, 1})
    ->Args({programs, 0, 1})
    ->Args({0, 0, 0})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

std::string markdown_table(const CollectingReporter& reporter) {
    std::ostringstream out;
    out << "| Session left | Reset (s) | Ready for the next sign-in, at most (s) | Target < 3 s | Programs "
           "ended "
           "(outright) |\n|---|---:|---:|---|---:|\n";
    const auto row = [&](const std::string& label, const std::string& args) {
        const Measured* m = reporter.find("BM_reset/" + args);
        if (m == nullptr || m->error) {
            out << "| " << label << " | not measured | | | |\n";
            return;
        }
        const double ready = m->seconds + polls_s;
        out << "| " << label << " | " << fixed(m->seconds, 3) << " | " << fixed(ready, 3) << " | "
            << (ready < 3 ? "met" : "**missed**") << " | " << fixed(m->counters.at("ended"), 0) << " ("
            << fixed(m->counters.at("outright"), 0) << ") |\n";
    };
    const std::string home = std::to_string(folders * (files_per_folder + 1) + 2) + " entries";
    row("12 programs, 2 of them deaf to SIGTERM; the home (" + home +
            ") with 51 entries added, 10 files changed, 1 removed; a folder in /tmp, a file in /dev/shm",
        "12/2/1");
    row("the same, every program leaving on SIGTERM", "12/0/1");
    row("nothing: no program, the home untouched", "0/0/0");
    return out.str();
}

} // namespace

int main(int argc, char** argv) {
    const std::string report = take_flag(argc, argv, "kalimo_report");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    CollectingReporter reporter;
    int code = run_benchmarks(reporter) ? 0 : 1;
    if (!write_text(report, markdown_table(reporter))) {
        code = 1;
    }
    Bench& b = bench();
    if (!b.top.empty()) {
        std::system(("rm -rf '" + b.top + "' '" + b.shared_folder + "' '" + b.shared_file + "'").c_str());
    }
    benchmark::Shutdown();
    return code;
}
