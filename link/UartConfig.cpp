#include "link/UartConfig.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>

#include "link/NumberText.h"
#include "platform/Files.h"

namespace {

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

void SkipBlanks(const std::string& s, std::size_t& i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
}

}  // namespace

UartConfig ParseConfigLine(const std::string& content, UartConfig start) {
  UartConfig c = start;
  std::size_t i = 0;
  SkipBlanks(content, i);
  if (i >= content.size()) return c;
  std::size_t end = i;
  while (end < content.size() && !IsBlank(content[end])) ++end;
  c.PortName = content.substr(i, end - i);
  c.PortName = c.PortName.substr(0, c.PortName.find('\0'));  // a C string ends at a zero byte
  i = end;
  for (int* field : {&c.BaudRate, &c.DataBits, &c.ParityIndex, &c.StopBitIndex}) {
    std::int32_t value = 0;
    if (!ReadDecimalAt(content, i, value)) break;
    *field = value;
  }
  return c;
}

std::string FormatConfigLine(const std::string& port, const std::string& baudText,
                             const std::string& dataBitsText, int parityIndex, int stopBitIndex) {
  return port + " " + baudText + " " + dataBitsText + " " + std::to_string(parityIndex) + " " +
         std::to_string(stopBitIndex);
}

bool WriteConfigFile(const std::string& path, const std::string& line) {
  // Written beside it and moved onto it whole: a write that fails leaves the settings as they
  // were, never a cut line.
  const std::string part = path + ".new";
  std::FILE* f = OpenFile(part, "wb");
  if (!f) return false;
  const bool written = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  std::string why = SyncAndClose(f);
  if (written && why.empty() && MoveOnto(part, path, why)) return true;
  RemoveFile(part);
  return false;
}

bool ReadConfigFile(const std::string& path, std::string& content) {
  std::ifstream in(SystemPath(path), std::ios::binary);
  if (!in) return false;
  // One short line is all the file should hold; a runaway file is read only as far as needed.
  constexpr std::size_t kMax = 64 * 1024;
  content.resize(kMax);
  in.read(content.data(), static_cast<std::streamsize>(kMax));
  content.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

PortRequest RequestOf(const UartConfig& config) {
  PortRequest request;
  request.Name = config.PortName;
  request.BaudRate = config.BaudRate > 0 ? static_cast<std::uint32_t>(config.BaudRate) : 0;
  request.DataBits = config.DataBits;
  request.ParityMode = ParityOfIndex(config.ParityIndex);
  request.Stop = StopBitsOfIndex(config.StopBitIndex);
  return request;
}
