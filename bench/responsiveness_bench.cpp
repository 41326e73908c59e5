// The window under an imperfect server and a large room: how long the window's thread stops
// answering while the database server stalls during a visitor's session, how far the counter drifts
// from the clock meanwhile, how long a click takes to be handled during the stall, and how long the
// registration form takes to open with 30, 1 000 and 3 000 towns.
//
// Everything runs in the real main window with its worker on a thread of its own (WorkerMode::Thread,
// as in production) and its real timers in Qt's event loop, under the offscreen platform. The stall
// is a real server's: a MariaDB of this process's own (tests/reliability/private_server.h) stopped
// with SIGSTOP and continued with SIGCONT. While it is stopped the kernel still accepts connections on
// its port, and they wait for a greeting that does not come, as with a server that hangs.
#include "app/logiciel.h"
#include "bench/support/bench_database.h"
#include "bench/support/bench_platform.h"
#include "bench/support/bench_report.h"
#include "bench/support/client_hooks.h"
#include "fonction/config_files.h"
#include "registration/inscription.h"
#include "session/compteur_temps.h"
#include "session/identification.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"
#include "tests/reliability/private_server.h"
#include "ui_compteur_temps.h"
#include "ui_identification.h"
#include "ui_inscription.h"
#include "ui_parametrage.h"
#include "ui_renseignement.h"
#include "window/guarded.h"
#include "window/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QRadioButton>
#include <QLabel>
#include <QMetaObject>
#include <QRegularExpression>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <mysql.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds on the clock the station's monotonic_ms and the client hooks read.
double now_ms() {
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

// Runs the window's event loop until `done` holds or `limit_ms` has passed; whether it held.
bool run_until(const std::function<bool()>& done, double limit_ms) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start();
    // Precise: a coarse timer may end a long wait up to 5 % early.
    QTimer::singleShot(static_cast<int>(limit_ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

void run_for(double ms) {
    const double end = now_ms() + ms;
    run_until([end] { return now_ms() >= end; }, ms + 50);
}

// A 10 ms timer on the window's thread that notes the time of each of its ticks: every moment the
// thread did not answer shows as a gap between two ticks.
class Ticker {
  public:
    static constexpr double interval_ms = 10;

    Ticker() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(static_cast<int>(interval_ms));
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double now = now_ms();
            ticks_.push_back(now);
            if (observer_) {
                observer_(now);
            }
        });
        timer_.start();
    }
    void observe(std::function<void(double)> observer) { observer_ = std::move(observer); }
    const std::vector<double>& ticks() const { return ticks_; }

  private:
    QTimer timer_;
    std::vector<double> ticks_;
    std::function<void(double)> observer_;
};

struct Gaps {
    std::size_t ticks = 0;
    double longest = 0; // beyond the interval, ms
    double p99 = 0;
    double p999 = 0;
    int over_100 = 0;
};

double percentile(std::vector<double> sorted_values, double p) {
    if (sorted_values.empty()) {
        return 0;
    }
    std::sort(sorted_values.begin(), sorted_values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted_values.size())));
    return sorted_values[std::min(sorted_values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

// The gaps between ticks that end in (from, to]: how much later than its interval each tick came.
Gaps gaps_between(const std::vector<double>& ticks, double from, double to) {
    Gaps gaps;
    std::vector<double> late;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        if (ticks[i] <= from || ticks[i] > to) {
            continue;
        }
        const double beyond = std::max(0.0, ticks[i] - ticks[i - 1] - Ticker::interval_ms);
        late.push_back(beyond);
        gaps.longest = std::max(gaps.longest, beyond);
        gaps.over_100 += beyond >= 100 ? 1 : 0;
    }
    gaps.ticks = late.size();
    gaps.p99 = percentile(late, 0.99);
    gaps.p999 = percentile(late, 0.999);
    return gaps;
}

// The counter's shown text ("1 h 59 min 58 s", "3 min 2 s", "5 s") in seconds; -1 when unreadable.
long shown_seconds(const QString& text) {
    static const QRegularExpression part(QStringLiteral("(\\d+) (h|min|s)"));
    long total = 0;
    bool any = false;
    auto parts = part.globalMatch(text);
    while (parts.hasNext()) {
        const QRegularExpressionMatch m = parts.next();
        const long value = m.captured(1).toLong();
        const QString unit = m.captured(2);
        total += unit == QLatin1String("h")     ? value * 3600
                 : unit == QLatin1String("min") ? value * 60
                                                : value;
        any = true;
    }
    return any ? total : -1;
}

// One counter tick of the visitor's session, read just after the window's own handler ran.
struct CounterSample {
    double at_ms = 0;
    double clock_seconds = 0;   // monotonic time since the session started
    double counter_seconds = 0; // session.elapsed_seconds
    double shown_seconds = -1;  // the elapsed time the shown text stands for
};

// The mariadbd this process started (PrivateServer forks and execs it): stopped and continued here.
pid_t own_mariadbd() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    pid_t found = -1;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (pid <= 0) {
            continue;
        }
        std::ifstream in("/proc/" + std::string(entry->d_name) + "/stat");
        std::string stat;
        std::getline(in, stat);
        const std::size_t open = stat.find('(');
        const std::size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) {
            continue;
        }
        const std::string name = stat.substr(open + 1, close - open - 1);
        std::istringstream rest(stat.substr(close + 2));
        char state = 0;
        long parent = 0;
        rest >> state >> parent;
        if (parent == getpid() && (name == "mariadbd" || name == "mysqld")) {
            found = pid;
        }
    }
    closedir(proc);
    return found;
}

