// Hooks on the client library's connect and query entry points, for measuring programs only: the
// benchmark executables define mysql_real_connect and mysql_real_query themselves, count each call
// and its failures, optionally bind the calling thread's source address, and hand over to the
// library's own functions. The program's operations run unchanged on top of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

namespace client_hooks {

struct Counts {
    std::uint64_t connects = 0;
    std::uint64_t connect_failures = 0;
    std::uint64_t queries = 0;
    std::uint64_t query_failures = 0;
};

// Process-wide totals since start.
Counts totals();

// Source address ("127.0.0.x") for the connections this thread opens from now on; nullptr for none.
void bind_thread_to(const char* source_address);

// Failures seen by this thread since its last call, and the last error number among them.
struct ThreadFailures {
    unsigned int failures = 0;
    unsigned int last_errno = 0;
};
ThreadFailures take_thread_failures();

// Error numbers of every failure so far, with their counts.
std::map<unsigned int, std::uint64_t> failure_codes();

} // namespace client_hooks
