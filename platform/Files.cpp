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
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
  std::string why = written ? "" : std::strerror(errno != 0 ? errno : EIO);
  errno = 0;
  if (std::fclose(file) != 0 && why.empty()) why = std::strerror(errno != 0 ? errno : EIO);
  if (why.empty() && !MoveOnto(part, path)) why = std::strerror(errno != 0 ? errno : EIO);
  if (!why.empty()) RemoveFile(part);
  return why;
}
