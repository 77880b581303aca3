#include "wire/HexText.h"

#include <vector>

int HexTextToBytes(std::uint8_t* text, int n) {
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(n / 2));
  for (int i = 0; i < n; ++i) {
    const std::uint8_t c = text[i];
    int value;
    if (c >= '0' && c <= '9')
      value = c - 48;
    else if (c >= 'A' && c <= 'Z')
      value = c - 55;
    else
      return 1;
    if (i / 2 >= static_cast<int>(scratch.size())) break;  // an odd last character has no pair
    if (i % 2 == 0)
      scratch[i / 2] = static_cast<std::uint8_t>(16 * value);
    else
      scratch[i / 2] = static_cast<std::uint8_t>(scratch[i / 2] + value);
  }
  for (std::size_t i = 0; i < scratch.size(); ++i) text[i] = scratch[i];
  return 0;
}

void BytesToHexText(const std::uint8_t* bytes, int n, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < n; ++i) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 0xF];
  }
}
