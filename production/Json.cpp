#include "production/Json.h"

#include <cstdio>

bool ControlCode(unsigned code) {
  return (code < 0x20 && code != '\t') || (code >= 0x7F && code < 0xA0);
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    const auto b = static_cast<unsigned char>(c);
    // C1 characters are two bytes in UTF-8, C2 80 to C2 9F.
    const bool c1 =
        b == 0xC2 && i + 1 < utf8.size() && ControlCode(static_cast<unsigned char>(utf8[i + 1]));
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F || c1) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x",
                    c1 ? static_cast<unsigned char>(utf8[++i]) : b);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}
