// The program's database operations beside the client library's floor: one raw connect / SELECT 1 /
// close cycle over TCP loopback. Every operation opens its own connections through open_link, so
// its cost is compared with the floor times the connections it opened (counted at the library).
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
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TestDatabase* database = nullptr;
ServerAccess server;

constexpr const char* station_mac = "02-00-00-00-00-01"; // Poste-01 of the demo room
constexpr int station_id = 1;
constexpr int visitor_id = 1; // mdurand / soleil
constexpr const char* visitor_login = "mdurand";
int polled_resa = 0;  // an open session row, polled
int closing_resa = 0; // a session row, closed again and again
constexpr int city_count = 30;

// Counts the connections and statements the client library saw during one benchmark's loop.
class LibraryCalls {
  public:
    LibraryCalls() : start_(client_hooks::totals()) {}
    void report(benchmark::State& state) const {
        const client_hooks::Counts now = client_hooks::totals();
        state.counters["connections"] = benchmark::Counter(
            static_cast<double>(now.connects - start_.connects), benchmark::Counter::kAvgIterations);
        state.counters["statements"] = benchmark::Counter(static_cast<double>(now.queries - start_.queries),
                                                          benchmark::Counter::kAvgIterations);
        if (now.connect_failures != start_.connect_failures || now.query_failures != start_.query_failures) {
            state.SkipWithError("the server refused a connection or a statement");
        }
    }

  private:
    client_hooks::Counts start_;
};

