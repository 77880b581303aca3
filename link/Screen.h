#pragma once

#include <cstdint>
#include <string>

// What the protocol engine needs of a front end: the main window implements it, the command
// line implements it, tests use a recorder. All text is Latin-1, one byte per character.
enum class Caption {
  UploadButton,  // btn_UpdateCode: "Upload Code" or "Stop"
  DlCfgStatus,   // Lab_DL_Cfg_Status of the download configuration dialog
};

// Things a front end without a log to read may want to act on.
enum class EngineEvent {
  PortOpened,
  PortClosed,   // by Disconnect, a lost port or shut-down
  LoaderReady,  // the loader answered the sync word
  StatusWord,   // Word: any status word the receiver recognised
  ReplyTimedOut,
  UploadAccepted,
  UploadRefused,
  UploadStopped,
  FlashReadDone,    // flashdata.bin is complete
  FlashReadFailed,  // the read ended without a complete file
  LoaderVersion,    // Text: the version as the log shows it
};

struct Notice {
  EngineEvent Kind;
  std::uint32_t Word = 0;
  std::string Text{};
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
  virtual void Notify(const Notice&) {}
};
