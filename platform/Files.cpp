#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <random>

std::string WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::random_device random;
  const std::string part = path + ".kelvarin-" + std::to_string(random()) + ".part";
  std::FILE* file = OpenFile(part, "wb");
  if (file == nullptr) return std::strerror(errno);
  errno = 0;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  std::string why = written ? "" : std::strerror(errno != 0 ? errno : EIO);
  const std::string closing = SyncAndClose(file);
  if (why.empty()) why = closing;
  if (why.empty()) MoveOnto(part, path, why);
  if (!why.empty()) RemoveFile(part);
  return why;
}

std::string SyncAndClose(std::FILE* file) {
  errno = 0;
  std::string why =
      std::fflush(file) == 0 ? SyncFile(file) : std::strerror(errno != 0 ? errno : EIO);
  errno = 0;
  if (std::fclose(file) != 0 && why.empty()) why = std::strerror(errno != 0 ? errno : EIO);
  return why;
}

std::string KeepBeside(const std::string& from, const std::string& target) {
  std::error_code gone;
  if (!std::filesystem::exists(SystemPath(from), gone) && !gone) return target;
  const std::filesystem::path name = SystemPath(target);
  const std::string stem = SystemName(name.stem());
  const std::string extension = SystemName(name.extension());
  for (int n = 1; n <= 999; ++n) {
    const std::filesystem::path kept =
        name.parent_path() / SystemPath(stem + "-kept-" + std::to_string(n) + extension);
    std::error_code error;
    if (std::filesystem::exists(kept, error) || error) continue;
    std::string why;
    if (MoveOnto(from, SystemName(kept), why)) return SystemName(kept);
    break;  // the folder takes no new name: the file stays where it is
  }
  return from;
}
