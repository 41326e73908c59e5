// The Windows platform layer against a real Windows API (Wine in CI): the adapters and their MAC
// texts, the host name and its address, the process snapshot and the shell killer the station
// runs, the command interpreter, the clocks, the notification area, the locked keyboard's hook, and
// the guard's side: its stations and their threads, the pipe the station asks it on, and the reset
// of a session's account (its programs ended, its profile put back over scratch folders).
// Everything goes through the installed platform, as in the station; the system is asked directly
// only for the reference values.
//
// Usage: windows_platform_test.exe [name filter]. kalimo_sleeper.exe and kalimo-guard.exe must sit
// beside it.
#include "fonction/network.h"
#include "guard/windows_guard_system.h"
#include "guard/windows_reset.h"
#include "guard/windows_stations.h"
#include "platform/platform.h"
#include "platform/shell_processes.h"
#include "tests/windows/check.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>

#include "platform/windows/guard_pipe.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD signalled = WAIT_OBJECT_0;
constexpr DWORD still_running = WAIT_TIMEOUT;

std::string hex_pair(unsigned char byte) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

// The MAC text built by hand, independently of format_mac.
std::string reference_mac(const BYTE* address) {
    std::string text;
    for (int i = 0; i < 6; ++i) {
        text += (i == 0 ? "" : "-") + hex_pair(address[i]);
    }
    return text;
}

// The adapters as the system lists them, read with a buffer of the size it asks for: their MAC
// texts in list order, and every IPv4 address given to any of them.
bool reference_adapters(std::vector<std::string>& macs, std::vector<std::string>& addresses) {
    ULONG size = 0;
    DWORD status = GetAdaptersInfo(nullptr, &size);
    if (status == ERROR_NO_DATA) {
        return true;
    }
    if (status != ERROR_BUFFER_OVERFLOW) {
        return false;
    }
    std::vector<unsigned char> buffer(size);
    status = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (status != ERROR_SUCCESS) {
        return false;
    }
    for (auto* entry = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); entry != nullptr;
         entry = entry->Next) {
        macs.push_back(reference_mac(entry->Address));
        for (const IP_ADDR_STRING* address = &entry->IpAddressList; address != nullptr;
             address = address->Next) {
            addresses.push_back(address->IpAddress.String);
        }
    }
    return true;
}

bool is_dotted_ipv4(const std::string& text) {
    int groups = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t digits = 0;
        int value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 4) {
            value = value * 10 + (text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return false;
        }
        ++groups;
        if (i < text.size()) {
            if (text[i] != '.' || groups == 4) {
                return false;
            }
            ++i;
            if (i == text.size()) {
                return false; // a trailing dot
            }
        }
    }
    return groups == 4;
}

bool equal_ignoring_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// IPv4 addresses the resolver gives for a name, asked through getaddrinfo rather than gethostbyname.
std::vector<std::string> resolver_ipv4_addresses(const std::string& name) {
    std::vector<std::string> found;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return found;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) == 0) {
        for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
            const auto* b = reinterpret_cast<const unsigned char*>(&address->sin_addr);
            found.push_back(std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
                            "." + std::to_string(b[3]));
        }
        freeaddrinfo(list);
    }
    WSACleanup();
    return found;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& text : texts) {
        all += (all.empty() ? "" : ", ") + text;
    }
    return all;
}

std::string own_folder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/"));
}

std::string own_file_name() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(text.find_last_of("\\/") + 1);
}

bool file_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh folder under the temporary folder, removed (with what the case put in it) by the caller.
std::string make_scratch_folder(const char* stem) {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    const std::string folder = std::string(base) + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(GetTickCount());
    return CreateDirectoryA(folder.c_str(), nullptr) ? folder : std::string();
}

// The name under which the snapshot lists `pid`, waiting for it to appear; empty when it never does.
std::string listed_name(DWORD pid) {
    for (int tries = 0; tries < 100; ++tries) {
        for (const ProcessEntry& entry : platform().process_snapshot()) {
            if (entry.pid == pid) {
                return entry.exe_name;
            }
        }
        Sleep(100);
    }
    return std::string();
}

bool listed(DWORD pid) {
    for (const ProcessEntry& entry : platform().process_snapshot()) {
        if (entry.pid == pid) {
            return true;
        }
    }
    return false;
}

// A copy of the sleeper under a given file name, in its own folder (names that differ only in
// case are one file on Windows), started and tracked until the case ends.
struct Child {
    std::string folder;
    std::string path;
    PROCESS_INFORMATION info{};
    bool started = false;

    DWORD wait(DWORD milliseconds) const { return WaitForSingleObject(info.hProcess, milliseconds); }
    DWORD exit_code() const {
        DWORD code = 0xFFFFFFFF;
        GetExitCodeProcess(info.hProcess, &code);
        return code;
    }
};

