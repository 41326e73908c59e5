// The station folder's own files, reached by their fixed names, never by a path: the configuration
// files, the session record, the server's authority, the notes the guard reads. A plain start (a build
// started by hand, the tests, Windows, an administrator's override) uses them in the current folder. A
// station installed setgid on Linux gives its group up before anything of Qt exists and reaches them
// through its file broker (platform/posix/file_broker.h), the small process that alone keeps the group.
#pragma once

#include <cstddef>
#include <string>

namespace station_folder {

// The notes between the station and the guard beside it on Linux: staff's quit (the station's process
// number), and the request and answer of the desktop's reset after a session.
constexpr const char* chosen_exit_file = "Arret_demande.init";
constexpr const char* reset_request_file = "Remise_a_zero.init";
constexpr const char* reset_answer_file = "Remise_a_zero_faite.init";

// The most a file of the folder may hold: a bigger one is not read, a bigger text is not written.
constexpr std::size_t file_limit = 1024 * 1024;

enum class FileRead { Read, Absent, Unreadable };

// The whole file. Absent: there is none. Unreadable: it cannot be opened or read, or it is over the
// limit. `bytes` is empty unless the file was read.
FileRead read(const char* name, std::string& bytes);

// Replaces the file whole: a temporary file beside it (the name and ".tmp"), flushed to disk, renamed
// over it, the folder flushed, so that a power cut leaves the old file or the new one. False, with the
// file as it was, when that fails, and when a file is there that may not be written (made read-only by
// an administrator, a folder in its place).
bool write(const char* name, const std::string& bytes);

// True when the file is gone, whether or not it was there.
bool remove(const char* name);

// False only when the file is certainly not there: one that cannot be read counts as there.
bool present(const char* name);

// The file under a path that this process itself can open while the object lives, for a library that
// takes only a path (the database client's certificate authority). In the current folder, its name;
// behind the broker, a private copy of its bytes. A file that cannot be read gives a path that cannot be
// opened either.
class OpenablePath {
  public:
    explicit OpenablePath(const char* name);
    ~OpenablePath();
    OpenablePath(const OpenablePath&) = delete;
    OpenablePath& operator=(const OpenablePath&) = delete;
    const char* c_str() const { return path_.c_str(); }

  private:
    std::string path_;
    int copy_ = -1;
};

} // namespace station_folder
