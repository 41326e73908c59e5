// Ending the desktop shell and the task manager while the station is locked. Kept free of the
// toolkit so that the killer the station runs is the one the Windows tests run.
#pragma once

#include "platform/platform.h"

#include <string>

// True for "explorer.exe" and "Taskmgr.exe" in any letter case; the whole name must match.
bool is_shell_process(const std::string& exe_name);

// Ends every running shell and task manager from one snapshot; a process that refuses to end does
// not protect the ones listed after it. Returns how many were ended.
int kill_shell_processes(Platform& system);
