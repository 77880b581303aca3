#include "Frm_tunetest.h"

#include "Bytes.h"
#include "Core.h"
#include "NumberText.h"
#include "ServiceRequests.h"
#include "ui_Frm_tunetest.h"

Tform_Tune::Tform_Tune(Core& core, QWidget* parent)
    : QDialog(parent), Protocol(core), ui(std::make_unique<Ui::form_Tune>()) {
  ui->setupUi(this);
  move(1021, 164);
  connect(ui->Btn_OK, &QPushButton::clicked, this, &Tform_Tune::Btn_OKClick);
}

Tform_Tune::~Tform_Tune() = default;

void Tform_Tune::Btn_OKClick() {
  const std::int32_t frequency =
      ReadDecimalText(ui->Edt_Frequency->text().toLatin1().toStdString());
  const std::int32_t bandwidth =
      ReadDecimalText(ui->Edt_Bandwidth->text().toLatin1().toStdString());
  const TuneRequest request = BuildTuneRequest(static_cast<std::uint32_t>(frequency),
                                               static_cast<std::uint32_t>(bandwidth));
  Protocol.Out.AppendLog(CmdLogLine(request.data(), 4));
  Protocol.Tx.TxEnqueue(static_cast<int>(request.size()), request.data());
}
