#include "win32/Win32Controls.h"

#include <cstring>
#include <vector>

#include "win32/ControlIds.h"
#include "win32/WideText.h"

namespace {

bool IsComboBox(HWND control) {
  wchar_t kind[16] = L"";
  ::GetClassNameW(control, kind, 16);
  return std::wcscmp(kind, L"ComboBox") == 0;
}

// A group box's radio buttons, in the order its items count.
std::vector<int> RadioButtons(int group) {
  std::vector<int> buttons;
  for (const GroupMember& member : GroupMembers)
    if (member.Group == group) buttons.push_back(member.Control);
  return buttons;
}

}  // namespace

int ControlIdOf(const char* name) {
  for (const NamedControl& control : NamedControls)
    if (std::strcmp(name, control.Name) == 0) return control.Id;
  return 0;
}

const char* ControlNameOf(int id) {
  for (const NamedControl& control : NamedControls)
    if (control.Id == id) return control.Name;
  return nullptr;
}

std::optional<std::string> Win32Controls::Latin1Text(const char* control) const {
  return ExactLatin1(Dialog.TextOf(ControlIdOf(control)));
}

std::string Win32Controls::SystemText(const char* control) const {
  return Utf8OfWide(Dialog.TextOf(ControlIdOf(control)));
}

void Win32Controls::SetLatin1Text(const char* control, const std::string& text) {
  Dialog.SetText(ControlIdOf(control), WideOfLatin1(text));
}

void Win32Controls::SetSystemText(const char* control, const std::string& text) {
  Dialog.SetText(ControlIdOf(control), WideOfEngineText(text));
}

int Win32Controls::Chosen(const char* control) const {
  const int id = ControlIdOf(control);
  const HWND window = Dialog.Item(id);
  if (IsComboBox(window)) {
    const LRESULT index = ::SendMessageW(window, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
  }
  const std::vector<int> buttons = RadioButtons(id);
  for (std::size_t i = 0; i < buttons.size(); ++i)
    if (::IsDlgButtonChecked(Dialog.Handle(), buttons[i]) == BST_CHECKED)
      return static_cast<int>(i);
  return -1;
}

void Win32Controls::Choose(const char* control, int item) {
  const int id = ControlIdOf(control);
  const HWND window = Dialog.Item(id);
  if (IsComboBox(window)) {
    // An item beyond the list chooses none.
    const int count = static_cast<int>(::SendMessageW(window, CB_GETCOUNT, 0, 0));
    ::SendMessageW(window, CB_SETCURSEL, item >= 0 && item < count ? item : -1, 0);
    return;
  }
  const std::vector<int> buttons = RadioButtons(id);
  if (item < 0 || item >= static_cast<int>(buttons.size())) return;
  // Checking by the program sends no notification: the rules that chose act on it themselves.
  ::CheckRadioButton(Dialog.Handle(), buttons.front(), buttons.back(),
                     buttons[static_cast<std::size_t>(item)]);
}

void Win32Controls::Enable(const char* control, bool enabled) {
  Dialog.Enable(ControlIdOf(control), enabled);
}

void Win32Controls::Show(const char* control, bool shown) {
  const int id = ControlIdOf(control);
  const int how = shown ? SW_SHOW : SW_HIDE;
  ::ShowWindow(Dialog.Item(id), how);
  for (const GroupMember& member : GroupMembers)
    if (member.Group == id) ::ShowWindow(Dialog.Item(member.Control), how);
}

void Win32Controls::Message(const std::string& text) {
  ShowMessageBox(Dialog.Handle(), text);
}
