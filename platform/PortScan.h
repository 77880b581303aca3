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

// A serial port as a list for the operator shows it: one entry a device, whatever names lead
// to it.
struct ListedPort {
  std::string Path;   // the device: /dev/ttyUSB0; COM3 on Windows
  std::string Label;  // the adapter's name, where the system tells it
  std::string ById;   // the /dev/serial/by-id/ name that leads to it, where there is one
  // Whether it is known who holds the port: Linux shows the programs of this user (every
  // program to root), so a port no program of this user holds is known free only to root;
  // Windows tells nothing without opening the port.
  bool HolderKnown = false;
  std::string Holder;  // the program that holds it open (its command name); empty: none seen
  long HolderPid = 0;
};

// The ports ScanSerialPorts finds, each device once, with who holds it: under root, the
// programs in proc/ whose open files include the device.
std::vector<ListedPort> ListSerialPorts(const std::string& root = "/");

// Which USB adapter the serial port NAME (a node under /dev, such as ttyUSB0) belongs to: its
// vendor and product, its serial number or else the socket it is plugged into, and the
// interface and port on it. Empty for a port that is no USB adapter, and on Windows, which
// gives an adapter its COM number back whenever it returns.
std::string UsbAdapterOf(const std::string& name, const std::string& root = "/");
// What UsbAdapterOf says of NAME, when no other port on the machine says the same: the identity
// a reopen may follow. Empty otherwise: cheap adapters often share a serial number ("0001"), and
// following one of them could reach another station's box.
std::string FollowableUsbAdapter(const std::string& name, const std::string& root = "/");
// The device path of the one port of that adapter present now: a pulled adapter plugged back
// gets a new node while a program still holds its old one. Empty when none or several match.
std::string FindUsbAdapter(const std::string& adapter, const std::string& root = "/");
