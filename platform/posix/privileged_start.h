// The station installed setgid to the group that owns its folder (the way crontab reaches its
// spool): the visitor whose desktop it runs on can neither read nor change that folder, the
// station can, through its file broker (file_broker.h), which alone keeps the group. Such a
// process starts with rights its caller lacks, so it must not load code its caller chooses, nor
// hand those rights to the programs it starts.
#pragma once

// True when the process was started with rights its caller does not have (setgid or setuid).
bool running_privileged();

// The environment through which a caller could make Qt or a library load plug-ins or modules of
// its choosing; each is removed from the environment by clear_loading_environment.
extern const char* const loading_environment[];

// Removes every variable of loading_environment and pins Qt to the X platform without OpenGL (the
// station draws widgets only). Called before the application object exists.
void clear_loading_environment();

// Changes into the station folder with a umask that keeps the station's files from other
// accounts; false (errno set) when the folder cannot be entered.
bool enter_station_folder(const char* folder);

// Gives up the station's group for good: real, effective and saved are the account's own again, so no
// library takes the process for a setgid one any more. False when it could not be given up; the
// process must then not go on.
bool give_up_station_group();

// In a child about to run another program: gives up the station's group for good and has every
// descriptor above the standard three closed when the program starts. False when the group could not
// be given up; the child must then not run the program.
bool drop_station_rights();
