#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/NumberText.h"
#include "wire/Words.h"

// The service requests as they go on the line: command word, values least significant byte
// first, then the CRC of the values.

using TuneRequest = std::array<std::uint8_t, 13>;
using FlashRequest = std::array<std::uint8_t, 16>;

// Frequency in kHz, then only the low 8 bits of the bandwidth.
TuneRequest BuildTuneRequest(std::uint32_t frequencyKHz, std::uint32_t bandwidth);
FlashRequest BuildEraseRequest(std::uint32_t start, std::uint32_t size);
FlashRequest BuildFlashReadRequest(std::uint32_t address, std::uint32_t length);

// The texts a technician typed for a request, checked before anything is sent: each read
// whole and fitting what the request carries. False with why saying which field takes what,
// in the words both front ends show ("Bandwidth: a decimal number from 0 to 255").
struct TuneValues {
  std::uint32_t FrequencyKHz = 0;
  std::uint32_t Bandwidth = 0;
};
bool ReadTuneTexts(const std::string& frequency, const std::string& bandwidth, TuneValues& values,
                   std::string& why);

// A flash range, hexadecimal: at least one byte, and none past 0xFFFFFFFF.
struct FlashRange {
  std::uint32_t Start = 0;
  std::uint32_t Size = 0;
};
bool ReadFlashRangeTexts(const std::string& start, const std::string& size, FlashRange& range,
                         std::string& why);
// The start of a flash range as a field: hexadecimal, 0 to 0xFFFFFFFF.
NumberField FlashStartField();
// The same check on numbers already read: empty when the range may go, else why not.
std::string FlashRangeProblem(std::uint64_t start, std::uint64_t size);
