#pragma once

#include <functional>
#include <string>

// Every modal message box of the program goes through here, so that tests can record
// the text instead of blocking on a box nobody will close. Text is the engine's: its own words
// and the system's names in UTF-8, or the box's Latin-1.
void ShowMessageBox(const std::string& text);

using MessageBoxHook = std::function<void(const std::string&)>;
// Replaces the modal box (an empty hook restores it); returns the previous hook.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
