#include "tests/reliability/private_server.h"

#include "tests/support/test_database.h"

#include <QDir>
#include <QTemporaryDir>
#include <mysql.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// 127.a.b.c with a > 0, so never the shared server's 127.0.0.1.
std::string random_loopback() {
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> octet(1, 254);
    return "127." + std::to_string(octet(random)) + "." + std::to_string(octet(random)) + "." +
           std::to_string(octet(random));
}

// A socket bound to host:port, or -1 when the address is taken.
int bind_socket(const std::string& host, unsigned int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string first_executable(std::initializer_list<const char*> candidates) {
    for (const char* path : candidates) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program and waits for it; its output goes to `log`. The child dies with this process.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    // Child: only async-signal-safe calls until exec.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    const int null_in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (null_in >= 0) {
        ::dup2(null_in, 0);
    }
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
}

bool wait_for(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || done < 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace

unsigned int library_port() {
    return static_cast<unsigned int>(std::strtoul(env("MYSQL_TCP_PORT", "3306").c_str(), nullptr, 10));
}

std::unique_ptr<PrivateServer> PrivateServer::start_new(const std::vector<std::string>& options,
                                                        std::string& error) {
    std::unique_ptr<PrivateServer> server(new PrivateServer(options));
    if (!server->initialise(error) || !server->start(error)) {
        return nullptr;
    }
    return server;
}

std::unique_ptr<PrivateServer> PrivateServer::start_new_tls(std::string& error) {
    std::unique_ptr<PrivateServer> server(new PrivateServer({}));
    server->tls_ = true;
    if (!server->initialise(error) || !server->start(error)) {
        return nullptr;
    }
    return server;
}

// Both authorities and the server's certificate for host_, with openssl; elliptic-curve keys, which
// take no time to make.
bool PrivateServer::make_certificates(std::string& error) {
    const std::string openssl = first_executable({"/usr/bin/openssl", "/usr/local/bin/openssl"});
    if (openssl.empty()) {
        error = "openssl is not installed";
        return false;
    }
    const std::string log = dir_ + "/openssl.log";
    auto run_tool = [&](std::vector<std::string> args) {
        args.insert(args.begin(), openssl);
        const pid_t pid = spawn(args, log);
        int status = 0;
        return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                          "-nodes"};
    auto authority = [&](const std::string& name, const std::string& subject) {
        std::vector<std::string> args = {"req", "-x509", "-days", "3650", "-subj", subject};
        args.insert(args.end(), key.begin(), key.end());
        args.insert(args.end(), {"-keyout", dir_ + "/" + name + ".key", "-out", dir_ + "/" + name + ".pem"});
        return run_tool(args);
    };
    std::ofstream(dir_ + "/server.ext", std::ios::trunc) << "subjectAltName=IP:" << host_ << "\n";
    std::vector<std::string> request = {"req", "-subj", "/CN=" + host_};
    request.insert(request.end(), key.begin(), key.end());
    request.insert(request.end(), {"-keyout", dir_ + "/server.key", "-out", dir_ + "/server.csr"});
    if (!authority("ca", "/CN=Kalimo test authority") || !authority("foreign-ca", "/CN=Another authority") ||
        !run_tool(request) ||
        !run_tool({"x509", "-req", "-days", "3650", "-in", dir_ + "/server.csr", "-CA", dir_ + "/ca.pem",
                   "-CAkey", dir_ + "/ca.key", "-CAcreateserial", "-extfile", dir_ + "/server.ext", "-out",
                   dir_ + "/server.pem"})) {
        error = "the certificates could not be made: " + slurp(log);
        return false;
    }
    return true;
}

PrivateServer* PrivateServer::shared(std::string& error) {
    static std::unique_ptr<PrivateServer> server;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        server = start_new({}, failure);
    }
    if (server == nullptr) {
        error = failure;
        return nullptr;
    }
    if (!server->running() && !server->start(error)) {
        return nullptr;
    }
    return server.get();
}

PrivateServer::~PrivateServer() {
    stop();
    if (!dir_.empty()) {
        QDir(QString::fromStdString(dir_)).removeRecursively();
    }
}

bool PrivateServer::initialise(std::string& error) {
    QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("kalimo-private-db-XXXXXX")));
    if (!dir.isValid()) {
        error = "no temporary folder";
        return false;
    }
    dir.setAutoRemove(false);
    dir_ = dir.path().toStdString();
    const std::string install = first_executable(
        {"/usr/bin/mariadb-install-db", "/usr/local/bin/mariadb-install-db", "/usr/bin/mysql_install_db"});
    if (install.empty()) {
        error = "mariadb-install-db is not installed";
        return false;
    }
    const passwd* user = ::getpwuid(::getuid());
    const std::string log = dir_ + "/install.log";
    const pid_t pid =
        spawn({install, "--no-defaults", "--auth-root-authentication-method=normal", "--skip-test-db",
               "--datadir=" + dir_ + "/data", std::string("--user=") + (user ? user->pw_name : "root")},
              log);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "mariadb-install-db failed: " + slurp(log);
        return false;
    }
    return true;
}

