#include "app/Frm_tunetest.h"

#include "app/Latin1Text.h"
#include "engine/Core.h"
#include "link/NumberText.h"
#include "ui_Frm_tunetest.h"

Tform_Tune::Tform_Tune(Core& core, QWidget* parent)
    : QDialog(parent), Protocol(core), ui(std::make_unique<Ui::form_Tune>()) {
  ui->setupUi(this);
  move(1021, 164);
  connect(ui->Btn_OK, &QPushButton::clicked, this, &Tform_Tune::Btn_OKClick);
}

Tform_Tune::~Tform_Tune() = default;

void Tform_Tune::Btn_OKClick() {
  const std::int32_t frequency = ReadDecimalText(ToLatin1(ui->Edt_Frequency->text()));
  const std::int32_t bandwidth = ReadDecimalText(ToLatin1(ui->Edt_Bandwidth->text()));
  Protocol.TuneTest(static_cast<std::uint32_t>(frequency), static_cast<std::uint32_t>(bandwidth));
}
