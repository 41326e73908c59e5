#include "platform/shell_processes.h"

#include <cctype>

namespace {

bool equals_ignoring_case(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

} // namespace

bool is_shell_process(const std::string& exe_name) {
    return equals_ignoring_case(exe_name, "explorer.exe") || equals_ignoring_case(exe_name, "Taskmgr.exe");
}

int kill_shell_processes(Platform& system) {
    int ended = 0;
    for (const ProcessEntry& process : system.process_snapshot()) {
        if (is_shell_process(process.exe_name) && system.end_process(process.pid)) {
            ++ended;
        }
    }
    return ended;
}
