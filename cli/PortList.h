#pragma once

#include <string>
#include <vector>

#include "platform/PortScan.h"

// The ports command's output: one line a port (its device, the adapter's name, who holds it),
// in aligned columns; with json one object a port.
std::string PortListText(const std::vector<ListedPort>& ports, bool json);

// A port as the record names it: the device the name opens (/dev/ttyUSB0 for ttyUSB0, a path
// made whole for ./box), so that a row says which port it was wherever the station ran from.
std::string RecordedPort(const std::string& name);
