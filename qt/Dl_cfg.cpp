#include "qt/Dl_cfg.h"

#include <QButtonGroup>
#include <algorithm>

#include "engine/Core.h"
#include "qt/Latin1Text.h"
#include "ui_Dl_cfg.h"

Tform_DL_Config::Tform_DL_Config(Core& core, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::Tform_DL_Config>()), Rules(core, Controls) {
  ui->setupUi(this);
  move(287, 134);  // the window's place on the screen; the form only keeps its size

  // Item ids are the radio group's item indexes: 0 satellite, 1 cable, 2 terrestrial.
  auto* items = new QButtonGroup(this);
  items->addButton(ui->rbtn_Satellite, 0);
  items->addButton(ui->rbtn_Cable, 1);
  items->addButton(ui->rbtn_Terrestrial, 2);
  connect(items, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked) Rules.ItemChosen(id);
  });
  connect(ui->btn_GetDLCfg, &QPushButton::clicked, this, [this] { Rules.GetClicked(); });
  connect(ui->btn_SetDLCfg, &QPushButton::clicked, this, [this] { Rules.SetClicked(); });
  connect(ui->btn_SetDefaultDLCfg, &QPushButton::clicked, this, [this] { Rules.DefaultClicked(); });
}

Tform_DL_Config::~Tform_DL_Config() = default;

void Tform_DL_Config::ShowDLCfgRecord(const std::uint8_t* record) {
  std::array<std::uint8_t, DlCfgRecordSize> whole{};
  std::copy(record, record + DlCfgRecordSize, whole.begin());
  Rules.Show(whole);
}

std::string Tform_DL_Config::StatusCaption() const {
  return ToLatin1(ui->Lab_DL_Cfg_Status->text());
}
