#include "session/counter_text.h"

#include <cstdio>

void format_counter(std::uint32_t seconds, FixedText<20>& counter_text) {
    char text[64]; // the widest count (4 294 967 295 s) takes 21 characters; counter_text keeps 19
    const unsigned n = seconds;
    if (n < 60) {
        std::snprintf(text, sizeof text, "%u s", n);
    } else if (n < 3600) {
        std::snprintf(text, sizeof text, "%u min %u s", n / 60, n - 60 * (n / 60));
    } else {
        const unsigned h = n / 3600;
        const unsigned m = (n - 3600 * h) / 60;
        std::snprintf(text, sizeof text, "%u h %u min %u s", h, m, n - 3600 * h - 60 * m);
    }
    counter_text = text;
}
