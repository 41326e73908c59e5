#include "platform/posix/file_broker.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using station_folder::FileRead;

namespace {

// A request: operation, name length, name, payload length (4 bytes, little-endian), payload.
// An answer: outcome, payload length, payload (a read's bytes).
constexpr unsigned char read_file = 'r';
constexpr unsigned char write_file = 'w';
constexpr unsigned char remove_file = 'd';
constexpr unsigned char file_present = 'e';
constexpr unsigned char answer_no = 0;      // absent, or not done
constexpr unsigned char answer_yes = 1;     // read, done, there
constexpr unsigned char answer_refused = 2; // not in the list, over the limit, unreadable, unknown

using Clock = std::chrono::steady_clock;

void put_length(std::string& out, std::uint32_t length) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
}

std::uint32_t length_of(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Moves exactly `size` bytes. Without a deadline it waits as long as it takes (the broker waits for
// its station); false at the end of the stream, on an error, or past the deadline.
bool move_bytes(int connection, void* data, std::size_t size, bool sending,
                const Clock::time_point* deadline) {
    auto* at = static_cast<char*>(data);
    const int flags = deadline != nullptr ? MSG_DONTWAIT : 0;
    while (size > 0) {
        const ssize_t moved = sending ? ::send(connection, at, size, flags | MSG_NOSIGNAL)
                                      : ::recv(connection, at, size, flags);
        if (moved > 0) {
            at += moved;
            size -= static_cast<std::size_t>(moved);
            continue;
        }
        if (moved == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            return false;
        }
        if (deadline != nullptr && errno != EINTR) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) {
                return false;
            }
            pollfd ready{connection, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
            ::poll(&ready, 1, static_cast<int>(left));
        }
    }
    return true;
}

// ---- The broker ----

bool listed(const char* const* names, const std::string& name) {
    for (; *names != nullptr; ++names) {
        if (name.size() == std::strlen(*names) && std::memcmp(name.data(), *names, name.size()) == 0) {
            return true;
        }
    }
    return false;
}

unsigned char serve_one(unsigned char operation, const char* name, const std::string& sent,
                        std::string& bytes) {
    switch (operation) {
    case read_file:
        switch (station_folder::read(name, bytes)) {
        case FileRead::Read:
            return answer_yes;
        case FileRead::Absent:
            return answer_no;
        case FileRead::Unreadable:
            return answer_refused;
        }
        return answer_refused;
    case write_file:
        return station_folder::write(name, sent) ? answer_yes : answer_no;
    case remove_file:
        return station_folder::remove(name) ? answer_yes : answer_no;
    case file_present:
        return station_folder::present(name) ? answer_yes : answer_no;
    default:
        return answer_refused;
    }
}

// Answers requests until its station is gone (or speaks out of turn), then ends.
[[noreturn]] void serve(int connection, const char* const* names) {
    for (;;) {
        unsigned char head[2];
        unsigned char length_bytes[4];
        std::string name;
        if (!move_bytes(connection, head, sizeof head, false, nullptr)) {
            ::_exit(0);
        }
        name.resize(head[1]);
        if (!move_bytes(connection, name.data(), name.size(), false, nullptr) ||
            !move_bytes(connection, length_bytes, sizeof length_bytes, false, nullptr)) {
            ::_exit(0);
        }
        const std::uint32_t length = length_of(length_bytes);
        const bool fits = length <= station_folder::file_limit;
        std::string sent;
        if (fits) {
            sent.resize(length);
            if (!move_bytes(connection, sent.data(), sent.size(), false, nullptr)) {
                ::_exit(0);
            }
        } else {
            // Read and dropped piece by piece: an oversized request costs no memory.
            char piece[4096];
            for (std::uint32_t left = length; left > 0;) {
                const std::uint32_t size = left < sizeof piece ? left : sizeof piece;
                if (!move_bytes(connection, piece, size, false, nullptr)) {
                    ::_exit(0);
                }
                left -= size;
            }
        }
        std::string bytes;
        const unsigned char outcome =
            fits && listed(names, name) ? serve_one(head[0], name.c_str(), sent, bytes) : answer_refused;
        std::string answer(1, static_cast<char>(outcome));
        put_length(answer, static_cast<std::uint32_t>(bytes.size()));
        if (!move_bytes(connection, answer.data(), answer.size(), true, nullptr) ||
            !move_bytes(connection, bytes.data(), bytes.size(), true, nullptr)) {
            ::_exit(0);
        }
    }
}

// ---- The station's side ----

struct BrokerInUse {
    std::mutex mutex;
    int connection = -1;
    bool broken = false;
    void (*lost)() = nullptr;
};

BrokerInUse& in_use() {
    static BrokerInUse broker;
    return broker;
}

// One request and its answer, one at a time for the whole station; false when the broker is lost.
bool ask(unsigned char operation, const char* name, const std::string& sent, unsigned char& outcome,
         std::string* received) {
    BrokerInUse& broker = in_use();
    std::unique_lock<std::mutex> lock(broker.mutex);
    const std::size_t name_length = std::strlen(name);
    if (broker.broken || name_length > 255 || sent.size() > UINT32_MAX) {
        return false;
    }
    std::string request(1, static_cast<char>(operation));
    request.push_back(static_cast<char>(name_length));
    request.append(name, name_length);
    put_length(request, static_cast<std::uint32_t>(sent.size()));
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(file_broker_answer_ms);
    const int connection = broker.connection;
    unsigned char head[5];
    bool answered = move_bytes(connection, request.data(), request.size(), true, &deadline) &&
                    move_bytes(connection, const_cast<char*>(sent.data()), sent.size(), true, &deadline) &&
                    move_bytes(connection, head, sizeof head, false, &deadline);
    const std::uint32_t length = answered ? length_of(head + 1) : 0;
    answered = answered && head[0] <= answer_refused && length <= station_folder::file_limit &&
               (length == 0 || received != nullptr);
    if (answered && length > 0) {
        received->resize(length);
        answered = move_bytes(connection, received->data(), length, false, &deadline);
    }
    if (!answered) {
        broker.broken = true;
        void (*const lost)() = broker.lost;
        lock.unlock();
        if (lost != nullptr) {
            lost();
        }
        return false;
    }
    outcome = head[0];
    return true;
}

} // namespace

