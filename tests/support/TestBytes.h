#pragma once

#include <cstdint>
#include <vector>

// Byte helpers the tests build expected line traffic with. The CRC is worked out bit by bit,
// independent of the table the program uses.

// The tool's sync word as it goes on the line.
inline const std::vector<std::uint8_t> kSyncWord{0xAA, 0x25, 0x32, 0x6D, 0x00};

// CRC-32/MPEG-2.
inline std::uint32_t BitwiseCrc(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) {
    crc ^= std::uint32_t{b} << 24;
    for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// values, then their CRC least significant byte first.
inline std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> values) {
  const std::uint32_t crc = BitwiseCrc(values);
  for (int i = 0; i < 4; ++i) values.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  return values;
}

inline std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a,
                                        const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
