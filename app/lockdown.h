// Ending the desktop shell and the task manager while the station is locked.
#pragma once

#include "platform/shell_processes.h"
