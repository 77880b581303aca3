#include "win32/DialogWindow.h"

#include <commdlg.h>

#include <cwchar>
#include <iterator>
#include <utility>

#include "win32/WideText.h"

DialogWindow::DialogWindow(int resource, HWND owner) : Owner(owner) {
  Window = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), owner,
                                &DialogWindow::Procedure, reinterpret_cast<LPARAM>(this));
}

DialogWindow::~DialogWindow() {
  if (Window) {
    ::SetWindowLongPtrW(Window, DWLP_USER, 0);
    ::DestroyWindow(Window);
  }
}

void DialogWindow::Exec() {
  if (Open || !Window) return;
  OnShow();
  Open = true;
  if (Owner) ::EnableWindow(Owner, FALSE);
  ::ShowWindow(Window, SW_SHOW);
  ::SetForegroundWindow(Window);
  MSG message;
  while (Open) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The program is ending: the main loop must see its WM_QUIT too.
      if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
      Open = false;
      break;
    }
    if (!::IsDialogMessageW(Window, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  // The owner first, so Windows gives it the focus back rather than another program.
  if (Owner) ::EnableWindow(Owner, TRUE);
  ::ShowWindow(Window, SW_HIDE);
}

void DialogWindow::Close() {
  Open = false;
  // Wakes the loop, which may be waiting for a message.
  ::PostMessageW(Window, WM_NULL, 0, 0);
}

std::wstring DialogWindow::TextOf(int id) const {
  const HWND item = Item(id);
  const int length = ::GetWindowTextLengthW(item);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(item, text.data(), length + 1)));
  return text;
}

void DialogWindow::SetText(int id, const std::wstring& text) {
  ::SetWindowTextW(Item(id), text.c_str());
}

bool DialogWindow::OnCommand(int id, int) {
  if (id == IDCANCEL) {  // Escape, or the title bar's close box
    Close();
    return true;
  }
  return false;
}

bool DialogWindow::OnMessage(UINT, WPARAM, LPARAM, INT_PTR*) {
  return false;
}

INT_PTR CALLBACK DialogWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  INT_PTR result = FALSE;
  if (self->OnMessage(message, wParam, lParam, &result)) {
    // A control's colours come back as the brush itself; every other answer through the
    // dialog's result.
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) return result;
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
  }
  if (message == WM_COMMAND) return self->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
  if (message == WM_CLOSE) {
    // The close box is Cancel, as Escape is.
    self->OnCommand(IDCANCEL, 0);
    return TRUE;
  }
  return FALSE;
}

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void ShowMessageBox(HWND owner, const std::string& text) {
  if (Hook()) {
    Hook()(text);
    return;
  }
  // While a dialog is open over the window, the message holds the dialog up too.
  if (owner && !::IsWindowEnabled(owner)) owner = ::GetLastActivePopup(owner);
  ::MessageBoxW(owner, WideOfEngineText(text).c_str(), L"Kelvarin", MB_OK);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(Hook(), std::move(hook));
}

std::optional<std::string> AskFileName(HWND owner, FileQuestion question, const wchar_t* title,
                                       const wchar_t* filter, const wchar_t* suggested,
                                       const wchar_t* extension) {
  wchar_t name[MAX_PATH * 4] = L"";
  wcsncpy(name, suggested, std::size(name) - 1);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter;
  dialog.lpstrFile = name;
  dialog.nMaxFile = static_cast<DWORD>(std::size(name));
  dialog.lpstrTitle = title;
  // The window keeps working in its own folder whatever folder the dialog shows.
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (question == FileQuestion::Save) {
    dialog.lpstrDefExt = extension;
    dialog.Flags |= OFN_OVERWRITEPROMPT;
    if (!::GetSaveFileNameW(&dialog)) return std::nullopt;
  } else {
    dialog.Flags |= OFN_FILEMUSTEXIST;
    if (!::GetOpenFileNameW(&dialog)) return std::nullopt;
  }
  return Utf8OfWide(name);
}
