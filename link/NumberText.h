#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Every number typed by the technician is read by one digit reader, which refuses (or caps) a
// value before it can wrap: no text, however long, passes as a small number.

// How the window's lists read a number (baud rate, data bits, delivery type): leading white
// space, an optional sign, then decimal digits up to the first other character. No digits give
// 0; a value beyond 32 bits gives INT32_MAX (INT32_MIN with a minus sign). Never fails.
std::int32_t ReadDecimalText(const std::string& text);
// The same from pos, as "%d" reads a field of a line: false (pos unchanged) when no digit
// follows the blanks and the sign; otherwise the value, and pos just past its last digit.
bool ReadDecimalAt(const std::string& text, std::size_t& pos, std::int32_t& value);

// A number typed for the box, read whole: leading white space, one sign, then digits
// (hexadecimal ones after an optional 0x or 0X) and nothing after them. nullopt for any other
// text, for a text without digits, and for a magnitude beyond 0x7FFFFFFFFFFFFFFF (so every
// value it gives is exact, down to -0x7FFFFFFFFFFFFFFF).
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
