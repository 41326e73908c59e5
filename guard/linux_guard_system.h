// What the Linux guard reads from the kernel and does to the stations it watches: processes under
// /proc and their login sessions, the X server behind a display, the control groups that freeze,
// pidfds, and starting a station as an account. It reads nothing a visitor can write.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A process, told from a later one under the same number by its start time.
struct ProcessMark {
    pid_t pid = 0;
    unsigned long long start_time = 0;
};

// The state letter and start time from /proc/PID/stat; false when the process is gone.
bool read_stat(pid_t pid, char& state, unsigned long long& start_time);
std::vector<pid_t> running_pids();
// The process runs `program`, or the file that was `program` before an upgrade replaced it.
bool runs_program(pid_t pid, const std::string& program);
// The process is seen running a file that is neither: false while its file cannot be read (a
// process that is ending no longer shows one).
bool runs_another_program(pid_t pid, const std::string& program);
// The same process is still there, and not a zombie.
bool alive(const ProcessMark& process);

// Who runs a station, read from the kernel's view of the process.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::vector<std::string> environment;
    std::string display; // DISPLAY's value
    // A station's file broker keeps the program's group, which the station itself gives up as it
    // starts: a process that keeps it is no station to watch.
    bool keeps_group = false;
    // A station's own children (its broker, a program it starts, between fork and exec) run the
    // station's program too, and are no stations.
    pid_t parent = 0;
};
bool read_identity(pid_t pid, Identity& who);

// The audit login session of a process (pam_loginuid gives each login one, which its account
// cannot change); empty when it has none.
std::string login_session(pid_t pid);
// A process other than `except` still belongs to the login session.
bool session_lives(const std::string& session, pid_t except);

// The X server of a local display (":0", "unix:0.0"): the oldest process holding its listening
// socket as the kernel lists it, the abstract one first. The socket file, which a visitor may
// remove where the server runs as that account, is never asked. False when there is none.
bool find_x_server(const std::string& display, ProcessMark& server);

// The cgroup.procs files of the roots of the control-group hierarchies whose freezer holds the
// process (cgroup v2 "frozen 1", the v1 freezer FREEZING or FROZEN); empty when none does.
std::vector<std::string> frozen_in(pid_t pid);
// Moves the process to those roots, which thaws it: under the v1 freezer a frozen process does
// not even die of SIGKILL.
void move_to_roots(pid_t pid, const std::vector<std::string>& roots);

// A pidfd: a signal reaches the process it was opened on, never a later one under its number.
class ProcessHandle {
  public:
    ProcessHandle() = default;
    // Invalid when the process is gone or is not that one any more.
    explicit ProcessHandle(const ProcessMark& process);
    ~ProcessHandle();
    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    // The process has ended; true of an invalid handle.
    bool ended() const;
    void kill() const;
    void signal(int number) const;

  private:
    int fd_ = -1;
};

// Starts `program` in `folder` as the account `who`, with its groups and environment and none of
// root's rights; the new process, which the caller reaps, or 0.
pid_t start_as(const Identity& who, const char* program, const char* folder);
