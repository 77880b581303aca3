#pragma once

#include <string>

// What a production record needs to know of the machine and its processes.

// The machine's host name.
std::string HostName();
long long ProcessId();
// Whether a process of this machine with that id still runs.
bool ProcessAlive(long long pid);
// What tells the process with that id from any other that had or will have it: its start, as
// the system counts it (on Linux the boot and the clock tick). Empty when no such process runs.
std::string ProcessStartOf(long long pid);
// The user's folder for a program's data: $XDG_DATA_HOME (else ~/.local/share) on Linux,
// %LOCALAPPDATA% on Windows. Empty when the system names none.
std::string UserDataFolder();
// This program's folder in it, as the system's programs name theirs: kelvarin on Linux,
// Kelvarin on Windows. Empty when the system names no data folder.
std::string ProgramDataFolder();