bool start_copy(const std::string& sleeper, const std::string& parent, int slot, const std::string& name,
                Child& child, const std::string& argument = "60") {
    child.folder = parent + "\\" + std::to_string(slot);
    child.path = child.folder + "\\" + name;
    if (!CreateDirectoryA(child.folder.c_str(), nullptr) ||
        !CopyFileA(sleeper.c_str(), child.path.c_str(), TRUE)) {
        return false;
    }
    std::string command_line = "\"" + child.path + "\" " + argument;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    child.started = CreateProcessA(child.path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, child.folder.c_str(), &startup, &child.info) != 0;
    return child.started;
}

void clean_up(Child& child) {
    if (child.started) {
        if (child.wait(0) == still_running) {
            TerminateProcess(child.info.hProcess, 1);
            child.wait(10000);
        }
        CloseHandle(child.info.hThread);
        CloseHandle(child.info.hProcess);
        child.started = false;
    }
    if (!child.path.empty()) {
        DeleteFileA(child.path.c_str());
    }
    if (!child.folder.empty()) {
        RemoveDirectoryA(child.folder.c_str());
    }
}

} // namespace

CHECK_CASE(mac_texts_are_six_upper_case_pairs) {
    CHECK_EQ(format_mac({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), "00-1A-2B-3C-4D-5E");
    CHECK_EQ(format_mac({0xFF, 0xab, 0xCD, 0xef, 0x09, 0x80}), "FF-AB-CD-EF-09-80");
    CHECK_EQ(format_mac({0, 0, 0, 0, 0, 0}), "00-00-00-00-00-00");
}

CHECK_CASE(adapters_are_listed_in_system_order) {
    std::vector<std::string> expected;
    std::vector<std::string> addresses;
    REQUIRE_MSG(reference_adapters(expected, addresses),
                "GetAdaptersInfo could not be read for the reference list");
    std::fprintf(stderr, "    the system lists %d adapter(s): %s\n", static_cast<int>(expected.size()),
                 joined(expected).c_str());
    REQUIRE_MSG(!expected.empty(), "no adapter on this system: nothing to compare the MAC texts with");

    int count = -1;
    count_adapters(count);
    CHECK_EQ(count, static_cast<int>(expected.size()));
    CHECK_EQ(platform().adapter_addresses().size(), expected.size());
    for (int index = 0; index < count && index < static_cast<int>(expected.size()); ++index) {
        FixedText<18> text = "untouched";
        adapter_mac_text(index, text);
        CHECK_EQ_MSG(text.str(), expected[static_cast<std::size_t>(index)],
                     "adapter " + std::to_string(index));
        CHECK_EQ(text.size(), std::size_t{17});
    }
}

CHECK_CASE(an_index_past_the_last_adapter_leaves_the_text_unchanged) {
    int count = -1;
    count_adapters(count);
    REQUIRE(count >= 0);
    for (int index : {count, count + 1, count + 50, -1}) {
        FixedText<18> text = "untouched";
        adapter_mac_text(index, text);
        CHECK_EQ_MSG(text.str(), "untouched", "index " + std::to_string(index));
        std::string plain = "untouched";
        CHECK(!adapter_mac_at(index, plain));
        CHECK_EQ(plain, "untouched");
    }
}

CHECK_CASE(host_name_and_its_first_ipv4_address) {
    FixedText<16> ip = "unset";
    FixedText<100> host = "unset";
    int status = 0;
    read_ip_and_host_name(ip, host, status);
    std::fprintf(stderr, "    host name \"%s\", address \"%s\"\n", host.c_str(), ip.c_str());
    CHECK_EQ(status, 0);
    REQUIRE(!host.empty());
    CHECK(host.str() != "unset");

    char dns_name[256] = {};
    DWORD length = sizeof dns_name;
    REQUIRE(GetComputerNameExA(ComputerNameDnsHostname, dns_name, &length) != 0);
    CHECK_MSG(equal_ignoring_case(host.str(), dns_name),
              "the computer's DNS host name is " + std::string(dns_name));

    CHECK_MSG(is_dotted_ipv4(ip.str()), "not a dotted IPv4 text: " + ip.str());
    // Windows answers its own name with its adapters' addresses; a resolver may answer with others.
    std::vector<std::string> known = resolver_ipv4_addresses(host.str());
    std::vector<std::string> macs;
    CHECK(reference_adapters(macs, known));
    bool among = false;
    for (const std::string& address : known) {
        among = among || address == ip.str();
    }
    CHECK_MSG(among, ip.str() + " is none of this computer's addresses: " + joined(known));
}

CHECK_CASE(first_ipv4_of_known_and_unknown_names) {
    std::string address;
    CHECK(platform().first_ipv4_of("localhost", address));
    CHECK_EQ(address, "127.0.0.1");
    address.clear();
    CHECK(platform().first_ipv4_of("192.0.2.7", address));
    CHECK_EQ(address, "192.0.2.7");
    address = "kept";
    CHECK(!platform().first_ipv4_of("kalimo-no-such-host.invalid", address));
}

CHECK_CASE(the_snapshot_names_this_program_by_its_file) {
    const std::string name = listed_name(GetCurrentProcessId());
    CHECK_EQ(name, own_file_name());
}

CHECK_CASE(one_call_ends_every_shell_whatever_the_case_and_spares_look_alikes) {
    const std::string sleeper = own_folder() + "\\kalimo_sleeper.exe";
    REQUIRE_MSG(file_exists(sleeper), "the helper " + sleeper + " is missing");
    const std::string scratch = make_scratch_folder("kalimo-shells");
    REQUIRE(!scratch.empty());

    const std::vector<std::string> shell_names = {"explorer.exe", "EXPLORER.EXE", "Taskmgr.exe"};
    std::vector<Child> shells(shell_names.size());
    Child look_alike;
    const check::Finally cleanup([&] {
        for (Child& child : shells) {
            clean_up(child);
        }
        clean_up(look_alike);
        RemoveDirectoryA(scratch.c_str());
    });

    for (std::size_t i = 0; i < shells.size(); ++i) {
        REQUIRE_MSG(start_copy(sleeper, scratch, static_cast<int>(i), shell_names[i], shells[i]),
                    "could not start " + shell_names[i] + " (error " + std::to_string(GetLastError()) + ")");
    }
    REQUIRE_MSG(start_copy(sleeper, scratch, static_cast<int>(shells.size()), "explorer.exe.bak", look_alike),
                "could not start explorer.exe.bak (error " + std::to_string(GetLastError()) + ")");

    // The snapshot must show each under its own spelling, or the case-blind match is not exercised.
    for (std::size_t i = 0; i < shells.size(); ++i) {
        CHECK_EQ(listed_name(shells[i].info.dwProcessId), shell_names[i]);
    }
    CHECK_EQ(listed_name(look_alike.info.dwProcessId), "explorer.exe.bak");

    // One call. Wine's own explorer.exe, when it runs, is ended too.
    const int ended = kill_shell_processes(platform());
    CHECK_MSG(ended >= static_cast<int>(shells.size()), "ended " + std::to_string(ended));

    for (std::size_t i = 0; i < shells.size(); ++i) {
        CHECK_EQ_MSG(shells[i].wait(10000), signalled, shell_names[i] + " is still running");
        CHECK_EQ_MSG(shells[i].exit_code(), DWORD{0}, shell_names[i] + " was not ended with exit code 0");
        CHECK_MSG(!listed(shells[i].info.dwProcessId), shell_names[i] + " is still in the snapshot");
    }
    CHECK_EQ_MSG(look_alike.wait(0), still_running, "explorer.exe.bak is not the shell and must survive");
    CHECK(listed(look_alike.info.dwProcessId));
}

CHECK_CASE(ending_a_process_that_does_not_exist_fails) {
    std::uint32_t unused = 0x3FFFFFFC; // process ids are multiples of four
    while (listed(unused)) {
        unused -= 4;
    }
    CHECK(!platform().end_process(unused));
}

CHECK_CASE(commands_reach_the_command_interpreter) {
    const std::string scratch = make_scratch_folder("kalimo-command");
    REQUIRE(!scratch.empty());
    const std::string marker = scratch + "\\marker file.txt";
    const check::Finally cleanup([&] {
        DeleteFileA(marker.c_str());
        RemoveDirectoryA(scratch.c_str());
    });

    platform().run_command("echo kalimo>\"" + marker + "\"");
    std::ifstream in(marker);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CHECK_EQ(written.substr(0, 6), "kalimo");
}

CHECK_CASE(local_time_fields_are_in_range_and_agree_with_the_runtime_clock) {
    const std::time_t before = std::time(nullptr);
    const LocalTime now = platform().local_time();
    const std::time_t after = std::time(nullptr);
    std::fprintf(stderr, "    local time %04d-%02d-%02d %02d:%02d:%02d\n", now.year, now.month, now.day,
                 now.hour, now.minute, now.second);

    CHECK(now.year >= 2024 && now.year <= 2200);
    CHECK(now.month >= 1 && now.month <= 12);
    CHECK(now.day >= 1 && now.day <= 31);
    CHECK(now.hour >= 0 && now.hour <= 23);
    CHECK(now.minute >= 0 && now.minute <= 59);
    CHECK(now.second >= 0 && now.second <= 59);

    // Back through the runtime's own local-time conversion: a field read from the wrong member
    // (the day of the week for the day, say) shows here even when it stays in range.
    std::tm fields{};
    fields.tm_year = now.year - 1900;
    fields.tm_mon = now.month - 1;
    fields.tm_mday = now.day;
    fields.tm_hour = now.hour;
    fields.tm_min = now.minute;
    fields.tm_sec = now.second;
    fields.tm_isdst = -1;
    const std::time_t back = std::mktime(&fields);
    CHECK_MSG(back >= before - 2 && back <= after + 2,
              "off the runtime clock by " + std::to_string(static_cast<long long>(back - before)) + " s");
    CHECK_EQ(fields.tm_mday, now.day); // mktime normalises a day past the month's end
}

CHECK_CASE(the_monotonic_clock_counts_milliseconds_and_never_goes_back) {
    std::int64_t previous = platform().monotonic_ms();
    bool backwards = false;
    for (int i = 0; i < 10000; ++i) {
        const std::int64_t now = platform().monotonic_ms();
        backwards = backwards || now < previous;
        previous = now;
    }
    CHECK_MSG(!backwards, "a reading was smaller than the one before it");

    LARGE_INTEGER frequency;
    LARGE_INTEGER counter_before;
    LARGE_INTEGER counter_after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter_before);
    const std::int64_t before = platform().monotonic_ms();
    Sleep(50);
    const std::int64_t after = platform().monotonic_ms();
    QueryPerformanceCounter(&counter_after);
    const std::int64_t elapsed =
        (counter_after.QuadPart - counter_before.QuadPart) * 1000 / frequency.QuadPart;
    std::fprintf(stderr, "    50 ms asleep: the clock moved %lld ms, the performance counter %lld ms\n",
                 static_cast<long long>(after - before), static_cast<long long>(elapsed));
    // The tick count moves in steps of up to 16 ms on Windows.
    CHECK_MSG(after - before >= 50 - 16, "moved " + std::to_string(after - before) + " ms");
    CHECK_MSG(after - before <= elapsed + 16, "moved " + std::to_string(after - before) + " ms in " +
                                                  std::to_string(elapsed) + " ms: not milliseconds");
}

