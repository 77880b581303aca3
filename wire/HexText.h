#pragma once

#include <cstdint>

// Decodes n hexadecimal characters in place into n/2 bytes at the start of text.
// '0'-'9' and capitals 'A'-'Z' (letters after F count on from 16, taken modulo 256) are
// accepted; anything else leaves text untouched and gives 1. Success gives 0.
int HexTextToBytes(std::uint8_t* text, int n);

// Two capital hexadecimal digits per byte, high half first.
void BytesToHexText(const std::uint8_t* bytes, int n, char* out);
