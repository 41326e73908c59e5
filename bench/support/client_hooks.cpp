#include "bench/support/client_hooks.h"

#include <mysql.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <execinfo.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

namespace {

std::atomic<std::uint64_t> connects{0};
std::atomic<std::uint64_t> connect_failures{0};
std::atomic<std::uint64_t> queries{0};
std::atomic<std::uint64_t> query_failures{0};

thread_local const char* source_address = nullptr;
thread_local std::string thread_user;
thread_local std::string thread_password;
thread_local client_hooks::Counts thread_counts;
std::atomic<bool> in_clear{false};
thread_local client_hooks::ThreadFailures thread_failures;
thread_local bool keep_stacks = false;
thread_local std::function<void()> before_statement;
// The same for whichever thread sends the next statement.
std::mutex any_mutex;
std::atomic<bool> any_armed{false};
std::function<void()> before_any_statement;

std::atomic<std::int64_t> slow_threshold_ns{0};
std::mutex slow_mutex;
std::vector<client_hooks::SlowCall>& slow() {
    static std::vector<client_hooks::SlowCall> calls;
    return calls;
}

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Times one call when slow calls are watched; kept when it took longer than the threshold.
class CallTimer {
  public:
    CallTimer() : threshold_(slow_threshold_ns.load()) {
        if (threshold_ <= 0) {
            return;
        }
        if (keep_stacks) {
            void* frames[48];
            const int depth = backtrace(frames, 48);
            // Frame 0 is this hook itself.
            stack_.assign(frames + (depth > 1 ? 1 : 0), frames + depth);
        }
        started_ = now_ns();
    }
    void finish(std::string what) {
        if (threshold_ <= 0) {
            return;
        }
        const std::int64_t duration = now_ns() - started_;
        if (duration < threshold_) {
            return;
        }
        const std::lock_guard<std::mutex> lock(slow_mutex);
        slow().push_back(
            client_hooks::SlowCall{std::this_thread::get_id(), std::move(what), started_, duration, stack_});
    }

  private:
    std::int64_t threshold_;
    std::int64_t started_ = 0;
    std::vector<void*> stack_;
};

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
    ++thread_counts.connects;
    if (!thread_user.empty()) {
        user = thread_user.c_str();
        passwd = thread_password.c_str();
    }
    if (source_address != nullptr && mysql != nullptr) {
        mysql_optionsv(mysql, MYSQL_OPT_BIND, source_address);
    }
    if (in_clear.load() && mysql != nullptr) {
        const my_bool no = 0;
        mysql_optionsv(mysql, MYSQL_OPT_SSL_ENFORCE, &no);
    }
    CallTimer timer;
    MYSQL* connected = real(mysql, host, user, passwd, db, port, unix_socket, clientflag);
    timer.finish(std::string("connect to ") + (host != nullptr ? host : "(default)") +
                 (connected == nullptr ? " (failed)" : ""));
    if (connected == nullptr) {
        ++connect_failures;
        ++thread_counts.connect_failures;
        note_failure(mysql);
    }
    return connected;
}

extern "C" int STDCALL mysql_real_query(MYSQL* mysql, const char* q, unsigned long length) {
    static const QueryFunction real = next_definition<QueryFunction>("mysql_real_query");
    ++queries;
    ++thread_counts.queries;
    if (before_statement) {
        const std::function<void()> action = std::move(before_statement);
        before_statement = nullptr;
        action();
    }
    if (any_armed.load()) {
        std::function<void()> action;
        {
            const std::lock_guard<std::mutex> lock(any_mutex);
            action = std::move(before_any_statement);
            before_any_statement = nullptr;
            any_armed = false;
        }
        if (action) {
            action();
        }
    }
    CallTimer timer;
    const int status = real(mysql, q, length);
    timer.finish(std::string(q, std::min<unsigned long>(length, 60)) + (status != 0 ? " (failed)" : ""));
    if (status != 0) {
        ++query_failures;
        ++thread_counts.query_failures;
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

Counts thread_totals() {
    return thread_counts;
}

void sign_in_thread_as(const std::string& user, const std::string& password) {
    thread_user = user;
    thread_password = password;
}

void bind_thread_to(const char* address) {
    source_address = address;
}

void connect_in_clear(bool clear) {
    in_clear = clear;
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

void before_next_statement_on_this_thread(std::function<void()> action) {
    before_statement = std::move(action);
}

void before_next_statement(std::function<void()> action) {
    const std::lock_guard<std::mutex> lock(any_mutex);
    before_any_statement = std::move(action);
    any_armed = static_cast<bool>(before_any_statement);
}

void watch_slow_calls(std::int64_t threshold_ns) {
    slow_threshold_ns = threshold_ns;
}

void keep_stacks_on_this_thread() {
    keep_stacks = true;
}

std::vector<SlowCall> slow_calls() {
    const std::lock_guard<std::mutex> lock(slow_mutex);
    return slow();
}

std::vector<std::string> symbolised(const std::vector<void*>& stack) {
    Dl_info program{};
    dladdr(reinterpret_cast<void*>(&symbolised), &program);
    std::vector<std::string> frames;
    for (void* address : stack) {
        Dl_info info{};
        if (dladdr(address, &info) == 0) {
            frames.emplace_back("?");
            continue;
        }
        if (info.dli_fbase != program.dli_fbase) {
            frames.emplace_back(info.dli_sname != nullptr ? info.dli_sname : info.dli_fname);
            continue;
        }
        // The program's own frame, with the callers inlined into it, from its debugging information.
        // A return address points after its call: one byte back is inside the calling line.
        const auto offset =
            reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(info.dli_fbase) - 1;
        char command[128];
        std::snprintf(command, sizeof command, "addr2line -f -C -i -e /proc/%d/exe 0x%lx 2>/dev/null",
                      static_cast<int>(getpid()), static_cast<unsigned long>(offset));
        FILE* pipe = popen(command, "r");
        if (pipe == nullptr) {
            frames.emplace_back("?");
            continue;
        }
        char function[1024];
        char place[1024];
        while (std::fgets(function, sizeof function, pipe) != nullptr &&
               std::fgets(place, sizeof place, pipe) != nullptr) {
            function[std::strcspn(function, "\n")] = '\0';
            place[std::strcspn(place, "\n")] = '\0';
            std::string where = place;
            const std::string root = std::string(KALIMO_SOURCE_DIR) + "/";
            if (where.compare(0, root.size(), root) == 0) {
                where.erase(0, root.size());
            }
            frames.push_back(std::string(function) + " (" + where + ")");
        }
        pclose(pipe);
    }
    return frames;
}

} // namespace client_hooks
