#pragma once

#include <cstdint>

// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial 0xFFFFFFFF, no reflection, no final XOR.
// The table behind it is made at compile time.
std::uint32_t CalcCrc(const std::uint8_t* data, std::uint32_t n);
