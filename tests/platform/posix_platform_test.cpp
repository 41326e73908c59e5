// The real Linux side of the platform seam. Power commands are only ever mapped here, never run.
#include "app/lockdown.h"
#include "guard/guard_rules.h"
#include "guard/linux_guard_system.h"
#include "guard/reset_rules.h"
#include "platform/locked_keys.h"
#include "platform/platform.h"
#include "platform/posix/file_broker.h"
#include "platform/posix/posix_commands.h"
#include "platform/posix/privileged_start.h"
#include "tests/support/test_database.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace {

// A child running a copy of sleep under the given file name.
pid_t start_copy_named(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    std::filesystem::copy_file("/bin/sleep", path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(path.c_str(), name.c_str(), "60", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// True when the child has ended, within about two seconds.
bool ended_soon(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Waits until the child's exec is visible in /proc under its new name.
void wait_for_exec(pid_t pid, const std::string& name) {
    for (int i = 0; i < 200; ++i) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
        if (!error && target.filename() == name) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Sets or removes one environment variable for a scope, and puts back what was there.
class EnvironmentValue {
  public:
    EnvironmentValue(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvironmentValue() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    EnvironmentValue(const EnvironmentValue&) = delete;
    EnvironmentValue& operator=(const EnvironmentValue&) = delete;

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

// A bare X server of the test's own, on a display number it picks itself (-displayfd), ended with the
// test. No window manager and no panel: nothing owns the system-tray selection.
class OwnXServer {
  public:
    OwnXServer() {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(ready[1], 3); // dup2 clears close-on-exec on the copy
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen",
                    "0", "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        // Xvfb writes its display number once it accepts clients.
        std::string number;
        pollfd waiting{ready[0], POLLIN, 0};
        char c = 0;
        while (pid_ > 0 && ::poll(&waiting, 1, 20000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(ready[0]);
        if (!number.empty()) {
            display_ = ":" + number;
        }
    }
    ~OwnXServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    OwnXServer(const OwnXServer&) = delete;
    OwnXServer& operator=(const OwnXServer&) = delete;

    // ":N", empty when the server did not start.
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

int broker_losses = 0;
void note_broker_lost() {
    ++broker_losses;
}

} // namespace

TEST(PosixPlatform, TheMonotonicClockNeverGoesBackAndCountsMilliseconds) {
    auto system = make_system_platform();
    std::int64_t previous = system->monotonic_ms();
    for (int i = 0; i < 10000; ++i) {
        const std::int64_t now = system->monotonic_ms();
        ASSERT_GE(now, previous);
        previous = now;
    }
    const auto steady_before = std::chrono::steady_clock::now();
    const std::int64_t before = system->monotonic_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::int64_t after = system->monotonic_ms();
    const auto steady_after = std::chrono::steady_clock::now();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(steady_after - steady_before).count();
    EXPECT_GE(after - before, 29) << "at least the sleep, less one for the cut-off milliseconds";
    EXPECT_LE(after - before, elapsed + 1) << "milliseconds, not a finer unit";
}

TEST(PosixPlatform, TheNotificationAreaIsThereOnlyWhileTheTraySelectionHasAnOwner) {
    auto system = make_system_platform();
    {
        const EnvironmentValue no_display("DISPLAY", nullptr);
        EXPECT_FALSE(system->notification_area_present()) << "no display at all";
    }
    if (::access("/usr/bin/Xvfb", X_OK) != 0) {
        GTEST_SKIP() << "Xvfb is not installed: the tray selection was not tried on a real X server";
    }
    const OwnXServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    const EnvironmentValue display("DISPLAY", server.display().c_str());
    // The test's own client first: the platform's answer below is then about a server that answers.
    int screen_number = 0;
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> client(
        xcb_connect(nullptr, &screen_number), xcb_disconnect);
    xcb_connection_t* connection = client.get();
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    EXPECT_FALSE(system->notification_area_present()) << "a bare X server has no notification area";

    // Claim the selection as a panel's tray does, with a window of our own.
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen_number; ++i) {
        xcb_screen_next(&screens);
    }
    const xcb_window_t tray = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, tray, screens.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen_number);
    const std::unique_ptr<xcb_intern_atom_reply_t, void (*)(void*)> atom(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr),
        std::free);
    ASSERT_NE(atom, nullptr);
    xcb_set_selection_owner(connection, tray, atom->atom, XCB_CURRENT_TIME);
    // A round trip, so the claim is done before the platform asks.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    EXPECT_TRUE(system->notification_area_present()) << "the selection is owned";

    xcb_destroy_window(connection, tray);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    EXPECT_FALSE(system->notification_area_present()) << "its owner is gone";
}

TEST(PosixPlatform, RealShellLookAlikesAreEndedByName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    auto system = make_system_platform();
    const pid_t lower = start_copy_named(folder, "explorer.exe");
    const pid_t upper = start_copy_named(folder, "EXPLORER.EXE");
    const pid_t taskmgr = start_copy_named(folder, "Taskmgr.exe");
    const pid_t backup = start_copy_named(folder, "explorer.exe.bak");
    for (const auto& [pid, name] : std::vector<std::pair<pid_t, std::string>>{{lower, "explorer.exe"},
                                                                              {upper, "EXPLORER.EXE"},
                                                                              {taskmgr, "Taskmgr.exe"},
                                                                              {backup, "explorer.exe.bak"}}) {
        ASSERT_GT(pid, 0);
        wait_for_exec(pid, name);
    }

    EXPECT_GE(kill_shell_processes(*system), 3);
    EXPECT_TRUE(ended_soon(lower));
    EXPECT_TRUE(ended_soon(upper));
    EXPECT_TRUE(ended_soon(taskmgr));
    EXPECT_EQ(kill(backup, 0), 0) << "explorer.exe.bak is not the shell";
    kill(backup, SIGKILL);
    EXPECT_TRUE(ended_soon(backup));
}

TEST(PosixPlatform, TheSnapshotNamesProcessesByTheirExecutableFile) {
    auto system = make_system_platform();
    const auto processes = system->process_snapshot();
    const auto self = std::find_if(processes.begin(), processes.end(), [](const ProcessEntry& p) {
        return p.pid == static_cast<std::uint32_t>(getpid());
    });
    ASSERT_NE(self, processes.end());
    EXPECT_EQ(self->exe_name, "platform_posix_tests");
    EXPECT_FALSE(system->end_process(0x7ffffff0u)) << "no such process";
}

// The guard lets a watched process go as "another program" only while that program's file shows: a
// station killed a moment ago shows none before its end is told, and must not be forgotten then.
TEST(PosixPlatform, AProcessRunsAnotherProgramOnlyWhileItsFileShows) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_FALSE(runs_another_program(getpid(), self)) << "its own file";
    EXPECT_TRUE(runs_another_program(getpid(), "/usr/bin/kalimo")) << "another file";
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_GT(ended, 0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(ended), &info, WEXITED | WNOWAIT), 0); // left a zombie
    EXPECT_FALSE(runs_another_program(ended, "/usr/bin/kalimo")) << "ended, its end not yet collected";
    waitpid(ended, nullptr, 0);
}

TEST(PosixPlatform, AdaptersHostAndClockAreRead) {
    auto system = make_system_platform();
    for (const HardwareAddress& mac : system->adapter_addresses()) {
        EXPECT_NE(mac, (HardwareAddress{0, 0, 0, 0, 0, 0})) << "loopback is not an adapter";
    }
    std::string name;
    ASSERT_TRUE(system->host_name(name));
    char expected[256] = {};
    gethostname(expected, sizeof expected - 1);
    EXPECT_EQ(name, expected);
    std::string address;
    ASSERT_TRUE(system->first_ipv4_of("localhost", address));
    EXPECT_EQ(address.rfind("127.", 0), 0u) << address;
    EXPECT_FALSE(system->first_ipv4_of("no-such-host.invalid", address));
    // The station's own name gives an address on the network when it has one, not the loopback
    // one /etc/hosts often maps it to.
    ASSERT_TRUE(system->first_ipv4_of(name, address));
    if (!system->adapter_addresses().empty()) {
        EXPECT_NE(address.rfind("127.", 0), 0u) << address;
    }

    const LocalTime t = system->local_time();
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    EXPECT_EQ(t.year, parts.tm_year + 1900);
    EXPECT_EQ(t.month, parts.tm_mon + 1);
    EXPECT_GE(t.hour, 0);
    EXPECT_LE(t.hour, 23);
    EXPECT_LE(t.second, 60);
}

TEST(PosixPlatform, TheStationsCommandsMapOntoLinuxOnes) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(posix_command_for("start c://Windows//explorer.exe", "/etc/kalimo/desktop-shell", "3"),
              Words{"/etc/kalimo/desktop-shell"});
    EXPECT_EQ(posix_command_for("start c://Windows//explorer.exe", "", "3"), Words{})
        << "no shell configured";
    EXPECT_EQ(posix_command_for("shutdown /s /f", "", ""), (Words{"/usr/bin/systemctl", "poweroff"}));
    EXPECT_EQ(posix_command_for("shutdown /r /f", "", ""), (Words{"/usr/bin/systemctl", "reboot"}));
    EXPECT_EQ(posix_command_for("shutdown /l /f", "", "c2"),
              (Words{"/usr/bin/loginctl", "terminate-session", "c2"}));
    EXPECT_EQ(posix_command_for("shutdown /l /f", "", ""), Words{}) << "no session to end";
    EXPECT_EQ(posix_command_for("rm -rf /", "", "c2"), Words{});
    EXPECT_EQ(posix_command_for("shutdown /s /f; reboot", "", "c2"), Words{});
}

TEST(PosixPlatform, AStationStartedWithRightsItsCallerLacksKeepsNothingThatLoadsCode) {
    // What a caller could use to have Qt, a driver or a library load code of its choosing (gone
    // afterwards), what the station needs from its caller all the same (kept), and Qt's platform
    // (pinned).
    const char* const hostile = "/tmp/visitor's \"plug-ins\" 100%\\é";
    const std::vector<std::pair<const char*, const char*>> cases = {{"QT_PLUGIN_PATH", nullptr},
                                                                    {"QT_QPA_PLATFORM_PLUGIN_PATH", nullptr},
                                                                    {"QT_QPA_PLATFORMTHEME", nullptr},
                                                                    {"QT_STYLE_OVERRIDE", nullptr},
                                                                    {"QT_IM_MODULE", nullptr},
                                                                    {"XDG_CURRENT_DESKTOP", nullptr},
                                                                    {"GTK_MODULES", nullptr},
                                                                    {"LIBGL_DRIVERS_PATH", nullptr},
                                                                    {"GIO_EXTRA_MODULES", nullptr},
                                                                    {"LIBMYSQL_PLUGIN_DIR", nullptr},
                                                                    {"MARIADB_PLUGIN_DIR", nullptr},
                                                                    {"OPENSSL_CONF", nullptr},
                                                                    {"DISPLAY", hostile},
                                                                    {"XAUTHORITY", hostile},
                                                                    {"HOME", hostile},
                                                                    {"MYSQL_TCP_PORT", hostile},
                                                                    {"QT_QPA_PLATFORM", "xcb"},
                                                                    {"QT_XCB_GL_INTEGRATION", "none"}};
    std::vector<std::unique_ptr<EnvironmentValue>> set;
    for (const auto& [name, after] : cases) {
        set.push_back(std::make_unique<EnvironmentValue>(name, hostile));
    }
    EXPECT_FALSE(running_privileged()) << "the tests run with their caller's own rights";
    clear_loading_environment();
    for (const auto& [name, after] : cases) {
        const char* value = std::getenv(name);
        EXPECT_EQ(value == nullptr ? std::string("(unset)") : std::string(value),
                  after == nullptr ? std::string("(unset)") : std::string(after))
            << name;
    }
}

TEST(FileBroker, ServesItsListedFilesByNameWithinTheLimitAndEndsWithItsPeer) {
    using station_folder::FileRead;
    const WorkingFolder folder;
    ASSERT_EQ(::mkdir("station", 0700), 0);
    ASSERT_EQ(::chdir("station"), 0);
    const char* const listed[] = {"Configuration_Base_de_donnee.init", "Session_en_cours.init", nullptr};
    const std::string kept = "kept\r\n";
    for (const char* name : {"Session_en_cours.init", "Autre.init", "Session_en_cours.init.tmp"}) {
        folder.write_file(std::string("station/") + name, kept);
    }
    folder.write_file("Session_en_cours.init", kept); // beside the station folder

    for (const int signal : {0, SIGKILL, SIGSTOP}) {
        pid_t broker = 0;
        const int connection = start_file_broker(listed, broker);
        ASSERT_GE(connection, 0);
        broker_losses = 0;
        use_file_broker(connection, note_broker_lost);
        std::string bytes;
        // A listed file, whole: hostile bytes, nothing, and the most it may hold.
        for (const std::string& written : {std::string("base\r\n'\"%s\\\xe9\xff\0\r\n", 16), std::string(),
                                           std::string(station_folder::file_limit, 'x')}) {
            ASSERT_TRUE(station_folder::write(listed[0], written));
            EXPECT_TRUE(folder.read_file(std::string("station/") + listed[0]) == written);
            EXPECT_EQ(station_folder::read(listed[0], bytes), FileRead::Read);
            EXPECT_TRUE(bytes == written) << bytes.size();
        }
        EXPECT_TRUE(station_folder::remove(listed[0]));
        EXPECT_FALSE(station_folder::present(listed[0]));
        EXPECT_EQ(station_folder::read(listed[0], bytes), FileRead::Absent);

        struct Case {
            std::string name;
            std::size_t size;
            const char* what;
        };
        const Case refused[] = {
            {"Autre.init", 4, "a name outside its list"},
            {"Session_en_cours.init.tmp", 4, "a listed file's temporary"},
            {"../Session_en_cours.init", 4, "a path out of the folder"},
            {"./Session_en_cours.init", 4, "a path to a listed file"},
            {folder.path() + "/station/Session_en_cours.init", 4, "the full path of a listed file"},
            {"Session_en_cours.init", station_folder::file_limit + 1, "a listed file over the limit"},
        };
        for (const Case& c : refused) {
            EXPECT_FALSE(station_folder::write(c.name.c_str(), std::string(c.size, 'w'))) << c.what;
            if (c.size <= station_folder::file_limit) {
                EXPECT_FALSE(station_folder::remove(c.name.c_str())) << c.what;
            }
        }
        for (const char* name : {"station/Session_en_cours.init", "station/Autre.init",
                                 "station/Session_en_cours.init.tmp", "Session_en_cours.init"}) {
            EXPECT_EQ(folder.read_file(name), kept) << name << " is as it was";
        }
        EXPECT_EQ(station_folder::read("Autre.init", bytes), FileRead::Unreadable);
        EXPECT_EQ(station_folder::read("../Session_en_cours.init", bytes), FileRead::Unreadable);
        folder.write_file("station/Session_en_cours.init", std::string(station_folder::file_limit + 1, 'r'));
        EXPECT_EQ(station_folder::read(listed[1], bytes), FileRead::Unreadable) << "a file over the limit";
        folder.write_file("station/Session_en_cours.init", kept);
        EXPECT_EQ(broker_losses, 0);

        if (signal == 0) {
            // The station gone, its broker ends.
            use_file_broker(-1, nullptr);
            ::close(connection);
            EXPECT_TRUE(ended_soon(broker));
            continue;
        }
        // A broker ended, or stopped, is lost: what is asked of it fails, and the station is told once.
        ::kill(broker, signal);
        EXPECT_EQ(station_folder::read(listed[1], bytes), FileRead::Unreadable) << signal;
        EXPECT_FALSE(station_folder::write(listed[1], "x")) << signal;
        EXPECT_TRUE(station_folder::present(listed[1])) << "a lost broker cannot tell a file is absent";
        EXPECT_EQ(broker_losses, 1) << signal;
        EXPECT_EQ(folder.read_file("station/Session_en_cours.init"), kept);
        use_file_broker(-1, nullptr);
        ::close(connection);
        ::kill(broker, SIGKILL);
        ::waitpid(broker, nullptr, 0);
    }
}

TEST(LockedKeys, TheWindowsHookKeepsTheSystemsChordsAndLetsTypingThrough) {
    namespace vk = virtual_key;
    constexpr unsigned enter = 0x0D, letter_a = 0x41, up = 0x26, f4 = 0x73, space = 0x20;
    struct Case {
        unsigned key;
        bool alt, ctrl, shift;
        bool swallowed;
        const char* what;
    };
    const Case cases[] = {
        {vk::left_windows, false, false, false, true, "left Windows key"},
        {vk::right_windows, false, true, true, true, "right Windows key in a chord"},
        {vk::apps, false, false, false, true, "Apps key"},
        {vk::tab, true, false, false, true, "Alt+Tab"},
        {vk::tab, true, false, true, true, "Alt+Shift+Tab"},
        {vk::escape, true, false, false, true, "Alt+Esc"},
        {vk::escape, false, true, false, true, "Ctrl+Esc"},
        {vk::escape, false, true, true, true, "Ctrl+Shift+Esc"},
        {vk::f10, false, false, true, true, "Shift+F10"},
        {vk::tab, false, false, false, false, "Tab between fields"},
        {vk::tab, false, false, true, false, "Shift+Tab"},
        {vk::escape, false, false, false, false, "Esc alone"},
        {vk::f10, false, false, false, false, "F10 alone"},
        {enter, false, false, false, false, "Enter"},
        {letter_a, false, false, true, false, "a capital letter"},
        {letter_a, true, true, false, false, "AltGr and a letter"},
        {up, true, true, true, false, "the staff key chord"},
        {space, false, false, false, false, "space on a box's button"},
        {f4, true, false, false, false, "Alt+F4, refused by the window itself"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(swallowed_while_locked(c.key, c.alt, c.ctrl, c.shift), c.swallowed) << c.what;
    }
}

TEST(GuardRules, WhatTheGuardDoesAboutAStationItWatches) {
    constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
    struct Case {
        StationSeen seen;
        std::int64_t stopped_ms;
        bool chosen_exit, desktop_alive;
        std::int64_t since_start_ms;
        GuardStep step;
        const char* what;
    };
    const Case cases[] = {
        {StationSeen::Running, 0, false, true, never, GuardStep::Watch, "running"},
        {StationSeen::Running, 0, false, true, 0, GuardStep::Watch, "just started"},
        {StationSeen::Stopped, 0, false, true, never, GuardStep::Watch, "just stopped"},
        {StationSeen::Stopped, stopped_grace_ms - 1, false, true, never, GuardStep::Watch,
         "stopped a moment"},
        {StationSeen::Stopped, stopped_grace_ms, false, true, 0, GuardStep::End, "stopped too long"},
        {StationSeen::Stopped, 60000, false, false, never, GuardStep::End,
         "stopped, desktop gone: ended all the same"},
        {StationSeen::Gone, 0, false, true, never, GuardStep::Start,
         "killed or crashed, never started by the guard"},
        {StationSeen::Gone, 0, false, true, 60000, GuardStep::Start, "ran a while: at once"},
        {StationSeen::Gone, 0, false, true, restart_spacing_ms, GuardStep::Start,
         "ended again, spacing over"},
        {StationSeen::Gone, 0, false, true, restart_spacing_ms - 1, GuardStep::Watch, "ended at once: waits"},
        {StationSeen::Gone, 0, false, true, 0, GuardStep::Watch, "a visitor's loop: waits, never gives up"},
        {StationSeen::Gone, 0, true, true, never, GuardStep::Forget, "staff's quit"},
        {StationSeen::Gone, 0, true, true, 0, GuardStep::Forget, "staff's quit right after a start"},
        {StationSeen::Gone, 0, false, false, never, GuardStep::Forget, "the desktop session ended"},
        {StationSeen::Gone, 0, false, false, 0, GuardStep::Forget, "the desktop ended while waiting"},
        {StationSeen::Elsewhere, 0, false, true, 0, GuardStep::Forget,
         "a station's child, now another program"},
    };
    for (const Case& c : cases) {
        StationWatch watch;
        watch.seen = c.seen;
        watch.stopped_ms = c.stopped_ms;
        watch.chosen_exit = c.chosen_exit;
        watch.desktop_alive = c.desktop_alive;
        watch.since_start_ms = c.since_start_ms;
        EXPECT_EQ(next_step(watch), c.step) << c.what;
    }
}

// What a session's end takes away: the account's processes started since the opening, whatever they
// call themselves, and nothing of the desktop that was there before.
TEST(ResetRules, TheAccountsProcessesSinceTheOpeningEndAndNothingElse) {
    const SessionScope scope{"1000", 5000, "boot-a", 42};
    const std::vector<ProcessSeen> seen = {
        {10, "1000", 1200}, // the window manager, from the login
        {11, "1000", 4999}, // the panel, just before the opening
        {12, "1000", 5000}, // the desktop shell the session started
        {13, "1000", 7300}, // a detached download, a program renamed kalimo: the start time decides
        {42, "1000", 6000}, // the station that asks
        {14, "0", 6100},    // root's
        {15, "1001", 6200}, // another account's
    };
    EXPECT_EQ(processes_to_end(seen, scope, "boot-a"), (std::vector<std::uint32_t>{12, 13}));
    EXPECT_TRUE(processes_to_end(seen, scope, "boot-b").empty())
        << "an opening of an earlier start of the system";
    EXPECT_TRUE(processes_to_end(seen, SessionScope{"", 0, "boot-a", 42}, "boot-a").empty()) << "no account";
}

TEST(ResetRules, TheHomeBecomesTheReferenceAgainAndTheSessionsOwnFilesStay) {
    const std::int64_t since = 1000;
    const std::vector<HomeEntry> reference = {
        {".bashrc", EntryKind::File, 0644, "1000:1000", 30, 100, 100, ""},
        {".config", EntryKind::Directory, 0755, "1000:1000", 0, 100, 100, ""},
        {".config/app.conf", EntryKind::File, 0600, "1000:1000", 12, 100, 100, ""},
        {"Documents", EntryKind::Directory, 0755, "1000:1000", 0, 100, 100, ""},
        {"Documents/lettre.odt", EntryKind::File, 0644, "1000:1000", 900, 100, 100, ""},
        {"lien", EntryKind::Link, 0777, "1000:1000", 9, 100, 100, "Documents"},
    };
    auto entry = [](std::vector<HomeEntry>& in, const std::string& path) -> HomeEntry& {
        return *std::find_if(in.begin(), in.end(), [&](const HomeEntry& e) { return e.path == path; });
    };
    auto without = [](std::vector<HomeEntry> in, const std::string& top) {
        in.erase(std::remove_if(
                     in.begin(), in.end(),
                     [&](const HomeEntry& e) { return e.path == top || e.path.rfind(top + "/", 0) == 0; }),
                 in.end());
        return in;
    };
    using A = std::vector<HomeAction>;
    struct Case {
        const char* what;
        std::function<std::vector<HomeEntry>(std::vector<HomeEntry>)> session;
        A expected;
    };
    const std::vector<Case> cases = {
        {"nothing touched", [](auto live) { return live; }, {}},
        {"a folder of downloads added",
         [](auto live) {
             live.push_back({"Telechargements", EntryKind::Directory, 0755, "1000:1000", 0, 2000, 2000, ""});
             live.push_back({"Telechargements/x.pdf", EntryKind::File, 0644, "1000:1000", 5, 2000, 2000, ""});
             return live;
         },
         {{HomeStep::Remove, "Telechargements"}}},
        {"a file grown",
         [&](auto live) {
             entry(live, "Documents/lettre.odt").size = 901;
             return live;
         },
         {{HomeStep::Restore, "Documents/lettre.odt"}}},
        {"a file changed, its time set back",
         [&](auto live) {
             entry(live, ".config/app.conf").changed = since;
             return live;
         },
         {{HomeStep::Restore, ".config/app.conf"}}},
        {"a file given away",
         [&](auto live) {
             entry(live, ".bashrc").owner = "1000:0";
             return live;
         },
         {{HomeStep::Restore, ".bashrc"}}},
        {"a file removed",
         [&](auto live) { return without(live, ".bashrc"); },
         {{HomeStep::Restore, ".bashrc"}}},
        {"a folder removed with what it held",
         [&](auto live) { return without(live, "Documents"); },
         {{HomeStep::Restore, "Documents"}}},
        {"a folder made a link elsewhere",
         [&](auto live) {
             live = without(live, "Documents");
             live.push_back({"Documents", EntryKind::Link, 0777, "1000:1000", 4, 2000, 2000, "/etc"});
             return live;
         },
         {{HomeStep::Remove, "Documents"}, {HomeStep::Restore, "Documents"}}},
        {"a folder beside a file whose name continues it",
         [](auto live) {
             live.push_back({"a", EntryKind::Directory, 0755, "1000:1000", 0, 2000, 2000, ""});
             live.push_back({"a.txt", EntryKind::File, 0644, "1000:1000", 1, 2000, 2000, ""});
             live.push_back({"a/x", EntryKind::File, 0644, "1000:1000", 1, 2000, 2000, ""});
             return live;
         },
         {{HomeStep::Remove, "a"}, {HomeStep::Remove, "a.txt"}}},
        {"a folder opened to all",
         [&](auto live) {
             entry(live, ".config").mode = 0777;
             return live;
         },
         {{HomeStep::Fix, ".config"}}},
        {"a link pointed elsewhere",
         [&](auto live) {
             entry(live, "lien").target = "/etc/shadow";
             return live;
         },
         {{HomeStep::Restore, "lien"}}},
        {"the session's own authority and runtime files",
         [](auto live) {
             live.push_back({".Xauthority", EntryKind::File, 0600, "1000:1000", 50, 2000, 2000, ""});
             live.push_back({".dbus", EntryKind::Directory, 0700, "1000:1000", 0, 2000, 2000, ""});
             live.push_back(
                 {".dbus/session-bus", EntryKind::Directory, 0700, "1000:1000", 0, 2000, 2000, ""});
             return live;
         },
         {}},
    };
    for (const Case& c : cases) {
        const A plan = plan_home_reset(c.session(reference), reference, since, {".Xauthority", ".dbus"});
        ASSERT_EQ(plan.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            EXPECT_EQ(plan[i].step, c.expected[i].step) << c.what;
            EXPECT_EQ(plan[i].path, c.expected[i].path) << c.what;
        }
    }
}

TEST(ResetRules, TheSharedFoldersLoseWhatTheAccountMadeThereSinceTheOpening) {
    const std::vector<SharedEntry> tmp = {
        {".X11-unix", "0", 2000},   // the X server's
        {".ICE-unix", "1000", 500}, // the desktop's, from the login
        {"kalimo-visitor", "1000", 1000}, {"download.part", "1000", 4000}, {"other", "1001", 4000},
    };
    EXPECT_EQ(shared_entries_to_remove(tmp, "1000", 1000),
              (std::vector<std::string>{"kalimo-visitor", "download.part"}));
    EXPECT_TRUE(shared_entries_to_remove(tmp, "", 0).empty());
}