LRESULT CALLBACK plain_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcW(window, message, w, l);
}

CHECK_CASE(the_notification_area_is_there_while_a_taskbar_window_is) {
    // Wine's own desktop may or may not have drawn a taskbar, and the shell case above ends Wine's
    // explorer.exe: start from whatever is there now.
    const bool existed = FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr;
    std::fprintf(stderr, "    a taskbar window %s before the case\n", existed ? "exists" : "does not exist");
    CHECK_EQ(platform().notification_area_present(), existed);

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW taskbar_class{};
    taskbar_class.cbSize = sizeof taskbar_class;
    taskbar_class.lpfnWndProc = plain_window_procedure;
    taskbar_class.hInstance = instance;
    taskbar_class.lpszClassName = L"Shell_TrayWnd";
    REQUIRE_MSG(RegisterClassExW(&taskbar_class) != 0,
                "cannot register the window class (error " + std::to_string(GetLastError()) + ")");
    HWND taskbar = CreateWindowExW(WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                   nullptr, instance, nullptr);
    const check::Finally cleanup([&] {
        if (taskbar != nullptr) {
            DestroyWindow(taskbar);
        }
        UnregisterClassW(L"Shell_TrayWnd", instance);
    });
    REQUIRE_MSG(taskbar != nullptr,
                "cannot create the window (error " + std::to_string(GetLastError()) + ")");
    CHECK(platform().notification_area_present());

    DestroyWindow(taskbar);
    taskbar = nullptr;
    if (!existed) {
        CHECK(!platform().notification_area_present());
    }
}

