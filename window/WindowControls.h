#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// What a control of the main window does when pressed.
enum class WindowAction {
  Connect,
  Disconnect,
  Setting,     // the serial settings dialog
  Service,     // shows or hides the Service controls
  Help,        // the Help menu
  Upload,      // picks an image and uploads it, or stops the upload under way
  Send,        // sends the command entry's text
  Entry,       // the command entry itself
  LoaderWord,  // a loader command of one word: Word
  LoaderVersion,
  Reboot,
  ConfigDialog,  // the download configuration dialog; needs the port open
  FlashDialog,
  TuneDialog,
  RecordView,  // the record of the boxes served
  Label,       // the box's label, typed or scanned
};

// One control of the main window, named as the forms name it: what it does, whether it shows
// with Service alone, and whether it works only while a command may be sent.
struct WindowControl {
  const char* Name;
  WindowAction Action;
  std::uint32_t Word = 0;  // the loader's command it sends, where it sends one itself
  bool ServiceOnly = false;
  bool FollowsCommands = false;
};

std::span<const WindowControl> WindowControls();
// The control of that name; nullptr for a name the window has no control for.
const WindowControl* WindowControlNamed(std::string_view name);
// Whether the window sends this loader command: from a control, or from a dialog one opens.
bool WindowSends(std::uint32_t word);
