// Hooks on the client library's connect and query entry points, for measuring programs only: the
// benchmark executables define mysql_real_connect and mysql_real_query themselves, count each call
// and its failures, optionally bind the calling thread's source address, and hand over to the
// library's own functions. The program's operations run unchanged on top of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace client_hooks {

struct Counts {
    std::uint64_t connects = 0;
    std::uint64_t connect_failures = 0;
    std::uint64_t queries = 0;
    std::uint64_t query_failures = 0;
};

// Process-wide totals since start.
Counts totals();
// The calling thread's own, since it started.
Counts thread_totals();

// Source address ("127.0.0.x") for the connections this thread opens from now on; nullptr for none.
void bind_thread_to(const char* source_address);

// The connections this thread opens from now on sign in as this account instead of the one the database
// file names (a staff station's beside the stations' in one program); empty: as the file says.
void sign_in_thread_as(const std::string& user, const std::string& password);

// From now on, the connections of every thread are made in clear (true) even to a server that offers
// TLS, or as the program asks (false): the same server measured both ways.
void connect_in_clear(bool clear);

// Failures seen by this thread since its last call, and the last error number among them.
struct ThreadFailures {
    unsigned int failures = 0;
    unsigned int last_errno = 0;
};
ThreadFailures take_thread_failures();

// Error numbers of every failure so far, with their counts.
std::map<unsigned int, std::uint64_t> failure_codes();

// Runs `action` on the calling thread once, just before its next statement reaches the library (to
// make a server fail between a connect and the statement that follows it).
void before_next_statement_on_this_thread(std::function<void()> action);
// The same on whichever thread sends the next statement (the worker's, for what a click starts).
void before_next_statement(std::function<void()> action);

// A connect or a statement that took longer than the threshold set by watch_slow_calls.
struct SlowCall {
    std::thread::id thread;
    std::string what;            // "connect to HOST" or the statement's first words
    std::int64_t started_ns = 0; // CLOCK_MONOTONIC (std::chrono::steady_clock)
    std::int64_t duration_ns = 0;
    std::vector<void*> stack; // return addresses, on the threads that asked for them
};

// From now on, every connect and statement taking longer than `threshold_ns` is kept; 0 stops.
void watch_slow_calls(std::int64_t threshold_ns);
// The calling thread's slow calls also keep the stack they were called from (backtrace: a few
// microseconds a call, so only where it is asked for).
void keep_stacks_on_this_thread();
std::vector<SlowCall> slow_calls();
// The stack as "function (file:line)" frames, innermost first: the program's own frames from its
// debugging information (addr2line), the libraries' from their exported names.
std::vector<std::string> symbolised(const std::vector<void*>& stack);

} // namespace client_hooks