CHECK_CASE(the_locked_keyboard_hook_goes_in_and_comes_out) {
    // The keyboard hook of a locked station, installed and removed as the lock comes and goes; the
    // keys it keeps are chosen by a function the Linux tests cover.
    CHECK(platform().hold_keyboard(nullptr, 0));
    CHECK_MSG(platform().hold_keyboard(nullptr, 0), "held again while held");
    platform().release_keyboard(nullptr);
    platform().release_keyboard(nullptr); // released twice: nothing
    CHECK_MSG(platform().hold_keyboard(nullptr, 0), "held again after a release");
    platform().release_keyboard(nullptr);
    CHECK(platform().desktop_lockable());
}

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end()); // the scratch paths are ASCII
}

CHECK_CASE(the_guard_finds_its_stations_tells_a_suspended_one_and_starts_one_again) {
    const std::string sleeper = own_folder() + "\\kalimo_sleeper.exe";
    REQUIRE_MSG(file_exists(sleeper), "the helper " + sleeper + " is missing");
    const std::string scratch = make_scratch_folder("kalimo-guard");
    REQUIRE(!scratch.empty());
    Child running;
    Child suspended;
    Child other;
    const check::Finally cleanup([&] {
        clean_up(running);
        clean_up(suspended);
        clean_up(other);
        RemoveDirectoryA(scratch.c_str());
    });
    REQUIRE(start_copy(sleeper, scratch, 0, "kalimo.exe", running));
    REQUIRE(start_copy(sleeper, scratch, 1, "kalimo.exe", suspended));
    REQUIRE(start_copy(sleeper, scratch, 2, "kalimo_autre.exe", other));
    // Its first thread alone, as a visitor would suspend the window's thread; the other runs on.
    CHECK(SuspendThread(suspended.info.hThread) != static_cast<DWORD>(-1));

    // Only the program the guard was given, by its full path in any case.
    std::string upper = running.path;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::vector<StationProcess> found = station_processes(widen(upper));
    CHECK_EQ(found.size(), 1u);
    DWORD own_session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &own_session);
    for (const StationProcess& station : found) {
        CHECK_EQ(station.pid, running.info.dwProcessId);
        CHECK_EQ(station.session, own_session);
        CHECK(station.create_time != 0);
        CHECK_EQ(process_creation(station.pid), station.create_time);
    }
    const std::uint64_t created = process_creation(running.info.dwProcessId);
    CHECK(process_alive(running.info.dwProcessId, created));
    CHECK_MSG(!process_alive(running.info.dwProcessId, created + 1), "another process under the same number");
    CHECK(!process_suspended(running.info.dwProcessId, created));
    const bool seen_suspended =
        process_suspended(suspended.info.dwProcessId, process_creation(suspended.info.dwProcessId));
    std::fprintf(stderr, "    a process with one thread suspended is %sseen suspended here\n",
                 seen_suspended ? "" : "not ");

    CHECK(end_station(running.info.dwProcessId));
    CHECK_EQ(running.wait(10000), signalled);
    CHECK(!process_alive(running.info.dwProcessId, created));

    // Started again as the console's user, in the station folder.
    REQUIRE(session_has_user(console_session()));
    const std::uint32_t again =
        start_as_session_user(console_session(), widen(running.path), widen(running.folder));
    REQUIRE(again != 0);
    const std::uint64_t again_created = process_creation(again);
    CHECK(process_alive(again, again_created));
    CHECK_EQ(station_processes(widen(running.path)).size(), 1u);
    CHECK(end_station(again));
    for (int i = 0; i < 100 && process_alive(again, again_created); ++i) {
        Sleep(50);
    }
    CHECK(!process_alive(again, again_created));
}

