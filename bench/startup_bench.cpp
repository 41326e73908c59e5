// Start-up of the real station executable under Qt's offscreen platform, from exec to the welcome
// screen's first frame, beside a bare Qt Widgets program that shows one window; and the CPU the
// station uses while it waits on the welcome screen.
//
// Both programs run unmodified. The first frame is seen from outside: the kalimo_first_frame
// library, preloaded, notes the time of the first backing-store flush and ends the process there.
// The peak memory is the child's maximum resident set (wait4).
#include "bench/support/bench_database.h"
#include "bench/support/bench_report.h"
#include "fonction/config_files.h"
#include "fonction/network.h"
#include "platform/platform.h"

#include <benchmark/benchmark.h>
#include <mysql.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#if !defined(KALIMO_STATION_BIN) || !defined(KALIMO_BARE_BIN) || !defined(KALIMO_FIRST_FRAME_LIB)
#error "the build names the programs under measurement"
#endif

extern char** environ;

namespace {

TestDatabase* database = nullptr;
std::string screen_config;
std::string station_screen = "the welcome screen";

long long monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// The environment of the measured program: ours, with the offscreen screen and (when asked) the
// first-frame library.
std::vector<std::string> child_environment(bool first_frame) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0 && std::strncmp(*e, "LD_PRELOAD=", 11) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("QT_QPA_PLATFORM=offscreen:configfile=" + screen_config);
    if (first_frame) {
        env.push_back(std::string("LD_PRELOAD=") + KALIMO_FIRST_FRAME_LIB);
    }
    return env;
}

struct Child {
    pid_t pid = -1;
    int output = -1; // read end of the child's standard error
};

Child spawn(const char* program, bool first_frame, const char* argument = nullptr) {
    std::vector<std::string> env = child_environment(first_frame);
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 2);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
        }
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        execve(program, argv, envp.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    return Child{pid, pipe_fds[0]};
}

struct Launch {
    bool ok = false;
    double seconds = 0; // exec to first frame
    double peak_mib = 0;
    std::string output;
};

// Runs `program` once until its first frame; kills it when no frame comes within 20 s.
Launch first_frame_of(const char* program, const char* argument = nullptr) {
    Launch launch;
    const long long start = monotonic_ns();
    Child child = spawn(program, true, argument);
    if (child.pid < 0) {
        launch.output = "cannot start the program";
        return launch;
    }
    const long long deadline = start + 20LL * 1000000000LL;
    char buffer[4096];
    for (;;) {
        const long long left_ms = (deadline - monotonic_ns()) / 1000000;
        if (left_ms <= 0) {
            kill(child.pid, SIGKILL);
            launch.output += "\n(no frame within 20 s)";
            break;
        }
        pollfd p{child.output, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left_ms)) <= 0) {
            continue;
        }
        const ssize_t n = read(child.output, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        launch.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(child.output);
    int status = 0;
    rusage usage{};
    wait4(child.pid, &status, 0, &usage);
    const std::size_t mark = launch.output.find("kalimo-first-frame ");
    if (mark != std::string::npos && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        const long long frame = std::stoll(launch.output.substr(mark + 19));
        launch.seconds = static_cast<double>(frame - start) / 1e9;
        launch.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
        launch.ok = true;
    }
    return launch;
}

void measure_start_up(benchmark::State& state, const char* program, const char* argument = nullptr) {
    double peak = 0;
    for (auto _ : state) {
        const Launch launch = first_frame_of(program, argument);
        if (!launch.ok) {
            state.SkipWithError(("no first frame: " + launch.output.substr(0, 400)).c_str());
            break;
        }
        state.SetIterationTime(launch.seconds);
        peak = std::max(peak, launch.peak_mib);
    }
    state.counters["peak_MiB"] = peak;
}

void BM_start_up_bare_window(benchmark::State& state) {
    measure_start_up(state, KALIMO_BARE_BIN);
}
void BM_start_up_bare_window_with_text(benchmark::State& state) {
    measure_start_up(state, KALIMO_BARE_BIN, "--text");
}
void BM_start_up_station(benchmark::State& state) {
    measure_start_up(state, KALIMO_STATION_BIN);
}

BENCHMARK(BM_start_up_bare_window)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_start_up_bare_window_with_text)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_start_up_station)->UseManualTime()->Unit(benchmark::kMillisecond);

// How the station's link to the server goes, for the report.
std::string link_kind = "in clear";

long long server_connections() {
    return std::stoll(database->rows("SHOW GLOBAL STATUS LIKE 'Connections'").at(0).at(1));
}

// Processor time (user + system) of a child, in seconds, from /proc.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Idle {
    bool ok = false;
    double seconds = 0;
    double cpu_percent = 0;
    long long beats = 0;
    std::string why;
};

