// A platform for the benchmarks: the real clock, chosen adapters, and a process table that stays
// the same from call to call (an ended shell is back by the next tick, as on a station where the
// visitor keeps starting it). Nothing here touches a real process or runs a command.
#pragma once

#include "platform/platform.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class BenchPlatform : public Platform {
  public:
    std::vector<HardwareAddress> adapters;
    std::vector<ProcessEntry> processes;
    long snapshots = 0;
    long ended = 0;
    long commands = 0;

    BenchPlatform() { install_platform(this); }
    ~BenchPlatform() override { install_platform(nullptr); }
    BenchPlatform(const BenchPlatform&) = delete;
    BenchPlatform& operator=(const BenchPlatform&) = delete;

    std::vector<HardwareAddress> adapter_addresses() override { return adapters; }
    bool host_name(std::string& name) override {
        name = "poste-bench";
        return true;
    }
    bool first_ipv4_of(const std::string&, std::string& address) override {
        address = "192.168.10.21";
        return true;
    }
    std::vector<ProcessEntry> process_snapshot() override {
        ++snapshots;
        return processes;
    }
    bool end_process(std::uint32_t) override {
        ++ended;
        return true;
    }
    void run_command(const std::string&) override { ++commands; }
    // Today's date; the time of day is the real one, or, while clock_step_seconds is set, moves on by
    // that much at every reading (within today), so that each heartbeat really changes its row.
    LocalTime local_time() override {
        const std::time_t now = std::time(nullptr);
        std::tm parts{};
        localtime_r(&now, &parts);
        LocalTime t{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                    parts.tm_hour,        parts.tm_min,     parts.tm_sec};
        if (clock_step_seconds > 0) {
            stepped_seconds = (stepped_seconds + clock_step_seconds) % 86400;
            t.hour = static_cast<int>(stepped_seconds / 3600);
            t.minute = static_cast<int>(stepped_seconds / 60 % 60);
            t.second = static_cast<int>(stepped_seconds % 60);
        }
        return t;
    }
    long clock_step_seconds = 0;
    std::int64_t monotonic_ms() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool notification_area_present() override { return true; }
    bool hold_keyboard(void*, std::uintptr_t) override { return true; }
    void release_keyboard(void*) override {}
    bool desktop_lockable() override { return true; }
    std::uintptr_t top_window(void*) override { return 0; }
    GuardAnswer ask_guard(GuardRequest) override { return GuardAnswer::NoGuard; }
    // No guard beside the benchmarks' stations: nothing is reset between their sessions.
    ProcessClock process_clock() override { return {monotonic_ms(), "bench"}; }
    ResetProgress ask_reset(const ProcessClock&) override { return ResetProgress::NoGuard; }
    ResetProgress reset_progress() override { return ResetProgress::NoGuard; }

  private:
    long stepped_seconds = 0;
};
