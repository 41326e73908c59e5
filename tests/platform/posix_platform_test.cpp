// The real Linux side of the platform seam. Power commands are only ever mapped here, never run.
#include "app/lockdown.h"
#include "platform/platform.h"
#include "platform/posix/posix_commands.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

} // namespace

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
