#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

// The longest line a job file may have.
inline constexpr std::size_t JobLineMax = 4096;

// Reads the job file into job.Steps, every step checked as a command line's would be. A line is
// split into words at blanks; "..." or '...' keep blanks inside a word; # begins a comment
// outside quotes. Empty when good; otherwise "FILE:LINE: why".
std::string LoadJob(const std::string& path, CliOptions& job);
// For the record of each box: a job that does not ask the loader's version gets a first step
// that does, whose answer goes to the record alone.
void AskVersionFirst(CliOptions& job);

// The words of one line of a job file; false when a quote is left open.
bool JobLineWords(const std::string& line, std::vector<std::string>& words);
