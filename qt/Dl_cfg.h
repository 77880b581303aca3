#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "dlcfg/DlCfgRecord.h"
#include "dlcfg/DlCfgView.h"

class Core;
class QButtonGroup;
class QLineEdit;

namespace Ui {
class Tform_DL_Config;
}

// Gets, edits, sets and resets the box's download configuration record. The fixed layout is
// in Dl_cfg.ui; the record's bytes and texts are DlCfgRecord's business.
class Tform_DL_Config : public QDialog, public DlCfgView {
  Q_OBJECT

 public:
  Tform_DL_Config(Core& core, QWidget* parent = nullptr);
  ~Tform_DL_Config() override;

  bool ShowDLCfgRecord(const std::uint8_t* record) override;
  // The whole record, CRC included, from the edits' texts (out: 100 bytes). When a text does
  // not fit its field, out is left alone and the result says what that field takes.
  std::string PackDLCfgRecord(std::uint8_t* out);

  // For the main window: the answers' captions, and the command controls it switches.
  void SetStatusCaption(const std::string& text);
  std::string StatusCaption() const;
  void SetCommandButtonsEnabled(bool enabled);

 private:
  void btn_GetDLCfgClick();
  void btn_SetDLCfgClick();
  void btn_SetDefaultDLCfgClick();
  void RadGrp_SelectClick();

  void ShowDeliveryGroup(int deliveryType);

  std::unique_ptr<Ui::Tform_DL_Config> ui;
  Core& Protocol;
  QButtonGroup* RadGrp_Items;
  std::map<std::string, QLineEdit*> FieldEdits;
  std::array<std::uint8_t, DlCfgRecordSize> StoredDLCfg{};
};