// The station left on its welcome screen: processor time over `seconds` after a settling pause.
Idle idle_station(int seconds) {
    Idle idle;
    Child child = spawn(KALIMO_STATION_BIN, false);
    if (child.pid < 0) {
        idle.why = "cannot start the station";
        return idle;
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string beat_query = "SELECT lastetat_computer FROM tab_computer WHERE nom_computer='Poste-01'";
    const std::string beat_before = database->scalar(beat_query);
    const double cpu_before = cpu_seconds(child.pid);
    const long long start = monotonic_ns();
    const long long connections_before = server_connections();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu_after = cpu_seconds(child.pid);
    const long long elapsed = monotonic_ns() - start;
    idle.beats = server_connections() - connections_before;
    const std::string beat_after = database->scalar(beat_query);
    kill(child.pid, SIGTERM);
    close(child.output);
    int status = 0;
    waitpid(child.pid, &status, 0);
    if (cpu_before < 0 || cpu_after < 0) {
        idle.why = "the station ended early";
        return idle;
    }
    if (seconds >= 6 && beat_after == beat_before) {
        idle.why = "the station sent no heartbeat";
        return idle;
    }
    idle.seconds = static_cast<double>(elapsed) / 1e9;
    idle.cpu_percent = 100.0 * (cpu_after - cpu_before) / idle.seconds;
    idle.ok = true;
    return idle;
}

std::string markdown(const CollectingReporter& reporter, const Idle& idle, long long connections_to_frame) {
    std::ostringstream out;
    const Measured* bare = reporter.find("BM_start_up_bare_window");
    const Measured* station = reporter.find("BM_start_up_station");
    out << "| Program (offscreen, 1920x1080) | Exec to first frame (ms) | Peak memory (MiB) "
           "|\n|---|---:|---:|\n";
    auto row = [&](const char* label, const Measured* m) {
        if (m == nullptr || m->error) {
            out << "| " << label << " | not measured | |\n";
            return;
        }
        out << "| " << label << " | " << fixed(m->seconds * 1e3, 1) << " | "
            << fixed(m->counters.count("peak_MiB") ? m->counters.at("peak_MiB") : 0, 1) << " |\n";
    };
    const Measured* text = reporter.find("BM_start_up_bare_window_with_text");
    row("bare Qt Widgets program, one window", bare);
    row("the same with one line of text", text);
    row(("kalimo, " + station_screen).c_str(), station);
    if (bare != nullptr && station != nullptr && !bare->error && !station->error) {
        const double extra_ms = (station->seconds - bare->seconds) * 1e3;
        const double peak = station->counters.count("peak_MiB") ? station->counters.at("peak_MiB") : 0;
        out << "\nThe station takes **" << fixed(extra_ms, 1)
            << " ms** more than the bare program (target ≤ 15 ms: " << (extra_ms <= 15 ? "met" : "**missed**")
            << "); its peak memory is **" << fixed(peak, 1)
            << " MiB** (target ≤ 40 MiB: " << (peak <= 40 ? "met" : "**missed**") << ").";
        if (text != nullptr && !text->error) {
            out << " Beside the bare window with one line of text it takes "
                << fixed((station->seconds - text->seconds) * 1e3, 1) << " ms more.";
        }
        if (connections_to_frame >= 0) {
            out << " It opened " << connections_to_frame << " database connection"
                << (connections_to_frame == 1 ? "" : "s") << " before its first frame.";
        }
        out << "\n";
    }
    if (idle.ok) {
        out << "\nIdle on " << station_screen << " for " << fixed(idle.seconds, 0) << " s: **"
            << fixed(idle.cpu_percent, 2)
            << " % of one core** (target < 1 %: " << (idle.cpu_percent < 1.0 ? "met" : "**missed**")
            << "), its link to the server " << link_kind << "; " << idle.beats << " new server connection"
            << (idle.beats == 1 ? "" : "s")
            << " in that time (the heartbeat every 5 s, on the worker's kept "
               "connection).\n";
    } else if (!idle.why.empty()) {
        out << "\nIdle measurement failed: " << idle.why << "\n";
    }
    return out.str();
}

} // namespace

int main(int argc, char** argv) {
    const std::string report = take_flag(argc, argv, "kalimo_report");
    const int idle_seconds = std::stoi(take_flag(argc, argv, "kalimo_idle_seconds", "0"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    mysql_library_init(0, nullptr, nullptr);
    int code = 0;
    try {
        WorkingFolder folder;
        TestDatabase db;
        load_demo_room(db);
        database = &db;
        db.write_database_file();
        // With the server's authority, as a room running TLS gives it to its stations.
        const std::string authority = server_authority();
        if (!authority.empty()) {
            folder.write_file(server_authority_file_name, authority);
            link_kind = "TLS, the server verified against its authority";
        }
        screen_config = folder.path() + "/screen.json";
        folder.write_file(
            "screen.json",
            R"({"screens":[{"name":"s0","x":0,"y":0,"width":1920,"height":1080,"logicalDpi":96}]})");
        // The demo station Poste-01 claims this computer's first adapter, as scripts/demo does.
        const std::vector<HardwareAddress> adapters = make_system_platform()->adapter_addresses();
        if (adapters.empty()) {
            station_screen = "set-up screen (this machine has no network adapter to identify it)";
        } else {
            const std::string mac = format_mac(adapters.front());
            db.exec("UPDATE tab_computer SET adresse_mac_computer=" + sql_quoted(mac) +
                    " WHERE nom_computer='Poste-01'");
            folder.write_file("Configuration_Poste_MAC.init", mac);
        }
        long long connections_to_frame = -1;
        {
            const long long before = server_connections();
            const Launch once = first_frame_of(KALIMO_STATION_BIN);
            if (!once.ok) {
                std::fprintf(stderr, "the station showed no frame:\n%s\n", once.output.c_str());
                code = 1;
            }
            connections_to_frame = server_connections() - before;
        }
        CollectingReporter reporter;
        if (!run_benchmarks(reporter)) {
            code = 1;
        }
        Idle idle;
        if (idle_seconds > 0) {
            idle = idle_station(idle_seconds);
            if (!idle.ok) {
                std::fprintf(stderr, "idle measurement: %s\n", idle.why.c_str());
                code = 1;
            } else {
                std::printf("idle %.0f s: %.2f %% of one core\n", idle.seconds, idle.cpu_percent);
            }
        }
        unlink(screen_config.c_str());
        if (!write_text(report, markdown(reporter, idle, connections_to_frame))) {
            code = 1;
        }
        database = nullptr;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kalimo_bench_startup: %s\n", error.what());
        code = 1;
    }
    benchmark::Shutdown();
    mysql_library_end();
    return code;
}
