#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Port.h"

// The settings line of config.cfg: "port baud databits parity-index stop-index", one line,
// no line end.
struct UartConfig {
  std::string PortName;
  int BaudRate = 0;
  int DataBits = 0;
  int ParityIndex = 0;
  int StopBitIndex = 0;
};

// What opening a port asks for, as the driver takes it. Where parity or stop bits are not
// given, the port keeps what it had; a baud rate or data bits a driver cannot take make the
// set-up fail ("Can't set").
struct PortRequest {
  std::string Name;
  std::uint32_t BaudRate = 115200;
  int DataBits = 8;
  std::optional<Parity> ParityMode;
  std::optional<StopBits> Stop;
};

// The one way from config.cfg's fields (and the settings dialog's, which are the same) to a
// request: a baud rate below 1 is 0, which no driver takes; a parity or stop-bit index out of
// its list leaves the port's own.
PortRequest RequestOf(const UartConfig& config);

inline constexpr const char* DefaultConfigLine = "COM3 115200 8 0 1";

// Reads the line as "%s %d %d %d %d" would: a field that does not parse, and every field
// after it, keeps its value from `start`. Numbers too large for an int saturate.
UartConfig ParseConfigLine(const std::string& content, UartConfig start = {});

// Baud and data bits are written as the texts of their lists stand.
std::string FormatConfigLine(const std::string& port, const std::string& baudText,
                             const std::string& dataBitsText, int parityIndex, int stopBitIndex);

// Writes the line exactly, with no line end. False when the file cannot be created.
bool WriteConfigFile(const std::string& path, const std::string& line);
// False when the file cannot be opened.
bool ReadConfigFile(const std::string& path, std::string& content);
