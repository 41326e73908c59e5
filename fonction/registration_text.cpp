#include "fonction/registration_text.h"

#include <cstdio>

namespace {

// Windows-1252 pairs outside the two regular blocks (a-z, à-þ).
struct CasePair {
    unsigned char lower;
    unsigned char upper;
};
constexpr CasePair irregular_pairs[] = {{0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};

} // namespace

char upper_case_char(char c) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7)) {
        return static_cast<char>(b - 0x20);
    }
    for (const CasePair& pair : irregular_pairs) {
        if (b == pair.lower) {
            return static_cast<char>(pair.upper);
        }
    }
    return c;
}

char lower_case_char(char c) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7)) {
        return static_cast<char>(b + 0x20);
    }
    for (const CasePair& pair : irregular_pairs) {
        if (b == pair.upper) {
            return static_cast<char>(pair.lower);
        }
    }
    return c;
}

std::string upper_case(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        c = upper_case_char(c);
    }
    return out;
}

std::string lower_case(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        c = lower_case_char(c);
    }
    return out;
}

std::string capitalise(const std::string& text) {
    std::string out = lower_case(text);
    if (!out.empty()) {
        out[0] = upper_case_char(out[0]);
    }
    return out;
}

std::string login_candidate(const std::string& first_name, const std::string& surname, std::size_t k) {
    return lower_case(first_name.substr(0, k)) + lower_case(surname);
}

std::string join_lines(const std::string& text, std::size_t capacity) {
    std::string out;
    if (text.empty()) {
        return out;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t room = capacity - out.size();
        if (room < 2) {
            break;
        }
        if (line.size() + 2 > room) {
            if (room > 2) {
                out += line.substr(0, room - 2) + "\r\n";
            }
            break;
        }
        out += line + "\r\n";
        start = end + 1;
    }
    return out;
}

std::string birth_digits(int day, int month, int year) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d%02d%04d", day, month, year);
    return text;
}
