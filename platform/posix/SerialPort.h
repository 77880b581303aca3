#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "Port.h"
#include "PortGate.h"

enum class OpenResult { Ok, CantOpen, CantSet };

// A POSIX serial device: exclusive, raw, with poll-based time-outs and any baud rate.
class SerialPort : public Port {
 public:
  using SteadyClock = std::chrono::steady_clock;

  SerialPort();
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // COM1..COM8 are /dev/ttyS0..7, a name starting with / is a path, anything else lives in /dev.
  static std::string DevicePath(const std::string& name);
  // How port names are written here, for help texts.
  static constexpr const char* NamingHint = "COMn, a device path, or a name under /dev/";

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
  // Waits until fd is ready for events, the deadline passes or Close() is called. Ok when the
  // caller should try its call again, TimedOut once the deadline has passed, otherwise why the
  // call cannot go on.
  IoStatus WaitReady(int fd, short events, SteadyClock::time_point deadline);
  std::atomic<int> Fd{-1};
  int WakeFd = -1;  // eventfd that Close() signals to abort a poll in progress
  std::string Error;
  // The line settings found at open, put back at close so that the next program finds the
  // port as it was.
  struct Saved;
  std::unique_ptr<Saved> Found;
  // Gives the handle back, as it was found; the gate has seen every caller leave.
  void Release();

  PortGate Gate{[this] { return IsOpen(); }};
};
