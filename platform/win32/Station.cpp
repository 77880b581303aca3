#include "platform/Station.h"

#include <windows.h>

#include <filesystem>

#include "platform/Files.h"

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return "unknown";
  return SystemName(std::filesystem::path(name));
}

long long ProcessId() {
  return static_cast<long long>(GetCurrentProcessId());
}

bool ProcessAlive(long long pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::string ProcessStartOf(long long pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return {};
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool got = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  if (!got || !running) return {};
  return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                        created.dwLowDateTime);
}

std::string UserDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return SystemName(std::filesystem::path(folder));
}

std::string ProgramDataFolder() {
  const std::string data = UserDataFolder();
  return data.empty() ? data : SystemName(SystemPath(data) / "Kelvarin");
}
