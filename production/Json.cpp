#include "production/Json.h"

#include <cstdio>

bool ControlCode(unsigned code) {
  return (code < 0x20 && code != '\t') || (code >= 0x7F && code < 0xA0);
}

namespace {

// The length of the UTF-8 character at text[i], or 0 when no well-formed character starts there
// (a stray byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned b = at(i);
  if (b < 0x80) return 1;
  const auto follows = [&](std::size_t k, unsigned low = 0x80, unsigned high = 0xBF) {
    return at(k) >= low && at(k) <= high;
  };
  if (b >= 0xC2 && b <= 0xDF) return follows(i + 1) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    const unsigned low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
    return follows(i + 1, low, high) && follows(i + 2) ? 3 : 0;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    const unsigned low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
    return follows(i + 1, low, high) && follows(i + 2) && follows(i + 3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string ValidUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[i]));
      out += escape;
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string JsonString(const std::string& text) {
  const std::string utf8 = ValidUtf8(text);
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
