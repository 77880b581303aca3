#include "qt/Flash.h"

#include "engine/Core.h"
#include "qt/Latin1Text.h"
#include "qt/MessageBox.h"
#include "ui_Flash.h"

TForm_EraseFlash::TForm_EraseFlash(Core& core, QWidget* parent)
    : QDialog(parent), Protocol(core), ui(std::make_unique<Ui::Form_EraseFlash>()) {
  ui->setupUi(this);
  move(677, 167);
  connect(ui->Btn_EraseFlashOK, &QPushButton::clicked, this,
          &TForm_EraseFlash::Btn_EraseFlashOKClick);
  connect(ui->Btn_ReadFlash, &QPushButton::clicked, this, &TForm_EraseFlash::Btn_ReadFlashClick);
}

TForm_EraseFlash::~TForm_EraseFlash() = default;

bool TForm_EraseFlash::TypedRange(FlashRange& range) {
  std::string why;
  if (ReadFlashRangeTexts(TypedNumber(ui->Edt_StartAddr->text()),
                          TypedNumber(ui->Edt_Offset->text()), range, why))
    return true;
  ShowMessageBox(why);
  return false;
}

void TForm_EraseFlash::Btn_EraseFlashOKClick() {
  FlashRange range;
  if (TypedRange(range)) Protocol.EraseFlash(range.Start, range.Size);
}

void TForm_EraseFlash::Btn_ReadFlashClick() {
  FlashRange range;
  if (TypedRange(range)) Protocol.ReadFlash(range.Start, range.Size);
}
