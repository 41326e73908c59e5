// A NUL-terminated single-byte text with its capacity in its type. Every copy is bounded: a value
// longer than the capacity is cut there, and callers that must refuse instead ask fits() first.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

template <std::size_t N> class FixedText {
    static_assert(N >= 1, "room for the terminating NUL");

  public:
    static constexpr std::size_t capacity = N - 1; // characters, without the NUL

    FixedText() { data_[0] = '\0'; }
    FixedText(const char* text) {
        assign(text);
    } // NOLINT: texts convert implicitly, like the C buffers they replace
    FixedText(const std::string& text) { assign(text); }

    static bool fits(std::size_t length) { return length <= capacity; }

    void assign(const char* text, std::size_t length) {
        const std::size_t kept = length < capacity ? length : capacity;
        if (kept > 0) {
            std::memmove(data_, text, kept);
        }
        data_[kept] = '\0';
        size_ = std::strlen(data_); // an embedded NUL ends the text, as in any C buffer
    }
    void assign(const char* text) {
        assign(text == nullptr ? "" : text, text == nullptr ? 0 : std::strlen(text));
    }
    void assign(const std::string& text) { assign(text.data(), text.size()); }
    FixedText& operator=(const char* text) {
        assign(text);
        return *this;
    }
    FixedText& operator=(const std::string& text) {
        assign(text);
        return *this;
    }
    template <std::size_t M> FixedText& operator=(const FixedText<M>& other) {
        assign(other.c_str(), other.size());
        return *this;
    }

    void clear() {
        data_[0] = '\0';
        size_ = 0;
    }
    const char* c_str() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string str() const { return std::string(data_, size_); }

    bool operator==(const char* other) const { return std::strcmp(data_, other) == 0; }
    bool operator!=(const char* other) const { return !(*this == other); }

  private:
    char data_[N];
    std::size_t size_ = 0;
};
