#include "wire/Crc.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  return table;
}

// Built by the compiler: no thread can see it half made.
constexpr std::array<std::uint32_t, 256> CrcTable = MakeCrcTable();
static_assert(CrcTable[1] == 0x04C11DB7u);

}  // namespace

std::uint32_t CalcCrc(const std::uint8_t* data, std::uint32_t n) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint32_t i = 0; i < n; ++i) crc = (crc << 8) ^ CrcTable[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}
