#pragma once

#include <QDialog>
#include <memory>

#include "qt/QtControls.h"
#include "service/ServiceRequests.h"

class Core;
class WindowRecord;

namespace Ui {
class Form_EraseFlash;
}

// Erases a range of the box's flash, or reads a range back into flashdata.bin. Both fields
// are hexadecimal. The answers arrive in the message log.
class TForm_EraseFlash : public QDialog {
  Q_OBJECT

 public:
  explicit TForm_EraseFlash(Core& core, QWidget* parent = nullptr);
  ~TForm_EraseFlash() override;

  void Btn_EraseFlashOKClick();
  void Btn_ReadFlashClick();

  // Where the box's steps are recorded (nullptr: nowhere).
  WindowRecord* Record = nullptr;

 private:
  Core& Protocol;
  std::unique_ptr<Ui::Form_EraseFlash> ui;
  QtControls Controls{*this};
};
