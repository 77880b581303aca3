#include "qt/Uart_init.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QTimer>
#include <iterator>

#include "link/UartConfig.h"
#include "platform/PortScan.h"
#include "qt/Latin1Text.h"
#include "ui_Uart_init.h"
#include "window/WindowRules.h"

Tform_uart::Tform_uart(QWidget* parent, std::string configPath)
    : QDialog(parent),
      ui(std::make_unique<Ui::Tform_uart>()),
      Rules(Controls, std::move(configPath)) {
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
  Rules.ShowDefaults();
  Rules.Load();
}

Tform_uart::~Tform_uart() = default;

void Tform_uart::showEvent(QShowEvent* event) {
  RefreshPortList();
  // After the focus has come in, which puts the cursor at the end (Tab selects it all).
  QTimer::singleShot(0, this, [this] {
    if (!ui->Combo_port->lineEdit()->hasSelectedText())
      ui->Combo_port->lineEdit()->setCursorPosition(0);
  });
  Rules.Opened();
  QDialog::showEvent(event);
}

void Tform_uart::reject() {
  Rules.Cancelled();
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
  // The list is part of the dialog as laid out, but nothing reads it: the loader's words are
  // binary, so software flow control would eat bytes, and the boxes wire no handshake lines.
  ui->Combo_FlowCtrl->setToolTip(FlowControlNote);
}

void Tform_uart::btn_UartSetting_OKClick() {
  Rules.OkClicked();
  accept();
}
