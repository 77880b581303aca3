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

// Makes the file where there is none, empty and readable and writable by its owner alone (mode
// 0600; on Windows a list of rights that names the user who runs the program and nobody else). A
// file that is there already is left as it is. Empty on success, else why.
std::string CreateOwnersFile(const std::string& path);

// Removes a file; false when there was none or it could not be removed.
bool RemoveFile(const std::string& path);

// Moves from onto to in one step, replacing a file that is there (Windows refuses a plain
// rename onto an existing file), and returns once the move itself is on the disk (the folder is
// synced; write-through on Windows). False, with why holding the system's own reason, when that
// cannot be done: from is then still in place, unless the move was made and only the folder's
// sync failed.
bool MoveOnto(const std::string& from, const std::string& to, std::string& why);

// Puts what the system holds of a file (its stdio buffer flushed) on the disk. Empty on success,
// else why; a file system that has nothing to sync counts as success.
std::string SyncFile(std::FILE* file);

// Flushes a file written through stdio down to the disk and closes it: a file that is moved
// into place afterwards cannot come back empty after a power cut. Empty on success, else why;
// the file is closed either way.
std::string SyncAndClose(std::FILE* file);

// A whole file that could not be moved onto target is kept rather than lost: moved to the first
// name beside target that is free ("flash.bin" gives "flash-kept-1.bin", then -2, ...). Returns
// the name it is under now: from itself, when no free name took it; target, when from has gone
// (a move onto target that was made but not synced).
std::string KeepBeside(const std::string& from, const std::string& target);

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

// Writes a whole file the user asked for: into a file of its own beside the name, synced, and
// moved onto the name once every byte is on the disk. When anything fails (a full disk shows only
// as the last bytes go) nothing is left beside it, a file already under the name stays as it was,
// and the result says why; empty on success.
std::string WriteWholeFile(const std::string& path, const std::string& bytes);
