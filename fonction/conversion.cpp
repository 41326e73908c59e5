#include "fonction/conversion.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

ConversionError::ConversionError(const std::string& value)
    : std::runtime_error("'" + value + "' is not a valid integer value"), value_(value) {}

int to_int(const char* text) {
    const std::string value = text == nullptr ? std::string() : std::string(text);
    if (value.empty()) {
        throw ConversionError(value);
    }
    std::size_t start = (value[0] == '-' || value[0] == '+') ? 1 : 0;
    if (start == value.size()) {
        throw ConversionError(value);
    }
    for (std::size_t i = start; i < value.size(); ++i) {
        if (value[i] < '0' || value[i] > '9') {
            throw ConversionError(value);
        }
    }
    errno = 0;
    const long long parsed = std::strtoll(value.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        throw ConversionError(value);
    }
    return static_cast<int>(parsed);
}
