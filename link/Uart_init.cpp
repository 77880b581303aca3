#include "Uart_init.h"

#include <iterator>

#include "Latin1Text.h"
#include "MessageBox.h"
#include "NumberText.h"
#include "UartConfig.h"

Tform_uart::Tform_uart(UartState& uart, UartHost& host, QWidget* parent, std::string configPath)
    : QDialog(parent), Uart(uart), Host(host), ConfigPath(std::move(configPath)) {
  ui.setupUi(this);
  for (QComboBox* combo : {ui.Combo_port, ui.Combo_BaudRate, ui.Combo_DataBit, ui.Combo_Parity,
                           ui.Combo_StopBit, ui.Combo_FlowCtrl})
    combo->setInsertPolicy(QComboBox::NoInsert);
  connect(ui.btn_UartSetting_OK, &QPushButton::clicked, this, &Tform_uart::btn_UartSetting_OKClick);
  Uart.UartConnected = false;
  FillUartCombos();
  LoadUartConfig();
}

void Tform_uart::FillUartCombos() {
  ui.Combo_port->addItems({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"});
  ui.Combo_BaudRate->addItems(
      {"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"});
  ui.Combo_DataBit->addItems({"7", "8"});
  ui.Combo_Parity->addItems({"none", "even", "odd"});
  ui.Combo_StopBit->addItems({"1", "2"});
  ui.Combo_FlowCtrl->addItems({"none", "hardware", "Xon/Xoff"});
  // The lists show their initial texts; only parity and stop bits select an item.
  ui.Combo_port->setEditText("COM1");
  ui.Combo_BaudRate->setEditText("115200");
  ui.Combo_DataBit->setEditText("8");
  ui.Combo_Parity->setCurrentIndex(0);
  ui.Combo_StopBit->setCurrentIndex(0);
  ui.Combo_FlowCtrl->setCurrentIndex(-1);
  ui.Combo_FlowCtrl->setEditText("none");
}

int Tform_uart::SaveUartConfig(bool fromControls) {
  const std::string line =
      fromControls
          ? FormatConfigLine(ToLatin1(ui.Combo_port->currentText()),
                             ToLatin1(ui.Combo_BaudRate->currentText()),
                             ToLatin1(ui.Combo_DataBit->currentText()),
                             ui.Combo_Parity->currentIndex(), ui.Combo_StopBit->currentIndex())
          : std::string(DefaultConfigLine);
  return WriteConfigFile(ConfigPath, line) ? 0 : 1;
}

int Tform_uart::LoadUartConfig() {
  std::string content;
  if (!ReadConfigFile(ConfigPath, content)) {
    SaveUartConfig(false);
    return 1;
  }
  Loaded = ParseConfigLine(content, Loaded);
  PortName = Loaded.PortName;
  ui.Combo_port->setEditText(ToQString(PortName));
  ui.Combo_BaudRate->setEditText(QString::number(Loaded.BaudRate));
  ui.Combo_DataBit->setEditText(QString::number(Loaded.DataBits));
  // An index outside the list leaves the list with no selection.
  auto select = [](QComboBox* combo, int index) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  };
  select(ui.Combo_Parity, Loaded.ParityIndex);
  select(ui.Combo_StopBit, Loaded.StopBitIndex);
  return 0;
}

void Tform_uart::btn_UartSetting_OKClick() {
  SaveUartConfig(true);
  accept();
}

bool Tform_uart::UartOpen() {
  PortName = ToLatin1(ui.Combo_port->currentText());
  if (Uart.UartConnected) return false;
  if (!Port.OpenExclusive(PortName)) {
    ShowMessageBox("Can't open " + PortName);
    return false;
  }
  LineSettings settings;
  Port.GetSettings(settings);
  const std::int32_t baud = ReadDecimalText(ToLatin1(ui.Combo_BaudRate->currentText()));
  settings.BaudRate = baud > 0 ? static_cast<std::uint32_t>(baud) : 0;
  settings.DataBits = ReadDecimalText(ToLatin1(ui.Combo_DataBit->currentText()));
  // The lists hold the choices in this order; with no selection the port keeps its own.
  static constexpr Parity Parities[] = {Parity::None, Parity::Even, Parity::Odd};
  static constexpr StopBits Stops[] = {StopBits::One, StopBits::Two};
  const int parity = ui.Combo_Parity->currentIndex();
  if (parity >= 0 && parity < static_cast<int>(std::size(Parities)))
    settings.ParityMode = Parities[parity];
  const int stop = ui.Combo_StopBit->currentIndex();
  if (stop >= 0 && stop < static_cast<int>(std::size(Stops))) settings.Stop = Stops[stop];
  if (!Port.SetSettings(settings)) {
    Port.Close();
    ShowMessageBox("Can't set " + PortName);
    return false;
  }
  Uart.Settings = settings;
  ++Uart.Opens;  // before the handle, so that a worker seeing the port sees this open
  Uart.ComHandle = &Port;
  Uart.UartConnected = true;
  Host.SetUartButtons(false, true);
  Host.ResumeUartThreads();
  Host.AppendLog("Com port set up ok");
  return true;
}

void Tform_uart::UartClose() {
  if (!Uart.UartConnected) return;
  Host.SetUartButtons(true, false);
  Uart.UartConnected = false;
  Host.SetSettingEnabled(true);
  if (Uart.ComHandle.load()) {
    Port.Close();
    Uart.ComHandle = nullptr;
    Host.AppendLog("RS232 Disconnect");
  }
}
