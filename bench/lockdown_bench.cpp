// The lock-down tick (kill_shell_processes) against process tables of 100, 1 000 and 10 000 entries
// and against this machine's /proc, beside one bare scan of the same table.
#include "app/lockdown.h"
#include "bench/support/bench_platform.h"
#include "bench/support/bench_report.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// A believable Windows process list: the names a room's station shows, repeated, with one desktop
// shell and one task manager in it (in the letter case Windows reports them).
std::vector<ProcessEntry> process_table(std::size_t entries) {
    static const char* const names[] = {
        "System",       "smss.exe",
        "csrss.exe",    "wininit.exe",
        "services.exe", "lsass.exe",
        "svchost.exe",  "RuntimeBroker.exe",
        "dwm.exe",      "SearchIndexer.exe",
        "spoolsv.exe",  "chrome.exe",
        "firefox.exe",  "WINWORD.EXE",
        "MsMpEng.exe",  "ctfmon.exe",
        "conhost.exe",  "SecurityHealthService.exe",
        "audiodg.exe",  "kalimo.exe",
    };
    std::vector<ProcessEntry> table;
    table.reserve(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        table.push_back(
            ProcessEntry{static_cast<std::uint32_t>(4 + 4 * i), names[i % (sizeof names / sizeof *names)]});
    }
    if (entries >= 2) {
        table[entries / 3].exe_name = "Explorer.EXE";
        table[2 * entries / 3].exe_name = "Taskmgr.exe";
    }
    return table;
}

void BM_lockdown_tick(benchmark::State& state) {
    BenchPlatform system;
    system.processes = process_table(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(kill_shell_processes(system));
    }
    state.SetComplexityN(state.range(0));
    state.counters["snapshots"] =
        benchmark::Counter(static_cast<double>(system.snapshots), benchmark::Counter::kAvgIterations);
    state.counters["ended"] =
        benchmark::Counter(static_cast<double>(system.ended), benchmark::Counter::kAvgIterations);
}

// One snapshot taken and every name looked at once: the least any tick must do.
void BM_bare_scan(benchmark::State& state) {
    BenchPlatform system;
    system.processes = process_table(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        int found = 0;
        for (const ProcessEntry& process : system.process_snapshot()) {
            found += process.exe_name == "explorer.exe" ? 1 : 0;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_lockdown_tick)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bare_scan)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// The system's platform for listing, with ending disarmed: a measurement never ends a process.
class ListingOnly : public Platform {
  public:
    ListingOnly() : system_(make_system_platform()) {}
    std::vector<HardwareAddress> adapter_addresses() override { return {}; }
    bool host_name(std::string&) override { return false; }
    bool first_ipv4_of(const std::string&, std::string&) override { return false; }
    std::vector<ProcessEntry> process_snapshot() override {
        ++snapshots;
        std::vector<ProcessEntry> list = system_->process_snapshot();
        entries = list.size();
        return list;
    }
    bool end_process(std::uint32_t) override { return false; }
    void run_command(const std::string&) override {}
    LocalTime local_time() override { return system_->local_time(); }
    std::int64_t monotonic_ms() override { return system_->monotonic_ms(); }
    bool notification_area_present() override { return system_->notification_area_present(); }
    bool hold_keyboard(void*, std::uintptr_t) override { return true; }
    void release_keyboard(void*) override {}
    bool desktop_lockable() override { return true; }
    std::uintptr_t top_window(void*) override { return 0; }
    GuardAnswer ask_guard(GuardRequest) override { return GuardAnswer::NoGuard; }
    ProcessClock process_clock() override { return system_->process_clock(); }
    ResetProgress ask_reset(const ProcessClock&) override { return ResetProgress::NoGuard; }
    ResetProgress reset_progress() override { return ResetProgress::NoGuard; }
    long snapshots = 0;
    std::size_t entries = 0;

  private:
    std::unique_ptr<Platform> system_;
};

void BM_lockdown_tick_proc(benchmark::State& state) {
    ListingOnly system;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kill_shell_processes(system));
    }
    state.counters["entries"] = static_cast<double>(system.entries);
    state.counters["snapshots"] =
        benchmark::Counter(static_cast<double>(system.snapshots), benchmark::Counter::kAvgIterations);
}

// A bare /proc scan written without the platform: every process directory and its executable's link
// (its short name when the link is hidden).
void BM_bare_scan_proc(benchmark::State& state) {
    std::size_t entries = 0;
    for (auto _ : state) {
        entries = 0;
        DIR* dir = opendir("/proc");
        if (dir == nullptr) {
            state.SkipWithError("no /proc");
            break;
        }
        char path[300];
        char target[4096];
        while (dirent* entry = readdir(dir)) {
            if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
                continue;
            }
            std::snprintf(path, sizeof path, "/proc/%s/exe", entry->d_name);
            ssize_t length = readlink(path, target, sizeof target - 1);
            if (length <= 0) {
                std::snprintf(path, sizeof path, "/proc/%s/comm", entry->d_name);
                const int fd = open(path, O_RDONLY);
                length = fd >= 0 ? read(fd, target, sizeof target - 1) : 0;
                if (fd >= 0) {
                    close(fd);
                }
            }
            if (length > 0) {
                ++entries;
            }
            benchmark::DoNotOptimize(target);
        }
        closedir(dir);
    }
    state.counters["entries"] = static_cast<double>(entries);
}

BENCHMARK(BM_lockdown_tick_proc)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bare_scan_proc)->Unit(benchmark::kMicrosecond);

std::string counter(const Measured* m, const char* name) {
    return m != nullptr && m->counters.count(name) ? fixed(m->counters.at(name), 0) : "";
}

std::string markdown_table(const CollectingReporter& reporter) {
    std::ostringstream out;
    out << "| Process table | Entries | Tick (µs) | Bare scan (µs) | Ratio | Target ≤ 2 | Tick per entry "
           "(ns) | "
           "Snapshots per tick |\n";
    out << "|---|---:|---:|---:|---:|---|---:|---:|\n";
    auto row = [&](const std::string& label, const Measured* tick, const Measured* bare, double entries) {
        if (tick == nullptr || bare == nullptr || tick->error || bare->error) {
            out << "| " << label << " | | not measured | | | | | |\n";
            return;
        }
        const double ratio = tick->seconds / bare->seconds;
        out << "| " << label << " | " << fixed(entries, 0) << " | " << fixed(tick->seconds * 1e6, 1) << " | "
            << fixed(bare->seconds * 1e6, 1) << " | " << fixed(ratio, 2) << " | "
            << (ratio <= 2.0 ? "met" : "**missed**") << " | "
            << (entries > 0 ? fixed(tick->seconds * 1e9 / entries, 1) : "") << " | "
            << counter(tick, "snapshots") << " |\n";
    };
    for (const int n : {100, 1000, 10000}) {
        const std::string arg = "/" + std::to_string(n);
        row("fake", reporter.find("BM_lockdown_tick" + arg), reporter.find("BM_bare_scan" + arg), n);
    }
    const Measured* proc = reporter.find("BM_lockdown_tick_proc");
    row("this machine's /proc", proc, reporter.find("BM_bare_scan_proc"),
        proc != nullptr && proc->counters.count("entries") ? proc->counters.at("entries") : 0);
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
    int code = 0;
    if (!run_benchmarks(reporter)) {
        code = 1;
    }
    if (!write_text(report, markdown_table(reporter))) {
        code = 1;
    }
    benchmark::Shutdown();
    return code;
}
