#include "fonction/config_files.h"

#include "fonction/network.h"
#include "fonction/session_record.h"
#include "platform/station_folder.h"

#include <cstring>
#include <string>

const char* const database_file_name = "Configuration_Base_de_donnee.init";
const char* const server_authority_file_name = "Autorite_Base_de_donnee.pem";
const char* const station_file_name = "Configuration_Poste_MAC.init";

namespace {

// The file's lines, one at a time.
class Lines {
  public:
    explicit Lines(const std::string& bytes) : bytes_(bytes) {}

    // Reads one line (up to LF or the end) and keeps at most `limit` bytes of it; the rest of an
    // over-long line is skipped, so one long value never shifts the values after it. A CR before the
    // LF belongs to the line end. Returns false when nothing was left to read.
    bool next(std::string& line, std::size_t limit) {
        line.clear();
        if (at_ >= bytes_.size()) {
            return false;
        }
        std::size_t end = bytes_.find('\n', at_);
        if (end == std::string::npos) {
            end = bytes_.size();
        }
        std::size_t length = end - at_;
        if (length > 0 && bytes_[end - 1] == '\r') {
            --length;
        }
        line.assign(bytes_, at_, length < limit ? length : limit);
        at_ = end + 1;
        return true;
    }

  private:
    const std::string& bytes_;
    std::size_t at_ = 0;
};

// The file's bytes; false when it is missing, empty or cannot be read.
bool read_not_empty(const char* name, std::string& bytes) {
    return station_folder::read(name, bytes) == station_folder::FileRead::Read && !bytes.empty();
}

template <std::size_t N> void read_value(Lines& lines, FixedText<N>& value) {
    std::string line;
    if (lines.next(line, FixedText<N>::capacity)) {
        value.assign(line);
    } else {
        value.clear(); // a missing line is an empty value
    }
}

bool has_line_break(const char* text) {
    return std::strpbrk(text, "\r\n") != nullptr;
}

} // namespace

const char* const* station_folder_files() {
    static const char* const names[] = {database_file_name,
                                        station_file_name,
                                        server_authority_file_name,
                                        session_record_file_name,
                                        station_folder::chosen_exit_file,
                                        station_folder::reset_request_file,
                                        station_folder::reset_answer_file,
                                        nullptr};
    return names;
}

void read_database_file(FixedText<255>& database_name, FixedText<255>& database_host,
                        FixedText<70>& database_user, FixedText<70>& database_password, int& file_status) {
    // Read access is enough: a file an administrator made read-only still configures the station.
    std::string bytes;
    if (!read_not_empty(database_file_name, bytes)) {
        file_status = 0;
        return;
    }
    Lines lines(bytes);
    read_value(lines, database_name);
    read_value(lines, database_host);
    read_value(lines, database_user);
    read_value(lines, database_password);
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
    const std::string text = std::string(database_name) + "\r\n" + database_host + "\r\n" + database_user +
                             "\r\n" + database_password;
    file_status = station_folder::write(database_file_name, text) ? 1 : 0;
}

void read_station_file(FixedText<20>& station_mac, int& mac_status) {
    std::string bytes;
    if (!read_not_empty(station_file_name, bytes)) {
        mac_status = 1;
        return;
    }
    Lines lines(bytes);
    read_value(lines, station_mac);
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
    if (!has_line_break(mac)) {
        station_folder::write(station_file_name, mac);
    }
}

AuthorityFile read_server_authority(std::string& bytes) {
    switch (station_folder::read(server_authority_file_name, bytes)) {
    case station_folder::FileRead::Read:
        return AuthorityFile::Read;
    case station_folder::FileRead::Absent:
        return AuthorityFile::Absent;
    case station_folder::FileRead::Unreadable:
        break;
    }
    return AuthorityFile::Unreadable;
}
