// The program's database operations as the station runs them, on a link kept open across operations
// (the worker's), in clear and with TLS on the same server, beside one connection per operation; and
// the pieces a connection costs the station and the server, in clear, with TLS and the server's
// authority, and with TLS and no authority. The station's and the server's processor time are read
// from the system around each benchmark's loop.
#include "bench/support/bench_database.h"
#include "bench/support/bench_platform.h"
#include "bench/support/bench_report.h"
#include "bench/support/client_hooks.h"
#include "fonction/config_files.h"
#include "fonction/db_link.h"
#include "fonction/registration_queries.h"
#include "fonction/session_queries.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"

#include <QStringList>
#include <benchmark/benchmark.h>
#include <mysql.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TestDatabase* database = nullptr;
ServerAccess server;
// The server's authority (KALIMO_TEST_DB_AUTHORITY), empty when the server offers no TLS.
std::string authority;
std::string server_pid;

constexpr const char* station_mac = "02-00-00-00-00-01"; // Poste-01 of the demo room
constexpr int station_id = 1;
constexpr int visitor_id = 1; // mdurand / soleil
constexpr const char* visitor_login = "mdurand";
int polled_resa = 0;  // an open session row, polled
int closing_resa = 0; // a session row, closed again and again

// How a benchmark's link reaches the server.
enum Mode : int {
    KeptClear,    // kept open across operations, in clear (the worker's links, a server without TLS)
    KeptTls,      // the same with TLS, verified against the server's authority
    FreshClear,   // one connection per operation, in clear
    FreshTls,     // one connection per operation, TLS with the authority
    FreshTlsBare, // one connection per operation, TLS without an authority file
};
const char* const mode_names[] = {"kept, clear", "kept, TLS", "per operation, clear",
                                  "per operation, TLS with the authority",
                                  "per operation, TLS without an authority"};
bool kept(int mode) {
    return mode == KeptClear || mode == KeptTls;
}
bool clear(int mode) {
    return mode == KeptClear || mode == FreshClear;
}

// Sets the connections up for a mode for the benchmark's life: in clear or not, the authority file
// beside the database file or not.
class LinkMode {
  public:
    LinkMode(benchmark::State& state, int mode) : mode_(mode) {
        client_hooks::connect_in_clear(clear(mode));
        std::remove(server_authority_file_name);
        if (!clear(mode) && authority.empty()) {
            state.SkipWithError("the server offers no TLS (no KALIMO_TEST_DB_AUTHORITY)");
            usable_ = false;
        } else if (mode == KeptTls || mode == FreshTls) {
            std::ofstream(server_authority_file_name, std::ios::binary) << authority;
        }
    }
    ~LinkMode() {
        client_hooks::connect_in_clear(false);
        std::remove(server_authority_file_name);
    }
    LinkMode(const LinkMode&) = delete;
    LinkMode& operator=(const LinkMode&) = delete;
    bool usable() const { return usable_; }
    int mode() const { return mode_; }

  private:
    int mode_;
    bool usable_ = true;
};

