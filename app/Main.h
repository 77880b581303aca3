#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "Clock.h"
#include "Core.h"
#include "QtProtocolThread.h"
#include "Screen.h"
#include "Uart_init.h"
#include "ui_Main.h"

class Tform_DL_Config;
class Tform_Tune;
class TForm_EraseFlash;

// The main window: tool bar, command buttons, message log and command entry. It owns the
// protocol core and the three workers that feed it.
class Tform_main : public QMainWindow, public Screen {
  Q_OBJECT

 public:
  // clock: the local time the reply timeout reads; the system clock when null.
  explicit Tform_main(Clock* clock = nullptr, QWidget* parent = nullptr);
  ~Tform_main() override;

  // The other windows, created right after this one.
  void Attach(Tform_uart* uart, Tform_DL_Config* dlConfig, Tform_Tune* tune,
              TForm_EraseFlash* eraseFlash);

  Core& core() { return Protocol; }

  // Ends the workers for good; no routine runs afterwards.
  void StopWorkers();
  // Appends the log lines still waiting for the next batch.
  void FlushLog();

  // Screen
  void AppendLog(const std::string& line) override;
  void AppendSystemLog(const std::string& line) override;
  void ShowMessage(const std::string& text) override;
  void SetCmdControls(bool enabled) override;
  void SetCaption(Caption which, const std::string& text) override;
  std::string GetCaption(Caption which) override;
  void ClearCommandEntry() override;
  void Notify(const Notice& notice) override;

  Ui::Tform_main ui;
  // The image picker of "Upload Code"; tests replace the file dialog with it.
  std::function<std::optional<std::string>()> PickImageFile;
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

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  bool SendTypedCommand();

  SystemClock DefaultClock;
  QtProtocolThread GuiThread{this};
  Core Protocol;
  Tform_uart* form_uart = nullptr;
  Tform_DL_Config* form_DL_Config = nullptr;
  Tform_Tune* form_Tune = nullptr;
  TForm_EraseFlash* Form_EraseFlash = nullptr;
  QStringList PendingLog;
  QTimer LogTimer;
};
