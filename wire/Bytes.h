#pragma once

#include <cstdint>
#include <string>
#include <utility>

// Command and reply words go most significant byte first; every other integer on the line
// goes least significant byte first. These helpers are the only way bytes become numbers.

inline void ReverseBytes(std::uint8_t* p, int n) {
  for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(p[i], p[j]);
}

inline void PutLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint16_t GetLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t GetLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline std::uint32_t GetBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// A command word as it goes on the line: AA n 32 (3n-2).
inline void PutCommandWord(std::uint8_t* p, std::uint32_t word) {
  PutLe32(p, word);
  ReverseBytes(p, 4);
}

// "%x" of up to four bytes read least significant first: the log form of a queued word.
std::string CmdLogLine(const std::uint8_t* bytes, int n);
