// Plays N stations against one server with the program's own operations: while a session is open
// its row is polled every second, every station beats every five seconds, and every few minutes a
// session ends (close_session_row) and, a little later, a visitor signs in again (lookup_account,
// compute_credit, open_session_row). Each station is one thread, as each station has one UI thread,
// and each connects from its own loopback address (127.0.0.2 to 127.0.0.251), as real stations
// come from their own addresses: the client's ports of closed connections wait in TIME_WAIT per
// source address.
//
// The operations are the program's, unchanged, on two links kept open across operations as the
// station's worker keeps them: the timers' (poll, beat, close) and the window's (the sign-in). The
// source address is bound by the client-library hook (bench/support/client_hooks.h) around open_link's
// own mysql_real_connect. With --link=tls the stations verify the server against its authority
// (KALIMO_TEST_DB_AUTHORITY); with --link=clear the same hook makes every connection a plain one.
//
// On the private Galera cluster (KALIMO_TEST_CLUSTER_DIR, scripts/lib.sh's kalimo_on_cluster) the same
// stations go through its balancer, which hides their source addresses from the nodes; with
// --kill-node-at=K the node serving them is killed K seconds into the measure, the latencies are
// reported before and after, every session row an operation reported opened or closed is looked for
// afterwards (a missing one is lost), and the node is started again.
//
// With --room-view=MS a staff station's room view runs beside them, as the staff stations' account: one
// refresh every MS milliseconds, its space and the whole network in turn, each timed with the lines it
// makes (fonction/room_queries.h, room/room_rules.h), its statements and connections counted. The
// stations are then spread over --spaces=K spaces of two rooms each, with --history=R closed session
// rows of the last two months before the run; --room-index=no drops the index the view's
// statement uses, to measure it without.
//
// Flags: --stations=N --seconds=S (measured) --warmup=W --link=clear|tls --report=FILE (appends one row
// to the scale table) --cluster-report=FILE --label=TEXT (one row to the cluster table) --kill-node-at=K
// --spaces=K --history=R --room-view=MS --room-index=no --room-report=FILE (one row to the room
// view's table, under --label).
#include "bench/support/bench_database.h"
#include "bench/support/bench_platform.h"
#include "bench/support/bench_report.h"
#include "bench/support/client_hooks.h"
#include "fonction/config_files.h"
#include "fonction/db_link.h"
#include "fonction/session_queries.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"
#include "room/room_rules.h"

#include <mysql.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <pthread.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum Kind { Poll, Beat, LookupAccount, ComputeCredit, OpenSession, CloseSession, KindCount };
const char* const kind_names[KindCount] = {"poll_session_status", "report_station_alive",
                                           "lookup_account",      "compute_credit",
                                           "open_session_row",    "close_session_row"};

struct Sample {
    float latency_ms;
    float late_ms; // how long after its due time the operation started
    float at_s;    // when it started, from the start of the measure
    unsigned char kind;
    bool error;
};

struct Station {
    int index = 0;
    int id_computer = 0;
    int id_user = 0;
    std::string login;
    std::string digest;
    std::string source;
    bool in_session = false;
    int id_resa = 0;
    double session_left_s = 0; // of the session open at the start
    std::vector<Sample> samples;
    // Session rows an operation reported opened, and those it reported closed.
    std::vector<int> opened;
    std::vector<int> closed;
};

Clock::time_point start_time;   // stations begin
Clock::time_point measure_from; // after the warm-up
Clock::time_point end_time;

double uniform(std::mt19937& rng, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng);
}

