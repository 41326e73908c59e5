// How the station's command texts are carried out on Linux. Kept apart from the runner so the
// mapping can be checked without ever running a power command.
#pragma once

#include <string>
#include <vector>

// Where a site puts the program that starts its desktop shell for a visitor.
constexpr const char* posix_desktop_shell = "/etc/kalimo/desktop-shell";

// The program and arguments for one command text; empty when there is nothing to run (an unknown
// command, no desktop shell configured, or no login session to end).
//   "start c://Windows//explorer.exe"  the desktop shell, when `desktop_shell` names one
//   "shutdown /s /f"                   systemctl poweroff
//   "shutdown /r /f"                   systemctl reboot
//   "shutdown /l /f"                   loginctl terminate-session <session_id>
std::vector<std::string> posix_command_for(const std::string& command, const std::string& desktop_shell,
                                           const std::string& session_id);
