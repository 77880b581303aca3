#include "boxsim/BoxFrames.h"

#include <algorithm>
#include <cstdio>

#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/HexText.h"

namespace boxsim {

std::uint32_t ReplyWord(std::uint8_t k) {
  const std::uint8_t check = static_cast<std::uint8_t>(0x96 + 2 * (k - 0x10));
  return 0xBB000000u | (std::uint32_t{k} << 16) | 0x2100u | check;
}

Bytes StatusFrame(std::uint32_t word) {
  Bytes frame(4);
  PutCommandWord(frame.data(), word);
  return frame;
}

Bytes HexFrame(std::uint32_t word, const std::uint8_t* raw, std::size_t n) {
  Bytes frame = StatusFrame(word);
  frame.resize(4 + 2 * n);
  BytesToHexText(raw, static_cast<int>(n), reinterpret_cast<char*>(&frame[4]));
  return frame;
}

Bytes PayloadFrame(std::uint32_t word, const std::uint8_t* payload, std::size_t n) {
  Bytes raw(payload, payload + n);
  raw.resize(n + 4);
  PutLe32(raw.data() + n, CalcCrc(payload, static_cast<std::uint32_t>(n)));
  return HexFrame(word, raw.data(), raw.size());
}

void SealRecord(Record& record) {
  PutLe32(&record[96], CalcCrc(record.data(), 96));
}

bool RecordSealed(const Record& record) {
  return GetLe32(&record[96]) == CalcCrc(record.data(), 96);
}

namespace {

// The fields every layout shares; delivery parameters and the type byte are the caller's.
Record CommonRecord(std::uint8_t deliveryType) {
  Record r{};
  PutLe16(&r[0], 0x0102);  // struct version
  PutLe16(&r[2], 100);     // struct size
  PutLe32(&r[4], 0x00000001);
  PutLe32(&r[8], 30);
  r[12] = 1;  // download type
  r[13] = 0;  // force tune
  PutLe16(&r[14], 0x1FF0);
  PutLe32(&r[16], 0x00A0B1C2);
  PutLe16(&r[20], 0x5A17);
  PutLe16(&r[22], 0x0003);
  r[24] = 2;
  r[25] = r[26] = r[27] = 0xFF;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t* selector = &r[28 + 4 * i];
    selector[0] = static_cast<std::uint8_t>(0x10 + i);
    selector[1] = static_cast<std::uint8_t>(2 + i);
    PutLe16(selector + 2, static_cast<std::uint16_t>(0x0100 + i));
    std::uint8_t* module = &r[44 + 4 * i];
    module[0] = static_cast<std::uint8_t>(0x10 + i);
    module[1] = static_cast<std::uint8_t>(1 + i);
    PutLe16(module + 2, static_cast<std::uint16_t>(0x00F0 + i));
  }
  for (int i = 60; i < 84; ++i) r[i] = 0xFF;
  PutLe32(&r[84], 2);  // signature type
  r[88] = deliveryType;
  for (int i = 89; i < 96; ++i) r[i] = 0xFF;
  return r;
}

void PutSatellite(Record& r) {
  PutLe32(&r[60], 11778000);
  PutLe16(&r[64], 27500);
  PutLe16(&r[66], 3);
  static const char commands[12] = {'E', '0', '1', '8'};
  r[68] = 4;
  for (int i = 0; i < 12; ++i) r[69 + i] = static_cast<std::uint8_t>(commands[i]);
}

}  // namespace

Record SatelliteRecord() {
  Record r = CommonRecord(1);
  PutSatellite(r);
  SealRecord(r);
  return r;
}

Record CableRecord() {
  Record r = CommonRecord(2);
  PutLe32(&r[60], 474000);
  PutLe16(&r[64], 6875);
  r[66] = 3;  // modulation type
  SealRecord(r);
  return r;
}

