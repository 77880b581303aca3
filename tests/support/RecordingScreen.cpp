#include "tests/support/RecordingScreen.h"

#include <algorithm>

std::string RecordingScreen::CaptionOf(Caption which) const {
  auto it = Captions.find(which);
  if (it != Captions.end()) return it->second;
  return which == Caption::UploadButton ? "Upload Code" : "Status";
}

bool RecordingScreen::Logged(const std::string& line) const {
  return std::find(Log.begin(), Log.end(), line) != Log.end();
}

void RecordingScreen::Clear() {
  Log.clear();
  SystemLines.clear();
  Messages.clear();
  CmdControlSwitches = 0;
  CmdControlsOn = 0;
  CommandEntryCleared = 0;
}
