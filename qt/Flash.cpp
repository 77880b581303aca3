#include "qt/Flash.h"

#include "engine/Core.h"
#include "ui_Flash.h"
#include "window/DialogPresenters.h"

TForm_EraseFlash::TForm_EraseFlash(Core& core, QWidget* parent)
    : QDialog(parent), Protocol(core), ui(std::make_unique<Ui::Form_EraseFlash>()) {
  ui->setupUi(this);
  move(677, 167);
  connect(ui->Btn_EraseFlashOK, &QPushButton::clicked, this,
          &TForm_EraseFlash::Btn_EraseFlashOKClick);
  connect(ui->Btn_ReadFlash, &QPushButton::clicked, this, &TForm_EraseFlash::Btn_ReadFlashClick);
}

TForm_EraseFlash::~TForm_EraseFlash() = default;

void TForm_EraseFlash::Btn_EraseFlashOKClick() {
  FlashClicked(Protocol, Controls, FlashWork::Erase, Record);
}

void TForm_EraseFlash::Btn_ReadFlashClick() {
  FlashClicked(Protocol, Controls, FlashWork::Read, Record);
}
