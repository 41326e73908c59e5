// A platform the tests control: chosen adapters, a process table, a recorded command runner, settable
// clocks and notification area. Installing it makes sure no test reaches the real system.
#pragma once

#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The fake's local time: the test's thread sets it while the station's worker thread reads it, so each
// reading and each setting is whole.
class SharedLocalTime {
  public:
    explicit SharedLocalTime(const LocalTime& value) : value_(value) {}
    SharedLocalTime(const SharedLocalTime&) = delete;
    SharedLocalTime& operator=(const SharedLocalTime&) = delete;
    SharedLocalTime& operator=(const LocalTime& value) {
        const std::lock_guard<std::mutex> lock(mutex_);
        value_ = value;
        return *this;
    }
    operator LocalTime() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }

  private:
    mutable std::mutex mutex_;
    LocalTime value_;
};

class FakePlatform : public Platform {
  public:
    struct Process {
        std::uint32_t pid;
        std::string exe_name;
        bool refuses_to_end = false;
    };

    std::vector<HardwareAddress> adapters;
    bool host_name_available = true;
    std::string name = "poste-test";
    bool address_available = true;
    std::string address = "192.168.10.21";
    std::vector<Process> processes;
    std::vector<std::uint32_t> ended;
    int snapshots = 0;
    std::vector<std::string> commands;
    SharedLocalTime now{LocalTime{2026, 12, 9, 10, 30, 0}};
    // The monotonic clock, in milliseconds; it moves only when a test moves it.
    std::atomic<std::int64_t> monotonic{0};
    std::atomic<bool> notification_area{true};
    // The keyboard as the station holds it while locked.
    bool keyboard_held = false;
    int keyboard_holds = 0;
    std::uintptr_t keyboard_window = 0;
    bool lockable = true;
    std::uintptr_t top = 0; // the window on top; 0: the system cannot tell
    std::vector<GuardRequest> guard_requests;
    std::size_t commands_at_guard_request = 0; // how many commands ran before the last request
    // The guard: whether one watches the station, the resets asked of it and how the last one stands
    // (done at once, unless a test says otherwise).
    bool guard = true;
    std::vector<ProcessClock> resets_asked;
    ResetProgress reset = ResetProgress::Done;
    std::int64_t process_ms = 5000;

    FakePlatform() { install_platform(this); }
    ~FakePlatform() override { install_platform(nullptr); }
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    static HardwareAddress mac(unsigned char a, unsigned char b, unsigned char c, unsigned char d,
                               unsigned char e, unsigned char f) {
        return HardwareAddress{a, b, c, d, e, f};
    }

    std::vector<HardwareAddress> adapter_addresses() override { return adapters; }
    bool host_name(std::string& out) override {
        if (!host_name_available) {
            return false;
        }
        out = name;
        return true;
    }
    bool first_ipv4_of(const std::string&, std::string& out) override {
        if (!address_available) {
            return false;
        }
        out = address;
        return true;
    }
    std::vector<ProcessEntry> process_snapshot() override {
        ++snapshots;
        std::vector<ProcessEntry> list;
        for (const auto& p : processes) {
            list.push_back(ProcessEntry{p.pid, p.exe_name});
        }
        return list;
    }
    bool end_process(std::uint32_t pid) override {
        auto it = std::find_if(processes.begin(), processes.end(),
                               [pid](const Process& p) { return p.pid == pid; });
        if (it == processes.end() || it->refuses_to_end) {
            return false;
        }
        ended.push_back(pid);
        processes.erase(it);
        return true;
    }
    void run_command(const std::string& command) override { commands.push_back(command); }
    LocalTime local_time() override { return now; }
    std::int64_t monotonic_ms() override { return monotonic.load(); }
    bool notification_area_present() override { return notification_area.load(); }
    bool hold_keyboard(void*, std::uintptr_t window) override {
        ++keyboard_holds;
        keyboard_window = window;
        keyboard_held = true;
        return true;
    }
    void release_keyboard(void*) override { keyboard_held = false; }
    bool desktop_lockable() override { return lockable; }
    std::uintptr_t top_window(void*) override { return top; }
    GuardAnswer ask_guard(GuardRequest request) override {
        guard_requests.push_back(request);
        commands_at_guard_request = commands.size();
        return GuardAnswer::Done;
    }
    ProcessClock process_clock() override { return {process_ms, "boot-1"}; }
    ResetProgress ask_reset(const ProcessClock& opened) override {
        if (!guard) {
            return ResetProgress::NoGuard;
        }
        resets_asked.push_back(opened);
        return ResetProgress::Waiting;
    }
    ResetProgress reset_progress() override { return guard ? reset : ResetProgress::NoGuard; }

    // Moves the monotonic clock on (the local time stays where the test put it).
    void advance(std::int64_t milliseconds) { monotonic += milliseconds; }

    bool running(const std::string& exe_name) const {
        return std::any_of(processes.begin(), processes.end(),
                           [&](const Process& p) { return p.exe_name == exe_name; });
    }
};
