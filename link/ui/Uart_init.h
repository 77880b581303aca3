#pragma once

#include <QDialog>
#include <string>

#include "Core.h"
#include "UartConfig.h"
#include "ui_Uart_init.h"

// The serial settings dialog: config.cfg, and Connect and Disconnect with its settings.
class Tform_uart : public QDialog {
  Q_OBJECT

 public:
  Tform_uart(Core& core, QWidget* parent = nullptr, std::string configPath = "config.cfg");

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

  Core& Protocol;
  std::string ConfigPath;
  UartConfig Loaded;
};