Clock::time_point after(Clock::time_point t, double seconds) {
    return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void run_station(Station& s) {
    mysql_thread_init();
    client_hooks::bind_thread_to(s.source.c_str());
    std::mt19937 rng(static_cast<unsigned int>(s.index) * 7919U + 17U);
    DbLink link;
    DbLink window_link;
    link.keep_open = true;
    window_link.keep_open = true;
    // A station opens its window's link at its start (its identification) and keeps it; untimed, the
    // stations' starts spread over the warm-up but its last two seconds.
    std::this_thread::sleep_until(
        after(start_time, uniform(rng, 0, std::max(0.0, ms_between(start_time, measure_from) / 1000 - 2))));
    int usage = 0;
    int status = 1;
    read_computer_usage(window_link, s.id_computer, usage, status);
    // Its timers start then.
    const Clock::time_point started = Clock::now();
    Clock::time_point next_beat = after(started, uniform(rng, 0, 5));
    Clock::time_point next_poll = after(started, uniform(rng, 0, 1));
    Clock::time_point session_end = after(started, s.session_left_s);
    Clock::time_point session_start = started;
    Clock::time_point next_sign_in = after(started, uniform(rng, 0, 60));

    auto timed = [&](Kind kind, Clock::time_point due, auto&& operation) {
        client_hooks::take_thread_failures();
        const Clock::time_point begin = Clock::now();
        const bool right = operation();
        const Clock::time_point end = Clock::now();
        const bool failed = client_hooks::take_thread_failures().failures > 0 || !right;
        if (begin >= measure_from && begin < end_time) {
            s.samples.push_back(Sample{static_cast<float>(ms_between(begin, end)),
                                       static_cast<float>(std::max(0.0, ms_between(due, begin))),
                                       static_cast<float>(ms_between(measure_from, begin) / 1000),
                                       static_cast<unsigned char>(kind), failed});
        }
        return !failed;
    };

    for (;;) {
        Clock::time_point due = next_beat;
        int event = 1; // 0 logout, 1 beat, 2 poll, 3 sign-in
        if (s.in_session) {
            if (session_end <= due) {
                due = session_end;
                event = 0;
            }
            if (next_poll < due) {
                due = next_poll;
                event = 2;
            }
        } else if (next_sign_in < due) {
            due = next_sign_in;
            event = 3;
        }
        if (due >= end_time) {
            break;
        }
        std::this_thread::sleep_until(due);
        const Clock::time_point now = Clock::now();
        switch (event) {
        case 0: {
            const int minutes =
                static_cast<int>(std::chrono::duration<double>(now - session_start).count() / 60.0);
            if (timed(CloseSession, due, [&] { return close_session_row(link, minutes, 1, s.id_resa); })) {
                s.closed.push_back(s.id_resa);
            }
            s.in_session = false;
            next_sign_in = after(now, uniform(rng, 10, 60));
            break;
        }
        case 1:
            timed(Beat, due, [&] { return report_station_alive(link, s.id_computer); });
            // A timer that fires late does not fire twice.
            next_beat = std::max(after(next_beat, 5), now);
            break;
        case 2:
            timed(Poll, due, [&] {
                int polled = -1;
                poll_session_status(link, s.id_user, s.id_resa, polled);
                return polled == 0;
            });
            next_poll = std::max(after(next_poll, 1), now);
            break;
        case 3: {
            int id_user = 0;
            int status_user = 0;
            int outcome = 0;
            int credit = 0;
            int id_resa = 0;
            const bool found = timed(LookupAccount, due, [&] {
                lookup_account(window_link, s.login.c_str(), s.digest.c_str(), id_user, status_user, outcome);
                return outcome == 1 && id_user == s.id_user;
            });
            bool opened = false;
            if (found) {
                // Every account has 600 minutes a day, and no session of its own closed by staff.
                timed(ComputeCredit, due, [&] {
                    compute_credit(window_link, id_user, credit);
                    return credit > 0;
                });
                opened = timed(OpenSession, due, [&] {
                    open_session_row(window_link, s.id_computer, id_user, 90, id_resa);
                    return id_resa != 0;
                });
            }
            if (opened) {
                s.in_session = true;
                s.id_resa = id_resa;
                s.opened.push_back(id_resa);
                session_start = Clock::now();
                session_end = after(session_start, uniform(rng, 120, 300));
                next_poll = after(session_start, 1);
            } else {
                next_sign_in = after(now, 5);
            }
            break;
        }
        default:
            break;
        }
    }
    drop_link(link);
    drop_link(window_link);
    mysql_thread_end();
}

// The staff station's room view: one refresh every `interval_s`, its space and the network in turn.
struct RoomView {
    int id_computer = 0;
    double interval_s = 2;
    std::size_t space_lines = 0;
    std::size_t network_lines = 0;
    std::vector<float> space_ms;
    std::vector<float> network_ms;
    std::uint64_t statements = 0;
    std::uint64_t connections = 0;
    int errors = 0;
};

void run_room_view(RoomView& v) {
    mysql_thread_init();
    const ServerAccess access = ServerAccess::from_environment();
    client_hooks::sign_in_thread_as(access.staff_user, access.staff_password);
    DbLink link;
    link.keep_open = true;
    std::vector<RoomComputer> computers;
    // Opened before the measure, as a view that is already open: its link is made.
    read_room_computers(link, v.id_computer, false, computers);
    const client_hooks::Counts before = client_hooks::thread_totals();
    bool network = false;
    for (Clock::time_point next = measure_from; next < end_time; next = after(next, v.interval_s)) {
        std::this_thread::sleep_until(next);
        const Clock::time_point begin = Clock::now();
        const RoomRead read = read_room_computers(link, v.id_computer, network, computers);
        const std::vector<StationLine> lines = room_lines(computers, platform().local_time());
        const Clock::time_point end = Clock::now();
        (network ? v.network_ms : v.space_ms).push_back(static_cast<float>(ms_between(begin, end)));
        if (read != RoomRead::Read || lines.size() != (network ? v.network_lines : v.space_lines)) {
            ++v.errors;
        }
        network = !network;
    }
    const client_hooks::Counts counts = client_hooks::thread_totals();
    v.statements = counts.queries - before.queries;
    v.connections = counts.connects - before.connects;
    drop_link(link);
    mysql_thread_end();
}

void* room_view_thread(void* view) {
    run_room_view(*static_cast<RoomView*>(view));
    return nullptr;
}

void* station_thread(void* station) {
    run_station(*static_cast<Station*>(station));
    return nullptr;
}

double percentile(std::vector<float>& values, double p) {
    if (values.empty()) {
        return 0;
    }
    const std::size_t rank = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(rank), values.end());
    return values[rank];
}

