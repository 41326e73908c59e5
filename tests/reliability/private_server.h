// Servers of a test's own, for the faults the shared server must never see: a MariaDB the test may stop
// and restart, and a listener that accepts connections and never answers.
//
// The client library reads MYSQL_TCP_PORT once, when it starts, so every server a station reaches in a
// test process listens on that same port. Each of these therefore takes a loopback address of its own
// (127.x.y.z; the shared server holds 127.0.0.1), and a test points the database file's host line at it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The port the client library uses when the database file gives none.
unsigned int library_port();

// A private mariadbd started with the options of the test script's server and any further ones, its data
// in a temporary folder of its own. It is ended with the process that started it, even a killed one.
class PrivateServer {
  public:
    // The one server of this test process that the fault tests stop and restart, started on first use;
    // nullptr (and `error` set) when it cannot be started.
    static PrivateServer* shared(std::string& error);
    // Another server, started with these further mariadbd options (e.g. "--sql-mode=ANSI_QUOTES");
    // nullptr (and `error` set) when it cannot be started.
    static std::unique_ptr<PrivateServer> start_new(const std::vector<std::string>& options,
                                                    std::string& error);
    // A server that offers TLS, its certificate naming its own address and signed by an authority made
    // for it (authority_file); foreign_authority_file is another authority, which signed nothing of it.
    static std::unique_ptr<PrivateServer> start_new_tls(std::string& error);
    std::string authority_file() const { return dir_ + "/ca.pem"; }
    std::string foreign_authority_file() const { return dir_ + "/foreign-ca.pem"; }
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    const std::string& host() const { return host_; }
    bool running() const { return pid_ > 0; }
    // Starts it again on the same address, port and data; true once it answers.
    bool start(std::string& error);
    // A clean shutdown, as an administrator's; waits until the process has gone.
    void stop();
    // Stops the process where it is (SIGSTOP), as a frozen server or a cut network looks to a
    // connection already made; resume() lets it go on.
    void pause();
    void resume();
    // Connections the server has open, its own administrative one excluded.
    long long connections();
    // Connections down to `expected` once those just closed have gone (up to two seconds).
    long long connections_settled(long long expected);
    // SELECT statements this helper has sent itself (they count in Com_select).
    long long own_selects() const { return own_selects_; }
    // A global status counter (Com_select, Aborted_connects...).
    long long status(const std::string& name);
    // Rows of a query in one database, on a fresh administrative connection that speaks UTF-8: the
    // test's own connection does not survive a restart.
    std::vector<std::vector<std::string>> rows(const std::string& database, const std::string& sql);

  private:
    explicit PrivateServer(std::vector<std::string> options) : options_(std::move(options)) {}
    bool initialise(std::string& error);
    bool make_certificates(std::string& error);
    bool wait_until_ready(std::string& error);
    std::string root_scalar(const std::string& sql, std::string& error);

    std::vector<std::string> options_;
    std::string dir_;
    std::string host_;
    pid_t pid_ = -1;
    long long own_selects_ = 0;
    bool tls_ = false;
};

// Points TestDatabase (and so the database files it writes) at another host for a scope.
class TestHostOverride {
  public:
    explicit TestHostOverride(const std::string& host);
    ~TestHostOverride();
    TestHostOverride(const TestHostOverride&) = delete;
    TestHostOverride& operator=(const TestHostOverride&) = delete;

  private:
    std::string previous_;
    bool had_previous_ = false;
};

// Accepts TCP connections on a loopback address of its own and never sends a byte.
class SilentListener {
  public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    bool listening() const { return socket_ >= 0; }
    const std::string& host() const { return host_; }
    int accepted() const { return accepted_.load(); }

  private:
    void serve();

    std::string host_;
    int socket_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::vector<int> held_;
    std::thread thread_;
};
