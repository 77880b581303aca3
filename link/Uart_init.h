#pragma once

#include <QDialog>
#include <string>

#include "SerialPort.h"
#include "UartConfig.h"
#include "UartState.h"
#include "ui_Uart_init.h"

// What the settings dialog needs of the main window.
class UartHost {
 public:
  virtual ~UartHost() = default;
  virtual void AppendLog(const std::string& line) = 0;
  virtual void SetUartButtons(bool connectEnabled, bool disconnectEnabled) = 0;
  virtual void SetSettingEnabled(bool enabled) = 0;
  virtual void ResumeUartThreads() = 0;
};

// The serial settings dialog: owns the port, config.cfg, and opening and closing.
class Tform_uart : public QDialog {
  Q_OBJECT

 public:
  Tform_uart(UartState& uart, UartHost& host, QWidget* parent = nullptr,
             std::string configPath = "config.cfg");

  bool UartOpen();
  void UartClose();
  // 0 written, 1 the file cannot be created.
  int SaveUartConfig(bool fromControls);
  // 1 when the file was missing (the default has then been written), else 0.
  int LoadUartConfig();

  std::string PortName;
  Ui::Tform_uart ui;

 private slots:
  void btn_UartSetting_OKClick();

 private:
  void FillUartCombos();

  UartState& Uart;
  UartHost& Host;
  std::string ConfigPath;
  SerialPort Port;
  UartConfig Loaded;
};
