#include "tests/support/RecordingScreen.h"

#include <algorithm>

#include "window/WindowEffects.h"

void RecordingScreen::On(const EngineEvent& event) {
  Events.push_back(event);
  RenderEvent(event, *this);
  const WindowEffect effect = EffectOf(event);
  if (effect.CommandControls) {
    CmdControls = *effect.CommandControls;
    ++CmdControlSwitches;
    if (CmdControls) ++CmdControlsOn;
  }
  if (effect.UploadCaption) Captions[Caption::UploadButton] = *effect.UploadCaption;
  if (effect.DlCfgStatus) Captions[Caption::DlCfgStatus] = *effect.DlCfgStatus;
  if (effect.ClearCommandEntry) ++CommandEntryCleared;
}

void RecordingScreen::Line(const std::string& text, bool systemText) {
  Log.push_back(text);
  if (systemText) SystemLines.push_back(text);
}

std::string RecordingScreen::CaptionOf(Caption which) const {
  auto it = Captions.find(which);
  if (it != Captions.end()) return it->second;
  return which == Caption::UploadButton ? UploadCaptionIdle : "Status";
}

bool RecordingScreen::Logged(const std::string& line) const {
  return std::find(Log.begin(), Log.end(), line) != Log.end();
}

void RecordingScreen::Clear() {
  Events.clear();
  Log.clear();
  SystemLines.clear();
  Messages.clear();
  CmdControlSwitches = 0;
  CmdControlsOn = 0;
  CommandEntryCleared = 0;
}
