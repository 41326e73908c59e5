#include "fonction/config_files.h"

#include "fonction/network.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

const char* const database_file_name = "Configuration_Base_de_donnee.init";
const char* const server_authority_file_name = "Autorite_Base_de_donnee.pem";
const char* const station_file_name = "Configuration_Poste_MAC.init";
const char* const chosen_exit_file_name = "Arret_demande.init";

namespace {

struct File {
    explicit File(const char* name, const char* mode) : handle(std::fopen(name, mode)) {}
    ~File() {
        if (handle != nullptr) {
            std::fclose(handle);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* handle;
};

// Reads one line (up to LF or end of file) and keeps at most `limit` bytes of it; the rest of an
// over-long line is skipped, so one long value never shifts the values after it. A CR before the
// LF belongs to the line end. Returns false when nothing was left to read.
bool read_line(std::FILE* file, std::string& line, std::size_t limit) {
    line.clear();
    int c = std::fgetc(file);
    if (c == EOF) {
        return false;
    }
    for (; c != EOF && c != '\n'; c = std::fgetc(file)) {
        if (line.size() <= limit) { // one byte beyond the limit, to tell a trailing CR from content
            line.push_back(static_cast<char>(c));
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.size() > limit) {
        line.resize(limit);
    }
    return true;
}

bool opened_and_not_empty(std::FILE* file) {
    if (file == nullptr) {
        return false;
    }
    if (std::fgetc(file) == EOF) {
        return false;
    }
    std::rewind(file);
    return true;
}

template <std::size_t N> void read_value(std::FILE* file, FixedText<N>& value) {
    std::string line;
    if (read_line(file, line, FixedText<N>::capacity)) {
        value.assign(line);
    } else {
        value.clear(); // a missing line is an empty value
    }
}

bool has_line_break(const char* text) {
    return std::strpbrk(text, "\r\n") != nullptr;
}

} // namespace

void read_database_file(FixedText<255>& database_name, FixedText<255>& database_host,
                        FixedText<70>& database_user, FixedText<70>& database_password, int& file_status) {
    // Read access is enough: a file an administrator made read-only still configures the station.
    File file(database_file_name, "rb");
    if (!opened_and_not_empty(file.handle)) {
        file_status = 0;
        return;
    }
    read_value(file.handle, database_name);
    read_value(file.handle, database_host);
    read_value(file.handle, database_user);
    read_value(file.handle, database_password);
    file_status = 1;
}

void write_database_file(const char* database_name, const char* database_host, const char* database_user,
                         const char* database_password, int& file_status) {
    // A line break inside a value would shift every value after it on the next read.
    if (has_line_break(database_name) || has_line_break(database_host) || has_line_break(database_user) ||
        has_line_break(database_password)) {
        file_status = 0;
        return;
    }
    File file(database_file_name, "wb");
    if (file.handle == nullptr) {
        file_status = 0;
        return;
    }
    const bool written = std::fprintf(file.handle, "%s\r\n%s\r\n%s\r\n%s", database_name, database_host,
                                      database_user, database_password) >= 0;
    file_status = written && std::fflush(file.handle) == 0 ? 1 : 0;
}

void read_station_file(FixedText<20>& station_mac, int& mac_status) {
    File file(station_file_name, "rb");
    if (!opened_and_not_empty(file.handle)) {
        mac_status = 1;
        return;
    }
    read_value(file.handle, station_mac);
    mac_status = 1;
    int count = 0;
    count_adapters(count);
    for (int index = 0; index < count; ++index) {
        FixedText<18> text;
        adapter_mac_text(index, text);
        if (std::strcmp(text.c_str(), station_mac.c_str()) == 0) {
            mac_status = 0;
            return;
        }
    }
}

void write_station_file(const char* mac) {
    File file(station_file_name, "wb");
    if (file.handle == nullptr || has_line_break(mac)) {
        return;
    }
    std::fputs(mac, file.handle);
}

AuthorityFile read_server_authority(std::string& bytes) {
    bytes.clear();
    errno = 0;
    File file(server_authority_file_name, "rb");
    if (file.handle == nullptr) {
        return errno == ENOENT ? AuthorityFile::Absent : AuthorityFile::Unreadable;
    }
    // A chain of a few certificates is a few kilobytes.
    constexpr std::size_t limit = 1 << 20;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.handle)) > 0 && bytes.size() <= limit) {
        bytes.append(buffer, got);
    }
    if (std::ferror(file.handle) != 0 || bytes.size() > limit) {
        bytes.clear();
        return AuthorityFile::Unreadable;
    }
    return AuthorityFile::Read;
}

void write_chosen_exit(long process_id) {
    File file(chosen_exit_file_name, "wb");
    if (file.handle != nullptr) {
        std::fprintf(file.handle, "%ld", process_id);
    }
}
