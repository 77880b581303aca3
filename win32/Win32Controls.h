#pragma once

#include "win32/DialogWindow.h"
#include "window/DialogView.h"

// The controls of a Windows dialog by the names the forms give them, as the window's rules
// read and change them: edits, lists, labels and buttons by their text, lists and radio groups
// (a group box of radio buttons) by their chosen item. A group box hides what it holds with it.
class Win32Controls : public DialogView {
 public:
  explicit Win32Controls(DialogWindow& dialog) : Dialog(dialog) {}

  std::optional<std::string> Latin1Text(const char* control) const override;
  std::string SystemText(const char* control) const override;
  void SetLatin1Text(const char* control, const std::string& text) override;
  void SetSystemText(const char* control, const std::string& text) override;
  int Chosen(const char* control) const override;
  void Choose(const char* control, int item) override;
  void Enable(const char* control, bool enabled) override;
  void Show(const char* control, bool shown) override;
  void Message(const std::string& text) override;

 private:
  DialogWindow& Dialog;
};

// A control's number by its name; 0 for a name no form has. And its name by its number.
int ControlIdOf(const char* name);
const char* ControlNameOf(int id);
