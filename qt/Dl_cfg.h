#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "qt/QtControls.h"
#include "window/DialogPresenters.h"

class Core;

namespace Ui {
class Tform_DL_Config;
}

// Gets, edits, sets and resets the box's download configuration record. The fixed layout is
// in Dl_cfg.ui; what the dialog does is ConfigPresenter's.
class Tform_DL_Config : public QDialog {
  Q_OBJECT

 public:
  Tform_DL_Config(Core& core, QWidget* parent = nullptr);
  ~Tform_DL_Config() override;

  ConfigPresenter& Presenter() { return Rules; }
  // record: the 100 bytes of a record the box sent.
  void ShowDLCfgRecord(const std::uint8_t* record);
  // The whole record, CRC included, from the edits' texts (out: 100 bytes). When a text does
  // not fit its field, out is left alone and the result says what that field takes.
  std::string PackDLCfgRecord(std::uint8_t* out) { return Rules.Pack(out); }
  void SetStatusCaption(const std::string& text) { Rules.SetStatus(text); }
  std::string StatusCaption() const;

 private:
  std::unique_ptr<Ui::Tform_DL_Config> ui;
  QtControls Controls{*this};
  ConfigPresenter Rules;
};
