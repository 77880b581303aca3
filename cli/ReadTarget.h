#pragma once

#include <string>

// Where a read's bytes go. Names are file names of the system.

// The file a name stands for: the name itself, or, when it is a symbolic link, the file the
// link leads to (which need not exist yet). Empty when the links go round in circles.
std::string FileBehindLinks(const std::string& name);

// Why name cannot take a read's bytes, found before any work: its folder is missing or cannot
// be written in, or it is a folder, a device, a pipe, or a file that may not be written.
// Empty when it can.
std::string ReadTargetProblem(const std::string& name);

// With --repeat each box gets a file of its own: name.1 for the first box, name.2, ...
std::string BoxFileName(const std::string& name, int box);
