#pragma once

#include <cstdint>
#include <string>

// How edit boxes are read: leading white space, an optional sign, then digits up to the first
// other character. No digits give 0. Nothing here ever fails or reads past the text.

// Decimal into a signed 32-bit value, saturating at INT32_MAX / INT32_MIN.
std::int32_t ReadDecimalText(const std::string& text);

// Hexadecimal (optional 0x/0X after the sign) into an unsigned 32-bit value: values up to
// ffffffff are taken as written, a minus sign negates them (two's complement); a larger value
// gives ffffffff, with or without a minus sign.
std::uint32_t ReadHexText(const std::string& text);

// Hexadecimal into a signed 32-bit value, saturating at 0x7FFFFFFF / -0x80000000.
std::int32_t ReadHexTextSaturated(const std::string& text);
