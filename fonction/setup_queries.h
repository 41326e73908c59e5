// Queries of the set-up screen: the station's recorded usage, the computer records no station has
// claimed yet (an empty MAC address), and the update that binds the station to its record.
#pragma once

#include "fonction/db_link.h"

// found: 1 with usage the row's value; 0 with usage 0 when there is no such row. Both are left as
// the caller set them when the server cannot be asked.
void computer_usage(DbLink& link, int id_computer, int& usage, int& found);

// The number of free computer records; left as the caller set it when the server cannot be asked.
void count_free_computers(DbLink& link, int& count);

// The name of free record `index`, in the order the server returns them; empty when there is no such
// record, left as the caller set it when the server cannot be asked.
void free_computer_name(DbLink& link, int index, FixedText<256>& name);

// Results of update_computer_record.
enum ComputerUpdate { UpdateRefused = 0, UpdateRun = 1, UpdateNotConnected = 2 };

// Writes the station file with `mac`, then stores usage, MAC, IP address and host name in the record
// named `station_name`. UpdateRun also when no record has that name.
int update_computer_record(DbLink& link, const char* station_name, int usage, const char* mac,
                           const char* ip_address, const char* host_name);
