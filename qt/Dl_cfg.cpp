#include "qt/Dl_cfg.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <cstring>

#include "engine/Core.h"
#include "link/NumberText.h"
#include "qt/Latin1Text.h"
#include "qt/MessageBox.h"
#include "ui_Dl_cfg.h"
#include "window/WindowRules.h"
#include "wire/Bytes.h"

Tform_DL_Config::Tform_DL_Config(Core& core, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::Tform_DL_Config>()), Protocol(core) {
  ui->setupUi(this);
  move(287, 134);  // the window's place on the screen; the form only keeps its size

  for (const DlCfgField& field : DlCfgFields())
    FieldEdits[field.Edit] = findChild<QLineEdit*>(QString::fromLatin1(field.Edit));

  // Item ids are the radio group's item indexes: 0 satellite, 1 cable, 2 terrestrial.
  RadGrp_Items = new QButtonGroup(this);
  RadGrp_Items->addButton(ui->rbtn_Satellite, 0);
  RadGrp_Items->addButton(ui->rbtn_Cable, 1);
  RadGrp_Items->addButton(ui->rbtn_Terrestrial, 2);
  // A change of selection, by a click or by the program, runs the check; selecting the item
  // that is already selected toggles nothing and so runs nothing.
  connect(RadGrp_Items, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) RadGrp_SelectClick();
  });

  connect(ui->btn_GetDLCfg, &QPushButton::clicked, this, &Tform_DL_Config::btn_GetDLCfgClick);
  connect(ui->btn_SetDLCfg, &QPushButton::clicked, this, &Tform_DL_Config::btn_SetDLCfgClick);
  connect(ui->btn_SetDefaultDLCfg, &QPushButton::clicked, this,
          &Tform_DL_Config::btn_SetDefaultDLCfgClick);
}

Tform_DL_Config::~Tform_DL_Config() = default;

void Tform_DL_Config::SetStatusCaption(const std::string& text) {
  ui->Lab_DL_Cfg_Status->setText(ToQString(text));
}

std::string Tform_DL_Config::StatusCaption() const {
  return ToLatin1(ui->Lab_DL_Cfg_Status->text());
}

void Tform_DL_Config::SetCommandButtonsEnabled(bool enabled) {
  ui->btn_GetDLCfg->setEnabled(enabled);
  ui->btn_SetDLCfg->setEnabled(enabled);
  ui->btn_SetDefaultDLCfg->setEnabled(enabled);
}

void Tform_DL_Config::btn_GetDLCfgClick() {
  SetStatusCaption("Status");
  Protocol.GetDlCfg();
}

void Tform_DL_Config::btn_SetDLCfgClick() {
  SetStatusCaption("Status");
  std::uint8_t record[DlCfgRecordSize];
  // A text that does not fit its field would reach the box as some other value: nothing goes.
  const std::string problem = PackDLCfgRecord(record);
  if (!problem.empty()) {
    ShowMessageBox(problem);
    return;
  }
  Protocol.SetDlCfg(record);
}

void Tform_DL_Config::btn_SetDefaultDLCfgClick() {
  SetStatusCaption("Status");
  Protocol.SetDefaultDlCfg();
}

void Tform_DL_Config::RadGrp_SelectClick() {
  const int item = RadGrp_Items->checkedId();
  const std::string problem = DeliveryChoiceProblem(item, ToLatin1(ui->text_DeliveryType->text()));
  if (!problem.empty()) {
    ShowMessageBox(problem);
    return;
  }
  ShowDeliveryGroup(item + 1);
}

void Tform_DL_Config::ShowDeliveryGroup(int deliveryType) {
  const int group = DeliveryGroupOf(deliveryType);
  ui->grpbox_sat->setVisible(group == 1);
  ui->grpbox_Cable->setVisible(group == 2);
  ui->grpbox_Ter->setVisible(group == 3);
}

bool Tform_DL_Config::ShowDLCfgRecord(const std::uint8_t* record) {
  std::memcpy(StoredDLCfg.data(), record, DlCfgRecordSize);

  const std::uint8_t deliveryType = record[DlCfgDeliveryTypeOffset];
  ui->text_DeliveryType->setText(QString::number(deliveryType));
  // The type is in its edit before the selection changes, because the selection's check
  // reads it; a type outside 1 to 3 shows the terrestrial box and gets the check's message.
  ShowDeliveryGroup(deliveryType);
  const int item = DeliveryGroupOf(deliveryType) - 1;
  RadGrp_Items->button(item)->setChecked(true);

  for (const auto& [edit, text] : ShownTexts(record)) FieldEdits[edit]->setText(ToQString(text));
  return true;
}

std::string Tform_DL_Config::PackDLCfgRecord(std::uint8_t* out) {
  const DeliveryLayout layout = LayoutOfDeliveryType(StoredDLCfg[DlCfgDeliveryTypeOffset]);
  DlCfgTexts texts;
  for (const DlCfgField& field : DlCfgFields()) {
    const std::optional<std::string> text = ExactLatin1(FieldEdits[field.Edit]->text());
    if (text) {
      texts[field.Edit] = *text;
    } else if (field.Layout == DeliveryLayout::Common || field.Layout == layout) {
      // A character of more than one byte fits no field of the box.
      return FieldAccepts(field);
    }
  }
  return PackRecord(texts, StoredDLCfg.data(), out);
}
