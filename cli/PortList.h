#pragma once

#include <string>
#include <vector>

#include "platform/PortScan.h"

// The ports command's output: one line a port (its device, the adapter's name, who holds it),
// in aligned columns; with json one object a port.
std::string PortListText(const std::vector<ListedPort>& ports, bool json);