// Stops the server (at once, or when begin is called) for as long as it lives; continued on every
// path out.
class Stopped {
  public:
    explicit Stopped(pid_t pid, bool now = true) : pid_(pid) {
        if (now) {
            begin();
        }
    }
    ~Stopped() { resume(); }
    Stopped(const Stopped&) = delete;
    Stopped& operator=(const Stopped&) = delete;
    void begin() {
        if (::kill(pid_, SIGSTOP) != 0) {
            throw std::runtime_error("cannot stop the server");
        }
        stopped_ = true;
        // The signal is delivered on its own time: a statement sent meanwhile could still be answered.
        const double limit = now_ms() + 1000;
        while (!all_threads_stopped() && now_ms() < limit) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        at_ms_ = now_ms();
    }
    void resume() {
        if (stopped_) {
            ::kill(pid_, SIGCONT);
            stopped_ = false;
            resumed_ms_ = now_ms();
        }
    }
    double at_ms() const { return at_ms_; }
    double resumed_ms() const { return resumed_ms_; }

  private:
    bool all_threads_stopped() const {
        const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
        DIR* dir = opendir(tasks.c_str());
        if (dir == nullptr) {
            return false;
        }
        bool stopped = true;
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            std::ifstream in(tasks + "/" + entry->d_name + "/stat");
            std::string stat;
            std::getline(in, stat);
            const std::size_t close = stat.rfind(')');
            stopped =
                stopped && close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
        }
        closedir(dir);
        return stopped;
    }

    pid_t pid_;
    // begin may run on the worker (just before its statement), the rest on the window's thread.
    std::atomic<bool> stopped_{false};
    std::atomic<double> at_ms_{0};
    double resumed_ms_ = 0;
};

// A click posted to the window's event loop, as the system would deliver it, and when it was handled.
struct PostedClick {
    double posted_ms = 0;
    double started_ms = -1;
    double done_ms = -1;
    bool done() const { return done_ms >= 0; }
    double handled_in_ms() const { return done_ms - posted_ms; }
};

void post_click(QAbstractButton* button, PostedClick& click) {
    click.posted_ms = now_ms();
    QMetaObject::invokeMethod(
        button,
        [button, &click] {
            click.started_ms = now_ms();
            button->click();
            click.done_ms = now_ms();
        },
        Qt::QueuedConnection);
}

std::vector<QString> messages;

#ifndef KALIMO_BUILD_TYPE
#error "the build names its type"
#endif

// When and on what the figures were taken: the date, the machine's load (it is shared) and the build.
std::string measured_when() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    std::string five;
    std::string fifteen;
    in >> one >> five >> fifteen;
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &parts);
    const std::string type = KALIMO_BUILD_TYPE;
    return std::string("Measured ") + date + ", load average (1, 5, 15 min) " + one + " " + five + " " +
           fifteen + " at the start; built as " + type +
           (type == "RelWithDebInfo" || type == "Release" ? " (optimised)" : " (not optimised)") + ".";
}
std::string started_when;

Tlogiciel* window = nullptr;
TestDatabase* shared_db = nullptr;

bool on_welcome_screen(const Tlogiciel& w) {
    return w.station.setup_required == 0 && !w.awaiting_server && !w.identification()->isHidden() &&
           w.inscription()->isHidden() && !w.Timer1.isActive();
}

// The identification that follows every start has answered: the welcome screen can be used.
bool identified(Tlogiciel& w) {
    return run_until(
        [&w] {
            return on_welcome_screen(w) && w.identification()->ui()->group_box_Identification->isEnabled();
        },
        10000);
}

// ---- The registration form's opening ----------------------------------------------------------------

class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

struct Opening {
    double handler_ms = 0; // from the click to the form shown: the town list read (on the worker) and filled
    double paint_ms = 0;   // the window painted with the form
    bool shown = false;
};

// One click on "Inscription" from the welcome screen to the form painted with its towns, then back.
Opening open_registration_form(Tlogiciel& w, int towns) {
    PaintCounter counter;
    Opening opening;
    if (!identified(w)) {
        return opening;
    }
    w.inscription()->installEventFilter(&counter);
    const double start = now_ms();
    w.identification()->ui()->Identification_bouton_inscription->click();
    // The towns are read on the worker; the form comes up with them.
    run_until(
        [&w, towns] {
            return !w.inscription()->isHidden() &&
                   w.inscription()->ui()->Inscription_ComboBox_ville->count() == towns;
        },
        10000);
    const double handled = now_ms();
    QCoreApplication::sendPostedEvents();
    w.repaint();
    const double painted = now_ms();
    w.inscription()->removeEventFilter(&counter);
    opening.handler_ms = handled - start;
    opening.paint_ms = painted - handled;
    opening.shown = !w.inscription()->isHidden() && counter.paints > 0 &&
                    w.inscription()->ui()->Inscription_ComboBox_ville->count() == towns;
    w.inscription()->ui()->Bouton_retour_inscription->click();
    QCoreApplication::processEvents();
    return opening;
}