// The cycle with any statement; with `station_options`, the options open_link sets on every handle
// and, before the statement, the session statement a writing operation sends first.
void raw_cycle(benchmark::State& state, bool station_options, const std::string& statement = "SELECT 1") {
    const std::string name = database->name();
    for (auto _ : state) {
        MYSQL* handle = mysql_init(nullptr);
        if (station_options) {
            const unsigned int connect_timeout = connect_timeout_seconds;
            const unsigned int io_timeout = read_write_timeout_seconds;
            mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
            mysql_options(handle, MYSQL_OPT_READ_TIMEOUT, &io_timeout);
            mysql_options(handle, MYSQL_OPT_WRITE_TIMEOUT, &io_timeout);
            mysql_options(handle, MYSQL_SET_CHARSET_NAME, "latin1");
        }
        // Port 0, as the station: the library takes MYSQL_TCP_PORT.
        if (mysql_real_connect(handle, server.host.c_str(), server.station_user.c_str(),
                               server.station_password.c_str(), name.c_str(), 0, nullptr, 0) == nullptr ||
            (station_options && mysql_real_query(handle, "SET SESSION sql_mode=''", 23) != 0) ||
            mysql_real_query(handle, statement.c_str(), statement.size()) != 0) {
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
}

// The floor: mysql_init, mysql_real_connect, SELECT 1, store, fetch, free, mysql_close.
void BM_floor(benchmark::State& state) {
    const LibraryCalls calls;
    raw_cycle(state, false);
    calls.report(state);
}

// The same cycle with open_link's options and the session statement that writing operations send.
void BM_floor_with_session_statement(benchmark::State& state) {
    const LibraryCalls calls;
    raw_cycle(state, true);
    calls.report(state);
}

// The raw cycle with a one-row UPDATE that changes the row: the floor of any write, the server's
// commit (and its log flush) included. The new value does not read the old one: the stations'
// account may write that column, not read it.
void BM_floor_with_update(benchmark::State& state) {
    const LibraryCalls calls;
    raw_cycle(state, false,
              "UPDATE tab_computer SET lastetat_computer=FLOOR(RAND()*86400) WHERE id_computer=2");
    calls.report(state);
}

// The raw cycle with the poll's own statement in place of SELECT 1: what the server's table access adds.
void BM_floor_with_poll_statement(benchmark::State& state) {
    const LibraryCalls calls;
    raw_cycle(state, false,
              "SELECT `status_resa` FROM `tab_resa` WHERE `id_user_resa`= '2' AND `id_resa`='" +
                  std::to_string(polled_resa) + "';");
    calls.report(state);
}

// open_link (database file read anew, options, connect), SELECT 1, close_link.
void BM_open_link_select_1(benchmark::State& state) {
    const LibraryCalls calls;
    DbLink link;
    for (auto _ : state) {
        int status = 1;
        open_link(link, status);
        if (status != 0 || !run(link, "SELECT 1", {}) || !store_result(link) ||
            fetch_row(link) != Fetch::Row) {
            close_link(link);
            state.SkipWithError("open_link failed");
            break;
        }
        close_link(link);
    }
    calls.report(state);
}

// One more statement on a connection already open: what each statement after the first costs.
void BM_statement_on_open_connection(benchmark::State& state) {
    MYSQL* handle = mysql_init(nullptr);
    if (mysql_real_connect(handle, server.host.c_str(), server.station_user.c_str(),
                           server.station_password.c_str(), database->name().c_str(), 0, nullptr,
                           0) == nullptr) {
        state.SkipWithError(mysql_error(handle));
        mysql_close(handle);
        return;
    }
    const LibraryCalls calls;
    for (auto _ : state) {
        if (mysql_real_query(handle, "SELECT 1", 8) != 0) {
            state.SkipWithError(mysql_error(handle));
            break;
        }
        MYSQL_RES* result = mysql_store_result(handle);
        benchmark::DoNotOptimize(mysql_fetch_row(result));
        mysql_free_result(result);
    }
    calls.report(state);
    mysql_close(handle);
}

// The database file alone, as open_link reads it before every connection.
void BM_read_database_file(benchmark::State& state) {
    for (auto _ : state) {
        FixedText<255> name;
        FixedText<255> host;
        FixedText<70> user;
        FixedText<70> password;
        int status = 0;
        read_database_file(name, host, user, password, status);
        if (status != 1) {
            state.SkipWithError("no database file");
            break;
        }
        benchmark::DoNotOptimize(name);
    }
}

void BM_poll_session_status(benchmark::State& state) {
    const LibraryCalls calls;
    DbLink link;
    for (auto _ : state) {
        int polled = -1;
        poll_session_status(link, 2, polled_resa, polled);
        if (polled != 0) {
            state.SkipWithError("the open session row was not read");
            break;
        }
    }
    calls.report(state);
}

BenchPlatform* bench_platform = nullptr;

void BM_report_station_alive(benchmark::State& state) {
    const LibraryCalls calls;
    DbLink link;
    // Five seconds later at every beat, as the heartbeat timer sees it: each update changes the row.
    bench_platform->clock_step_seconds = 5;
    for (auto _ : state) {
        report_station_alive(link, station_id);
    }
    bench_platform->clock_step_seconds = 0;
    calls.report(state);
}

// The sign-in's queries: the account and its open sessions, then the day's credit.
void BM_sign_in(benchmark::State& state) {
    const LibraryCalls calls;
    DbLink link;
    const std::string digest = password_digest("soleil");
    for (auto _ : state) {
        int id_user = 0;
        int status_user = 0;
        int outcome = 0;
        int credit = -1;
        lookup_account(link, visitor_login, digest.c_str(), id_user, status_user, outcome);
        compute_credit(link, id_user, credit);
        if (outcome != 1 || id_user != visitor_id || credit < 0) {
            state.SkipWithError("the sign-in did not find the account");
            break;
        }
    }
    calls.report(state);
}

void BM_open_session_row(benchmark::State& state) {
    const LibraryCalls calls;
    DbLink link;
    for (auto _ : state) {
        int id_resa = 0;
        open_session_row(link, station_id, 3, 90, id_resa);
        if (id_resa == 0) {
            state.SkipWithError("no session row was written");
            break;
        }
    }
    calls.report(state);
}

void BM_close_session_row(benchmark::State& state) {
    const LibraryCalls calls;
    DbLink link;
    int minutes = 0;
    for (auto _ : state) {
        // A new duration each time, so that the server really changes the row.
        if (!close_session_row(link, ++minutes % 600, 1, closing_resa)) {
            state.SkipWithError("the closing update failed");
            break;
        }
    }
    calls.report(state);
}

// start_station's chain from the station's MAC to the welcome screen's message.
void BM_identification_chain(benchmark::State& state) {
    const LibraryCalls calls;
    DbLink link;
    for (auto _ : state) {
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
        if (setup_required != 0 || usage != 1 || visible != 1 || settings.config_menu_logiciel != 1) {
            state.SkipWithError("the station was not identified");
            break;
        }
        benchmark::DoNotOptimize(message);
    }
    calls.report(state);
}

// The registration screen's town list as it was filled: the count, then one connection per town, each
// reading the whole table for its one name; each name converted for the list.
void BM_city_list_town_by_town(benchmark::State& state) {
    const int towns = static_cast<int>(state.range(0));
    if (!set_town_count(*database, towns)) {
        state.SkipWithError("the towns could not be written");
        return;
    }
    const LibraryCalls calls;
    DbLink link;
    for (auto _ : state) {
        QStringList names;
        int count = 0;
        count_cities(link, count);
        for (int i = 0; i < count; ++i) {
            names.append(from_cp1252(city_name_at(link, i)));
        }
        if (count != towns || names.back() != QStringLiteral("Autres")) {
            state.SkipWithError("the town list was not read");
            break;
        }
    }
    calls.report(state);
}

// The same list read whole on one connection.
void BM_city_list_one_connection(benchmark::State& state) {
    const int towns = static_cast<int>(state.range(0));
    if (!set_town_count(*database, towns)) {
        state.SkipWithError("the towns could not be written");
        return;
    }
    const LibraryCalls calls;
    DbLink link;
    std::vector<std::string> read;
    for (auto _ : state) {
        QStringList names;
        read_city_names(link, read);
        for (const std::string& name : read) {
            names.append(from_cp1252(name));
        }
        if (names.size() != towns || names.back() != QStringLiteral("Autres")) {
            state.SkipWithError("the town list was not read");
            break;
        }
    }
    calls.report(state);
}

BENCHMARK(BM_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_floor_with_session_statement)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_floor_with_update)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_floor_with_poll_statement)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_open_link_select_1)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_statement_on_open_connection)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_read_database_file)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_poll_session_status)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_report_station_alive)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_sign_in)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_open_session_row)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_close_session_row)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_identification_chain)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_city_list_town_by_town)
    ->Arg(city_count)
    ->Arg(1000)
    ->Arg(3000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_city_list_one_connection)
    ->Arg(city_count)
    ->Arg(1000)
    ->Arg(3000)
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