int start_file_broker(const char* const* names, pid_t& broker) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return -1;
    }
    const pid_t station = ::getpid();
    broker = ::fork();
    if (broker < 0) {
        const int error = errno;
        ::close(ends[0]);
        ::close(ends[1]);
        errno = error;
        return -1;
    }
    if (broker == 0) {
        // Ended with its station even while stopped, when the end of the stream cannot wake it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != station) {
            ::_exit(0);
        }
        ::prctl(PR_SET_NAME, "kalimo-files");
        ::close(ends[0]);
        // Nothing but its connection and the standard three.
        if (ends[1] > 3) {
            ::close_range(3, static_cast<unsigned>(ends[1]) - 1, 0);
        }
        ::close_range(static_cast<unsigned>(ends[1]) + 1, ~0U, 0);
        // The broker works in its own folder, never through another broker.
        use_file_broker(-1, nullptr);
        serve(ends[1], names);
    }
    ::close(ends[1]);
    return ends[0];
}

void use_file_broker(int connection, void (*lost)()) {
    BrokerInUse& broker = in_use();
    const std::lock_guard<std::mutex> lock(broker.mutex);
    broker.connection = connection;
    broker.broken = false;
    broker.lost = lost;
}

bool file_broker_in_use() {
    BrokerInUse& broker = in_use();
    const std::lock_guard<std::mutex> lock(broker.mutex);
    return broker.connection >= 0;
}

FileRead broker_read(const char* name, std::string& bytes) {
    bytes.clear();
    unsigned char outcome = answer_refused;
    if (!ask(read_file, name, std::string(), outcome, &bytes) || outcome != answer_yes) {
        bytes.clear();
        return outcome == answer_no ? FileRead::Absent : FileRead::Unreadable;
    }
    return FileRead::Read;
}

bool broker_write(const char* name, const std::string& bytes) {
    unsigned char outcome = answer_refused;
    return ask(write_file, name, bytes, outcome, nullptr) && outcome == answer_yes;
}

bool broker_remove(const char* name) {
    unsigned char outcome = answer_refused;
    return ask(remove_file, name, std::string(), outcome, nullptr) && outcome == answer_yes;
}

bool broker_present(const char* name) {
    // Only a broker that answers "not there" makes the file absent.
    unsigned char outcome = answer_refused;
    return !ask(file_present, name, std::string(), outcome, nullptr) || outcome != answer_no;
}
