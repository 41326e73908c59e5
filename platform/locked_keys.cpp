#include "platform/locked_keys.h"

bool swallowed_while_locked(unsigned key, bool alt, bool ctrl, bool shift) {
    switch (key) {
    case virtual_key::left_windows:
    case virtual_key::right_windows:
    case virtual_key::apps:
        return true; // the Start menu, every Windows-key shortcut, the context menu
    case virtual_key::tab:
        return alt; // the window switcher
    case virtual_key::escape:
        return alt || ctrl; // the next window, the Start menu, the task manager
    case virtual_key::f10:
        return shift && !alt && !ctrl; // the context menu
    default:
        return false;
    }
}
