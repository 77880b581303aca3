#include "qt/Frm_tunetest.h"

#include "engine/Core.h"
#include "ui_Frm_tunetest.h"
#include "window/DialogPresenters.h"

Tform_Tune::Tform_Tune(Core& core, QWidget* parent)
    : QDialog(parent), Protocol(core), ui(std::make_unique<Ui::form_Tune>()) {
  ui->setupUi(this);
  move(1021, 164);
  connect(ui->Btn_OK, &QPushButton::clicked, this, &Tform_Tune::Btn_OKClick);
}

Tform_Tune::~Tform_Tune() = default;

void Tform_Tune::Btn_OKClick() {
  TuneClicked(Protocol, Controls, Record);
}