// This program again, as a station asking the guard each of `steps` in turn (staff-quit,
// session-opened, reset): the last answer is its exit code, 10 + GuardAnswer or 20 + ResetProgress.
bool start_asking(PROCESS_INFORMATION& info, const std::string& steps = "staff-quit") {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command = "\"" + std::string(path) + "\" --ask " + steps;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(path, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info) != 0;
}

int ask_as_a_station(int argc, char** argv) {
    int code = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string step = argv[i];
        if (step == "reset") {
            ResetProgress progress = platform().ask_reset(ProcessClock{});
            for (int polls = 0; polls < 200 && progress == ResetProgress::Waiting; ++polls) {
                Sleep(100);
                progress = platform().reset_progress();
            }
            code = 20 + static_cast<int>(progress);
        } else {
            code =
                10 + static_cast<int>(platform().ask_guard(
                         step == "session-opened" ? GuardRequest::SessionOpened : GuardRequest::StaffQuit));
        }
    }
    return code;
}

DWORD answer_of(const PROCESS_INFORMATION& info) {
    DWORD code = 0;
    if (WaitForSingleObject(info.hProcess, 20000) != signalled || !GetExitCodeProcess(info.hProcess, &code)) {
        TerminateProcess(info.hProcess, 1);
        code = 0;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

constexpr DWORD done = 10 + static_cast<DWORD>(GuardAnswer::Done);
constexpr DWORD refused = 10 + static_cast<DWORD>(GuardAnswer::Refused);
constexpr DWORD no_guard = 10 + static_cast<DWORD>(GuardAnswer::NoGuard);
constexpr DWORD reset_done = 20 + static_cast<DWORD>(ResetProgress::Done);
constexpr DWORD reset_failed = 20 + static_cast<DWORD>(ResetProgress::Failed);
constexpr DWORD reset_by_nobody = 20 + static_cast<DWORD>(ResetProgress::NoGuard);

std::int64_t filetime_now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                     now.dwLowDateTime);
}

