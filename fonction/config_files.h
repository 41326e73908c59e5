// The station's two configuration files, in the station folder (platform/station_folder.h). Lines end
// with CR LF on disk on every system; the last value has no line end. Each is written whole: a
// temporary file renamed over it.
#pragma once

#include "fonction/fixed_text.h"

#include <string>

extern const char* const database_file_name; // "Configuration_Base_de_donnee.init"
extern const char* const station_file_name;  // "Configuration_Poste_MAC.init"
// The certificate authority of the database server (PEM), beside the two files: when it is there, the
// station accepts only a server that proves itself against it.
extern const char* const server_authority_file_name; // "Autorite_Base_de_donnee.pem"

// The authority file, read anew with its bytes: Absent only when it certainly is not there. A file
// that exists but cannot be read (or is far larger than any authority) still asks for verification,
// which then fails, rather than letting the station talk to any server.
enum class AuthorityFile { Absent, Read, Unreadable };
AuthorityFile read_server_authority(std::string& bytes);

// file_status: 1 read, 0 missing, empty or unreadable (the four texts are then left as they were).
void read_database_file(FixedText<255>& database_name, FixedText<255>& database_host,
                        FixedText<70>& database_user, FixedText<70>& database_password, int& file_status);
// file_status: 1 written, 0 not (the file could not be written, or a value holds a line break).
void write_database_file(const char* database_name, const char* database_host, const char* database_user,
                         const char* database_password, int& file_status);
// mac_status: 0 when the stored MAC is the MAC of one of this computer's adapters, 1 otherwise.
void read_station_file(FixedText<20>& station_mac, int& mac_status);
// A MAC holding a line break is not written.
void write_station_file(const char* mac);

// Every file of the station folder that the station reads or writes, ended by a null pointer: a station
// installed setgid reaches these through its file broker, and no other.
const char* const* station_folder_files();
