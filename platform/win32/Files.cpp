#include "platform/Files.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

bool MoveOnto(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
