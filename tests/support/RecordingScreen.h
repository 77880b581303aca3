#pragma once

#include <map>
#include <string>
#include <vector>

#include "link/Screen.h"

// Records what the protocol core would have shown.
class RecordingScreen : public Screen {
 public:
  void AppendLog(const std::string& line) override { Log.push_back(line); }
  // Kept in Log in order with the rest; SystemLines tells which came this way.
  void AppendSystemLog(const std::string& line) override {
    Log.push_back(line);
    SystemLines.push_back(line);
  }
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  void SetCmdControls(bool enabled) override {
    CmdControls = enabled;
    ++CmdControlSwitches;
    if (enabled) ++CmdControlsOn;
  }
  void SetCaption(Caption which, const std::string& text) override { Captions[which] = text; }
  // The caption last set, or the one the window starts with.
  std::string CaptionOf(Caption which) const;
  void ClearCommandEntry() override { ++CommandEntryCleared; }

  std::string LastLog() const { return Log.empty() ? std::string() : Log.back(); }
  bool Logged(const std::string& line) const;
  void Clear();

  std::vector<std::string> Log;
  std::vector<std::string> SystemLines;
  std::vector<std::string> Messages;
  std::map<Caption, std::string> Captions;
  bool CmdControls = false;
  int CmdControlSwitches = 0;
  int CmdControlsOn = 0;  // switches that enabled them
  int CommandEntryCleared = 0;
};
