#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "link/UartConfig.h"
#include "qt/QtControls.h"
#include "window/DialogPresenters.h"

namespace Ui {
class Tform_uart;
}

// The serial settings dialog: config.cfg, and the settings Connect opens the port with. What
// it does is SettingsPresenter's.
class Tform_uart : public QDialog {
  Q_OBJECT

 public:
  explicit Tform_uart(QWidget* parent = nullptr, std::string configPath = "config.cfg");
  ~Tform_uart() override;

  SettingsPresenter& Presenter() { return Rules; }
  // The port and settings the dialog shows.
  PortRequest Request() { return Rules.Request(); }
  // 0 written, 1 the file cannot be created.
  int SaveUartConfig(bool fromControls) { return Rules.Save(fromControls); }
  // 1 when the file was missing (the default has then been written), else 0.
  int LoadUartConfig() { return Rules.Load(); }

  // Offers COM1 to COM8 and then the serial ports present; the typed name stays.
  void RefreshPortList();

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
  QtControls Controls{*this};
  SettingsPresenter Rules;
};
