#pragma once

#include <array>
#include <cstdint>

#include "dlcfg/DlCfgRecord.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"

using Record = std::array<std::uint8_t, DlCfgRecordSize>;

// Gives the record the CRC of its first bytes, as a box would.
inline void Seal(Record& r) {
  PutLe32(r.data() + DlCfgCrcOffset, CalcCrc(r.data(), DlCfgCrcOffset));
}

// A record as a box might send it: arbitrary field bytes, reserved bytes 0xFF, a valid CRC.
// The satellite Commands field holds a zero inside its command length and more bytes after
// it, including one above 0x7F, so that nothing but the received bytes can reproduce it.
inline Record SampleRecord(std::uint8_t deliveryType) {
  Record r{};
  std::uint32_t seed = 0x1234567u + deliveryType;
  for (int i = 0; i < DlCfgCrcOffset; ++i) {
    seed = seed * 1103515245u + 12345u;
    r[i] = static_cast<std::uint8_t>(seed >> 16);
  }
  for (int i = 25; i < 28; ++i) r[i] = 0xFF;
  const int layoutReservedFrom =
      LayoutOfDeliveryType(deliveryType) == DeliveryLayout::Satellite ? 81 : 67;
  for (int i = layoutReservedFrom; i < 84; ++i) r[i] = 0xFF;
  for (int i = 89; i < 96; ++i) r[i] = 0xFF;
  r[DlCfgDeliveryTypeOffset] = deliveryType;
  if (layoutReservedFrom == 81) {
    const std::uint8_t commands[12] = {'G', 'O', 0xE9, '!', 0, 'x', 'y', 1, 2, 3, 0, 0x80};
    r[68] = 7;
    for (int i = 0; i < 12; ++i) r[69 + i] = commands[i];
  }
  Seal(r);
  return r;
}

inline bool CrcHolds(const std::uint8_t* record) {
  return GetLe32(record + DlCfgCrcOffset) == CalcCrc(record, DlCfgCrcOffset);
}
