#include "wire/Crc.h"

#include <array>

namespace {

// Table k gives the effect of a byte followed by k zero bytes, so that four bytes are taken
// in one step: a flash block's check lies between its last byte and the next request.
constexpr std::array<std::array<std::uint32_t, 256>, 4> MakeCrcTables() {
  std::array<std::array<std::uint32_t, 256>, 4> tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    tables[0][i] = c;
  }
  for (int k = 1; k < 4; ++k)
    for (std::uint32_t i = 0; i < 256; ++i)
      tables[k][i] = (tables[k - 1][i] << 8) ^ tables[0][tables[k - 1][i] >> 24];
  return tables;
}

// Built by the compiler: no thread can see them half made.
constexpr std::array<std::array<std::uint32_t, 256>, 4> CrcTables = MakeCrcTables();
static_assert(CrcTables[0][1] == 0x04C11DB7u);

}  // namespace

std::uint32_t CalcCrc(const std::uint8_t* data, std::uint32_t n) {
  const auto& t = CrcTables;
  std::uint32_t crc = 0xFFFFFFFFu;
  std::uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    crc ^= static_cast<std::uint32_t>(data[i]) << 24 |
           static_cast<std::uint32_t>(data[i + 1]) << 16 |
           static_cast<std::uint32_t>(data[i + 2]) << 8 | data[i + 3];
    crc = t[3][crc >> 24] ^ t[2][(crc >> 16) & 0xFF] ^ t[1][(crc >> 8) & 0xFF] ^ t[0][crc & 0xFF];
  }
  for (; i < n; ++i) crc = (crc << 8) ^ t[0][((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}