bool PrivateServer::start(std::string& error) {
    if (running()) {
        return true;
    }
    const std::string server =
        first_executable({"/usr/sbin/mariadbd", "/usr/libexec/mariadbd", "/usr/bin/mariadbd",
                          "/usr/local/sbin/mariadbd", "/usr/sbin/mysqld"});
    if (server.empty()) {
        error = "mariadbd is not installed";
        return false;
    }
    const bool first_start = host_.empty();
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (first_start) {
            // An address whose port is free now; the server may still lose it, then another is tried.
            const std::string candidate = random_loopback();
            const int probe = bind_socket(candidate, library_port());
            if (probe < 0) {
                continue;
            }
            ::close(probe);
            host_ = candidate;
            if (tls_ && !make_certificates(error)) {
                return false;
            }
        }
        const std::string log = dir_ + "/error.log";
        std::ofstream(log, std::ios::trunc).close();
        std::vector<std::string> argv = {server, "--no-defaults"};
        if (::getuid() == 0) {
            argv.emplace_back("--user=root");
        }
        for (const std::string& option :
             {"--datadir=" + dir_ + "/data", "--socket=" + dir_ + "/mysqld.sock",
              "--pid-file=" + dir_ + "/mysqld.pid", "--port=" + std::to_string(library_port()),
              "--bind-address=" + host_, std::string("--skip-name-resolve"),
              std::string("--character-set-server=latin1"),
              std::string("--collation-server=latin1_swedish_ci"),
              std::string("--innodb-buffer-pool-size=64M"), std::string("--innodb-log-file-size=16M"),
              "--log-error=" + log}) {
            argv.push_back(option);
        }
        argv.insert(argv.end(), options_.begin(), options_.end());
        if (tls_) {
            argv.push_back("--ssl-ca=" + authority_file());
            argv.push_back("--ssl-cert=" + dir_ + "/server.pem");
            argv.push_back("--ssl-key=" + dir_ + "/server.key");
        }
        pid_ = spawn(argv, dir_ + "/server.out");
        if (pid_ < 0) {
            error = "cannot start mariadbd";
            return false;
        }
        if (wait_until_ready(error)) {
            break;
        }
        stop();
        if (!first_start || slurp(log).find("already in use") == std::string::npos) {
            error += "\n" + slurp(log);
            return false;
        }
        host_.clear();
    }
    if (!running()) {
        error = "no free loopback address for the private server";
        return false;
    }
    if (first_start) {
        const std::string user = env("KALIMO_TEST_DB_USER", "kalimo");
        const std::string password = env("KALIMO_TEST_DB_PASSWORD", "kalimo");
        const std::string who = "'" + user + "'@'%'";
        // As on the script's server: the administrator, and the stations' account with only the role
        // that db/station_account.sql fills in each test database.
        const std::string station = "'" + env("KALIMO_TEST_STATION_USER", "kalimo_poste") + "'@'%'";
        const std::string station_password = env("KALIMO_TEST_STATION_PASSWORD", "poste");
        // And the staff stations' account, with only the role db/staff_account.sql fills.
        const std::string staff = "'" + env("KALIMO_TEST_STAFF_USER", "kalimo_accueil") + "'@'%'";
        const std::string staff_password = env("KALIMO_TEST_STAFF_PASSWORD", "accueil");
        for (const std::string& sql :
             {"CREATE OR REPLACE USER " + who + " IDENTIFIED BY '" + password + "'",
              "GRANT ALL PRIVILEGES ON *.* TO " + who + " WITH GRANT OPTION",
              std::string("CREATE ROLE IF NOT EXISTS kalimo_station"),
              "GRANT kalimo_station TO " + who + " WITH ADMIN OPTION",
              std::string("CREATE ROLE IF NOT EXISTS kalimo_staff"),
              "GRANT kalimo_staff TO " + who + " WITH ADMIN OPTION",
              "CREATE OR REPLACE USER " + station + " IDENTIFIED BY '" + station_password + "'",
              "GRANT kalimo_station TO " + station, "SET DEFAULT ROLE kalimo_station FOR " + station,
              "CREATE OR REPLACE USER " + staff + " IDENTIFIED BY '" + staff_password + "'",
              "GRANT kalimo_staff TO " + staff, "SET DEFAULT ROLE kalimo_staff FOR " + staff}) {
            if (root_scalar(sql, error) == "!") {
                return false;
            }
        }
    }
    return true;
}

bool PrivateServer::wait_until_ready(std::string& error) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error = "mariadbd ended at start-up";
            return false;
        }
        std::string ignored;
        if (root_scalar("SELECT 1", ignored) == "1") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    error = "mariadbd did not answer within 60 s";
    return false;
}

void PrivateServer::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (!wait_for(pid_, std::chrono::seconds(60))) {
        ::kill(pid_, SIGKILL);
        wait_for(pid_, std::chrono::seconds(10));
    }
    pid_ = -1;
}

