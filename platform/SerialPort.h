#pragma once

#include <memory>
#include <string>

#include "platform/Port.h"
#include "platform/PortGate.h"

// The machine's serial port: opened exclusively, raw (binary), no flow control, with
// time-outs that another thread's Close() can cut short, and any baud rate the driver takes.
// posix/ and win32/ each give the one SerialPort.cpp that fits the system.
class SerialPort : public Port {
 public:
  SerialPort();
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The device a port name stands for. Linux: COM1..COM8 are /dev/ttyS0..7, a name with a / in
  // it is a path (./box too), anything else lives in /dev. Windows: COMn becomes \\.\COMn.
  static std::string DevicePath(const std::string& name);
  // The one name a port goes by, however it was typed: the device's whole path on Linux
  // (./box from its folder), COMn on Windows (com5 and \\.\COM5 are COM5).
  static std::string LastingName(const std::string& name);
  // How port names are written here, for help texts.
  static const char* const NamingHint;

  // A second opener fails, also a second copy of this program. When the node of a name opened
  // before has gone, the USB adapter it stood for is opened where it came back under another
  // node (Linux).
  bool OpenExclusive(const std::string& name) override;
  const std::string& LastError() const override { return Error; }
  const std::string& FollowedTo() const override { return Followed; }

  bool IsOpen() const;
  bool GetSettings(LineSettings& settings) override;
  // Refuses what a driver refuses: baud 0, data bits outside 5..8.
  bool SetSettings(const LineSettings& settings) override;
  IoResult Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) override;
  IoResult Write(const std::uint8_t* data, std::size_t n, int timeoutMs) override;
  IoResult Drain(int timeoutMs) override;
  void Purge() override;
  void Close() override;

 private:
  // The system's handle, what aborts a wait on it, and the line settings found at open (put
  // back at close, so that the next program finds the port as it was).
  struct System;
  std::unique_ptr<System> Sys;
  std::string Error;
  std::string Followed;
  // Gives the handle back, as it was found; the gate has seen every caller leave.
  void Release();

  PortGate Gate{[this] { return IsOpen(); }};
};
