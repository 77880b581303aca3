#include "platform/PortScan.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdlib>

// Windows lists the COM ports that are present in the registry; there is no tree to look in,
// so root has no meaning here. The label is the driver's device name (\Device\USBSER000).
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
