// The station's two configuration files, in the current directory. Lines end with CR LF on disk on
// every system; the last value has no line end.
#pragma once

#include "fonction/fixed_text.h"

extern const char* const database_file_name; // "Configuration_Base_de_donnee.init"
extern const char* const station_file_name;  // "Configuration_Poste_MAC.init"

// file_status: 1 read, 0 missing or empty (the four texts are then left as they were).
void read_database_file(FixedText<255>& database_name, FixedText<255>& database_host,
                        FixedText<70>& database_user, FixedText<70>& database_password, int& file_status);
// file_status: 1 written, 0 not (the file could not be opened, or a value holds a line break).
void write_database_file(const char* database_name, const char* database_host, const char* database_user,
                         const char* database_password, int& file_status);
// mac_status: 0 when the stored MAC is the MAC of one of this computer's adapters, 1 otherwise.
void read_station_file(FixedText<20>& station_mac, int& mac_status);
void write_station_file(const char* mac);
