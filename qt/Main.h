#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/Core.h"
#include "link/EngineEvents.h"
#include "platform/Clock.h"
#include "qt/QtControls.h"
#include "qt/QtProtocolThread.h"
#include "qt/Uart_init.h"
#include "window/StatusText.h"
#include "window/WindowModel.h"
#include "window/WindowRecord.h"

class QMessageBox;
class QMimeData;
class Tform_DL_Config;
class Tform_Tune;
class TForm_EraseFlash;
class TForm_Record;

namespace Ui {
class Tform_main;
}

// The main window: tool bar, command buttons, message log and command entry, drawn as the
// window model says. It owns the model, the protocol core and the three workers that feed it.
class Tform_main : public QMainWindow, private WindowFace {
  Q_OBJECT

 public:
  // clock: the local time the reply timeout reads; the system clock when null.
  explicit Tform_main(Clock* clock = nullptr, QWidget* parent = nullptr);
  ~Tform_main() override;

  // The other windows, created right after this one.
  // The record of the boxes served (nullptr: none is kept).
  void AttachRecord(WindowRecordKeeper* record);
  // Runs a routine on the window's thread, from any thread.
  void PostToWindow(std::function<void()> routine) { GuiThread.Post(std::move(routine)); }
  void Attach(Tform_uart* uart, Tform_DL_Config* dlConfig, Tform_Tune* tune,
              TForm_EraseFlash* eraseFlash);

  Core& core() { return Protocol; }

  // Ends the workers for good; no routine runs afterwards.
  void StopWorkers();
  // Appends the log lines still waiting for the next batch.
  void FlushLog();

  // What the engine tells the window, as if it came from the engine.
  void On(const EngineEvent& event) { Model.On(event); }

  // A log line of the box's coding (one byte per character), or of the system's.
  void AppendLog(const std::string& line);
  void AppendSystemLog(const std::string& line);
  // The command buttons and the command entry, together.
  void SetCmdControls(bool enabled) { Model.SetCmdControls(enabled); }

  // The image picker of "Upload Code"; tests replace the file dialog with it.
  std::function<std::optional<std::string>()> PickImageFile;
  // The file picker of "Save Log As..."; tests replace the file dialog with it.
  std::function<std::optional<QString>()> PickLogFile;

  // The status bar: state, port and its settings, progress of an upload or read-back.
  QLabel* lab_State = nullptr;
  QLabel* lab_Port = nullptr;
  QProgressBar* bar_Progress = nullptr;
  QLabel* lab_Rate = nullptr;
  // While a command waits for the box: the seconds left before "Timeout!!".
  QLabel* lab_Wait = nullptr;
  // The message log's context menu.
  QAction* act_Copy = nullptr;
  QAction* act_SelectAll = nullptr;
  QAction* act_ClearLog = nullptr;
  QAction* act_SaveLog = nullptr;
  QAction* act_Timestamps = nullptr;
  // The Record view, once opened.
  TForm_Record* RecordView() { return form_Record.get(); }
  // The Help button's menu.
  QAction* act_About = nullptr;

  // The log keeps this many lines; older ones go first.
  // Re-reads the engine's state and progress into the status bar.
  void UpdateStatus();
  // The state and the port alone.
  void UpdateStateLabels();
  void ShowStateLabels(const WindowStatus& status);
  // The About box: the caption and the program's version, and the folder it works in.
  std::unique_ptr<QMessageBox> AboutBox();
  const QString OpDia_OpenFile_Filter = "bin files (*.bin)";

 public slots:
  void tbtn_UartConnectClick();
  void tbtn_UartDisconnectClick();
  void tbtn_SettingClick();
  void Btn_DL_CfgClick();
  void btn_CmdEraseFlashClick();
  void btn_CmdTuneTestClick();
  void btn_UpdateCodeClick();
  void btn_SendCmdClick();
  void text_CmdKeyPress();
  void btn_CmdVerifyBootCodeClick();
  void btn_CmdVerifyAppClick();
  void btn_CmdLoadVerClick();
  void btn_CmdRunAppClick();
  void btn_CmdRebootSTBClick();
  void tbtn_ServiceClick(bool checked);
  void Memo_MsgContextMenu(const QPoint& at);
  void SaveLogAs();
  void ClearLog();
  void ShowAbout();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // WindowFace
  void LogWaiting() override;
  void AppendLog(const std::vector<LogLine>& lines) override;
  void StatusChanged() override { UpdateStatus(); }
  void FocusEntry() override;
  void Open(WindowAction what) override;
  std::optional<std::string> PickImage() override;

  void ShowRecordView();
  void FormCreate();
  void BuildStatusBar();
  void BuildLogMenu();
  void FollowCentralSize(const QSize& size);
  std::optional<QString> DroppedImage(const QMimeData* data);

  std::unique_ptr<Ui::Tform_main> ui;
  QtControls Controls{*this};
  SystemClock DefaultClock;
  QtProtocolThread GuiThread;
  WindowModel Model{*this, Controls};
  Core Protocol;
  Tform_uart* form_uart = nullptr;
  Tform_DL_Config* form_DL_Config = nullptr;
  Tform_Tune* form_Tune = nullptr;
  TForm_EraseFlash* Form_EraseFlash = nullptr;
  WindowRecordKeeper* Keeper = nullptr;
  std::unique_ptr<TForm_Record> form_Record;
  QTimer LogTimer;
  // Polls the engine's progress while an upload or a read-back runs, and the countdown while a
  // reply is awaited.
  QTimer StatusTimer;
};
