#include "cli/ReadTarget.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/Files.h"

namespace fs = std::filesystem;

std::string FileBehindLinks(const std::string& name) {
  fs::path file = SystemPath(name);
  // As many links in a row as the system itself follows.
  for (int links = 0; links < 40; ++links) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(file, error))) return SystemName(file);
    const fs::path target = fs::read_symlink(file, error);
    if (error) return SystemName(file);
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  return {};
}

std::string ReadTargetProblem(const std::string& name) {
  const std::string file = FileBehindLinks(name);
  if (file.empty()) return "too many levels of symbolic links";
  const fs::path path = SystemPath(file);
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::error_code error;
  const fs::file_status folderStatus = fs::status(folder, error);
  if (!fs::exists(folderStatus)) return "no such folder: " + SystemName(folder);
  if (!fs::is_directory(folderStatus)) return "not a folder: " + SystemName(folder);
  const fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status)) return "is a folder";
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status)) return "not a regular file";
    // Opened for update and closed unchanged: what the system says about writing to it.
    std::FILE* existing = OpenFile(file, "r+b");
    if (existing == nullptr) return std::strerror(errno);
    std::fclose(existing);
  }
  // The read's bytes gather in a folder beside the file, which then moves into place.
  std::random_device random;
  const fs::path probe = folder / (".kelvarin-probe-" + std::to_string(random()));
  const bool made = fs::create_directory(probe, error);
  if (error) return "can't write in " + SystemName(folder) + ": " + error.message();
  if (made) fs::remove(probe, error);
  return {};
}

std::string BoxFileName(const std::string& name, int box) {
  return name + "." + std::to_string(box);
}
