#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

// File operations whose meaning differs between systems. Names are file names of the system.

// A file name of the system as the standard library's path, and back. On Windows names are
// UTF-8 here, which the library would otherwise take for the ANSI code page and lose every
// character outside it; elsewhere the bytes go as they are.
std::filesystem::path SystemPath(const std::string& name);
std::string SystemName(const std::filesystem::path& path);

// std::fopen by a file name of the system.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Removes a file; false when there was none or it could not be removed.
bool RemoveFile(const std::string& path);

// Moves from onto to in one step, replacing a file that is there (Windows refuses a plain
// rename onto an existing file). False, with from left in place, when that cannot be done.
bool MoveOnto(const std::string& from, const std::string& to);

// Opens a regular file for reading. A named pipe or a device is refused without waiting for a
// writer, as is a folder; nullptr then, with why saying so (or the system's reason).
std::FILE* OpenRegularFile(const std::string& path, std::string& why);

// What tells whether an open file has been written to since: its size and the time its
// content last changed. (Not the time of its last change of state: removing or replacing the
// name changes that too, and does not touch the content.)
struct FileStamp {
  std::uint64_t Size = 0;
  std::int64_t Modified = 0;
  bool operator==(const FileStamp&) const = default;
};
bool StampOf(std::FILE* file, FileStamp& stamp);

// Reads n bytes at offset, whoever else reads the same file; false unless all n came.
bool ReadAt(std::FILE* file, std::uint64_t offset, std::uint8_t* into, std::size_t n);

// Writes a whole file the user asked for: into a file of its own beside the name, moved onto
// the name once every byte is on the disk. When anything fails (a full disk shows only as the
// last bytes go) nothing is left beside it, a file already under the name stays as it was, and
// the result says why; empty on success.
std::string WriteWholeFile(const std::string& path, const std::string& bytes);
