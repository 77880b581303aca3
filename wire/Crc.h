#pragma once

#include <cstdint>

// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial 0xFFFFFFFF, no reflection, no final XOR.
// The start-up step; the table is made at compile time, so there is nothing left to do.
void BuildCrcTable();
std::uint32_t CalcCrc(const std::uint8_t* data, std::uint32_t n);
