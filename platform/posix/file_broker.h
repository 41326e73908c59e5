// The file broker of a station installed setgid. Anything the station does as the visitor's account
// (a screen reader's bus among others: the D-Bus library ignores the environment of a process that holds
// a group its account lacks, and some of its bus addresses run a program) must happen without the
// station folder's group. So, before anything of Qt exists, the station forks this broker, which keeps
// the group, and gives the group up itself for good. The broker serves one connection: a fixed list of
// the folder's files, by name, never a path (read one whole, write one whole, remove one, tell whether
// one is there), none over station_folder::file_limit; it never runs or loads anything, and ends with
// its station. The kernel keeps both processes from being traced or read by the visitor.
#pragma once

#include "platform/station_folder.h"

#include <string>
#include <sys/types.h>

// How long the station waits for an answer. A broker that was stopped or ended counts as lost.
constexpr int file_broker_answer_ms = 5000;

// Forks the broker over the current folder, serving the files named in `names` (ended by a null
// pointer). Returns the station's end of the connection (close-on-exec), or -1 with errno set;
// `broker` gets the broker's process number.
int start_file_broker(const char* const* names, pid_t& broker);

// From now on the station folder's files go through the broker at the other end of `connection`; -1
// goes back to the current folder (the caller closes the connection). `lost`, when given, runs once when
// the broker is gone or does not answer in time; that call and every later one then fail as a file that
// cannot be read or written does.
void use_file_broker(int connection, void (*lost)());

// What station_folder.cpp asks of the broker in use.
bool file_broker_in_use();
station_folder::FileRead broker_read(const char* name, std::string& bytes);
bool broker_write(const char* name, const std::string& bytes);
bool broker_remove(const char* name);
bool broker_present(const char* name);
