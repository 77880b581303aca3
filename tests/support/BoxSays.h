#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/HexText.h"

// What a box says on the line, made from wire/ alone: the engine's tests need no simulated box,
// which lives on POSIX only.

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// A console line: the text and its carriage return.
inline Bytes TextLine(const std::string& text) {
  return ToBytes(text + "\r");
}

// A word as it goes on the line, most significant byte first; alone, a reply word is a status
// word.
inline Bytes WireWord(std::uint32_t word) {
  Bytes out(4);
  PutCommandWord(out.data(), word);
  return out;
}

// A payload frame: the word, then the payload and its CRC (least significant byte first) as
// capital hexadecimal text.
inline Bytes PayloadFrame(std::uint32_t word, const Bytes& payload) {
  Bytes decoded = payload;
  decoded.resize(payload.size() + 4);
  PutLe32(decoded.data() + payload.size(),
          CalcCrc(payload.data(), static_cast<std::uint32_t>(payload.size())));
  std::string hex(decoded.size() * 2, '\0');
  BytesToHexText(decoded.data(), static_cast<int>(decoded.size()), hex.data());
  Bytes frame(4 + hex.size());
  PutCommandWord(frame.data(), word);
  std::copy(hex.begin(), hex.end(), frame.begin() + 4);
  return frame;
}
