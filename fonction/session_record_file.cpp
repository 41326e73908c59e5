// The session record's file in the station folder. Its text is session_record.cpp's, which the Linux
// guard shares without the folder's seam: it reads the file itself, as root.
#include "fonction/session_record.h"

#include "platform/station_folder.h"

#include <string>

RecordRead read_session_record(SessionRecord& out) {
    out = SessionRecord{};
    std::string bytes;
    switch (station_folder::read(session_record_file_name, bytes)) {
    case station_folder::FileRead::Absent:
        return RecordRead::Absent;
    case station_folder::FileRead::Unreadable:
        return RecordRead::Unreadable;
    case station_folder::FileRead::Read:
        break;
    }
    return parse_session_record(bytes, out) ? RecordRead::Read : RecordRead::Unreadable;
}

bool write_session_record(const SessionRecord& record) {
    if (!valid_session_record(record)) {
        return false;
    }
    if (record.empty()) {
        return station_folder::remove(session_record_file_name);
    }
    return station_folder::write(session_record_file_name, session_record_text(record));
}

void remove_session_record() {
    station_folder::remove(session_record_file_name);
}
