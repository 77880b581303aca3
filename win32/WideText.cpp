#include "win32/WideText.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

std::wstring Convert(const std::string& text, DWORD flags) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

}  // namespace

std::wstring WideOfUtf8(const std::string& text) {
  return Convert(text, 0);
}

std::string Utf8OfWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string bytes(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                        length, nullptr, nullptr);
  return bytes;
}

std::wstring WideOfLatin1(const std::string& bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  for (const char c : bytes) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

std::optional<std::string> ExactLatin1(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (const wchar_t c : text) {
    if (static_cast<unsigned>(c) > 0xFF) return std::nullopt;
    bytes.push_back(static_cast<char>(c));
  }
  return bytes;
}

std::wstring WideOfEngineText(const std::string& text) {
  const std::wstring strict = Convert(text, MB_ERR_INVALID_CHARS);
  return strict.empty() && !text.empty() ? WideOfLatin1(text) : strict;
}

std::wstring WideLinesOfUtf8(const std::string& text) {
  std::string lines;
  lines.reserve(text.size() + text.size() / 32);
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return WideOfUtf8(lines);
}
