#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::filesystem::path SystemPath(const std::string& name) {
  return std::filesystem::path(name);
}

std::string SystemName(const std::filesystem::path& path) {
  return path.string();
}

std::string CreateOwnersFile(const std::string& path) {
  // Only a file made here is opened and closed: closing any descriptor of a file drops every
  // lock this process holds on it, and SQLite's connections to an existing record hold some.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? std::string() : std::strerror(errno);
  ::close(fd);
  return {};
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool RemoveFile(const std::string& path) {
  return std::remove(path.c_str()) == 0;
}

bool MoveOnto(const std::string& from, const std::string& to, std::string& why) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    why = std::strerror(errno);
    return false;
  }
  // The new name is an entry of its folder: only the folder's sync puts it on the disk.
  const std::filesystem::path folder = std::filesystem::path(to).parent_path();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;  // a folder we may not read: the rename is all we can do
  // Some file systems cannot sync a folder (EINVAL) and have nothing to sync there. A failed
  // sync leaves the file moved but perhaps not on the disk: said so, and from is gone.
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  if (!synced)
    why = std::string("moved, but its folder could not be synced: ") + std::strerror(errno);
  ::close(fd);
  return synced;
}

std::string SyncFile(std::FILE* file) {
  if (::fsync(::fileno(file)) == 0 || errno == EINVAL || errno == EROFS) return {};
  return std::strerror(errno);
}

std::FILE* OpenRegularFile(const std::string& path, std::string& why) {
  // Without O_NONBLOCK, opening a named pipe waits for a writer that may never come.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    why = "not a regular file";
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    why = std::strerror(errno);
    ::close(fd);
  }
  return file;
}

bool StampOf(std::FILE* file, FileStamp& stamp) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0) return false;
  stamp.Size = static_cast<std::uint64_t>(info.st_size);
  stamp.Modified = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  return true;
}

bool ReadAt(std::FILE* file, std::uint64_t offset, std::uint8_t* into, std::size_t n) {
  const int fd = ::fileno(file);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd, into + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}
