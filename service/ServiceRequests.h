#pragma once

#include <array>
#include <cstdint>

// The service requests as they go on the line: command word, values least significant byte
// first, then the CRC of the values.

constexpr std::uint32_t TuneTestWord = 0xAA083216u;
constexpr std::uint32_t EraseFlashWord = 0xAA04320Au;
constexpr std::uint32_t ReadFlashWord = 0xAA113231u;

using TuneRequest = std::array<std::uint8_t, 13>;
using FlashRequest = std::array<std::uint8_t, 16>;

// Frequency in kHz, then only the low 8 bits of the bandwidth.
TuneRequest BuildTuneRequest(std::uint32_t frequencyKHz, std::uint32_t bandwidth);
FlashRequest BuildEraseRequest(std::uint32_t start, std::uint32_t size);
FlashRequest BuildFlashReadRequest(std::uint32_t address, std::uint32_t length);