// Processor seconds (user + system) of a process, from /proc; negative when unreadable.
double cpu_seconds_of(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    if (pid.empty() || end == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(field);
        }
        if (i == 15) {
            break;
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Processor seconds (user + system) of the processes of a comma-separated list, from /proc; negative
// when one is unreadable.
double cpu_seconds_of_all(const std::string& pids) {
    double total = 0;
    std::istringstream list(pids);
    std::string pid;
    bool any = false;
    while (std::getline(list, pid, ',')) {
        const double seconds = cpu_seconds_of(pid);
        if (seconds < 0) {
            return -1;
        }
        total += seconds;
        any = true;
    }
    return any ? total : -1;
}

// Busy and total time of the whole machine (all cores), in seconds, from /proc/stat.
struct MachineTime {
    double busy = 0;
    double total = 0;
};
MachineTime machine_time() {
    std::ifstream in("/proc/stat");
    std::string label;
    in >> label;
    MachineTime t;
    double value = 0;
    for (int i = 0; i < 8 && in >> value; ++i) {
        t.total += value;
        if (i != 3 && i != 4) { // idle, iowait
            t.busy += value;
        }
    }
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    t.busy /= tick;
    t.total /= tick;
    return t;
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A server status counter; 0 when this server has no such counter.
long long status_value(TestDatabase& db, const std::string& name) {
    const auto rows = db.rows("SHOW GLOBAL STATUS LIKE '" + name + "'");
    return rows.empty() || rows.front().size() < 2 ? 0 : std::stoll(rows.front()[1]);
}

// With more than one space: that many spaces of two rooms each, the rooms' ids in order.
std::vector<int> make_rooms(TestDatabase& db, int spaces) {
    std::vector<int> rooms;
    for (int space = 1; space <= spaces && spaces > 1; ++space) {
        db.exec("INSERT INTO tab_espace (nom_espace) VALUES ('Espace de charge " + std::to_string(space) +
                "')");
        const std::string id = std::to_string(db.insert_id());
        for (const char* room : {"Salle A", "Salle B"}) {
            db.exec("INSERT INTO tab_salle (id_espace, nom_salle) VALUES (" + id + ", '" + room + "')");
            rooms.push_back(static_cast<int>(db.insert_id()));
        }
    }
    return rooms;
}

// Closed session rows of the stations and their accounts over the last two months (not today).
void add_history(TestDatabase& db, const std::vector<Station>& stations, int rows) {
    std::mt19937 rng(4242);
    std::ostringstream batch;
    for (int i = 0; i < rows; ++i) {
        const Station& s = stations[static_cast<std::size_t>(rng() % stations.size())];
        const int days_ago = 1 + static_cast<int>(rng() % 60);
        // A date text of that day: the stations compare dates as text.
        const std::time_t when = std::time(nullptr) - static_cast<std::time_t>(days_ago) * 86400;
        std::tm parts{};
        localtime_r(&when, &parts);
        const std::string date =
            local_date_text(LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, 0, 0, 0});
        batch << (batch.tellp() > 0 ? ", " : "INSERT INTO tab_resa VALUES ") << "(NULL, " << s.id_computer
              << ", " << s.id_user << ", '" << date << "', " << 540 + rng() % 540 << ", " << 5 + rng() % 90
              << ", '" << date << "', " << 1 + rng() % 2 << ")";
        if (i % 5000 == 4999 || i == rows - 1) {
            db.exec(batch.str());
            batch.str("");
        }
    }
}

void prepare(TestDatabase& db, std::vector<Station>& stations, int spaces) {
    const std::string today = local_date_text(platform().local_time());
    const int n = static_cast<int>(stations.size());
    const std::vector<int> rooms = make_rooms(db, spaces);
    for (int first = 0; first < n; first += 500) {
        std::ostringstream computers;
        std::ostringstream users;
        computers << "INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer, "
                     "id_salle) VALUES ";
        users << "INSERT INTO tab_user (login_user, pass_user, status_user, temps_user, nom_user, "
                 "prenom_user) VALUES ";
        for (int i = first; i < std::min(n, first + 500); ++i) {
            char mac[18];
            std::snprintf(mac, sizeof mac, "0A-00-00-00-%02X-%02X", (i >> 8) & 0xFF, i & 0xFF);
            Station& s = stations[static_cast<std::size_t>(i)];
            s.index = i;
            s.login = "charge" + std::to_string(i);
            s.digest = password_digest("mot" + std::to_string(i));
            s.source = "127.0.0." + std::to_string(2 + i % 250);
            const char* sep = i > first ? ", " : "";
            const int room = rooms.empty() ? 1 : rooms[static_cast<std::size_t>(i) % rooms.size()];
            computers << sep << "('Charge-" << i << "', '" << mac << "', 1, " << room << ")";
            users << sep << "(" << sql_quoted(s.login) << ", '" << s.digest
                  << "', 1, 600, 'CHARGE', 'Poste')";
        }
        db.exec(computers.str());
        db.exec(users.str());
    }
    std::map<std::string, int> computer_ids;
    for (const auto& row : db.rows("SELECT nom_computer, id_computer FROM tab_computer")) {
        computer_ids[row[0]] = std::stoi(row[1]);
    }
    std::map<std::string, int> user_ids;
    for (const auto& row : db.rows("SELECT login_user, id_user FROM tab_user")) {
        user_ids[row[0]] = std::stoi(row[1]);
    }
    std::mt19937 rng(12345);
    std::ostringstream sessions;
    bool any = false;
    for (Station& s : stations) {
        s.id_computer = computer_ids.at("Charge-" + std::to_string(s.index));
        s.id_user = user_ids.at(s.login);
        // Nine stations in ten have a visitor when the measure starts.
        s.in_session = uniform(rng, 0, 1) < 0.9;
        s.session_left_s = uniform(rng, 0, 300);
        if (s.in_session) {
            sessions << (any ? ", " : "INSERT INTO tab_resa VALUES ") << "(NULL, '" << s.id_computer << "', '"
                     << s.id_user << "', '" << today << "', '600', '90', '" << today << "', '0')";
            any = true;
        }
    }
    if (any) {
        db.exec(sessions.str());
    }
    std::map<int, int> open_rows;
    for (const auto& row : db.rows("SELECT id_user_resa, id_resa FROM tab_resa WHERE status_resa=0")) {
        open_rows[std::stoi(row[0])] = std::stoi(row[1]);
    }
    for (Station& s : stations) {
        if (s.in_session) {
            s.id_resa = open_rows.at(s.id_user);
        }
    }
}

// The address the server sees for a bound connection made through open_link.
std::string seen_source(const char* source) {
    std::string seen;
    std::thread([&] {
        client_hooks::bind_thread_to(source);
        DbLink link;
        int status = 1;
        open_link(link, status);
        if (status == 0 && run(link, "SELECT SUBSTRING_INDEX(USER(), '@', -1)", {}) && store_result(link) &&
            fetch_row(link) == Fetch::Row) {
            seen = column(link, 0);
        }
        close_link(link);
    }).join();
    return seen;
}

// The cipher of a connection made through open_link; "" in clear.
std::string seen_cipher() {
    DbLink link;
    int status = 1;
    std::string cipher = "!";
    open_link(link, status);
    if (status == 0 && run(link, "SHOW SESSION STATUS LIKE 'Ssl_cipher'", {}) && store_result(link) &&
        fetch_row(link) == Fetch::Row) {
        cipher = column(link, 1);
    }
    close_link(link);
    return cipher;
}

} // namespace

int main(int argc, char** argv) {
    const int n = std::stoi(take_flag(argc, argv, "stations", "100"));
    const double seconds = std::stod(take_flag(argc, argv, "seconds", "15"));
    const double warmup = std::stod(take_flag(argc, argv, "warmup", "3"));
    const std::string report = take_flag(argc, argv, "report");
    const std::string cluster_report = take_flag(argc, argv, "cluster-report");
    const std::string label = take_flag(argc, argv, "label", "one server");
    const double kill_at = std::stod(take_flag(argc, argv, "kill-node-at", "-1"));
    const std::string link_kind = take_flag(argc, argv, "link", "clear");
    const int spaces = std::stoi(take_flag(argc, argv, "spaces", "1"));
    const int history = std::stoi(take_flag(argc, argv, "history", "0"));
    const int view_ms = std::stoi(take_flag(argc, argv, "room-view", "0"));
    const bool without_room_index = take_flag(argc, argv, "room-index", "yes") == "no";
    const std::string room_report = take_flag(argc, argv, "room-report");
    const bool on_cluster = !test_cluster::folder().empty();
    if (argc > 1 || n < 1 || n > 100000 || seconds <= 0 || warmup < 0 || kill_at >= seconds ||
        (kill_at >= 0 && !on_cluster) || (link_kind != "clear" && link_kind != "tls") ||
        (link_kind == "tls" && server_authority().empty()) || spaces < 1 || history < 0 || view_ms < 0) {
        std::fprintf(stderr,
                     "usage: %s --stations=N --seconds=S --warmup=W [--link=clear|tls, tls with "
                     "KALIMO_TEST_DB_AUTHORITY] [--report=FILE] [--cluster-report=FILE --label=TEXT] "
                     "[--kill-node-at=K, on a cluster, K < S] [--spaces=K] [--history=R] [--room-view=MS] "
                     "[--room-index=no] [--room-report=FILE]\n",
                     argv[0]);
        return 2;
    }
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    mysql_library_init(0, nullptr, nullptr);
    int code = 0;
    try {
        BenchPlatform system;
        WorkingFolder folder;
        TestDatabase db;
        load_demo_room(db);
        // The stations' own account (only the role kalimo_station), reachable from every loopback address.
        db.write_database_file();
        if (link_kind == "tls") {
            folder.write_file(server_authority_file_name, server_authority());
        } else {
            client_hooks::connect_in_clear(true);
        }
        std::vector<Station> stations(static_cast<std::size_t>(n));
        prepare(db, stations, spaces);
        add_history(db, stations, history);
        if (without_room_index) {
            db.exec("ALTER TABLE tab_resa DROP INDEX idx_resa_computer_status");
        }
        db.exec("ANALYZE TABLE tab_resa, tab_computer");
        RoomView view;
        view.id_computer = stations.front().id_computer;
        view.interval_s = view_ms / 1000.0;
        view.network_lines = static_cast<std::size_t>(db.count("tab_computer"));
        view.space_lines = static_cast<std::size_t>(std::stoll(
            db.scalar("SELECT COUNT(*) FROM tab_computer c JOIN tab_salle s ON s.id_salle=c.id_salle WHERE "
                      "s.id_espace=(SELECT s2.id_espace FROM tab_computer c2 JOIN tab_salle s2 ON "
                      "s2.id_salle=c2.id_salle WHERE c2.id_computer=" +
                      std::to_string(view.id_computer) + ")")));
        const std::string seen = seen_source("127.0.0.7");
        std::printf("a connection bound to 127.0.0.7 reaches the server from %s\n", seen.c_str());
        // A cluster's balancer makes the connections to the nodes itself.
        if (seen != "127.0.0.7" && !on_cluster) {
            throw std::runtime_error("the source address was not bound");
        }
        const std::string cipher = seen_cipher();
        std::printf("the stations' connections are %s\n", cipher.empty() ? "in clear" : cipher.c_str());
        if (cipher.empty() != (link_kind == "clear")) {
            throw std::runtime_error("the connections are not what --link=" + link_kind + " asks");
        }
        // The most connections at once, this run's own (the server counts from its start).
        db.exec("FLUSH STATUS");

        const client_hooks::Counts counts_before = client_hooks::totals();
        const std::string server_pid =
            std::getenv("KALIMO_DB_PID") != nullptr ? std::getenv("KALIMO_DB_PID") : "";
        start_time = after(Clock::now(), 0.5);
        measure_from = after(start_time, warmup);
        end_time = after(measure_from, seconds);

        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 256 * 1024);
        std::vector<pthread_t> threads;
        threads.reserve(stations.size());
        for (Station& s : stations) {
            pthread_t thread;
            if (pthread_create(&thread, &attributes, station_thread, &s) != 0) {
                throw std::runtime_error("cannot start station thread " + std::to_string(s.index));
            }
            threads.push_back(thread);
        }
        if (view_ms > 0) {
            pthread_t thread;
            if (pthread_create(&thread, &attributes, room_view_thread, &view) != 0) {
                throw std::runtime_error("cannot start the room view's thread");
            }
            threads.push_back(thread);
        }
        pthread_attr_destroy(&attributes);
        // The stations stop by themselves at end_time; whatever happens here, they are joined first.
        struct Joiner {
            std::vector<pthread_t>& threads;
            void join() {
                for (pthread_t thread : threads) {
                    pthread_join(thread, nullptr);
                }
                threads.clear();
            }
            ~Joiner() { join(); }
        } joiner{threads};
        std::this_thread::sleep_until(measure_from);
        const long long max_used_before = status_value(db, "Max_used_connections");
        const long long fsyncs_before = status_value(db, "Innodb_data_fsyncs");
        const double server_cpu_before = cpu_seconds_of_all(server_pid);
        const double own_cpu_before = own_cpu_seconds();
        const MachineTime machine_before = machine_time();
        std::string killed;
        if (kill_at >= 0) {
            std::this_thread::sleep_until(after(measure_from, kill_at));
            killed = test_cluster::serving_node();
            test_cluster::kill_node(killed);
            std::printf("killed cluster node %s at %.1f s\n", killed.c_str(), kill_at);
        }
        std::this_thread::sleep_until(end_time);
        const double server_cpu_after = cpu_seconds_of_all(server_pid);
        // A killed node's processor time is gone with it: not reported.
        const double server_cpu =
            server_cpu_before < 0 || server_cpu_after < 0 ? -1 : server_cpu_after - server_cpu_before;
        const double own_cpu = own_cpu_seconds() - own_cpu_before;
        const MachineTime machine_after = machine_time();
        // After a kill, the counters are another node's.
        const double fsyncs =
            killed.empty() ? static_cast<double>(status_value(db, "Innodb_data_fsyncs") - fsyncs_before) : -1;
        // What the rest of the machine took meanwhile (the machine is shared), in % of one core.
        const double others =
            100 * ((machine_after.busy - machine_before.busy) - std::max(0.0, server_cpu) - own_cpu) /
            seconds;
        joiner.join();
        const long long max_used = std::max(max_used_before, status_value(db, "Max_used_connections"));
        const client_hooks::Counts counts = client_hooks::totals();

        // Every row an operation reported opened must be there, and closed when it said so.
        std::map<int, std::string> status_of;
        for (const auto& row : db.rows("SELECT id_resa, status_resa FROM tab_resa")) {
            status_of[std::stoi(row[0])] = row[1];
        }
        long long lost = 0;
        for (const Station& s : stations) {
            for (const int id : s.opened) {
                lost += status_of.count(id) == 0 ? 1 : 0;
            }
            for (const int id : s.closed) {
                lost += status_of.count(id) == 0 || status_of[id] != "1" ? 1 : 0;
            }
        }

        std::vector<float> all;
        std::vector<float> before_kill;
        std::vector<float> after_kill;
        std::vector<float> late;
        std::vector<std::vector<float>> by_kind(KindCount);
        long long errors = 0;
        for (const Station& s : stations) {
            for (const Sample& sample : s.samples) {
                all.push_back(sample.latency_ms);
                (sample.at_s < kill_at || kill_at < 0 ? before_kill : after_kill)
                    .push_back(sample.latency_ms);
                late.push_back(sample.late_ms);
                by_kind[sample.kind].push_back(sample.latency_ms);
                errors += sample.error ? 1 : 0;
            }
        }
        const double rate = static_cast<double>(all.size()) / seconds;
        const double p50 = percentile(all, 0.50);
        const double p99 = percentile(all, 0.99);
        const double worst = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
        const double late_p99 = percentile(late, 0.99);
        std::printf(
            "stations %d (%s): %zu operations in %.0f s (%.0f/s), p50 %.2f ms, p99 %.2f ms, max %.1f ms, "
            "errors %lld, started late p99 %.2f ms\n",
            n, link_kind.c_str(), all.size(), seconds, rate, p50, p99, worst, errors, late_p99);
        std::ostringstream kinds;
        for (int k = 0; k < KindCount; ++k) {
            std::vector<float>& values = by_kind[static_cast<std::size_t>(k)];
            if (values.empty()) {
                continue;
            }
            const double kind_p99 = percentile(values, 0.99);
            std::printf("  %-22s %7zu  p50 %6.2f ms  p99 %6.2f ms\n", kind_names[k], values.size(),
                        percentile(values, 0.5), kind_p99);
            kinds << (kinds.tellp() > 0 ? ", " : "") << kind_names[k] << " " << fixed(kind_p99, 1);
        }
        for (const auto& code_count : client_hooks::failure_codes()) {
            std::printf("  client error %u: %llu times\n", code_count.first,
                        static_cast<unsigned long long>(code_count.second));
        }
        std::printf(
            "  connections %llu (failed %llu), statements %llu (failed %llu), server's max used %lld, "
            "server CPU %s %%, load program CPU %.0f %%, other processes %.0f %%, InnoDB fsyncs %s/s\n",
            static_cast<unsigned long long>(counts.connects - counts_before.connects),
            static_cast<unsigned long long>(counts.connect_failures - counts_before.connect_failures),
            static_cast<unsigned long long>(counts.queries - counts_before.queries),
            static_cast<unsigned long long>(counts.query_failures - counts_before.query_failures), max_used,
            server_cpu >= 0 ? fixed(100 * server_cpu / seconds, 0).c_str() : "?", 100 * own_cpu / seconds,
            others, fsyncs >= 0 ? fixed(fsyncs / seconds, 0).c_str() : "?");
        const double p99_before = percentile(before_kill, 0.99);
        const double p99_after = percentile(after_kill, 0.99);
        std::printf("  session rows reported opened or closed and not found so: %lld\n", lost);
        if (!killed.empty()) {
            std::printf("  p99 before the kill %.2f ms, after it %.2f ms\n", p99_before, p99_after);
            std::string error;
            const auto rejoin_from = Clock::now();
            if (!test_cluster::rejoin(killed, error)) {
                throw std::runtime_error(error);
            }
            std::printf("  node %s back and synced in %.1f s\n", killed.c_str(),
                        ms_between(rejoin_from, Clock::now()) / 1000);
        }
        if (view_ms > 0) {
            std::printf(
                "  room view: %zu refreshes of its space (%zu lines), p50 %.2f ms, max %.2f ms; "
                "%zu of the network (%zu lines), p50 %.2f ms, max %.2f ms; "
                "%llu statements, %llu connections, %d errors\n",
                view.space_ms.size(), view.space_lines, percentile(view.space_ms, 0.5),
                view.space_ms.empty() ? 0.0 : *std::max_element(view.space_ms.begin(), view.space_ms.end()),
                view.network_ms.size(), view.network_lines, percentile(view.network_ms, 0.5),
                view.network_ms.empty() ? 0.0
                                        : *std::max_element(view.network_ms.begin(), view.network_ms.end()),
                static_cast<unsigned long long>(view.statements),
                static_cast<unsigned long long>(view.connections), view.errors);
        }
        if (!room_report.empty()) {
            const std::size_t refreshes = view.space_ms.size() + view.network_ms.size();
            const auto p50_max = [](std::vector<float> times) {
                return times.empty() ? std::string("")
                                     : fixed(percentile(times, 0.5), 1) + " / " +
                                           fixed(*std::max_element(times.begin(), times.end()), 1);
            };
            std::ofstream out(room_report, std::ios::app);
            out << "| " << label << " | " << link_kind << " | " << n << " | " << spaces << " | "
                << db.count("tab_resa") << " | " << (without_room_index ? "no" : "yes") << " | " << refreshes
                << " | " << p50_max(view.space_ms) << " | " << p50_max(view.network_ms) << " | "
                << (refreshes > 0
                        ? fixed(static_cast<double>(view.statements) / static_cast<double>(refreshes), 2)
                        : std::string(""))
                << " | " << (refreshes > 0 ? std::to_string(view.connections) : std::string("")) << " | "
                << (refreshes > 0 ? std::to_string(view.errors) : std::string("")) << " | " << fixed(p99, 2)
                << " | " << errors << " |\n";
        }
        if (!cluster_report.empty()) {
            std::ofstream out(cluster_report, std::ios::app);
            out << "| " << label << " | " << link_kind << " | " << n << " | " << fixed(rate, 0) << " | "
                << fixed(p50, 2) << " | " << fixed(p99, 2) << " | " << fixed(worst, 1) << " | " << errors
                << " | " << (killed.empty() ? "" : fixed(p99_before, 2) + " / " + fixed(p99_after, 2))
                << " | " << lost << " | " << (server_cpu >= 0 ? fixed(100 * server_cpu / seconds, 0) : "?")
                << " | " << kinds.str() << " |\n";
        }
        if (!report.empty()) {
            std::ofstream out(report, std::ios::app);
            out << "| " << link_kind << " | " << n << " | " << fixed(rate, 0) << " | " << fixed(p50, 2)
                << " | " << fixed(p99, 2) << " | " << fixed(worst, 1) << " | " << errors << " | "
                << fixed(late_p99, 1) << " | " << max_used << " | "
                << (server_cpu >= 0 ? fixed(100 * server_cpu / seconds, 0) : "?") << " | "
                << fixed(100 * own_cpu / seconds, 0) << " | " << fixed(std::max(0.0, others), 0) << " | "
                << fixed(fsyncs / seconds, 0) << " | " << kinds.str() << " |\n";
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kalimo_bench_load: %s\n", error.what());
        code = 1;
    }
    mysql_library_end();
    return code;
}
