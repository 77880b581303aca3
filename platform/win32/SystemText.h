#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

// The system's own words for an error code, in UTF-8 without the closing full stop ("The
// process cannot access the file because it is being used by another process").
std::string SystemText(DWORD error);
