#pragma once

#include <string>
#include <vector>

#include "engine/Core.h"

// What the window does with what the technician hands it, and what it says of itself: the same
// for every face.

// The log keeps this many lines; older ones go.
inline constexpr int MaxLogLines = 100000;

// Whether dropping these files on the window starts an upload: exactly one, a regular file
// (paths of the system), and the engine where a press of "Upload Code" would start one:
// ready for a command, no upload under way.
bool DropStartsUpload(const std::vector<std::string>& paths, const Core& engine,
                      bool commandsEnabled);

// Help > About, below the window's title: the version, what the tool is, and where config.cfg
// and flashdata.bin are (the folder as the system writes it).
std::vector<std::string> AboutLines(const std::string& version, const std::string& folder);
