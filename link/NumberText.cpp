#include "link/NumberText.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace {

struct Scan {
  bool Negative = false;
  bool Overflow = false;
  std::uint64_t Magnitude = 0;  // capped once it no longer fits 33 bits
};

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

Scan ScanNumber(const std::string& text, int base) {
  Scan scan;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) scan.Negative = text[i++] == '-';
  if (base == 16 && i + 1 < text.size() && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size() &&
      DigitValue(static_cast<unsigned char>(text[i + 2]), 16) >= 0)
    i += 2;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(static_cast<unsigned char>(text[i]), base);
    if (d < 0) break;
    if (!scan.Overflow) {
      scan.Magnitude =
          scan.Magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
      if (scan.Magnitude > 0xFFFFFFFFull) scan.Overflow = true;
    }
  }
  return scan;
}

std::int32_t Saturate(const Scan& scan) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  if (scan.Overflow) return static_cast<std::int32_t>(scan.Negative ? kMin : kMax);
  const std::int64_t v = scan.Negative ? -static_cast<std::int64_t>(scan.Magnitude)
                                       : static_cast<std::int64_t>(scan.Magnitude);
  if (v > kMax) return static_cast<std::int32_t>(kMax);
  if (v < kMin) return static_cast<std::int32_t>(kMin);
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::int32_t ReadDecimalText(const std::string& text) {
  return Saturate(ScanNumber(text, 10));
}

std::int32_t ReadHexTextSaturated(const std::string& text) {
  return Saturate(ScanNumber(text, 16));
}

std::uint32_t ReadHexText(const std::string& text) {
  const Scan scan = ScanNumber(text, 16);
  // Beyond 32 bits the sign no longer matters: negating the cap would wrap it to 1.
  if (scan.Overflow) return 0xFFFFFFFFu;
  const auto value = static_cast<std::uint32_t>(scan.Magnitude);
  return scan.Negative ? 0u - value : value;
}

std::optional<std::int64_t> ParseNumberText(const std::string& text, int base) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (base == 16 && i + 1 < text.size() && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X'))
    i += 2;
  if (i == text.size()) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(static_cast<unsigned char>(text[i]), base);
    if (d < 0) return std::nullopt;
    magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (magnitude > 0x7FFFFFFFFFFFFFFFull) return std::nullopt;
  }
  const auto value = static_cast<std::int64_t>(magnitude);
  return negative ? -value : value;
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
