#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

// A window laid out by a dialog template (Dialogs.rc). Made once, hidden, and shown modally
// over its owner by Exec, as often as asked; its controls live as long as it does, so the
// engine can fill them while it is hidden.
class DialogWindow {
 public:
  DialogWindow(int resource, HWND owner);
  virtual ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  HWND Handle() const { return Window; }
  HWND Item(int id) const { return ::GetDlgItem(Window, id); }
  // Shows it over its owner, which takes no input meanwhile; returns when it is closed. The
  // protocol's routines keep running in its loop.
  void Exec();
  void Close();
  bool Showing() const { return Open; }

  std::wstring TextOf(int id) const;
  void SetText(int id, const std::wstring& text);
  void Enable(int id, bool enabled) { ::EnableWindow(Item(id), enabled ? TRUE : FALSE); }

 protected:
  // A control's notification; true when handled.
  virtual bool OnCommand(int id, int code);
  // Any other message; true when handled (result then in *result).
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);
  // Just before Exec shows it.
  virtual void OnShow() {}

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND Window = nullptr;
  HWND Owner = nullptr;
  bool Open = false;
};

enum class FileQuestion { Open, Save };
// The system's file dialog; the chosen file's name in UTF-8, or nullopt when cancelled.
// extension: what a name typed without one gets when saving.
std::optional<std::string> AskFileName(HWND owner, FileQuestion question, const wchar_t* title,
                                       const wchar_t* filter, const wchar_t* suggested,
                                       const wchar_t* extension);

// A message for the technician: modal, with the program's name as its title. text: the
// engine's words (UTF-8 where it names a file, else the box's bytes).
void ShowMessageBox(HWND owner, const std::string& text);
// Tests take the messages instead of a box that would wait for a click; returns the hook before.
using MessageBoxHook = std::function<void(const std::string&)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
