// Where the station's start-up goes, piece by piece, inside one process under the offscreen
// platform: a cold pass (the first QApplication, the first text, the first main window with its
// start_station, the first paint, with the resident memory after each), then each piece warm.
#include "session/identification.h"
#include "app/logiciel.h"
#include "bench/support/bench_database.h"
#include "bench/support/bench_platform.h"
#include "bench/support/bench_report.h"
#include "registration/inscription.h"
#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <benchmark/benchmark.h>
#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double resident_mib() {
    std::ifstream in("/proc/self/statm");
    long size = 0;
    long resident = 0;
    in >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct Step {
    const char* what;
    double ms;
    double resident;
};

template <typename Panel> void BM_construct_panel(benchmark::State& state) {
    for (auto _ : state) {
        Panel panel;
        benchmark::DoNotOptimize(&panel);
    }
}

void BM_construct_main_window(benchmark::State& state) {
    for (auto _ : state) {
        Tlogiciel window;
        if (window.station.setup_required != 0) {
            state.SkipWithError("the station was not identified");
            break;
        }
    }
}

void BM_start_station(benchmark::State& state) {
    Tlogiciel window;
    for (auto _ : state) {
        window.start_station();
    }
    if (window.station.setup_required != 0) {
        state.SkipWithError("the station was not identified");
    }
}

void BM_paint_welcome_screen(benchmark::State& state) {
    Tlogiciel window;
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        window.render(&image);
    }
}

BENCHMARK_TEMPLATE(BM_construct_panel, Identification)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_construct_panel, Renseignement)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_construct_panel, Inscription)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_construct_panel, Compteur_temps)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_construct_panel, Parametrage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_construct_main_window)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_start_station)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_paint_welcome_screen)->Unit(benchmark::kMillisecond);

std::string markdown(const std::vector<Step>& cold, const CollectingReporter& reporter) {
    std::ostringstream out;
    out << "| Cold, in order (one process) | Time (ms) | Resident after (MiB) |\n|---|---:|---:|\n";
    for (const Step& step : cold) {
        out << "| " << step.what << " | " << fixed(step.ms, 1) << " | " << fixed(step.resident, 1) << " |\n";
    }
    out << "\n| Warm, each piece again | Time (ms) |\n|---|---:|\n";
    const std::pair<const char*, const char*> pieces[] = {
        {"BM_construct_panel<Identification>", "login panel `Identification`"},
        {"BM_construct_panel<Renseignement>", "survey panel `Renseignement`"},
        {"BM_construct_panel<Inscription>", "registration panel `Inscription`"},
        {"BM_construct_panel<Compteur_temps>", "counter panel `Compteur_temps`"},
        {"BM_construct_panel<Parametrage>", "set-up panel `Parametrage`"},
        {"BM_construct_main_window", "the whole main window, `start_station` included"},
        {"BM_start_station", "`start_station` alone (its operations on the worker's kept link included)"},
        {"BM_paint_welcome_screen", "painting the welcome screen, 1920x1080"},
    };
    for (const auto& piece : pieces) {
        const Measured* m = reporter.find(piece.first);
        out << "| " << piece.second << " | "
            << (m == nullptr || m->error ? "not measured" : fixed(m->seconds * 1e3, 2)) << " |\n";
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
        system.adapters = {HardwareAddress{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}}; // Poste-01 of the demo room
        WorkingFolder folder;
        TestDatabase db;
        prepare_demo_station(db, folder);

        std::vector<Step> cold;
        Clock::time_point mark = Clock::now();
        auto step = [&](const char* what) {
            const Clock::time_point now = Clock::now();
            cold.push_back(
                Step{what, std::chrono::duration<double, std::milli>(now - mark).count(), resident_mib()});
            mark = Clock::now();
        };
        step("process up to main (libraries loaded), database prepared");
        cold.back().ms = 0;
        int qt_argc = 1;
        char* qt_argv[] = {argv[0], nullptr};
        QApplication application(qt_argc, qt_argv);
        step("QApplication constructed");
        benchmark::DoNotOptimize(
            QFontMetrics(QApplication::font()).horizontalAdvance(QStringLiteral("Kalimo")));
        step("first text measured (the font system starts)");
        CollectingReporter reporter;
        {
            auto window = std::make_unique<Tlogiciel>();
            step("first main window constructed, start_station included");
            QImage image(window->size(), QImage::Format_ARGB32_Premultiplied);
            window->render(&image);
            step("first paint of the welcome screen");
            if (window->station.setup_required != 0) {
                std::fprintf(stderr, "the station was not identified\n");
                code = 1;
            }
        }
        if (!run_benchmarks(reporter)) {
            code = 1;
        }
        for (const Step& s : cold) {
            std::printf("cold: %-60s %7.1f ms %6.1f MiB\n", s.what, s.ms, s.resident);
        }
        unlink((folder.path() + "/screen.json").c_str());
        if (!write_text(report, markdown(cold, reporter))) {
            code = 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kalimo_bench_window: %s\n", error.what());
        code = 1;
    }
    benchmark::Shutdown();
    mysql_library_end();
    return code;
}
