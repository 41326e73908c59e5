#include "platform/station_folder.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include "platform/posix/file_broker.h"
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace station_folder {
namespace {

struct File {
    File(const char* name, const char* mode) : handle(std::fopen(name, mode)) {}
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool close() {
        const bool closed = handle == nullptr || std::fclose(handle) == 0;
        handle = nullptr;
        return closed;
    }
    std::FILE* handle;
};

// The written bytes reach the disk before the rename makes them the file.
bool flush_to_disk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool replace_with(const std::string& temporary, const char* name) {
#ifdef _WIN32
    // rename() will not replace an existing file on Windows; the names are ASCII.
    const std::string target = name;
    const std::wstring from(temporary.begin(), temporary.end());
    const std::wstring to(target.begin(), target.end());
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    if (std::rename(temporary.c_str(), name) != 0) {
        return false;
    }
    // The folder's entry too, so that the rename itself survives a power cut.
    const int folder = open(".", O_RDONLY);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
#endif
}

FileRead read_here(const char* name, std::string& bytes) {
    bytes.clear();
    errno = 0;
    File file(name, "rb");
    if (file.handle == nullptr) {
        return errno == ENOENT ? FileRead::Absent : FileRead::Unreadable;
    }
    char buffer[4096];
    while (bytes.size() <= file_limit) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.handle);
        bytes.append(buffer, got);
        if (got < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(file.handle) != 0 || bytes.size() > file_limit) {
        bytes.clear();
        return FileRead::Unreadable;
    }
    return FileRead::Read;
}

bool write_here(const char* name, const std::string& bytes) {
    if (bytes.size() > file_limit) {
        return false;
    }
    // Written in place, a file made read-only refused the write; the rename must not get round that.
    errno = 0;
    if (std::FILE* existing = std::fopen(name, "r+b")) {
        std::fclose(existing);
    } else if (errno != ENOENT) {
        return false;
    }
    // A write cut short leaves the temporary behind; the next one truncates it, and no reader looks at it.
    const std::string temporary = std::string(name) + ".tmp";
    File file(temporary.c_str(), "wb");
    const bool written = file.handle != nullptr &&
                         std::fwrite(bytes.data(), 1, bytes.size(), file.handle) == bytes.size() &&
                         flush_to_disk(file.handle);
    if (!file.close() || !written || !replace_with(temporary, name)) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool remove_here(const char* name) {
    errno = 0;
    return std::remove(name) == 0 || errno == ENOENT;
}

bool present_here(const char* name) {
    errno = 0;
    if (std::FILE* file = std::fopen(name, "rb")) {
        std::fclose(file);
        return true;
    }
    return errno != ENOENT;
}

#ifdef _WIN32
// Windows stations have no broker: their folder is guarded by its permissions.
bool file_broker_in_use() {
    return false;
}
FileRead broker_read(const char*, std::string&) {
    return FileRead::Unreadable;
}
bool broker_write(const char*, const std::string&) {
    return false;
}
bool broker_remove(const char*) {
    return false;
}
bool broker_present(const char*) {
    return true;
}
#endif

} // namespace

FileRead read(const char* name, std::string& bytes) {
    return file_broker_in_use() ? broker_read(name, bytes) : read_here(name, bytes);
}

bool write(const char* name, const std::string& bytes) {
    return file_broker_in_use() ? broker_write(name, bytes) : write_here(name, bytes);
}

bool remove(const char* name) {
    return file_broker_in_use() ? broker_remove(name) : remove_here(name);
}

bool present(const char* name) {
    return file_broker_in_use() ? broker_present(name) : present_here(name);
}

OpenablePath::OpenablePath(const char* name) : path_(name) {
#ifndef _WIN32
    // Behind the broker the folder is out of this process's reach: the library gets an anonymous
    // in-memory copy, which only this process holds. Anything else keeps the name, which then fails.
    std::string bytes;
    if (!file_broker_in_use() || broker_read(name, bytes) != FileRead::Read) {
        return;
    }
    const int copy = memfd_create("kalimo-station-file", MFD_CLOEXEC);
    if (copy < 0) {
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(copy, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0 && errno != EINTR) {
            ::close(copy);
            return;
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    copy_ = copy;
    path_ = "/proc/self/fd/" + std::to_string(copy);
#endif
}

OpenablePath::~OpenablePath() {
#ifndef _WIN32
    if (copy_ >= 0) {
        ::close(copy_);
    }
#endif
}

} // namespace station_folder