void PrivateServer::pause() {
    if (pid_ <= 0 || ::kill(pid_, SIGSTOP) != 0) {
        return;
    }
    // The signal is taken asynchronously: wait until the process is seen stopped.
    const std::string stat = "/proc/" + std::to_string(pid_) + "/stat";
    for (int attempt = 0; attempt < 200; ++attempt) {
        const std::string text = slurp(stat);
        const std::size_t end = text.rfind(')');
        if (end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'T') {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void PrivateServer::resume() {
    if (pid_ > 0) {
        ::kill(pid_, SIGCONT);
    }
}

std::string PrivateServer::root_scalar(const std::string& sql, std::string& error) {
    MYSQL* handle = mysql_init(nullptr);
    const unsigned int timeout = 3;
    mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    const std::string socket = dir_ + "/mysqld.sock";
    std::string value = "!";
    if (mysql_real_connect(handle, "localhost", "root", "", nullptr, 0, socket.c_str(), 0) == nullptr ||
        mysql_real_query(handle, sql.c_str(), sql.size()) != 0) {
        error = mysql_error(handle);
        mysql_close(handle);
        return value;
    }
    if (sql.rfind("SELECT", 0) == 0) {
        ++own_selects_;
    }
    value.clear();
    if (MYSQL_RES* result = mysql_store_result(handle)) {
        if (MYSQL_ROW row = mysql_fetch_row(result)) {
            const unsigned int last = mysql_num_fields(result) - 1;
            value = row[last] != nullptr ? row[last] : "";
        }
        mysql_free_result(result);
    }
    mysql_close(handle);
    return value;
}

long long PrivateServer::connections() {
    std::string error;
    const std::string value =
        root_scalar("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID() AND "
                    "COMMAND <> 'Daemon' AND USER <> 'system user'",
                    error);
    return value == "!" ? -1 : std::stoll(value);
}

long long PrivateServer::connections_settled(long long expected) {
    long long open = connections();
    for (int attempt = 0; attempt < 100 && open > expected; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        open = connections();
    }
    return open;
}

std::vector<std::vector<std::string>> PrivateServer::rows(const std::string& database,
                                                          const std::string& sql) {
    std::vector<std::vector<std::string>> out;
    MYSQL* handle = mysql_init(nullptr);
    mysql_options(handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    const std::string socket = dir_ + "/mysqld.sock";
    if (mysql_real_connect(handle, "localhost", "root", "", database.c_str(), 0, socket.c_str(), 0) ==
            nullptr ||
        mysql_real_query(handle, sql.c_str(), sql.size()) != 0) {
        const std::string error = mysql_error(handle);
        mysql_close(handle);
        throw std::runtime_error("private server query failed: " + error + " in: " + sql);
    }
    if (MYSQL_RES* result = mysql_store_result(handle)) {
        const unsigned int fields = mysql_num_fields(result);
        while (MYSQL_ROW row = mysql_fetch_row(result)) {
            unsigned long* lengths = mysql_fetch_lengths(result);
            std::vector<std::string> values;
            for (unsigned int i = 0; i < fields; ++i) {
                values.push_back(row[i] == nullptr ? std::string("NULL") : std::string(row[i], lengths[i]));
            }
            out.push_back(std::move(values));
        }
        mysql_free_result(result);
    }
    mysql_close(handle);
    return out;
}

long long PrivateServer::status(const std::string& name) {
    std::string error;
    const std::string value = root_scalar("SHOW GLOBAL STATUS LIKE '" + name + "'", error);
    return value == "!" || value.empty() ? -1 : std::stoll(value);
}

TestHostOverride::TestHostOverride(const std::string& host) {
    // A server in another sql_mode takes its address first, so that this override is what is undone.
    prepare_test_server();
    if (const char* value = std::getenv("KALIMO_TEST_DB_HOST")) {
        previous_ = value;
        had_previous_ = true;
    }
    ::setenv("KALIMO_TEST_DB_HOST", host.c_str(), 1);
}

TestHostOverride::~TestHostOverride() {
    if (had_previous_) {
        ::setenv("KALIMO_TEST_DB_HOST", previous_.c_str(), 1);
    } else {
        ::unsetenv("KALIMO_TEST_DB_HOST");
    }
}

SilentListener::SilentListener() {
    for (int attempt = 0; attempt < 20 && socket_ < 0; ++attempt) {
        host_ = random_loopback();
        socket_ = bind_socket(host_, library_port());
    }
    if (socket_ < 0 || ::listen(socket_, 128) != 0) {
        if (socket_ >= 0) {
            ::close(socket_);
        }
        socket_ = -1;
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

SilentListener::~SilentListener() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    for (const int fd : held_) {
        ::close(fd);
    }
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

void SilentListener::serve() {
    while (!stopping_) {
        pollfd waiting{socket_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            held_.push_back(client); // held open, never written to
            ++accepted_;
        }
    }
}
