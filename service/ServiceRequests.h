#pragma once

#include <array>
#include <cstdint>

#include "wire/Words.h"

// The service requests as they go on the line: command word, values least significant byte
// first, then the CRC of the values.

using TuneRequest = std::array<std::uint8_t, 13>;
using FlashRequest = std::array<std::uint8_t, 16>;

// Frequency in kHz, then only the low 8 bits of the bandwidth.
TuneRequest BuildTuneRequest(std::uint32_t frequencyKHz, std::uint32_t bandwidth);
FlashRequest BuildEraseRequest(std::uint32_t start, std::uint32_t size);
FlashRequest BuildFlashReadRequest(std::uint32_t address, std::uint32_t length);
