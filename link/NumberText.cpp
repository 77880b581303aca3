#include "link/NumberText.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace {

constexpr std::uint64_t Largest = 0x7FFFFFFFFFFFFFFFull;

int DigitValue(unsigned char c, int base) {
  int v;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (c >= 'a' && c <= 'z')
    v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'Z')
    v = c - 'A' + 10;
  else
    return -1;
  return v < base ? v : -1;
}

// What a text holds from its start: blanks, a sign, a 0x before hexadecimal digits, digits.
struct Scan {
  bool Negative = false;
  bool Overflow = false;  // more than Largest: Magnitude is then meaningless
  std::uint64_t Magnitude = 0;
  std::size_t Digits = 0;
  std::size_t End = 0;  // just past the last digit (or the sign or blanks when there is none)
};

// The one digit reader. The overflow check comes before the multiplication: once a value has
// wrapped, nothing after it can tell.
Scan ScanNumber(const std::string& text, int base) {
  Scan scan;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) scan.Negative = text[i++] == '-';
  if (base == 16 && i + 2 < text.size() && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      DigitValue(static_cast<unsigned char>(text[i + 2]), 16) >= 0)
    i += 2;
  const auto b = static_cast<std::uint64_t>(base);
  for (; i < text.size(); ++i) {
    const int d = DigitValue(static_cast<unsigned char>(text[i]), base);
    if (d < 0) break;
    ++scan.Digits;
    const auto digit = static_cast<std::uint64_t>(d);
    if (scan.Overflow || scan.Magnitude > (Largest - digit) / b)
      scan.Overflow = true;
    else
      scan.Magnitude = scan.Magnitude * b + digit;
  }
  scan.End = i;
  return scan;
}

// A decimal scan as the window's lists read it: capped to 32 bits.
std::int32_t Saturated(const Scan& scan) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  if (scan.Overflow) return static_cast<std::int32_t>(scan.Negative ? kMin : kMax);
  const std::int64_t v = scan.Negative ? -static_cast<std::int64_t>(scan.Magnitude)
                                       : static_cast<std::int64_t>(scan.Magnitude);
  return static_cast<std::int32_t>(std::clamp(v, kMin, kMax));
}

}  // namespace

std::int32_t ReadDecimalText(const std::string& text) {
  return Saturated(ScanNumber(text, 10));
}

bool ReadDecimalAt(const std::string& text, std::size_t& pos, std::int32_t& value) {
  if (pos > text.size()) return false;
  const Scan scan = ScanNumber(text.substr(pos), 10);
  if (scan.Digits == 0) return false;
  value = Saturated(scan);
  pos += scan.End;
  return true;
}

std::optional<std::int64_t> ParseNumberText(const std::string& text, int base) {
  const Scan scan = ScanNumber(text, base);
  if (scan.Digits == 0 || scan.Overflow || scan.End != text.size()) return std::nullopt;
  const auto value = static_cast<std::int64_t>(scan.Magnitude);
  return scan.Negative ? -value : value;
}

std::string AcceptedText(const NumberField& field) {
  const auto number = [&](std::int64_t v) {
    char text[32];
    if (field.Base == 16 && v >= 0)
      std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(v));
    else
      std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
    return std::string(text);
  };
  return field.Name + ": a " + (field.Base == 16 ? "hexadecimal" : "decimal") + " number from " +
         number(field.Min) + " to " + number(field.Max);
}

std::optional<std::int64_t> CheckNumberText(const NumberField& field, const std::string& text,
                                            std::string& why) {
  const bool blank = std::all_of(
      text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
  if (blank && field.EmptyIsZero) return 0;
  const std::optional<std::int64_t> value = ParseNumberText(text, field.Base);
  if (value && *value >= field.Min && *value <= field.Max) return value;
  why = AcceptedText(field);
  return std::nullopt;
}
