#include "platform/Station.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Files.h"

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

std::string ProcessStartOf(long long pid) {
  if (pid <= 0) return {};
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return {};
  // The name in parentheses may hold anything; the fields after its last ')' are numbers, the
  // start time the 20th of them.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // A process that has ended and waits for its parent to take its status (a zombie) runs no
  // more: its rows are not its to finish.
  if (!(fields >> field) || field == "Z" || field == "X") return {};
  for (int i = 1; i < 20 && fields >> field; ++i) {
  }
  if (!fields) return {};
  // Ticks since boot repeat from one boot to the next: the boot names them.
  std::ifstream bootFile("/proc/sys/kernel/random/boot_id");
  std::string boot;
  std::getline(bootFile, boot);
  return boot + ":" + field;
}

std::string UserDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return data;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == 0) return {};
  return std::string(home) + "/.local/share";
}

std::string ProgramDataFolder() {
  const std::string data = UserDataFolder();
  return data.empty() ? data : SystemName(SystemPath(data) / "kelvarin");
}
