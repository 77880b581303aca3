#include "wire/Bytes.h"

#include <cstdio>

std::string CmdLogLine(const std::uint8_t* bytes, int n) {
  std::uint32_t value = 0;
  for (int i = 0; i < n && i < 4; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
  char text[32];
  std::snprintf(text, sizeof text, "Cmd > %x", static_cast<unsigned>(value));
  return text;
}