CHECK_CASE(the_station_asks_the_guard_on_the_services_pipe_and_nowhere_else) {
    {
        GuardChannel channel;
        REQUIRE(channel.open());
        GuardChannel squatter;
        CHECK_MSG(!squatter.open(), "a second server under the service's name");
        // Told who asks, by the system: the asking process and its creation time. The service
        // honours the watched station alone; a reset's answer comes when the reset is over.
        struct Case {
            const char* steps;
            bool watched;
            bool reset_works;
            std::vector<guard_pipe::Answer> answers;
            int resets;
            DWORD station_hears;
        };
        using A = guard_pipe::Answer;
        const std::vector<Case> cases = {
            {"staff-quit", true, true, {A::Done}, 0, done},
            {"staff-quit", false, true, {A::Refused}, 0, refused},
            {"session-opened", false, true, {A::Refused}, 0, refused},
            {"reset", false, true, {A::Refused}, 0, reset_by_nobody},
            {"reset", true, false, {A::Failed}, 1, reset_failed},
            // The reset has the opening the service noted; once done, nothing is left to reset.
            {"session-opened reset reset", true, true, {A::Done, A::Done, A::Done}, 1, reset_done},
        };
        for (const Case& c : cases) {
            const std::string what = std::string(c.steps) + (c.watched ? ", watched" : ", not watched");
            PROCESS_INFORMATION station{};
            REQUIRE(start_asking(station, c.steps));
            std::map<std::uint32_t, Watched> watched;
            if (c.watched) {
                watched[station.dwProcessId].created = process_creation(station.dwProcessId);
                watched[station.dwProcessId].session = 7;
            }
            std::int64_t before = 0;
            std::int64_t after = 0;
            std::vector<Opening> resets;
            const StationActions actions{
                [&](std::uint32_t session) {
                    CHECK_EQ(session, 7u);
                    before = filetime_now();
                    Opening opening = opening_now(std::wstring());
                    after = filetime_now();
                    return opening;
                },
                [&](std::uint32_t session, const Opening& opened, std::uint32_t pid) {
                    CHECK_EQ(session, 7u);
                    CHECK_EQ(pid, station.dwProcessId);
                    resets.push_back(opened);
                    return c.reset_works;
                }};
            for (const A expected : c.answers) {
                REQUIRE_MSG(WaitForSingleObject(channel.ready(), 20000) == signalled,
                            what + ": nobody connected");
                ChannelRequest request;
                CHECK(channel.take(request));
                CHECK_EQ(request.pid, station.dwProcessId);
                CHECK_EQ(request.created, process_creation(station.dwProcessId));
                const A answer = honour(request, watched, actions);
                CHECK_EQ_MSG(static_cast<int>(answer), static_cast<int>(expected), what);
                channel.answer(answer);
            }
            CHECK_EQ_MSG(answer_of(station), c.station_hears, what);
            CHECK_EQ_MSG(static_cast<int>(resets.size()), c.resets, what);
            if (c.answers.size() > 1 && !resets.empty()) {
                CHECK_MSG(resets[0].filetime >= before && resets[0].filetime <= after,
                          "the reset is not for the opening the service noted");
            }
            if (c.watched && std::string(c.steps) == "staff-quit") {
                CHECK(watched[station.dwProcessId].quit_by_staff);
            }
        }
    }
    // No service: the station does not wait for one.
    PROCESS_INFORMATION alone{};
    REQUIRE(start_asking(alone));
    CHECK_EQ(answer_of(alone), no_guard);

    // A visitor's program holding the name owns its pipe: the station tells it nothing.
    HANDLE token = nullptr;
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    char user[256] = {};
    DWORD size = sizeof user;
    const bool have_user = GetTokenInformation(token, TokenUser, user, size, &size) != 0;
    CloseHandle(token);
    REQUIRE(have_user);
    wchar_t* sid = nullptr;
    REQUIRE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
    const std::wstring sddl = L"O:" + std::wstring(sid) + L"D:(A;;GA;;;WD)";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                 nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE fake =
        CreateNamedPipeW(guard_pipe::name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 64, 64, 0, &attributes);
    LocalFree(descriptor);
    REQUIRE(fake != INVALID_HANDLE_VALUE);
    OVERLAPPED connecting{};
    connecting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ConnectNamedPipe(fake, &connecting) && GetLastError() == ERROR_PIPE_CONNECTED) {
        SetEvent(connecting.hEvent);
    }
    PROCESS_INFORMATION fooled{};
    if (CHECK(start_asking(fooled))) {
        CHECK_MSG(WaitForSingleObject(connecting.hEvent, 20000) == signalled,
                  "the station did not even connect");
        // The station closes without a word: the read ends at once, with nothing.
        char word[64] = {};
        const long length = guard_pipe::transfer(fake, false, word, sizeof word, 5000);
        CHECK_MSG(length <= 0, "the station spoke to a pipe it does not trust");
        CHECK_EQ(answer_of(fooled), no_guard);
    }
    CancelIo(fake);
    CloseHandle(connecting.hEvent);
    CloseHandle(fake);
}