std::string markdown_table(const CollectingReporter& reporter) {
    const Measured* floor = reporter.find("BM_floor");
    std::ostringstream out;
    if (floor == nullptr || floor->error) {
        out << "The floor was not measured.\n";
        return out.str();
    }
    out << "Floor: the raw client cycle (`mysql_init`, `mysql_real_connect`, `SELECT 1`, store, fetch, free, "
           "`mysql_close`) over TCP loopback: **"
        << fixed(floor->seconds * 1e6, 1) << " µs**.\n\n";
    const Measured* write_floor = reporter.find("BM_floor_with_update");
    out << "| Operation | Connections | Statements seen by the library | Time (µs) | Floor × connections "
           "(µs) | "
           "Ratio | Target ≤ 1.15 | Ratio to the write floor |\n";
    out << "|---|---:|---:|---:|---:|---:|---|---:|\n";
    struct Operation {
        const char* benchmark;
        const char* label;
        bool writes;
    };
    const Operation operations[] = {
        {"BM_poll_session_status", "`poll_session_status`", false},
        {"BM_report_station_alive", "`report_station_alive`", true},
        {"BM_sign_in", "sign-in: `lookup_account` + `compute_credit`", false},
        {"BM_open_session_row", "`open_session_row`", true},
        {"BM_close_session_row", "`close_session_row`", true},
        {"BM_identification_chain", "identification chain of the start-up with `load_space_message`", false},
        {"BM_city_list_town_by_town/30", "town list, 30 towns: `count_cities` + `city_name_at` per town",
         false},
        {"BM_city_list_one_connection/30", "town list, 30 towns: `read_city_names`", false},
        {"BM_city_list_town_by_town/1000", "town list, 1 000 towns, town by town", false},
        {"BM_city_list_one_connection/1000", "town list, 1 000 towns: `read_city_names`", false},
        {"BM_city_list_town_by_town/3000", "town list, 3 000 towns, town by town", false},
        {"BM_city_list_one_connection/3000", "town list, 3 000 towns: `read_city_names`", false},
    };
    for (const Operation& operation : operations) {
        const Measured* m = reporter.find(operation.benchmark);
        if (m == nullptr || m->error) {
            out << "| " << operation.label << " | | | not measured | | | | |\n";
            continue;
        }
        const double connections = m->counters.count("connections") ? m->counters.at("connections") : 0;
        const double statements = m->counters.count("statements") ? m->counters.at("statements") : 0;
        const double budget = floor->seconds * connections;
        const double ratio = budget > 0 ? m->seconds / budget : 0;
        std::string to_write_floor = "";
        if (operation.writes && write_floor != nullptr && !write_floor->error && connections > 0) {
            to_write_floor = fixed(m->seconds / (write_floor->seconds * connections), 2);
        }
        out << "| " << operation.label << " | " << fixed(connections, 0) << " | " << fixed(statements, 0)
            << " | " << fixed(m->seconds * 1e6, 1) << " | " << fixed(budget * 1e6, 1) << " | "
            << fixed(ratio, 2) << " | " << (ratio <= 1.15 ? "met" : "**missed**") << " | " << to_write_floor
            << " |\n";
    }
    out << "\nWhere the time goes (same run):\n\n";
    out << "| Piece | Time (µs) | Share of the floor |\n|---|---:|---:|\n";
    const std::pair<const char*, const char*> pieces[] = {
        {"BM_floor", "raw cycle (the floor)"},
        {"BM_floor_with_session_statement",
         "raw cycle with open_link's options and the session statement a writing operation sends first"},
        {"BM_floor_with_poll_statement", "raw cycle with the poll's statement in place of `SELECT 1`"},
        {"BM_floor_with_update",
         "raw cycle with a one-row UPDATE in place of `SELECT 1` (the server's commit)"},
        {"BM_open_link_select_1", "`open_link` + `SELECT 1` + `close_link` (database file read included)"},
        {"BM_statement_on_open_connection",
         "one more statement on an open connection (`SELECT 1` round trip)"},
        {"BM_read_database_file", "reading the database file"},
    };
    for (const auto& piece : pieces) {
        const Measured* m = reporter.find(piece.first);
        if (m == nullptr || m->error) {
            out << "| " << piece.second << " | not measured | |\n";
            continue;
        }
        out << "| " << piece.second << " | " << fixed(m->seconds * 1e6, 1) << " | "
            << fixed(m->seconds / floor->seconds, 2) << " |\n";
    }
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
