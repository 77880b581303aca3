#include "app/Flash.h"

#include "app/Latin1Text.h"
#include "engine/Core.h"
#include "link/NumberText.h"
#include "ui_Flash.h"
#include "wire/Bytes.h"

namespace {

std::int32_t ReadHexEdit(const QLineEdit& edit) {
  return ReadHexTextSaturated(ToLatin1(edit.text()));
}

}  // namespace

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
  const std::int32_t start = ReadHexEdit(*ui->Edt_StartAddr);
  const std::int32_t size = ReadHexEdit(*ui->Edt_Offset);
  Protocol.EraseFlash(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(size));
}

void TForm_EraseFlash::Btn_ReadFlashClick() {
  const std::int32_t start = ReadHexEdit(*ui->Edt_StartAddr);
  const std::int32_t size = ReadHexEdit(*ui->Edt_Offset);
  Protocol.ReadFlash(start, static_cast<std::uint32_t>(size));
}
