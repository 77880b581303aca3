#pragma once

#include <QDialog>
#include <memory>

#include "qt/QtControls.h"

class Core;
class WindowRecord;

namespace Ui {
class form_Tune;
}

// The tuning test: one request with a frequency in kHz and a bandwidth. The answer arrives
// in the message log; the dialog stays open for the next try.
class Tform_Tune : public QDialog {
  Q_OBJECT

 public:
  explicit Tform_Tune(Core& core, QWidget* parent = nullptr);
  ~Tform_Tune() override;

  void Btn_OKClick();

  // Where the box's steps are recorded (nullptr: nowhere).
  WindowRecord* Record = nullptr;

 private:
  Core& Protocol;
  std::unique_ptr<Ui::form_Tune> ui;
  QtControls Controls{*this};
};
