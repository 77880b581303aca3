#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "engine/Core.h"
#include "link/UartConfig.h"

namespace Ui {
class Tform_uart;
}

// The serial settings dialog: config.cfg, and Connect and Disconnect with its settings.
class Tform_uart : public QDialog {
  Q_OBJECT

 public:
  Tform_uart(Core& core, QWidget* parent = nullptr, std::string configPath = "config.cfg");
  ~Tform_uart() override;

  bool UartOpen();
  // 0 written, 1 the file cannot be created.
  int SaveUartConfig(bool fromControls);
  // 1 when the file was missing (the default has then been written), else 0.
  int LoadUartConfig();

  // Offers COM1 to COM8 and then the serial ports present; the typed name stays.
  void RefreshPortList();

  std::string PortName;
  // Where the port list looks for devices: the machine's root, or a test's fake tree.
  std::string DeviceRoot = "/";

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void btn_UartSetting_OKClick();

 private:
  void FillUartCombos();

  std::unique_ptr<Ui::Tform_uart> ui;
  Core& Protocol;
  std::string ConfigPath;
  UartConfig Loaded;
};
