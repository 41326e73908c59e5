#include "bench/support/client_hooks.h"

#include <mysql.h>

#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <stdexcept>

namespace {

std::atomic<std::uint64_t> connects{0};
std::atomic<std::uint64_t> connect_failures{0};
std::atomic<std::uint64_t> queries{0};
std::atomic<std::uint64_t> query_failures{0};

thread_local const char* source_address = nullptr;
thread_local client_hooks::ThreadFailures thread_failures;

std::mutex codes_mutex;
std::map<unsigned int, std::uint64_t>& codes() {
    static std::map<unsigned int, std::uint64_t> map;
    return map;
}

void note_failure(MYSQL* handle) {
    const unsigned int code = handle != nullptr ? mysql_errno(handle) : 0;
    ++thread_failures.failures;
    thread_failures.last_errno = code;
    const std::lock_guard<std::mutex> lock(codes_mutex);
    ++codes()[code];
}

// The library's own definition, found after this executable in the lookup order.
template <typename Function> Function next_definition(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    if (found == nullptr) {
        throw std::runtime_error(std::string("the client library has no ") + name);
    }
    Function function = nullptr;
    static_assert(sizeof function == sizeof found, "function and object pointers have one size here");
    std::memcpy(&function, &found, sizeof function);
    return function;
}

using ConnectFunction = MYSQL*(STDCALL*)(MYSQL*, const char*, const char*, const char*, const char*,
                                         unsigned int, const char*, unsigned long);
using QueryFunction = int(STDCALL*)(MYSQL*, const char*, unsigned long);

} // namespace

extern "C" MYSQL* STDCALL mysql_real_connect(MYSQL* mysql, const char* host, const char* user,
                                             const char* passwd, const char* db, unsigned int port,
                                             const char* unix_socket, unsigned long clientflag) {
    static const ConnectFunction real = next_definition<ConnectFunction>("mysql_real_connect");
    ++connects;
    if (source_address != nullptr && mysql != nullptr) {
        mysql_optionsv(mysql, MYSQL_OPT_BIND, source_address);
    }
    MYSQL* connected = real(mysql, host, user, passwd, db, port, unix_socket, clientflag);
    if (connected == nullptr) {
        ++connect_failures;
        note_failure(mysql);
    }
    return connected;
}

extern "C" int STDCALL mysql_real_query(MYSQL* mysql, const char* q, unsigned long length) {
    static const QueryFunction real = next_definition<QueryFunction>("mysql_real_query");
    ++queries;
    const int status = real(mysql, q, length);
    if (status != 0) {
        ++query_failures;
        note_failure(mysql);
    }
    return status;
}

namespace client_hooks {

Counts totals() {
    Counts counts;
    counts.connects = connects.load();
    counts.connect_failures = connect_failures.load();
    counts.queries = queries.load();
    counts.query_failures = query_failures.load();
    return counts;
}

void bind_thread_to(const char* address) {
    source_address = address;
}

ThreadFailures take_thread_failures() {
    const ThreadFailures taken = thread_failures;
    thread_failures = ThreadFailures{};
    return taken;
}

std::map<unsigned int, std::uint64_t> failure_codes() {
    const std::lock_guard<std::mutex> lock(codes_mutex);
    return codes();
}

} // namespace client_hooks
