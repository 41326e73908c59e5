// A database value that should be a decimal integer and is not: raised by to_int and caught around
// every event handler and timer tick, which reports it and ends that handler.
#pragma once

#include <stdexcept>
#include <string>

class ConversionError : public std::runtime_error {
  public:
    explicit ConversionError(const std::string& value);
    const std::string& value() const { return value_; }

  private:
    std::string value_;
};

// Decimal text (optional sign, no blanks) to a 32-bit integer; NULL reads as empty text and fails.
int to_int(const char* text);
