#pragma once

#include <string>
#include <vector>

// A serial port found on the machine. Label names the adapter where the system tells it (the
// /dev/serial/by-id/ links), else it is empty.
struct FoundPort {
  std::string Path;
  std::string Label;
  bool operator==(const FoundPort&) const = default;
};

// The serial ports present under root ("/" on a real machine; tests give a fake tree with dev/
// and sys/): the by-id links, then ttyUSB*, ttyACM*, and the ttyS* with a real UART behind them.
std::vector<FoundPort> ScanSerialPorts(const std::string& root = "/");