// Processor seconds of this process, and of the server's (from /proc; 0 when unknown).
double station_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
double server_cpu_seconds() {
    std::ifstream in("/proc/" + server_pid + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    if (server_pid.empty() || end == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// What the client library and both processes did during one benchmark's loop, per iteration.
class LoopCounters {
  public:
    LoopCounters()
        : calls_(client_hooks::totals()), station_(station_cpu_seconds()), server_(server_cpu_seconds()) {}
    void report(benchmark::State& state) const {
        const client_hooks::Counts now = client_hooks::totals();
        const auto per_iteration = [](double value) {
            return benchmark::Counter(value, benchmark::Counter::kAvgIterations);
        };
        state.counters["connections"] = per_iteration(static_cast<double>(now.connects - calls_.connects));
        state.counters["statements"] = per_iteration(static_cast<double>(now.queries - calls_.queries));
        state.counters["station_cpu"] = per_iteration(station_cpu_seconds() - station_);
        state.counters["server_cpu"] = per_iteration(server_cpu_seconds() - server_);
        if (now.connect_failures != calls_.connect_failures || now.query_failures != calls_.query_failures) {
            state.SkipWithError("the server refused a connection or a statement");
        }
    }

  private:
    client_hooks::Counts calls_;
    double station_;
    double server_;
};

// One operation, again and again on one link in the benchmark's mode; `operation` says whether it
// came out right. Once untimed first: a kept link's connection is made there, as at a station's start.
template <typename Operation> void measure(benchmark::State& state, int mode, Operation operation) {
    const LinkMode link_mode(state, mode);
    if (!link_mode.usable()) {
        return;
    }
    DbLink link;
    link.keep_open = kept(mode);
    if (!operation(link)) {
        state.SkipWithError("the operation did not come out right");
        drop_link(link);
        return;
    }
    const LoopCounters counters;
    for (auto _ : state) {
        if (!operation(link)) {
            state.SkipWithError("the operation did not come out right");
            break;
        }
    }
    counters.report(state);
    drop_link(link);
}

// The raw client cycle (mysql_init, mysql_real_connect, SELECT 1, store, fetch, free, mysql_close)
// in the mode's clear or TLS, with or without the authority.
void BM_connection_cycle(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const LinkMode link_mode(state, mode);
    if (!link_mode.usable()) {
        return;
    }
    const std::string name = database->name();
    const LoopCounters counters;
    for (auto _ : state) {
        MYSQL* handle = mysql_init(nullptr);
        mysql_ssl_set(handle, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (mode == FreshTls) {
            const my_bool verify = 1;
            mysql_options(handle, MYSQL_OPT_SSL_CA, server_authority_file_name);
            mysql_options(handle, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
        }
        // Port 0, as the station: the library takes MYSQL_TCP_PORT.
        if (mysql_real_connect(handle, server.host.c_str(), server.station_user.c_str(),
                               server.station_password.c_str(), name.c_str(), 0, nullptr, 0) == nullptr ||
            mysql_real_query(handle, "SELECT 1", 8) != 0) {
            state.SkipWithError(mysql_error(handle));
            mysql_close(handle);
            break;
        }
        if (MYSQL_RES* result = mysql_store_result(handle)) {
            benchmark::DoNotOptimize(mysql_fetch_row(result));
            mysql_free_result(result);
        }
        mysql_close(handle);
    }
    counters.report(state);
}

// One more statement on a connection already open (SELECT 1 round trip), in clear or with TLS.
void BM_statement_on_open_connection(benchmark::State& state) {
    measure(state, static_cast<int>(state.range(0)), [first = true](DbLink& link) mutable {
        // Opened once, before the loop; the loop sends statements on it.
        if (first) {
            int status = 1;
            open_link(link, status);
            first = false;
            return status == 0;
        }
        return run(link, "SELECT 1", {}) && store_result(link) && fetch_row(link) == Fetch::Row &&
               (free_result(link), true);
    });
}

// What using a kept connection again costs an operation: both files read anew and the check that
// the server still answers on it (open_link + close_link, no statement).
void BM_kept_link_reuse(benchmark::State& state) {
    measure(state, static_cast<int>(state.range(0)), [](DbLink& link) {
        int status = 1;
        open_link(link, status);
        close_link(link);
        return status == 0;
    });
}

// The database file and the authority file alone, as open_link reads them before every operation.
void BM_read_files(benchmark::State& state) {
    const LinkMode link_mode(state, KeptTls);
    for (auto _ : state) {
        FixedText<255> name;
        FixedText<255> host;
        FixedText<70> user;
        FixedText<70> password;
        int status = 0;
        read_database_file(name, host, user, password, status);
        std::string bytes;
        if (status != 1 || (!authority.empty() && read_server_authority(bytes) != AuthorityFile::Read)) {
            state.SkipWithError("the files were not read");
            break;
        }
        benchmark::DoNotOptimize(bytes);
    }
}

void BM_poll_session_status(benchmark::State& state) {
    measure(state, static_cast<int>(state.range(0)), [](DbLink& link) {
        int polled = -1;
        poll_session_status(link, 2, polled_resa, polled);
        return polled == 0;
    });
}

BenchPlatform* bench_platform = nullptr;

void BM_report_station_alive(benchmark::State& state) {
    // Five seconds later at every beat, as the heartbeat timer sees it: each update changes the row.
    bench_platform->clock_step_seconds = 5;
    measure(state, static_cast<int>(state.range(0)),
            [](DbLink& link) { return report_station_alive(link, station_id); });
    bench_platform->clock_step_seconds = 0;
}

// The sign-in's queries: the account and its open sessions, then the day's credit.
void BM_sign_in(benchmark::State& state) {
    const std::string digest = password_digest("soleil");
    measure(state, static_cast<int>(state.range(0)), [&digest](DbLink& link) {
        int id_user = 0;
        int status_user = 0;
        int outcome = 0;
        int credit = -1;
        lookup_account(link, visitor_login, digest.c_str(), id_user, status_user, outcome);
        compute_credit(link, id_user, credit);
        return outcome == 1 && id_user == visitor_id && credit > 0;
    });
}

void BM_open_session_row(benchmark::State& state) {
    measure(state, static_cast<int>(state.range(0)), [](DbLink& link) {
        int id_resa = 0;
        open_session_row(link, station_id, 3, 90, id_resa);
        return id_resa != 0;
    });
}

void BM_close_session_row(benchmark::State& state) {
    int minutes = 0;
    // A new duration each time, so that the server really changes the row.
    measure(state, static_cast<int>(state.range(0)),
            [&minutes](DbLink& link) { return close_session_row(link, ++minutes % 600, 1, closing_resa); });
}

// start_station's chain from the station's MAC to the welcome screen's message.
void BM_identification_chain(benchmark::State& state) {
    measure(state, static_cast<int>(state.range(0)), [](DbLink& link) {
        int setup_required = 0;
        int id_computer = 0;
        int usage = 0;
        int visible = 0;
        FixedText<100> name;
        FixedText<1000> space;
        SpaceSettings settings;
        std::string message;
        find_computer_by_mac(link, station_mac, id_computer, setup_required);
        if (setup_required == 0) {
            read_computer_name(link, id_computer, name, setup_required);
        }
        if (setup_required == 0) {
            read_space_name(link, name.c_str(), space, setup_required);
        }
        if (setup_required == 0) {
            read_space_settings(link, space.c_str(), settings);
            read_computer_usage(link, id_computer, usage, setup_required);
        }
        if (setup_required == 0 && usage == 1) {
            message = load_space_message(link, space.c_str(), visible);
        }
        benchmark::DoNotOptimize(message);
        return setup_required == 0 && usage == 1 && visible == 1 && settings.config_menu_logiciel == 1;
    });
}

// The registration screen's town list, read whole on one connection; each name converted for the list.
void BM_city_list(benchmark::State& state) {
    const int towns = static_cast<int>(state.range(0));
    if (!set_town_count(*database, towns)) {
        state.SkipWithError("the towns could not be written");
        return;
    }
    std::vector<std::string> read;
    measure(state, static_cast<int>(state.range(1)), [&read, towns](DbLink& link) {
        QStringList names;
        read_city_names(link, read);
        for (const std::string& name : read) {
            names.append(from_cp1252(name));
        }
        return names.size() == towns && names.back() == QStringLiteral("Autres");
    });
}

void operation_modes(benchmark::internal::Benchmark* b) {
    b->Arg(KeptClear)->Arg(KeptTls)->Arg(FreshClear)->UseRealTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_connection_cycle)
    ->Arg(FreshClear)
    ->Arg(FreshTls)
    ->Arg(FreshTlsBare)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_statement_on_open_connection)
    ->Arg(KeptClear)
    ->Arg(KeptTls)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_kept_link_reuse)->Arg(KeptClear)->Arg(KeptTls)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_read_files)->UseRealTime()->Unit(benchmark::kMicrosecond);
// The status poll and the heartbeat also with TLS a connection each: what a station paid before.
BENCHMARK(BM_poll_session_status)->Apply(operation_modes)->Arg(FreshTls)->Arg(FreshTlsBare);
BENCHMARK(BM_report_station_alive)->Apply(operation_modes)->Arg(FreshTls)->Arg(FreshTlsBare);
BENCHMARK(BM_sign_in)->Apply(operation_modes);
BENCHMARK(BM_open_session_row)->Apply(operation_modes);
BENCHMARK(BM_close_session_row)->Apply(operation_modes);
BENCHMARK(BM_identification_chain)->Apply(operation_modes);
BENCHMARK(BM_city_list)
    ->ArgsProduct({{30, 3000}, {KeptClear, KeptTls, FreshClear}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void prepare_rows() {
    const std::string today = local_date_text(platform().local_time());
    // The visitor's earlier sessions of today: two closed, one closed by staff (counted in the credit).
    database->exec("INSERT INTO tab_resa VALUES (NULL, '1', '1', '" + today + "', '540', '20', '" + today +
                   "', '1'), (NULL, '1', '1', '" + today + "', '600', '15', '" + today +
                   "', '1'), (NULL, '1', '1', '" + today + "', '660', '10', '" + today + "', '2')");
    database->exec("INSERT INTO tab_resa VALUES (NULL, '2', '2', '" + today + "', '600', '90', '" + today +
                   "', '0')");
    polled_resa = std::stoi(database->scalar("SELECT MAX(id_resa) FROM tab_resa"));
    database->exec("INSERT INTO tab_resa VALUES (NULL, '2', '4', '" + today + "', '600', '90', '" + today +
                   "', '0')");
    closing_resa = std::stoi(database->scalar("SELECT MAX(id_resa) FROM tab_resa"));
}

double counter(const Measured* m, const char* name) {
    return m != nullptr && m->counters.count(name) ? m->counters.at(name) : 0;
}

std::string microseconds(const Measured* m, const char* what = nullptr) {
    if (m == nullptr || m->error) {
        return "not measured";
    }
    return fixed((what == nullptr ? m->seconds : counter(m, what)) * 1e6, 1);
}

std::string markdown_table(const CollectingReporter& reporter) {
    const auto find = [&reporter](const std::string& name, int mode) {
        const Measured* m = reporter.find(name + "/" + std::to_string(mode));
        return m != nullptr && !m->error ? m : nullptr;
    };
    std::ostringstream out;
    out << "| Operation | Statements | Connections | Time, per operation in clear (µs) | Time, kept in clear "
           "(µs) | "
           "Time, kept with TLS (µs) | Ratio | Station CPU, kept in clear (µs) | Station CPU, kept with TLS "
           "(µs) "
           "| Ratio | Server CPU, kept in clear / with TLS (µs) | Target: both ratios ≤ 1.15 |\n";
    out << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n";
    struct Operation {
        std::string benchmark;
        const char* label;
        bool judged;
    };
    const Operation operations[] = {
        {"BM_poll_session_status", "`poll_session_status`", true},
        {"BM_report_station_alive", "`report_station_alive`", true},
        {"BM_sign_in", "sign-in: `lookup_account` + `compute_credit`", false},
        {"BM_open_session_row", "`open_session_row`", false},
        {"BM_close_session_row", "`close_session_row`", false},
        {"BM_identification_chain", "identification chain of the start-up with `load_space_message`", false},
        {"BM_city_list/30", "town list, 30 towns: `read_city_names`", false},
        {"BM_city_list/3000", "town list, 3 000 towns: `read_city_names`", false},
    };
    for (const Operation& operation : operations) {
        const Measured* clear_kept = find(operation.benchmark, KeptClear);
        const Measured* tls_kept = find(operation.benchmark, KeptTls);
        const Measured* fresh = find(operation.benchmark, FreshClear);
        if (clear_kept == nullptr || tls_kept == nullptr) {
            out << "| " << operation.label << " | | | not measured | | | | | | | | |\n";
            continue;
        }
        const double time_ratio = tls_kept->seconds / clear_kept->seconds;
        const double cpu_ratio = counter(tls_kept, "station_cpu") / counter(clear_kept, "station_cpu");
        std::string target;
        if (operation.judged) {
            target = time_ratio <= 1.15 && cpu_ratio <= 1.15 ? "met" : "**missed**";
        }
        out << "| " << operation.label << " | " << fixed(counter(tls_kept, "statements"), 0) << " | "
            << fixed(counter(tls_kept, "connections"), 3) << " | " << microseconds(fresh) << " | "
            << microseconds(clear_kept) << " | " << microseconds(tls_kept) << " | " << fixed(time_ratio, 2)
            << " | " << microseconds(clear_kept, "station_cpu") << " | "
            << microseconds(tls_kept, "station_cpu") << " | " << fixed(cpu_ratio, 2) << " | "
            << microseconds(clear_kept, "server_cpu") << " / " << microseconds(tls_kept, "server_cpu")
            << " | " << target << " |\n";
    }
    out << "\nA connection per operation, the status poll and the heartbeat (same run):\n\n";
    out << "| Operation | Link | Time (µs) | Station CPU (µs) | Server CPU (µs) "
           "|\n|---|---|---:|---:|---:|\n";
    for (const char* name : {"BM_poll_session_status", "BM_report_station_alive"}) {
        for (const int mode : {FreshClear, FreshTls, FreshTlsBare}) {
            const Measured* m = find(name, mode);
            out << "| `" << (name + 3) << "` | " << mode_names[mode] << " | " << microseconds(m) << " | "
                << microseconds(m, "station_cpu") << " | " << microseconds(m, "server_cpu") << " |\n";
        }
    }
    out << "\nWhere the time goes (same run):\n\n";
    out << "| Piece | Link | Time (µs) | Station CPU (µs) | Server CPU (µs) |\n|---|---|---:|---:|---:|\n";
    const struct {
        const char* benchmark;
        int mode;
        const char* label;
    } pieces[] = {
        {"BM_connection_cycle", FreshClear,
         "a connection: connect, `SELECT 1`, close (the raw client cycle)"},
        {"BM_connection_cycle", FreshTls, "the same"},
        {"BM_connection_cycle", FreshTlsBare, "the same"},
        {"BM_statement_on_open_connection", KeptClear, "one statement on an open connection (`SELECT 1`)"},
        {"BM_statement_on_open_connection", KeptTls, "the same"},
        {"BM_kept_link_reuse", KeptClear,
         "a kept link used again: both files read, `DO 0` answered (`open_link` + `close_link`)"},
        {"BM_kept_link_reuse", KeptTls, "the same"},
    };
    for (const auto& piece : pieces) {
        const Measured* m = find(piece.benchmark, piece.mode);
        out << "| " << piece.label << " | " << mode_names[piece.mode] << " | " << microseconds(m) << " | "
            << microseconds(m, "station_cpu") << " | " << microseconds(m, "server_cpu") << " |\n";
    }
    const Measured* files = reporter.find("BM_read_files");
    out << "| reading the database file and the authority file | | "
        << (files != nullptr && !files->error ? fixed(files->seconds * 1e6, 1) : "not measured")
        << " | | |\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv) {
    const std::string report = take_flag(argc, argv, "kalimo_report");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    mysql_library_init(0, nullptr, nullptr);
    int code = 0;
    try {
        BenchPlatform system;
        bench_platform = &system;
        server = ServerAccess::from_environment();
        authority = server_authority();
        server_pid = std::getenv("KALIMO_DB_PID") != nullptr ? std::getenv("KALIMO_DB_PID") : "";
        WorkingFolder folder;
        TestDatabase db;
        load_demo_room(db);
        database = &db;
        db.write_database_file();
        prepare_rows();
        CollectingReporter reporter;
        if (!run_benchmarks(reporter)) {
            code = 1;
        }
        if (!write_text(report, markdown_table(reporter))) {
            std::fprintf(stderr, "cannot write %s\n", report.c_str());
            code = 1;
        }
        database = nullptr;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kalimo_bench_operations: %s\n", error.what());
        code = 1;
    }
    benchmark::Shutdown();
    mysql_library_end();
    return code;
}
