#include "platform/PortScan.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it takes for granted.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/Files.h"

namespace {

// The names Device Manager shows for the ports ("USB Serial Port (COM5)"), by port name.
std::map<std::string, std::string> FriendlyNames() {
  std::map<std::string, std::string> names;
  const HDEVINFO devices =
      ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t port[64] = L"";
    DWORD size = sizeof port - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &size);
    ::RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ) continue;
    port[size / sizeof(wchar_t)] = L'\0';
    wchar_t friendly[256] = L"";
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                             reinterpret_cast<BYTE*>(friendly),
                                             sizeof friendly - sizeof(wchar_t), nullptr))
      continue;
    names[SystemName(std::filesystem::path(std::wstring(port)))] =
        SystemName(std::filesystem::path(std::wstring(friendly)));
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return names;
}

}  // namespace

// Windows lists the COM ports that are present in the registry; there is no tree to look in,
// so root has no meaning here. The label is the name Device Manager shows where the system
// gives one ("USB Serial Port (COM5)"), else the driver's device name (\Device\USBSER000).
std::vector<FoundPort> ScanSerialPorts(const std::string&) {
  std::vector<FoundPort> found;
  HKEY key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return found;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name;
    BYTE data[256];
    DWORD dataLength = sizeof data - 1;
    DWORD type = 0;
    const LONG status =
        ::RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLength] = 0;
    found.push_back({reinterpret_cast<const char*>(data), std::string(name, nameLength)});
  }
  ::RegCloseKey(key);
  const std::map<std::string, std::string> friendly = FriendlyNames();
  for (FoundPort& port : found)
    if (const auto name = friendly.find(port.Path); name != friendly.end())
      port.Label = name->second;
  // COM2 before COM10.
  const auto number = [](const FoundPort& port) {
    return port.Path.size() > 3 ? std::atoi(port.Path.c_str() + 3) : 0;
  };
  std::sort(found.begin(), found.end(),
            [&](const FoundPort& a, const FoundPort& b) { return number(a) < number(b); });
  return found;
}

std::vector<ListedPort> ListSerialPorts(const std::string& root) {
  // Who holds a COM port Windows tells only to a program that tries to open it.
  std::vector<ListedPort> listed;
  for (const FoundPort& found : ScanSerialPorts(root)) {
    ListedPort port;
    port.Path = found.Path;
    port.Label = found.Label;
    listed.push_back(port);
  }
  return listed;
}

std::string UsbAdapterOf(const std::string&, const std::string&) {
  return {};
}

std::string FindUsbAdapter(const std::string&, const std::string&) {
  return {};
}

std::string FollowableUsbAdapter(const std::string&, const std::string&) {
  return {};
}
