#include "platform/Station.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

long long ProcessId() {
  return static_cast<long long>(getpid());
}

bool ProcessAlive(long long pid) {
  if (pid <= 0) return false;
  // EPERM: it runs, under another user.
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string UserDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return data;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == 0) return {};
  return std::string(home) + "/.local/share";
}
