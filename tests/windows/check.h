// A small check harness for the test executables that are cross-built for Windows, where
// GoogleTest is not at hand. Cases register themselves with CHECK_CASE; a failed check prints
// where and what, the case goes on (REQUIRE stops it), and run_all_cases() returns non-zero
// when any check failed.
#pragma once

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace check {

struct Case {
    const char* name;
    void (*body)();
};

inline std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}

struct Tally {
    int checks = 0;
    int failures = 0;
};

inline Tally& tally() {
    static Tally t;
    return t;
}

struct Registrar {
    Registrar(const char* name, void (*body)()) { cases().push_back({name, body}); }
};

inline bool record(bool ok, const char* file, int line, const std::string& what) {
    ++tally().checks;
    if (!ok) {
        ++tally().failures;
        std::fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, what.c_str());
    }
    return ok;
}

template <typename T> std::string show(const T& value) {
    std::ostringstream out;
    out << value;
    return out.str();
}
inline std::string show(const std::string& value) {
    return "\"" + value + "\"";
}
inline std::string show(const char* value) {
    return value == nullptr ? "(null)" : show(std::string(value));
}

template <typename A, typename B>
bool record_eq(const A& actual, const B& expected, const char* actual_text, const char* expected_text,
               const char* file, int line, const std::string& note) {
    const bool ok = actual == expected;
    std::string what;
    if (!ok) {
        what = std::string(actual_text) + " == " + expected_text + "\n    actual:   " + show(actual) +
               "\n    expected: " + show(expected);
        if (!note.empty()) {
            what += "\n    " + note;
        }
    }
    return record(ok, file, line, what);
}

// Runs every registered case, or only those whose name contains `filter`.
inline int run_all_cases(const char* program, const char* filter) {
    int ran = 0;
    for (const Case& c : cases()) {
        if (filter != nullptr && std::string(c.name).find(filter) == std::string::npos) {
            continue;
        }
        const int before = tally().failures;
        std::fprintf(stderr, "[ RUN  ] %s\n", c.name);
        c.body();
        std::fprintf(stderr, "[ %s ] %s\n", tally().failures == before ? " OK " : "FAIL", c.name);
        ++ran;
    }
    std::fprintf(stderr, "%s: %d cases, %d checks, %d failed\n", program, ran, tally().checks,
                 tally().failures);
    if (ran == 0) {
        std::fprintf(stderr, "%s: no case ran\n", program);
        return 1;
    }
    return tally().failures == 0 ? 0 : 1;
}

// Runs `cleanup` when the scope ends, failed checks and early returns included.
class Finally {
  public:
    explicit Finally(std::function<void()> cleanup) : cleanup_(std::move(cleanup)) {}
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;
    ~Finally() { cleanup_(); }

  private:
    std::function<void()> cleanup_;
};

} // namespace check

#define CHECK_CONCAT_INNER(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT_INNER(a, b)

#define CHECK_CASE(name)                                                                                     \
    static void name();                                                                                      \
    static const ::check::Registrar CHECK_CONCAT(name, _registrar)(#name, &name);                            \
    static void name()

#define CHECK(condition) ::check::record((condition), __FILE__, __LINE__, #condition)
#define CHECK_MSG(condition, note)                                                                           \
    ::check::record((condition), __FILE__, __LINE__, #condition "\n    " + std::string(note))
#define CHECK_EQ(actual, expected)                                                                           \
    ::check::record_eq((actual), (expected), #actual, #expected, __FILE__, __LINE__, std::string())
#define CHECK_EQ_MSG(actual, expected, note)                                                                 \
    ::check::record_eq((actual), (expected), #actual, #expected, __FILE__, __LINE__, std::string(note))
// Stops the case: what follows depends on it.
#define REQUIRE(condition)                                                                                   \
    do {                                                                                                     \
        if (!CHECK(condition))                                                                               \
            return;                                                                                          \
    } while (0)
#define REQUIRE_MSG(condition, note)                                                                         \
    do {                                                                                                     \
        if (!CHECK_MSG(condition, note))                                                                     \
            return;                                                                                          \
    } while (0)