CHECK_CASE(a_sessions_end_ends_the_accounts_programs_started_since_it_opened_and_no_other) {
    const std::string sleeper = own_folder() + "\\kalimo_sleeper.exe";
    const std::string closer = own_folder() + "\\kalimo-guard.exe";
    REQUIRE_MSG(file_exists(sleeper) && file_exists(closer),
                "the helpers are missing beside " + own_folder());
    const std::string scratch = make_scratch_folder("kalimo-reset");
    REQUIRE(!scratch.empty());
    Child desktop;  // there before the session: stays
    Child station;  // the station that asks: stays
    Child windowed; // asked to close, and does
    Child detached; // no window: ended outright after the grace
    Child renamed;  // named as the station, started by the visitor: ended all the same
    const check::Finally cleanup([&] {
        for (Child* child : {&desktop, &station, &windowed, &detached, &renamed}) {
            clean_up(*child);
        }
        RemoveDirectoryA(scratch.c_str());
    });
    ResetAccount account;
    REQUIRE(session_account(console_session(), account));
    REQUIRE(start_copy(sleeper, scratch, 0, "explorer.exe", desktop));
    REQUIRE(listed_name(desktop.info.dwProcessId) == "explorer.exe");
    Sleep(20); // the clock the creation times are on moves in steps of up to 16 ms
    const Opening opened = opening_now(account.profile);
    REQUIRE(start_copy(sleeper, scratch, 1, "kalimo.exe", station));
    REQUIRE(start_copy(sleeper, scratch, 2, "editor.exe", windowed, "window"));
    REQUIRE(start_copy(sleeper, scratch, 3, "detached.exe", detached));
    REQUIRE(start_copy(sleeper, scratch, 4, "kalimo.exe", renamed));
    // The window is up before it is asked to close.
    bool shown = false;
    for (int tries = 0; tries < 100 && !shown; ++tries, Sleep(100)) {
        shown = FindWindowW(L"KalimoSleeper", nullptr) != nullptr;
    }
    REQUIRE_MSG(shown, "the window never showed");

    const std::uint64_t started = GetTickCount64();
    CHECK(end_session_processes(account, opened.filetime, station.info.dwProcessId, widen(closer), 2000,
                                GetTickCount64() + 15000));
    std::fprintf(stderr, "    the programs were ended in %llu ms\n",
                 static_cast<unsigned long long>(GetTickCount64() - started));
    CHECK_EQ(desktop.wait(0), still_running);
    CHECK_EQ(station.wait(0), still_running);
    CHECK_EQ(windowed.wait(10000), signalled);
    CHECK_EQ_MSG(windowed.exit_code(), DWORD{8}, "the window was not asked to close");
    for (Child* ended : {&detached, &renamed}) {
        CHECK_EQ(ended->wait(10000), signalled);
        CHECK_EQ(ended->exit_code(), DWORD{1});
    }
    // No opening known: nothing is ended.
    CHECK(end_session_processes(account, 0, 0, widen(closer), 2000, GetTickCount64() + 15000));
    CHECK_EQ(desktop.wait(0), still_running);
}

// A junction at `link` to the folder `target`, as a visitor makes one (mklink /J). Wine cannot make
// one: a Unix symbolic link stands in for it, which Wine lists as a link too.
bool make_junction(const std::wstring& link, const std::wstring& target) {
    if (CreateDirectoryW(link.c_str(), nullptr)) {
        HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const std::wstring substitute = L"\\??\\" + target;
        std::vector<char> data(16 + (substitute.size() + 2) * sizeof(wchar_t));
        const auto length = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        const USHORT header[] = {static_cast<USHORT>(data.size() - 8), 0, 0, length,
                                 static_cast<USHORT>(length + 2),      0};
        std::memcpy(data.data(), &tag, 4);
        std::memcpy(data.data() + 4, header, sizeof header);
        std::memcpy(data.data() + 16, substitute.data(), length);
        DWORD got = 0;
        const bool made = h != INVALID_HANDLE_VALUE &&
                          DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, data.data(),
                                          static_cast<DWORD>(data.size()), nullptr, 0, &got, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
        if (made) {
            return true;
        }
        RemoveDirectoryW(link.c_str());
    }
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) {
        return false;
    }
    char* from = unix_name(link.c_str());
    char* to = unix_name(target.c_str());
    const std::string command = std::string("/bin/ln -s \"") + to + "\" \"" + from + "\"";
    HeapFree(GetProcessHeap(), 0, from);
    HeapFree(GetProcessHeap(), 0, to);
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(L"Z:\\bin\\ln", wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        return false;
    }
    // A Unix process cannot be waited for under Wine: the link itself is.
    for (int tries = 0; tries < 100; ++tries, Sleep(100)) {
        const DWORD attributes = GetFileAttributesW(link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return true;
        }
    }
    return false;
}

bool write_file(const std::wstring& path, const std::string& content,
                DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    DWORD put = 0;
    const bool ok = h != INVALID_HANDLE_VALUE &&
                    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &put, nullptr) &&
                    put == content.size();
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
    return ok;
}

