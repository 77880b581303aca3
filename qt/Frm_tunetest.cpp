#include "qt/Frm_tunetest.h"

#include "engine/Core.h"
#include "qt/Latin1Text.h"
#include "qt/MessageBox.h"
#include "service/ServiceRequests.h"
#include "ui_Frm_tunetest.h"

Tform_Tune::Tform_Tune(Core& core, QWidget* parent)
    : QDialog(parent), Protocol(core), ui(std::make_unique<Ui::form_Tune>()) {
  ui->setupUi(this);
  move(1021, 164);
  connect(ui->Btn_OK, &QPushButton::clicked, this, &Tform_Tune::Btn_OKClick);
}

Tform_Tune::~Tform_Tune() = default;

void Tform_Tune::Btn_OKClick() {
  TuneValues values;
  std::string why;
  if (!ReadTuneTexts(TypedNumber(ui->Edt_Frequency->text()), TypedNumber(ui->Edt_Bandwidth->text()),
                     values, why)) {
    ShowMessageBox(why);
    return;
  }
  Protocol.TuneTest(values.FrequencyKHz, values.Bandwidth);
}
