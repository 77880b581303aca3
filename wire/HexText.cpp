#include "wire/HexText.h"

#include <array>

namespace {

constexpr std::uint8_t NotADigit = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeDigitTable() {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c >= '0' && c <= '9')
      table[c] = static_cast<std::uint8_t>(c - '0');
    else if (c >= 'A' && c <= 'Z')
      table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    else
      table[c] = NotADigit;
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> DigitValue = MakeDigitTable();

}  // namespace

int HexTextToBytes(std::uint8_t* text, int n) {
  // Every character is looked at before any is changed, so that bad text stays as it came.
  // A flash block's text is 8 KiB, decoded between its last byte and the next request.
  for (int i = 0; i < n; ++i)
    if (DigitValue[text[i]] == NotADigit) return 1;
  // Byte k is made from characters 2k and 2k+1, both read before it is stored.
  for (int k = 0; k < n / 2; ++k)
    text[k] = static_cast<std::uint8_t>(16 * DigitValue[text[2 * k]] + DigitValue[text[2 * k + 1]]);
  return 0;
}

void BytesToHexText(const std::uint8_t* bytes, int n, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < n; ++i) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 0xF];
  }
}
