#pragma once

#include <cstdint>
#include <string>

// What the protocol engine needs of a front end: the main window implements it, the command
// line implements it, tests use a recorder. All text is Latin-1, one byte per character (the
// box's bytes as they came), except what goes through AppendSystemLog.
enum class Caption {
  UploadButton,  // btn_UpdateCode: "Upload Code" or "Stop"
  DlCfgStatus,   // Lab_DL_Cfg_Status of the download configuration dialog
};

// Things a front end without a log to read may want to act on.
enum class EngineEvent {
  PortOpened,
  PortClosed,   // by Disconnect, a lost port (Text: why) or shut-down
  LoaderReady,  // the loader answered the sync word
  StatusWord,   // Word: any status word the receiver recognised
  ReplyTimedOut,
  UploadAccepted,  // the box said OK and had every block
  UploadRefused,   // the box said it failed; Text: why, when it was not the box's word
  UploadStopped,
  UploadImageChanged,  // the image was written to since it was opened; Text: why
  FlashReadDone,       // flashdata.bin is complete
  FlashReadFailed,     // the read ended without a complete file
  FlashReadKept,       // every byte arrived, but flashdata.bin could not be written; Text: the
                       // file they are kept in
  LoaderVersion,       // Text: the version as the log shows it
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
  // A log line that carries text of the system, such as a file name: in the system's own coding
  // (UTF-8 on Linux), not one byte per character. A front end that shows bytes as they are
  // needs no version of its own.
  virtual void AppendSystemLog(const std::string& line) { AppendLog(line); }
  // A line of the box's text as it came, with its carriage return, if any: a zero byte in it is
  // the box's own. The log shows it as far as the first zero, where a line of text ends, without
  // the carriage return; a front end may show all of it.
  virtual void AppendBoxText(const std::string& line) {
    std::string shown = line.substr(0, line.find('\0'));
    // The carriage return only ends the line; the log starts a new line by itself.
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    AppendLog(shown);
  }
  // Modal; returns when the technician has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetCmdControls(bool enabled) = 0;
  virtual void SetCaption(Caption which, const std::string& text) = 0;
  // Empties the command entry and gives it the focus.
  virtual void ClearCommandEntry() = 0;
  virtual void Notify(const Notice&) {}
};