std::map<int, double> slowest_opening_ms;

void BM_registration_form_opening(benchmark::State& state) {
    const int towns = static_cast<int>(state.range(0));
    if (!set_town_count(*shared_db, towns)) {
        state.SkipWithError("the towns could not be written");
        return;
    }
    if (!on_welcome_screen(*window)) {
        state.SkipWithError("the window is not on its welcome screen");
        return;
    }
    double handler = 0;
    double paint = 0;
    for (auto _ : state) {
        const Opening opening = open_registration_form(*window, towns);
        if (!opening.shown) {
            state.SkipWithError("the form was not shown with its towns");
            break;
        }
        state.SetIterationTime((opening.handler_ms + opening.paint_ms) / 1000.0);
        handler += opening.handler_ms;
        paint += opening.paint_ms;
        double& slowest = slowest_opening_ms[towns];
        slowest = std::max(slowest, opening.handler_ms + opening.paint_ms);
    }
    state.counters["handler_ms"] = benchmark::Counter(handler, benchmark::Counter::kAvgIterations);
    state.counters["paint_ms"] = benchmark::Counter(paint, benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_registration_form_opening)
    ->Arg(30)
    ->Arg(1000)
    ->Arg(3000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

std::string registration_table(const CollectingReporter& reporter, const Opening& cold) {
    std::ostringstream out;
    out << started_when << "\n\n";
    out << "| Towns | Opening: click to the form painted (ms) | click to the form shown, towns read (ms) | "
           "painting (ms) | "
           "Slowest opening (ms) | Target < 100 ms at 3 000 |\n|---:|---:|---:|---:|---:|---|\n";
    for (const int towns : {30, 1000, 3000}) {
        const Measured* m = reporter.find("BM_registration_form_opening/" + std::to_string(towns));
        if (m == nullptr || m->error) {
            out << "| " << towns << " | not measured | | | | |\n";
            continue;
        }
        const double ms = m->seconds * 1e3;
        const auto counter = [m](const char* name) {
            return m->counters.count(name) != 0 ? fixed(m->counters.at(name), 2) : std::string();
        };
        out << "| " << towns << " | " << fixed(ms, 2) << " | " << counter("handler_ms") << " | "
            << counter("paint_ms") << " | " << fixed(slowest_opening_ms[towns], 2) << " | "
            << (towns == 3000 ? (slowest_opening_ms[towns] < 100 ? "met" : "**missed**") : "") << " |\n";
    }
    out << "\nThe first opening after start-up, with 3 000 towns (the form's first show, cold): **"
        << fixed(cold.handler_ms + cold.paint_ms, 1) << " ms** (handler " << fixed(cold.handler_ms, 1)
        << ", painting " << fixed(cold.paint_ms, 1) << ").\n";
    return out.str();
}

// ---- The stall --------------------------------------------------------------------------------------

struct StallOptions {
    double stall_ms = 30000;
    double before_ms = 3000; // the session running with the server answering, before the stall
    double after_ms = 5000;  // the session running after the server is back
};

struct ClickProbe {
    std::string label;
    PostedClick click;
    Gaps gaps;
    double stall_ms = -1;     // how long the server had been stopped when the click was posted
    bool worker_knew = false; // the worker knew the server was not answering at the post
};

struct StallRun {
    StallOptions options;
    Gaps before;
    Gaps during;
    Gaps after;
    double known_after_ms = -1; // from SIGSTOP until the worker knows the server does not answer
    int counter_ticks_in_stall = 0;
    double drift_end_of_stall = 0;
    double drift_largest_in_stall = 0;
    double drift_after = 0;
    double shown_drift_end_of_stall = 0;
    double shown_drift_after = 0;
    double start_uncertainty_ms = 0;
    std::vector<ClickProbe> clicks;
    std::vector<client_hooks::SlowCall> window_waits;     // slow calls on the window's thread
    std::vector<client_hooks::SlowCall> worker_attempts;  // the worker's slow calls during the stalls
    std::vector<std::pair<double, double>> stall_windows; // [stopped, resumed] of each stall
};

// Signs a visitor in through the login panel and the survey; the monotonic time the session started
// (between the click on "Valider" and its return) and that interval's width.
bool start_visitor_session(Tlogiciel& w, const QString& login, double& started_ms, double& uncertainty_ms) {
    auto* id = w.identification()->ui();
    id->Identification_labeledit_identifiant->setText(login);
    id->Identification_labeledit_mot_de_passe->setText(QStringLiteral("soleil"));
    id->Identification_bouton_connexion->click();
    // The sign-in is answered on the worker.
    if (!run_until([&w] { return !w.renseignement()->isHidden(); }, 10000)) {
        std::fprintf(stderr, "%s: no survey after the sign-in\n", login.toUtf8().constData());
        return false;
    }
    const double before = now_ms();
    w.renseignement()->ui()->Bouton_valider->click();
    // The session starts once its row is written, on the worker.
    run_until([&w] { return w.Timer1.isActive(); }, 10000);
    const double after = now_ms();
    started_ms = (before + after) / 2;
    uncertainty_ms = (after - before) / 2;
    return w.Timer1.isActive() && !w.compteur_temps()->isHidden() && w.session.id_resa > 0;
}

// The server answers again, the station is identified and back on its welcome screen.
bool recovered(Tlogiciel& w, double limit_ms) {
    return run_until(
        [&w] {
            return !w.server_health.down() && on_welcome_screen(w) &&
                   w.identification()->ui()->group_box_Identification->isEnabled();
        },
        limit_ms);
}

void add_visitor(TestDatabase& db, const std::string& login) {
    db.exec("INSERT INTO tab_user (login_user, pass_user, status_user, temps_user, nom_user, prenom_user) "
            "VALUES ('" +
            login + "', MD5('soleil'), 1, 120, 'BANC', 'Visiteur')");
}

// A control a person presses that needs the server, and how to bring its screen up.
struct ControlProbe {
    std::string name;
    std::function<QAbstractButton*()> prepare; // with the server answering; the control to click
};

// Whatever screen a probe left, the welcome screen again once the answers are in.
void back_to_welcome_screen(Tlogiciel& w) {
    run_until([&w] { return QGuiApplication::overrideCursor() == nullptr; }, 20000);
    if (!w.compteur_temps()->isHidden()) {
        w.compteur_temps()->ui()->Compteur_Bouton_deconnexion->click();
    } else if (!w.renseignement()->isHidden()) {
        w.renseignement()->ui()->Bouton_retour->click();
    } else if (!w.inscription()->isHidden()) {
        w.inscription()->ui()->Bouton_retour_inscription->click();
    } else if (!w.parametrage()->isHidden()) {
        guarded(&w, [&w] { w.start_station(); });
    }
    run_until([&w] { return QGuiApplication::overrideCursor() == nullptr; }, 20000);
}

// The survey up after a visitor's sign-in, with the server answering.
bool survey_up(Tlogiciel& w, const QString& login) {
    auto* id = w.identification()->ui();
    id->Identification_labeledit_identifiant->setText(login);
    id->Identification_labeledit_mot_de_passe->setText(QStringLiteral("soleil"));
    id->Identification_bouton_connexion->click();
    return run_until([&w] { return !w.renseignement()->isHidden(); }, 10000);
}

// The registration form up and filled in, as a new visitor would.
bool registration_filled(Tlogiciel& w) {
    w.identification()->ui()->Identification_bouton_inscription->click();
    if (!run_until([&w] { return !w.inscription()->isHidden(); }, 10000)) {
        return false;
    }
    auto* f = w.inscription()->ui();
    f->Inscription_Nom->setText(QStringLiteral("BANC"));
    f->Inscription_Prenom->setText(QStringLiteral("Inscrit"));
    f->Inscription_radio_homme->setChecked(true);
    f->Inscription_ComboBox_jour->setCurrentIndex(0);
    f->Inscription_ComboBox_mois->setCurrentIndex(0);
    f->Inscription_annee->setText(QStringLiteral("1990"));
    f->Inscription_Code_postal->setText(QStringLiteral("75001"));
    f->Inscription_ComboBox_ville->setCurrentIndex(0);
    for (QRadioButton* choice : {f->Inscription_radio_eleve, f->Inscription_radio_aucun,
                                 f->Inscription_radio_aucunlieu, f->Inscription_radio_debutant}) {
        choice->setChecked(true);
    }
    return f->Inscription_ComboBox_ville->count() > 0;
}

// "connexion" alone in a short run; every control in a full one.
std::vector<ControlProbe> controls(Tlogiciel& w, bool all) {
    std::vector<ControlProbe> list;
    list.push_back({"\"connexion\"", [&w]() -> QAbstractButton* {
                        auto* id = w.identification()->ui();
                        id->Identification_labeledit_identifiant->setText(QStringLiteral("banc1"));
                        id->Identification_labeledit_mot_de_passe->setText(QStringLiteral("soleil"));
                        return id->Identification_bouton_connexion;
                    }});
    if (!all) {
        return list;
    }
    list.push_back({"the survey's \"Valider\"", [&w]() -> QAbstractButton* {
                        return survey_up(w, QStringLiteral("banc2")) ? w.renseignement()->ui()->Bouton_valider
                                                                     : nullptr;
                    }});
    list.push_back({"\"Inscription\"", [&w]() -> QAbstractButton* {
                        return w.identification()->ui()->Identification_bouton_inscription;
                    }});
    list.push_back({"the registration's \"Valider\"", [&w]() -> QAbstractButton* {
                        return registration_filled(w) ? w.inscription()->ui()->Bouton_valider_inscription
                                                      : nullptr;
                    }});
    // The set-up screen, its lists read.
    const auto setup_screen = [&w] {
        guarded(&w, [&w] { w.show_setup_screen(); });
        auto* p = w.parametrage()->ui();
        run_until([p] { return p->Bouton_valider_parametrage->isEnabled(); }, 10000);
        return p;
    };
    list.push_back({"the set-up screen's \"Actualiser\"", [setup_screen]() -> QAbstractButton* {
                        return setup_screen()->Parametrage_bouton_actualiser_nom_poste;
                    }});
    list.push_back({"the set-up screen's \"Valider\"", [setup_screen]() -> QAbstractButton* {
                        return setup_screen()->Bouton_valider_parametrage;
                    }});
    return list;
}

StallRun run_stall(Tlogiciel& w, pid_t server, const StallOptions& options) {
    StallRun run;
    run.options = options;
    Ticker ticker;
    client_hooks::keep_stacks_on_this_thread();
    client_hooks::watch_slow_calls(50LL * 1000 * 1000);
    const std::thread::id window_thread = std::this_thread::get_id();

    // 1. A visitor's session; the server stalls for the whole stall time, then answers again.
    double started_ms = 0;
    if (!start_visitor_session(w, QStringLiteral("banc1"), started_ms, run.start_uncertainty_ms)) {
        throw std::runtime_error("the first visitor's session did not start");
    }
    const double initial_credit = static_cast<double>(w.session.credit_minutes) * 60.0;
    const bool counting_down = w.station.settings.affichage_temps_logiciel != 0;
    std::vector<CounterSample> samples;
    bool recording = true;
    QObject counter_context;
    QObject::connect(&w.Timer1, &QTimer::timeout, &counter_context, [&] {
        if (!recording || !w.Timer1.isActive()) {
            return;
        }
        CounterSample s;
        s.at_ms = now_ms();
        s.clock_seconds = (s.at_ms - started_ms) / 1000.0;
        s.counter_seconds = static_cast<double>(w.session.elapsed_seconds);
        const long shown = shown_seconds(w.compteur_temps()->ui()->Compteur_Temps_parcouru->text());
        if (shown >= 0) {
            s.shown_seconds =
                counting_down ? initial_credit - static_cast<double>(shown) : static_cast<double>(shown);
        }
        samples.push_back(s);
    });
    const double session_running = now_ms();
    run_for(options.before_ms);
    {
        Stopped stop(server);
        ticker.observe([&](double at) {
            if (run.known_after_ms < 0 && w.server_health.down()) {
                run.known_after_ms = at - stop.at_ms();
            }
        });
        run_for(options.stall_ms);
        stop.resume();
        ticker.observe(nullptr);
        run.stall_windows.emplace_back(stop.at_ms(), stop.resumed_ms());
        run.before = gaps_between(ticker.ticks(), session_running, stop.at_ms());
        run.during = gaps_between(ticker.ticks(), stop.at_ms(), stop.resumed_ms());
        double last_in_stall = 0;
        double shown_last_in_stall = 0;
        for (const CounterSample& s : samples) {
            if (s.at_ms <= stop.at_ms() || s.at_ms > stop.resumed_ms()) {
                continue;
            }
            ++run.counter_ticks_in_stall;
            const double drift = s.counter_seconds - s.clock_seconds;
            if (std::fabs(drift) > std::fabs(run.drift_largest_in_stall)) {
                run.drift_largest_in_stall = drift;
            }
            last_in_stall = drift;
            shown_last_in_stall = s.shown_seconds - s.clock_seconds;
        }
        run.drift_end_of_stall = last_in_stall;
        run.shown_drift_end_of_stall = shown_last_in_stall;
        const double resumed = stop.resumed_ms();
        run_for(options.after_ms);
        run.after = gaps_between(ticker.ticks(), resumed, now_ms());
    }
    recording = false;
    for (const CounterSample& s : samples) {
        std::printf(
            "counter tick at %+.3f s from the stall: clock %.3f s, elapsed_seconds %.0f, shown %.0f\n",
            (s.at_ms - run.stall_windows.front().first) / 1000, s.clock_seconds, s.counter_seconds,
            s.shown_seconds);
    }
    if (!samples.empty()) {
        run.drift_after = samples.back().counter_seconds - samples.back().clock_seconds;
        run.shown_drift_after = samples.back().shown_seconds - samples.back().clock_seconds;
    }
    if (w.compteur_temps()->isHidden() || !w.Timer1.isActive()) {
        throw std::runtime_error("the session did not survive the stall");
    }

    // The same button with the server answering: the reference.
    {
        ClickProbe probe;
        probe.label = "\"Déconnexion\", server answering";
        const double from = now_ms();
        post_click(w.compteur_temps()->ui()->Compteur_Bouton_deconnexion, probe.click);
        run_until([&probe] { return probe.click.done(); }, 15000);
        probe.gaps = gaps_between(ticker.ticks(), from, now_ms() + 1);
        run.clicks.push_back(probe);
    }
    if (!recovered(w, 20000)) {
        throw std::runtime_error("the station did not come back to its welcome screen");
    }

    // 2. and 3. The visitor clicks "Déconnexion" during a stall: once the worker knows the server does
    // not answer, and at the very start of the stall, before it knows.
    for (const bool wait_until_known : {true, false}) {
        const QString login = wait_until_known ? QStringLiteral("banc2") : QStringLiteral("banc3");
        double ignored = 0;
        double width = 0;
        if (!start_visitor_session(w, login, ignored, width)) {
            throw std::runtime_error("a visitor's session did not start");
        }
        run_for(2000);
        ClickProbe probe;
        {
            Stopped stop(server);
            if (wait_until_known) {
                run_until([&w] { return w.server_health.down(); }, 20000);
            } else {
                run_for(50);
            }
            probe.worker_knew = w.server_health.down();
            probe.stall_ms = now_ms() - stop.at_ms();
            // Said as it was at the post, whatever was aimed at.
            probe.label = probe.worker_knew ? "\"Déconnexion\", server stopped, the worker already knew"
                                            : "\"Déconnexion\", server stopped, the worker did not know yet";
            post_click(w.compteur_temps()->ui()->Compteur_Bouton_deconnexion, probe.click);
            run_until([&probe] { return probe.click.done(); }, 20000);
            run_for(500);
            stop.resume();
            probe.gaps = gaps_between(ticker.ticks(), stop.at_ms(), stop.resumed_ms());
            run.stall_windows.emplace_back(stop.at_ms(), stop.resumed_ms());
        }
        run.clicks.push_back(probe);
        if (!probe.click.done()) {
            throw std::runtime_error("the click was not handled");
        }
        if (!recovered(w, 30000)) {
            throw std::runtime_error("the station did not come back after the stall");
        }
    }

    // 4. The server stops after the window's operation has its link (the kept connection checked),
    // before its statement: only the statement's read bound ends the wait.
    {
        double ignored = 0;
        double width = 0;
        if (!start_visitor_session(w, QStringLiteral("banc4"), ignored, width)) {
            throw std::runtime_error("a visitor's session did not start");
        }
        run_for(2000);
        ClickProbe probe;
        probe.label = "\"Déconnexion\", server stopped between the check of its link and its first statement";
        {
            Stopped stop(server, false);
            // The click's work runs on the worker: its next statement, whichever thread sends it.
            client_hooks::before_next_statement([&stop] { stop.begin(); });
            post_click(w.compteur_temps()->ui()->Compteur_Bouton_deconnexion, probe.click);
            run_until([&probe] { return probe.click.done(); }, 60000);
            run_for(500);
            client_hooks::before_next_statement(nullptr);
            stop.resume();
            probe.gaps = gaps_between(ticker.ticks(), probe.click.posted_ms, stop.resumed_ms());
            run.stall_windows.emplace_back(stop.at_ms(), stop.resumed_ms());
        }
        run.clicks.push_back(probe);
        if (!probe.click.done()) {
            throw std::runtime_error("the click was not handled");
        }
        if (!recovered(w, 30000)) {
            throw std::runtime_error("the station did not come back after the stall");
        }
    }

    // 5. Each control a person presses that needs the server, in the first instant of a stall: the
    // server stopped as the click is posted (the check of its kept link, or its connect, waits), or just
    // before the click's first statement (the statement waits). The server stays stopped until the control is
    // back, its answer (a failure, after the bound) applied; the window's timer is watched all along.
    for (const ControlProbe& control : controls(w, options.stall_ms >= 10000)) {
        for (const bool statement : {false, true}) {
            if (!recovered(w, 30000)) {
                throw std::runtime_error("the station did not come back before " + control.name);
            }
            QAbstractButton* button = control.prepare();
            if (button == nullptr || !button->isEnabled()) {
                throw std::runtime_error("no " + control.name + " to click");
            }
            ClickProbe probe;
            probe.label =
                control.name + (statement ? ", its statement stalled" : ", its link's check stalled");
            {
                Stopped stop(server, !statement);
                if (statement) {
                    client_hooks::before_next_statement([&stop] { stop.begin(); });
                }
                post_click(button, probe.click);
                run_until([&probe] { return probe.click.done(); }, 20000);
                run_for(20);
                run_until([button] { return button->isEnabled() || !button->isVisible(); }, 20000);
                client_hooks::before_next_statement(nullptr);
                stop.resume();
                probe.gaps = gaps_between(ticker.ticks(), probe.click.posted_ms, now_ms());
                if (stop.at_ms() > 0) {
                    run.stall_windows.emplace_back(stop.at_ms(), stop.resumed_ms());
                }
            }
            run.clicks.push_back(probe);
            if (!probe.click.done()) {
                throw std::runtime_error("the click was not handled");
            }
            back_to_welcome_screen(w);
        }
    }
    client_hooks::watch_slow_calls(0);

    for (const client_hooks::SlowCall& call : client_hooks::slow_calls()) {
        const double at = static_cast<double>(call.started_ns) / 1e6;
        bool in_stall = false;
        for (const auto& window_of_stall : run.stall_windows) {
            in_stall = in_stall || (at >= window_of_stall.first && at <= window_of_stall.second);
        }
        if (call.thread == window_thread) {
            run.window_waits.push_back(call);
        } else if (in_stall) {
            run.worker_attempts.push_back(call);
        }
    }
    return run;
}

// The program's own frames of a stack, innermost first, up to the benchmark's: "a ← b ← c".
std::string called_from(const client_hooks::SlowCall& call) {
    std::string chain;
    std::string previous;
    for (const std::string& frame : client_hooks::symbolised(call.stack)) {
        const std::size_t place = frame.rfind(" (");
        if (place == std::string::npos || frame.compare(place + 2, 6, "bench/") == 0) {
            if (!chain.empty() && place != std::string::npos) {
                break;
            }
            continue;
        }
        std::string function = frame.substr(0, place);
        for (const std::string noise : {"(anonymous namespace)::", "[abi:cxx11]"}) {
            for (std::size_t at = function.find(noise); at != std::string::npos; at = function.find(noise)) {
                function.erase(at, noise.size());
            }
        }
        const std::size_t arguments = function.find('(');
        if (arguments != std::string::npos && arguments > 0) {
            function.erase(arguments);
        }
        // A template's demangled name starts with its return type.
        const std::size_t space = function.find(' ');
        if (space != std::string::npos && function.find('<') > space) {
            function.erase(0, space + 1);
        }
        if (function == previous || function.rfind("std::", 0) == 0 || function.rfind("Q", 0) == 0) {
            continue;
        }
        previous = function;
        chain += (chain.empty() ? "`" : " ← `") + function + "`";
    }
    return chain.empty() ? "(no stack)" : chain;
}

std::string ms_text(double ms) {
    return fixed(ms, ms < 10 ? 2 : 1);
}

std::string stall_table(const StallRun& run) {
    const StallOptions& o = run.options;
    std::ostringstream out;
    out << started_when << " The station's server stopped (SIGSTOP) for **"
        << fixed(run.stall_windows.front().second / 1000 - run.stall_windows.front().first / 1000, 2)
        << " s** during a visitor's session, then continued.\n\n";
    out << "| The window's thread: a 10 ms timer's ticks | Ticks | Longest gap beyond 10 ms (ms) | p99 (ms) "
           "| p99.9 (ms) | Gaps of 100 ms or more | Target: longest < 100 ms |\n";
    out << "|---|---:|---:|---:|---:|---:|---|\n";
    const auto row = [&out](const std::string& label, const Gaps& g, bool judged) {
        out << "| " << label << " | " << g.ticks << " | " << ms_text(g.longest) << " | " << ms_text(g.p99)
            << " | " << ms_text(g.p999) << " | " << g.over_100 << " | "
            << (judged ? (g.longest < 100 ? "met" : "**missed**") : "") << " |\n";
    };
    row("session running, server answering (" + fixed(o.before_ms / 1000, 0) + " s)", run.before, false);
    row("session running, server stopped (" + fixed(o.stall_ms / 1000, 0) + " s)", run.during, true);
    row("session running, server back (" + fixed(o.after_ms / 1000, 0) + " s)", run.after, false);

    out << "\n| The counter against the clock | Value | Target: < 1 s |\n|---|---:|---|\n";
    const auto drift_row = [&out](const std::string& label, double seconds, bool judged) {
        out << "| " << label << " | " << (seconds >= 0 ? "+" : "") << fixed(seconds, 3) << " s | "
            << (judged ? (std::fabs(seconds) < 1 ? "met" : "**missed**") : "") << " |\n";
    };
    drift_row("`session.elapsed_seconds` − clock, at the last tick of the stall", run.drift_end_of_stall,
              true);
    drift_row("the same, farthest from the clock during the stall", run.drift_largest_in_stall, true);
    drift_row("the same, " + fixed(o.after_ms / 1000, 0) + " s after the stall", run.drift_after, true);
    drift_row("the count shown − clock, at the last tick of the stall", run.shown_drift_end_of_stall, false);
    drift_row("the count shown − clock, " + fixed(o.after_ms / 1000, 0) + " s after the stall",
              run.shown_drift_after, false);
    out << "| counter ticks during the stall | " << run.counter_ticks_in_stall << " of "
        << fixed(std::floor(o.stall_ms / 1000), 0) << " | |\n";
    out << "| the session's start, taken to within | ±" << fixed(run.start_uncertainty_ms, 1) << " ms | |\n";
    out << "| the worker knew the server was not answering, after | "
        << (run.known_after_ms >= 0 ? fixed(run.known_after_ms / 1000, 2) + " s" : "never") << " | |\n";

    out << "\n| Clicked (posted to the event loop) | Handled in (ms) | Longest gap of the 10 ms timer, until "
           "the answer (ms) | Target < 100 ms |\n|---|---:|---:|---|\n";
    for (const ClickProbe& probe : run.clicks) {
        std::string label = probe.label;
        if (probe.stall_ms >= 0) {
            label += " (posted " + fixed(probe.stall_ms / 1000, 2) + " s into the stall)";
        }
        out << "| " << label << " | " << (probe.click.done() ? ms_text(probe.click.handled_in_ms()) : "never")
            << " | " << ms_text(probe.gaps.longest) << " | "
            << (probe.click.done() && probe.click.handled_in_ms() < 100 && probe.gaps.longest < 100
                    ? "met"
                    : "**missed**")
            << " |\n";
    }

    out << "\nCalls to the client library on the window's thread that took 50 ms or more:";
    if (run.window_waits.empty()) {
        out << " none.\n";
    } else {
        out << "\n\n| Call | Took (ms) | Called from |\n|---|---:|---|\n";
        for (const client_hooks::SlowCall& call : run.window_waits) {
            out << "| `` " << call.what << " `` | " << ms_text(static_cast<double>(call.duration_ns) / 1e6)
                << " | " << called_from(call) << " |\n";
        }
    }
    if (!run.worker_attempts.empty()) {
        double shortest = 1e18;
        double longest = 0;
        for (const client_hooks::SlowCall& call : run.worker_attempts) {
            shortest = std::min(shortest, static_cast<double>(call.duration_ns) / 1e6);
            longest = std::max(longest, static_cast<double>(call.duration_ns) / 1e6);
        }
        out << "\nThe worker's calls that waited on the stopped server: " << run.worker_attempts.size()
            << ", each " << fixed(shortest / 1000, 2) << "–" << fixed(longest / 1000, 2) << " s.\n";
    }
    if (!messages.empty()) {
        out << "\nMessages shown:";
        for (const QString& text : messages) {
            out << " \"" << text.toStdString() << "\"";
        }
        out << "\n";
    }
    return out.str();
}

void print_stacks(const StallRun& run) {
    for (const client_hooks::SlowCall& call : run.window_waits) {
        std::printf("window's thread waited %.1f ms in %s:\n", static_cast<double>(call.duration_ns) / 1e6,
                    call.what.c_str());
        for (const std::string& frame : client_hooks::symbolised(call.stack)) {
            std::printf("    %s\n", frame.c_str());
        }
    }
    for (const client_hooks::SlowCall& call : run.worker_attempts) {
        std::printf("worker waited %.1f ms in %s\n", static_cast<double>(call.duration_ns) / 1e6,
                    call.what.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string report = take_flag(argc, argv, "kalimo_report");
    const std::string registration_report = take_flag(argc, argv, "kalimo_registration_report");
    StallOptions options;
    options.stall_ms = std::stod(take_flag(argc, argv, "kalimo_stall_seconds", "30")) * 1000;
    if (options.stall_ms < 5000) {
        // A short stall (the smoke run): the session around it is shortened too.
        options.before_ms = 1000;
        options.after_ms = 2000;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    started_when = measured_when();
    mysql_library_init(0, nullptr, nullptr);
    int code = 0;
    try {
        BenchPlatform system;
        system.adapters = {HardwareAddress{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}}; // Poste-01 of the demo room
        WorkingFolder folder;
        TestDatabase db;
        shared_db = &db;
        prepare_demo_station(db, folder);
        int qt_argc = 1;
        char* qt_argv[] = {argv[0], nullptr};
        QApplication application(qt_argc, qt_argv);
        set_message_sink([](const QString& text, bool) { messages.push_back(text); });
        auto station = std::make_unique<Tlogiciel>(WorkerMode::Thread);
        window = station.get();
        station->show();
        if (!identified(*station)) {
            throw std::runtime_error("the station was not identified");
        }

        // The registration form: the first opening cold, then Google Benchmark's runs.
        if (!set_town_count(db, 3000)) {
            throw std::runtime_error("the towns could not be written");
        }
        const Opening cold = open_registration_form(*station, 3000);
        CollectingReporter reporter;
        if (!run_benchmarks(reporter)) {
            code = 1;
        }
        if (!write_text(registration_report, registration_table(reporter, cold))) {
            code = 1;
        }

        if (options.stall_ms > 0) {
            std::string error;
            std::unique_ptr<PrivateServer> server = PrivateServer::start_new({}, error);
            if (server == nullptr) {
                throw std::runtime_error("no server of this process's own: " + error);
            }
            const pid_t server_pid = own_mariadbd();
            if (server_pid <= 0) {
                throw std::runtime_error("the server's process was not found");
            }
            TestHostOverride on_own_server(server->host());
            TestDatabase stalled;
            load_demo_room(stalled);
            for (const char* login : {"banc1", "banc2", "banc3", "banc4"}) {
                add_visitor(stalled, login);
            }
            stalled.write_database_file();
            // Its own server offers no TLS: the benchmarks' authority would refuse it.
            std::remove(server_authority_file_name);
            guarded(station.get(), [&station] { station->start_station(); });
            if (!identified(*station)) {
                throw std::runtime_error("the station was not identified on its own server");
            }
            const StallRun run = run_stall(*station, server_pid, options);
            print_stacks(run);
            const std::string table = stall_table(run);
            std::printf("%s", table.c_str());
            std::printf(
                "stall: %.1f s, longest gap of the window's thread %.1f ms, counter - clock %+.2f s at "
                "its end and %+.2f s after\n",
                (run.stall_windows.front().second - run.stall_windows.front().first) / 1000,
                run.during.longest, run.drift_end_of_stall, run.drift_after);
            for (const ClickProbe& probe : run.clicks) {
                std::printf("stall: click handled in %.1f ms, %s\n", probe.click.handled_in_ms(),
                            probe.label.c_str());
            }
            if (!write_text(report, table)) {
                code = 1;
            }
            // The station (its worker's last closes included) goes before its server and database.
            station.reset();
            window = nullptr;
        }
        station.reset();
        window = nullptr;
        set_message_sink(nullptr);
        unlink((folder.path() + "/screen.json").c_str());
        shared_db = nullptr;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kalimo_bench_responsiveness: %s\n", error.what());
        code = 1;
    }
    benchmark::Shutdown();
    mysql_library_end();
    return code;
}
