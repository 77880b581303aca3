#include "tests/support/TempDir.h"

#include <atomic>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "platform/Files.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> made{0};
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        base / ("kelvarin-test-" + std::to_string(random()) + "-" + std::to_string(made++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      Folder = SystemName(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder in " + base.string());
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(SystemPath(Folder), error);
}

std::string TempDir::FilePath(const std::string& name) const {
  return SystemName(SystemPath(Folder) / SystemPath(name));
}
