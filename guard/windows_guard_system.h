// What the Windows guard asks of the system: the stations running in a session, whether one is
// suspended, the console's user, starting the station as that user, and the channel on which a
// station tells the service that staff quit it or that a session opened, and asks for the reset.
#pragma once

#include "platform/windows/guard_words.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct StationProcess {
    std::uint32_t pid = 0;
    std::uint32_t session = 0;
    std::uint64_t create_time = 0; // tells a process from a later one under the same number
};

// The processes whose program file is `program` (a full path, compared without regard to case).
std::vector<StationProcess> station_processes(const std::wstring& program);

// The process exists and a thread of it is suspended (one is enough: the visitor may suspend the
// window's thread alone); false when it is gone or runs.
bool process_suspended(std::uint32_t pid, std::uint64_t create_time);

// When the process was created; 0 when it cannot be opened.
std::uint64_t process_creation(std::uint32_t pid);

// The process still exists (the same one: its creation time matches).
bool process_alive(std::uint32_t pid, std::uint64_t create_time);

// Ends a process; false when it could not be opened or ended.
bool end_station(std::uint32_t pid);

// The session on the physical console and whether a user is signed in to it.
std::uint32_t console_session();
bool session_has_user(std::uint32_t session);

// Starts `program` (with `arguments`) in `folder` as the user signed in to `session`, on that
// user's desktop, with that user's own environment; the new process's number, 0 when it could not
// be started.
std::uint32_t start_as_session_user(std::uint32_t session, const std::wstring& program,
                                    const std::wstring& folder, const std::wstring& arguments = L"");

// A request as the service received it, with the process that sent it as the system names it.
struct ChannelRequest {
    guard_pipe::Request request = guard_pipe::Request::StaffQuit;
    std::uint32_t pid = 0;
    std::uint64_t created = 0;
};

// The service's end of the stations' channel (platform/windows/guard_pipe.h): the pipe's first
// instance, owned by the service, which users may connect to but not serve, and no remote client.
class GuardChannel {
  public:
    GuardChannel();
    ~GuardChannel();
    GuardChannel(const GuardChannel&) = delete;
    GuardChannel& operator=(const GuardChannel&) = delete;

    // Creates the pipe; false while another process holds the name.
    bool open();
    // Signalled while a client is connected; null until the pipe is open.
    void* ready() const;
    // The connected client's request; false when the client cannot be named or says nothing the
    // guard knows in time (it is then let go).
    bool take(ChannelRequest& request);
    // Answers the client taken, lets it go and waits for the next one.
    void answer(guard_pipe::Answer answer);

  private:
    struct Pipe;
    std::unique_ptr<Pipe> pipe_;
};
