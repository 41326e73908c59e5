// Collecting Google Benchmark's results so that each benchmark program can write its table of
// docs/performance.md, and the flags the programs add to Google Benchmark's own.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

struct Measured {
    std::string name;      // function/args, without the time type or the aggregate
    std::string aggregate; // "" for a single run, else "mean", "median", ...
    double seconds = 0;    // real time per iteration
    double iterations = 0;
    std::map<std::string, double> counters;
    bool error = false;
    std::string error_message;
};

// Shows the runs on the console as usual (in colour only on a terminal) and keeps them.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    CollectingReporter();
    void ReportRuns(const std::vector<Run>& reports) override;
    const std::vector<Measured>& runs() const { return runs_; }
    // The median of the repetitions when there were several, else the only run; nullptr when absent.
    const Measured* find(const std::string& name) const;

  private:
    std::vector<Measured> runs_;
};

// Runs the benchmarks the command line selects; false, with each failure printed, when any failed.
bool run_benchmarks(CollectingReporter& reporter);

// Removes "--NAME=VALUE" from argv and returns VALUE (or `fallback` when absent).
std::string take_flag(int& argc, char** argv, const std::string& name, const std::string& fallback = "");

// Writes `text` to `path` (nothing when the path is empty); false when it cannot be written.
bool write_text(const std::string& path, const std::string& text);

// Fixed-point text of a number with `digits` decimals.
std::string fixed(double value, int digits);
