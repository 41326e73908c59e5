#include "bench/support/bench_report.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <unistd.h>

CollectingReporter::CollectingReporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_Tabular) {}

void CollectingReporter::ReportRuns(const std::vector<Run>& reports) {
    for (const Run& run : reports) {
        Measured m;
        m.name = run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
        m.aggregate = run.run_type == Run::RT_Aggregate ? run.aggregate_name : "";
        m.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        m.iterations = static_cast<double>(run.iterations);
        for (const auto& counter : run.counters) {
            m.counters[counter.first] = counter.second.value;
        }
        m.error = run.error_occurred;
        m.error_message = run.error_message;
        runs_.push_back(std::move(m));
    }
    ConsoleReporter::ReportRuns(reports);
}

const Measured* CollectingReporter::find(const std::string& name) const {
    const Measured* single = nullptr;
    for (const Measured& m : runs_) {
        if (m.name != name) {
            continue;
        }
        if (m.aggregate == "median") {
            return &m;
        }
        if (m.aggregate.empty() && single == nullptr) {
            single = &m;
        }
    }
    return single;
}

std::string take_flag(int& argc, char** argv, const std::string& name, const std::string& fallback) {
    const std::string prefix = "--" + name + "=";
    std::string value = fallback;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            value = argv[i] + prefix.size();
            continue;
        }
        argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return value;
}

bool write_text(const std::string& path, const std::string& text) {
    if (path.empty()) {
        return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string fixed(double value, int digits) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(digits) << value;
    return text.str();
}

bool run_benchmarks(CollectingReporter& reporter) {
    benchmark::RunSpecifiedBenchmarks(&reporter);
    bool all_ran = true;
    for (const Measured& m : reporter.runs()) {
        if (m.error) {
            std::fprintf(stderr, "%s: %s\n", m.name.c_str(), m.error_message.c_str());
            all_ran = false;
        }
    }
    return all_ran;
}
