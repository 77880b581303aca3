#pragma once

#include <string>

// File operations whose meaning differs between systems. Names are file names of the system.

// Moves from onto to in one step, replacing a file that is there (Windows refuses a plain
// rename onto an existing file). False, with from left in place, when that cannot be done.
bool MoveOnto(const std::string& from, const std::string& to);
