// Queries that tie the station to its computer record and its space, the staff message and the
// heartbeat. Status cells: 0 found or connected, 1 not found or not connected.
#pragma once

#include "fonction/db_link.h"
#include "fonction/records.h"

#include <string>

void find_computer_by_mac(DbLink& link, const char* mac, int& id_computer, int& status);
void read_computer_usage(DbLink& link, int id_computer, int& usage_computer, int& status);
void read_computer_name(DbLink& link, int id_computer, FixedText<100>& station_name, int& status);
void read_space_name(DbLink& link, const char* station_name, FixedText<1000>& space_name, int& status);
void read_space_settings(DbLink& link, const char* space_name, SpaceSettings& settings);

// The newest network-wide staff message, else the newest message of the space; empty when none.
std::string load_space_message(DbLink& link, const char* space_name, int& messages_visible);

// Writes today's date and the seconds since midnight into the station's computer row; false when
// the server could not be reached or did not take the statement.
bool report_station_alive(DbLink& link, int id_computer);
