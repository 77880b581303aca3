#pragma once

#include <optional>
#include <string>

// The box speaks one byte per character; the terminal and the arguments are UTF-8.
std::string Latin1ToUtf8(const std::string& latin1);
// nullopt when the text holds a character beyond U+00FF or is not UTF-8.
std::optional<std::string> Utf8ToLatin1(const std::string& utf8);
