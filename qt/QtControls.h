#pragma once

#include <QWidget>

#include "window/DialogView.h"

// The controls of a Qt window or dialog by their object names, as the window's rules read and
// change them: edits, lists, labels and buttons by their text, lists and radio groups (a box of
// radio buttons) by their chosen item.
class QtControls : public DialogView {
 public:
  explicit QtControls(QWidget& root) : Root(root) {}

  std::optional<std::string> Latin1Text(const char* control) const override;
  std::string SystemText(const char* control) const override;
  void SetLatin1Text(const char* control, const std::string& text) override;
  void SetSystemText(const char* control, const std::string& text) override;
  int Chosen(const char* control) const override;
  void Choose(const char* control, int item) override;
  void Enable(const char* control, bool enabled) override;
  void Show(const char* control, bool shown) override;
  void Message(const std::string& text) override;

  QWidget* Find(const char* control) const;

 private:
  QString Text(const char* control) const;
  void SetText(const char* control, const QString& text);

  QWidget& Root;
};
