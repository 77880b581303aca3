#pragma once

#include <string>

// C0 controls other than tab, DEL and the C1 controls: what no text output shows as it is.
bool ControlCode(unsigned code);
// Text of the system made valid UTF-8: a byte that is not part of a UTF-8 character (a file
// name written in Latin-1, say) is shown as \xNN, so that the name stays recognisable.
std::string ValidUtf8(const std::string& text);
// A JSON string of the text (made valid UTF-8 first); control characters (C0, DEL, C1) as \u
// escapes.
std::string JsonString(const std::string& text);
