#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Core.h"
#include "link/EngineEvents.h"
#include "platform/Clock.h"
#include "win32/DialogWindow.h"
#include "win32/LogView.h"
#include "win32/MessageThread.h"
#include "win32/Win32Controls.h"
#include "window/StatusText.h"
#include "window/WindowModel.h"
#include "window/WindowRecord.h"

class UartDialog;
class DlCfgDialog;
class TuneDialog;
class FlashDialog;
class RecordDialog;

// The main window: tool bar, command buttons, message log, command entry and status bar, drawn
// as the window model says. It owns the model and the protocol core, whose workers hand their
// routines to this thread as window messages.
class MainWindow : public DialogWindow, private WindowFace {
 public:
  // The menu's commands of the log and of Help, as WM_COMMAND numbers.
  enum MenuCommand {
    CmdCopy = 40001,
    CmdSelectAll,
    CmdClearLog,
    CmdSaveLog,
    CmdTimestamps,
    CmdAbout
  };

  explicit MainWindow(Clock* clock = nullptr);
  ~MainWindow() override;

  void Attach(UartDialog* uart, DlCfgDialog* dlConfig, TuneDialog* tune, FlashDialog* flash);
  // A line of the system's words for the log.
  void AppendSystemLog(const std::string& line) { Model.AddLogLine(line, true); }
  // The record of the boxes served (nullptr: none is kept).
  void AttachRecord(WindowRecordKeeper* record);
  // Runs a routine on the window's thread, from any thread.
  void PostToWindow(std::function<void()> routine) { GuiThread.Post(std::move(routine)); }
  // The Record view, once opened.
  RecordDialog* RecordView() { return Record.get(); }
  Core& core() { return Protocol; }
  // Ends the workers for good; no routine runs afterwards.
  void StopWorkers();
  // Appends the log lines still waiting for the next batch.
  void FlushLog();
  // The log as it stands, lines ending in '\n', UTF-8.
  std::string LogText();
  void ClearLog();

  // What the engine tells the window, as if it came from the engine.
  void On(const EngineEvent& event) { Model.On(event); }

  // The status bar's parts as they read now: state, port, wait, rate; and the progress bar's
  // percent (-1 while hidden).
  std::vector<std::wstring> StatusParts() const;
  int ProgressPercent() const;
  void UpdateStatus();
  // The About box's text.
  std::wstring AboutText() const;
  // Whether a drop of these paths (UTF-8) was taken as an upload.
  bool DropFiles(const std::vector<std::string>& paths);

  // The image picker of "Upload Code" and the file picker of "Save Log As..."; tests replace
  // the file dialogs with them.
  std::function<std::optional<std::string>()> PickImageFile;
  std::function<std::optional<std::string>()> PickLogFile;

 protected:
  bool OnCommand(int id, int code) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  // WindowFace
  void LogWaiting() override;
  void AppendLog(const std::vector<LogLine>& lines) override;
  void StatusChanged() override { UpdateStatus(); }
  void FocusEntry() override;
  void Open(WindowAction what) override;
  std::optional<std::string> PickImage() override;

  void ShowLogMenu(int x, int y);
  void ShowHelpMenu();
  void SaveLogAs();
  void Layout();
  void LayOutStatusBar();

  SystemClock DefaultClock;
  MessageThread GuiThread;
  Win32Controls Controls{*this};
  WindowModel Model{*this, Controls};
  Core Protocol;
  UartDialog* Uart = nullptr;
  DlCfgDialog* DlConfig = nullptr;
  TuneDialog* Tune = nullptr;
  FlashDialog* Flash = nullptr;
  WindowRecordKeeper* Keeper = nullptr;
  std::unique_ptr<RecordDialog> Record;
  HWND StatusBar = nullptr;
  HWND ProgressBar = nullptr;
  HFONT LogFont = nullptr;
  LogView Log;
  // The client area as laid out, and the places of what grows with it.
  SIZE LaidOut{};
  RECT PanelAt{}, LogAt{}, EntryAt{}, SendAt{}, ToolBarAt{};
  int StatusHeight = 0;
  UINT Dpi = 96;
  HICON SmallIcon = nullptr;
  std::vector<std::wstring> Parts{4};
  int Percent = -1;
  bool StatusTimerOn = false;
};
