#pragma once

#include <string>

// What the protocol core needs of the windows. The main window implements it; tests use a
// recorder. All text is Latin-1, one byte per character.
enum class Caption {
  UploadButton,  // btn_UpdateCode: "Upload Code" or "Stop"
  DlCfgStatus,   // Lab_DL_Cfg_Status of the download configuration dialog
};

class Screen {
 public:
  virtual ~Screen() = default;
  virtual void AppendLog(const std::string& line) = 0;
  // Modal; returns when the technician has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetCmdControls(bool enabled) = 0;
  virtual void SetCaption(Caption which, const std::string& text) = 0;
  virtual std::string GetCaption(Caption which) = 0;
  // Empties the command entry and gives it the focus.
  virtual void ClearCommandEntry() = 0;
};
