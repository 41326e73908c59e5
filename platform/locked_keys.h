// The key chords a locked Windows station keeps from the system: the keyboard hook asks this for
// every key that goes down, and the key goes no further when the answer is true.
#pragma once

// Windows virtual-key codes of the keys concerned.
namespace virtual_key {
constexpr unsigned tab = 0x09;
constexpr unsigned escape = 0x1B;
constexpr unsigned left_windows = 0x5B;
constexpr unsigned right_windows = 0x5C;
constexpr unsigned apps = 0x5D;
constexpr unsigned f10 = 0x79;
} // namespace virtual_key

// True for the Windows keys (alone or in any chord), the Apps key, Alt+Tab, Alt+Esc, Ctrl+Esc
// (Ctrl+Shift+Esc with it) and Shift+F10; every other key, typing and Enter and Tab included, goes
// through. Ctrl+Alt+Del never reaches a program and cannot be kept.
bool swallowed_while_locked(unsigned key, bool alt, bool ctrl, bool shift);
