#include "qt/Uart_init.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QTimer>
#include <iterator>

#include "link/NumberText.h"
#include "link/UartConfig.h"
#include "platform/PortScan.h"
#include "qt/Latin1Text.h"
#include "qt/MessageBox.h"
#include "ui_Uart_init.h"
#include "window/WindowRules.h"

Tform_uart::Tform_uart(QWidget* parent, std::string configPath)
    : QDialog(parent), ui(std::make_unique<Ui::Tform_uart>()), ConfigPath(std::move(configPath)) {
  ui->setupUi(this);
  for (QComboBox* combo : {ui->Combo_port, ui->Combo_BaudRate, ui->Combo_DataBit, ui->Combo_Parity,
                           ui->Combo_StopBit, ui->Combo_FlowCtrl})
    combo->setInsertPolicy(QComboBox::NoInsert);
  connect(ui->btn_UartSetting_OK, &QPushButton::clicked, this,
          &Tform_uart::btn_UartSetting_OKClick);
  connect(ui->btn_UartSetting_Cancel, &QPushButton::clicked, this, &Tform_uart::reject);
  // A long path shows its start in the box; the whole of it is the box's tool tip.
  connect(ui->Combo_port, &QComboBox::editTextChanged, this,
          [this](const QString& text) { ui->Combo_port->setToolTip(text); });
  // A found port is shown with its adapter's name; choosing it puts its path in the box.
  connect(ui->Combo_port, &QComboBox::currentIndexChanged, this, [this](int index) {
    const QString path = ui->Combo_port->itemData(index).toString();
    if (!path.isEmpty()) ui->Combo_port->setEditText(path);
  });
  FillUartCombos();
  LoadUartConfig();
}

Tform_uart::~Tform_uart() = default;

void Tform_uart::showEvent(QShowEvent* event) {
  RefreshPortList();
  // After the focus has come in, which puts the cursor at the end (Tab selects it all).
  QTimer::singleShot(0, this, [this] {
    if (!ui->Combo_port->lineEdit()->hasSelectedText())
      ui->Combo_port->lineEdit()->setCursorPosition(0);
  });
  AtShow = {ui->Combo_port->currentText(), ui->Combo_BaudRate->currentText(),
            ui->Combo_DataBit->currentText(), ui->Combo_Parity->currentIndex(),
            ui->Combo_StopBit->currentIndex()};
  QDialog::showEvent(event);
}

void Tform_uart::reject() {
  ui->Combo_port->setEditText(AtShow.Port);
  ui->Combo_BaudRate->setEditText(AtShow.Baud);
  ui->Combo_DataBit->setEditText(AtShow.Data);
  ui->Combo_Parity->setCurrentIndex(AtShow.Parity);
  ui->Combo_StopBit->setCurrentIndex(AtShow.Stop);
  QDialog::reject();
}

void Tform_uart::RefreshPortList() {
  QComboBox* combo = ui->Combo_port;
  const QString typed = combo->currentText();
  const QSignalBlocker quiet(combo);
  while (combo->count() > 8) combo->removeItem(combo->count() - 1);
  for (const FoundPort& port : ScanSerialPorts(DeviceRoot)) {
    const QString path = QString::fromLocal8Bit(port.Path.c_str());
    if (port.Label.empty())
      combo->addItem(path, path);
    else
      combo->addItem(QString::fromLocal8Bit(port.Label.c_str()) + "  " + path, path);
  }
  // The drop-down opens at the port in use.
  int current = combo->findData(typed);
  if (current < 0) current = combo->findText(typed);
  combo->setCurrentIndex(current);
  combo->setEditText(typed);
  // The drop-down shows the longest entry whole, however narrow the box itself is.
  combo->view()->setMinimumWidth(combo->view()->sizeHintForColumn(0) +
                                 2 * combo->view()->frameWidth() + 24);
}

void Tform_uart::FillUartCombos() {
  const SettingChoices& choices = SerialSettingChoices();
  const auto fill = [](QComboBox* combo, const std::vector<std::string>& items) {
    for (const std::string& item : items) combo->addItem(ToQString(item));
  };
  fill(ui->Combo_port, choices.Ports);
  fill(ui->Combo_BaudRate, choices.BaudRates);
  fill(ui->Combo_DataBit, choices.DataBits);
  fill(ui->Combo_Parity, choices.Parities);
  fill(ui->Combo_StopBit, choices.StopBits);
  fill(ui->Combo_FlowCtrl, choices.FlowControls);
  // The lists show their initial texts; only parity and stop bits select an item.
  ui->Combo_port->setEditText("COM1");
  ui->Combo_BaudRate->setEditText("115200");
  ui->Combo_DataBit->setEditText("8");
  ui->Combo_Parity->setCurrentIndex(0);
  ui->Combo_StopBit->setCurrentIndex(0);
  ui->Combo_FlowCtrl->setCurrentIndex(-1);
  ui->Combo_FlowCtrl->setEditText("none");
  // The list is part of the dialog as laid out, but nothing reads it: the loader's words are
  // binary, so software flow control would eat bytes, and the boxes wire no handshake lines.
  ui->Combo_FlowCtrl->setToolTip(FlowControlNote);
}

int Tform_uart::SaveUartConfig(bool fromControls) {
  const std::string line =
      fromControls
          ? FormatConfigLine(ToLatin1(ui->Combo_port->currentText()),
                             ToLatin1(ui->Combo_BaudRate->currentText()),
                             ToLatin1(ui->Combo_DataBit->currentText()),
                             ui->Combo_Parity->currentIndex(), ui->Combo_StopBit->currentIndex())
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
  ui->Combo_port->setEditText(ToQString(PortName));
  ui->Combo_BaudRate->setEditText(QString::number(Loaded.BaudRate));
  ui->Combo_DataBit->setEditText(QString::number(Loaded.DataBits));
  // An index outside the list leaves the list with no selection.
  auto select = [](QComboBox* combo, int index) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  };
  select(ui->Combo_Parity, Loaded.ParityIndex);
  select(ui->Combo_StopBit, Loaded.StopBitIndex);
  return 0;
}

void Tform_uart::btn_UartSetting_OKClick() {
  // The technician asked for the settings to be kept: a file that could not be written is said.
  if (SaveUartConfig(true) != 0)
    ShowMessageBox("Can't write " + ToLatin1(QString::fromLocal8Bit(ConfigPath)));
  accept();
}

PortRequest Tform_uart::Request() {
  PortName = ToLatin1(ui->Combo_port->currentText());
  UartConfig shown;
  shown.PortName = PortName;
  shown.BaudRate = ReadDecimalText(ToLatin1(ui->Combo_BaudRate->currentText()));
  shown.DataBits = ReadDecimalText(ToLatin1(ui->Combo_DataBit->currentText()));
  // With no selection (-1) the port keeps its own.
  shown.ParityIndex = ui->Combo_Parity->currentIndex();
  shown.StopBitIndex = ui->Combo_StopBit->currentIndex();
  return RequestOf(shown);
}
