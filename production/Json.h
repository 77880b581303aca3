#pragma once

#include <string>

// C0 controls other than tab, DEL and the C1 controls: what no text output shows as it is.
bool ControlCode(unsigned code);
// A JSON string of UTF-8 text; control characters (C0, DEL, C1) as \u escapes.
std::string JsonString(const std::string& utf8);
