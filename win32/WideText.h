#pragma once

#include <optional>
#include <string>

// Windows' controls hold UTF-16; the engine holds bytes. The system's texts (file names, the
// system's messages) are UTF-8; the box's text is one byte a character (Latin-1), so every byte
// it sends is shown and none is reshaped.
std::wstring WideOfUtf8(const std::string& text);
std::string Utf8OfWide(const std::wstring& text);
std::wstring WideOfLatin1(const std::string& bytes);
// The text's bytes when every character is one byte (Latin-1); nullopt when one is not.
std::optional<std::string> ExactLatin1(const std::wstring& text);
// A text of the engine's that may carry a file name: UTF-8 where it is valid UTF-8, else the
// box's bytes as Latin-1.
std::wstring WideOfEngineText(const std::string& text);
// UTF-8 lines ending in "\n" as Windows' controls and clipboard break them, at "\r\n".
std::wstring WideLinesOfUtf8(const std::string& text);