Record TerrestrialRecord() {
  Record r = CommonRecord(3);
  PutLe32(&r[60], 522000);
  r[64] = 1;     // priority
  r[65] = 8;     // bandwidth
  r[66] = 0x5A;  // tuner power
  SealRecord(r);
  return r;
}

Record OddRecord(std::uint8_t deliveryType) {
  Record r = CommonRecord(deliveryType);
  PutSatellite(r);
  SealRecord(r);
  return r;
}

Record DefaultRecord() {
  Record r = CommonRecord(1);
  PutSatellite(r);
  PutLe32(&r[4], 0);
  PutLe32(&r[8], 60);
  PutLe16(&r[14], 0x0100);
  SealRecord(r);
  return r;
}

Bytes PatternFlash(std::size_t size) {
  Bytes flash(size);
  for (std::size_t i = 0; i < size; ++i)
    flash[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 8) ^ (i >> 16));
  return flash;
}

namespace {

std::size_t FaultOffset(const Bytes& frame, int offset) {
  if (frame.empty()) return 0;
  if (offset < 0) return frame.size() / 2;
  return std::min(static_cast<std::size_t>(offset), frame.size() - 1);
}

Bytes DefaultGarbage() {
  Bytes garbage;
  std::uint32_t seed = 0x2545F491u;
  while (garbage.size() < 16) {
    seed = seed * 1664525u + 1013904223u;
    const std::uint8_t b = static_cast<std::uint8_t>(seed >> 24);
    if (b != 0xBB && b != 0x0D) garbage.push_back(b);
  }
  return garbage;
}

}  // namespace

// The last hex digit of the CRC turned into another valid digit: the text still decodes, the
// check does not hold. A bare word has no CRC, so its check byte is spoiled instead.
void SpoilCrc(Bytes& frame) {
  if (frame.size() <= 4) {
    if (!frame.empty()) frame.back() ^= 0x01;
    return;
  }
  static const char digits[] = "0123456789ABCDEF";
  std::uint8_t& c = frame.back();
  int value = (c >= 'A') ? c - 'A' + 10 : c - '0';
  c = static_cast<std::uint8_t>(digits[(value ^ 1) & 0xF]);
}

Bytes Spoiled(Bytes frame) {
  SpoilCrc(frame);
  return frame;
}

std::vector<Segment> ApplyFault(const Bytes& frame, const Fault& fault) {
  Bytes bytes = frame;
  switch (fault.kind) {
    case FaultKind::BadCrc:
      SpoilCrc(bytes);
      return {{bytes, 0}};
    case FaultKind::DropByte:
      if (!bytes.empty())
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(FaultOffset(bytes, fault.offset)));
      return {{bytes, 0}};
    case FaultKind::FlipBit:
      if (!bytes.empty())
        bytes[FaultOffset(bytes, fault.offset)] ^= static_cast<std::uint8_t>(1u << (fault.bit & 7));
      return {{bytes, 0}};
    case FaultKind::Duplicate:
      // As a line carries a frame sent twice: the copy right behind it, in the same write.
      bytes.insert(bytes.end(), frame.begin(), frame.end());
      return {{bytes, 0}};
    case FaultKind::GarbageBefore:
      return {{fault.garbage.empty() ? DefaultGarbage() : fault.garbage, 0}, {bytes, 0}};
    case FaultKind::PauseInside: {
      const std::size_t cut = std::max<std::size_t>(1, FaultOffset(bytes, fault.offset));
      if (cut >= bytes.size()) return {{bytes, 0}};
      Bytes head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      Bytes tail(bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end());
      return {{head, fault.pauseMs}, {tail, 0}};
    }
    case FaultKind::Silence:
      return {};
  }
  return {{bytes, 0}};
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t n) {
  std::string text;
  char piece[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(piece, sizeof piece, i ? " %02X" : "%02X", bytes[i]);
    text += piece;
  }
  return text;
}

}  // namespace boxsim
