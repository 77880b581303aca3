#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return Folder; }
  std::string FilePath(const std::string& name) const;

 private:
  std::string Folder;
};