std::string read_file(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Removes a scratch tree, not following a link: the links are removed first, by the system's own
// call for a link.
void remove_scratch(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            const std::wstring inner = path + L"\\" + name;
            if (name == L"." || name == L"..") {
                continue;
            }
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                RemoveDirectoryW(inner.c_str()) || DeleteFileW(inner.c_str());
            } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                remove_scratch(inner);
            } else {
                SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(inner.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

CHECK_CASE(the_profile_is_put_back_as_its_reference_copy_and_no_junction_is_followed) {
    const std::string scratch_text = make_scratch_folder("kalimo-profile");
    REQUIRE(!scratch_text.empty());
    const std::wstring scratch = widen(scratch_text);
    const check::Finally cleanup([&] { remove_scratch(scratch); });
    const std::wstring live = scratch + L"\\profile";
    const std::wstring copy = scratch + L"\\reference";
    const std::wstring outside = scratch + L"\\outside";
    // Names a visitor may choose: accents, quotes, percent signs, a name at the length limit.
    const std::wstring odd = L"caf\u00e9 'l\u00e0' %s %n \u2603";
    const std::wstring longest(150, L'x');
    for (const std::wstring& folder :
         {live, copy, outside, copy + L"\\Documents", copy + L"\\Desktop", copy + L"\\" + odd,
          copy + L"\\AppData", copy + L"\\AppData\\Local", live + L"\\Documents", live + L"\\" + odd,
          live + L"\\AppData", live + L"\\AppData\\Local", live + L"\\AppData\\Local\\Temp"}) {
        REQUIRE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    REQUIRE(SetFileAttributesW((copy + L"\\Documents").c_str(), FILE_ATTRIBUTE_HIDDEN));
    REQUIRE(write_file(copy + L"\\Documents\\letter.txt", "the room's letter"));
    REQUIRE(write_file(copy + L"\\notes.txt", "notes", FILE_ATTRIBUTE_HIDDEN));
    REQUIRE(write_file(copy + L"\\NTUSER.DAT", "the room's hive"));
    REQUIRE(write_file(copy + L"\\" + odd + L"\\" + longest, "long"));
    REQUIRE(write_file(live + L"\\Documents\\letter.txt", "the visitor's letter, longer"));
    REQUIRE(write_file(live + L"\\Documents\\diary.txt", "the visitor's diary"));
    REQUIRE(write_file(live + L"\\notes.txt", "notes"));
    REQUIRE(write_file(live + L"\\ntuser.dat", "the visitor's hive, loaded"));
    REQUIRE(write_file(live + L"\\ntuser.dat.LOG1", "its log"));
    REQUIRE(write_file(live + L"\\AppData\\Local\\Temp\\left.tmp", "left over", FILE_ATTRIBUTE_READONLY));
    REQUIRE(write_file(outside + L"\\secret.txt", "not the visitor's"));
    REQUIRE(make_junction(live + L"\\elsewhere", outside));
    REQUIRE(make_junction(live + L"\\AppData\\Local\\Temp\\elsewhere", outside));
    // Wine opens a link's target where Windows opens the link: the reset sees it and leaves it.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;

    RestoreTally tally;
    const bool restored = restore_profile(live, copy, Opening{}, GetTickCount64() + 15000, tally);
    CHECK_EQ(restored, !wine);
    CHECK_EQ(tally.failed, wine ? 1 : 0);
    CHECK_EQ(read_file(live + L"\\Documents\\letter.txt"), "the room's letter");
    CHECK(!file_exists(scratch_text + "\\profile\\Documents\\diary.txt"));
    CHECK_EQ(GetFileAttributesW((live + L"\\Desktop").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
             DWORD{FILE_ATTRIBUTE_DIRECTORY});
    CHECK_EQ(read_file(live + L"\\" + odd + L"\\" + longest), "long");
    const DWORD notes = GetFileAttributesW((live + L"\\notes.txt").c_str());
    CHECK(notes != INVALID_FILE_ATTRIBUTES && (notes & FILE_ATTRIBUTE_HIDDEN) != 0);
    CHECK_EQ(GetFileAttributesW((live + L"\\Documents").c_str()) & FILE_ATTRIBUTE_HIDDEN,
             DWORD{FILE_ATTRIBUTE_HIDDEN});
    CHECK_EQ(read_file(live + L"\\ntuser.dat"), "the visitor's hive, loaded");
    CHECK_EQ(read_file(live + L"\\ntuser.dat.LOG1"), "its log");
    CHECK_EQ(GetFileAttributesW((live + L"\\elsewhere").c_str()) != INVALID_FILE_ATTRIBUTES, wine);

    CHECK_EQ(empty_folder(live, {L"AppData", L"Local", L"Temp"}, {}, true, GetTickCount64() + 15000),
             wine ? 1 : 0);
    CHECK(!file_exists(scratch_text + "\\profile\\AppData\\Local\\Temp\\left.tmp"));
    CHECK(file_exists(scratch_text + "\\profile\\AppData\\Local\\Temp"));
    CHECK_EQ(read_file(outside + L"\\secret.txt"), "not the visitor's");

    // A second reset finds nothing more to do but the files it restores without a journal.
    RestoreTally again;
    restore_profile(live, copy, Opening{}, GetTickCount64() + 15000, again);
    CHECK_EQ(again.removed, 0);
    CHECK_EQ(read_file(live + L"\\Documents\\letter.txt"), "the room's letter");
}

int main(int argc, char** argv) {
    auto system = make_system_platform();
    install_platform(system.get());
    if (argc > 1 && std::string(argv[1]) == "--ask") {
        return ask_as_a_station(argc, argv);
    }
    const int code = check::run_all_cases("windows_platform_test", argc > 1 ? argv[1] : nullptr);
    install_platform(nullptr);
    return code;
}
