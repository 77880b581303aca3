#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "link/UartConfig.h"

namespace Ui {
class Tform_uart;
}

// The serial settings dialog: config.cfg, and the settings Connect opens the port with.
class Tform_uart : public QDialog {
  Q_OBJECT

 public:
  explicit Tform_uart(QWidget* parent = nullptr, std::string configPath = "config.cfg");
  ~Tform_uart() override;

  // The port and settings the dialog shows (the port name is remembered in PortName).
  PortRequest Request();
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
  // Cancel, Escape or the close box: the dialog shows again what it showed when it opened.
  void reject() override;

 private slots:
  void btn_UartSetting_OKClick();

 private:
  void FillUartCombos();

  std::unique_ptr<Ui::Tform_uart> ui;
  std::string ConfigPath;
  UartConfig Loaded;
  // What the dialog showed when it opened: Connect takes the controls, so a cancelled edit
  // must not stay in them.
  struct Texts {
    QString Port, Baud, Data;
    int Parity = -1, Stop = -1;
  } AtShow;
};
