#pragma once

#include <optional>
#include <string>

#include "link/EngineEvents.h"

// What an engine event changes in the window besides its log and its message box: which
// controls work, what the upload button and the configuration dialog's status say. Without a
// toolkit, so that every face of the window, and the tests, follow the same rules.
struct WindowEffect {
  std::optional<bool> CommandControls;  // the command buttons and the command entry
  std::optional<bool> PortOpen;         // Connect, Disconnect and Setting follow it
  std::optional<std::string> UploadCaption;
  std::optional<std::string> DlCfgStatus;
  bool ClearCommandEntry = false;  // and give it the focus
  bool StatusChanged = false;      // the status bar should be read again
};

WindowEffect EffectOf(const EngineEvent& event);

inline constexpr const char* UploadCaptionIdle = "Upload Code";
inline constexpr const char* UploadCaptionBusy = "Stop";
