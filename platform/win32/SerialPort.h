#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "Port.h"
#include "PortGate.h"

enum class OpenResult { Ok, CantOpen, CantSet };

// A Windows COM port: exclusive, binary, no flow control, overlapped I/O so that Close() from
// another thread can abort a call that waits.
class SerialPort : public Port {
 public:
  using SteadyClock = std::chrono::steady_clock;

  SerialPort();
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // COMn as typed (COM10 and above too) becomes \\.\COMn; a name already in that form stays.
  static std::string DevicePath(const std::string& name);
  // How port names are written here, for help texts.
  static constexpr const char* NamingHint = "COMn: COM1, COM2, ..., COM10 and above";

  // Opens exclusively (a second opener fails). False leaves the port closed, or open as it
  // was when it already was.
  bool OpenExclusive(const std::string& name);
  // Why the last OpenExclusive or SetSettings failed, in words a technician can act on.
  const std::string& LastError() const { return Error; }

  bool IsOpen() const;
  bool GetSettings(LineSettings& settings) override;
  // Refuses what a driver refuses: baud 0, data bits outside 5..8.
  bool SetSettings(const LineSettings& settings) override;
  IoResult Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) override;
  IoResult Write(const std::uint8_t* data, std::size_t n, int timeoutMs) override;
  void Purge() override;
  void Close() override;

 private:
  // Kept as void* so that users of this header do not pull in <windows.h>.
  std::atomic<void*> Handle{nullptr};
  void* AbortEvent = nullptr;  // set by Close() to end a wait in progress
  std::string Error;
  // The line settings and time-outs found at open, put back at close so that the next
  // program finds the port as it was.
  struct Saved;
  std::unique_ptr<Saved> Found;
  // Gives the handle back, as it was found; the gate has seen every caller leave.
  void Release();

  PortGate Gate{[this] { return IsOpen(); }};
};
