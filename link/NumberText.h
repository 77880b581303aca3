#pragma once

#include <cstdint>
#include <optional>
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

// A number typed for the box, read whole: leading blanks, one sign, then digits (hexadecimal
// ones after an optional 0x or 0X) and nothing after them. nullopt for any other text, for a
// text without digits and for a value beyond 64 bits.
std::optional<std::int64_t> ParseNumberText(const std::string& text, int base);

// A number the box takes, as the window names it: its base and the values that fit.
struct NumberField {
  std::string Name;
  int Base = 10;
  std::int64_t Min = 0;
  std::int64_t Max = 0;
  bool EmptyIsZero = false;  // an empty edit stands for 0
};

// What the field takes, in the words a refusal shows: "ModType: a decimal number from 0 to 255".
std::string AcceptedText(const NumberField& field);

// The value when text is a number that fits the field; otherwise nullopt, and why says what
// the field takes.
std::optional<std::int64_t> CheckNumberText(const NumberField& field, const std::string& text,
                                            std::string& why);
