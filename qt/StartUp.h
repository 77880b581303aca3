#pragma once

#include <string>

#include "window/WindowRecord.h"

class QIcon;

// What the command line asks of the window program, read before any Qt object exists, so that
// --help and --version work where no window can be opened.
struct StartRequest {
  enum class Action { Run, Help, Version, Bad } What = Action::Run;
  // Started from the desktop menu: work in a folder of the program's own.
  bool FromMenu = false;
  // Qt is told which platform or display to use: leave the choice to it.
  bool PlatformGiven = false;
  // The record of the boxes served.
  WindowRecordOptions Record;
  // Action::Bad: what is wrong with the arguments.
  std::string Problem;
};

StartRequest ReadStartArguments(int argc, const char* const* argv);

// The text of --help, lines within 80 columns.
const char* UsageText();

// Why no window can be opened, from the environment alone ("" when a display may be there).
std::string MissingDisplay(const StartRequest& request);

// While one lives, a failure of Qt to open its platform (no display, a display that cannot be
// reached) ends the program with one line on standard error and status 1, instead of Qt's
// abort; what Qt says meanwhile is held back and passed on once the failure is ruled out.
class PlatformFailureGuard {
 public:
  PlatformFailureGuard();
  ~PlatformFailureGuard();
  PlatformFailureGuard(const PlatformFailureGuard&) = delete;
  PlatformFailureGuard& operator=(const PlatformFailureGuard&) = delete;
};

// The program's icon: the installed theme's, or the one built in.
QIcon KelvarinIcon();
