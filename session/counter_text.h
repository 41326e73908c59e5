// The session counter's text for a number of seconds: "59 s", "1 min 1 s", "1 h 30 min 0 s".
#pragma once

#include "fonction/fixed_text.h"

#include <cstdint>

void format_counter(std::uint32_t seconds, FixedText<20>& counter_text);
