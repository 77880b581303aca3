#pragma once

#include <string>

// A JSON string of UTF-8 text; control characters (C0, DEL, C1) as \u escapes.
std::string JsonString(const std::string& utf8);
