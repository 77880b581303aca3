#include "win32/MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>

#include "platform/Files.h"
#include "version/KelvarinVersion.h"
#include "win32/ControlIds.h"
#include "win32/Dialogs.h"
#include "win32/RecordDialog.h"
#include "win32/Resources.h"
#include "win32/WideText.h"
#include "window/WindowEffects.h"
#include "window/WindowRules.h"
#include "wire/Words.h"

namespace {

// Lines from a flood of console text are gathered and added in one go at this interval, so
// the log never holds up the window.
constexpr UINT LogBatchMs = 30;
// The status bar follows a transfer this often; the rate is taken over the last few seconds.
constexpr UINT StatusPollMs = 250;
constexpr UINT_PTR LogTimer = 1;
constexpr UINT_PTR StatusTimer = 2;
constexpr UINT LayOutAgain = WM_APP + 3;

RECT PlaceOf(HWND dialog, HWND control) {
  RECT place{};
  ::GetWindowRect(control, &place);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  return place;
}

void PlaceAt(HWND control, const RECT& place, int dx, int dy, int dw, int dh) {
  ::SetWindowPos(control, nullptr, place.left + dx, place.top + dy, place.right - place.left + dw,
                 place.bottom - place.top + dh, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

MainWindow::MainWindow(Clock* clock)
    : DialogWindow(IDD_MAIN, nullptr),
      Protocol(Model, clock ? *clock : DefaultClock, ".", GuiThread) {
  const HWND window = Handle();
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  ::SendMessageW(window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(::LoadIconW(instance, MAKEINTRESOURCEW(IDI_KELVARIN))));
  SmallIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_KELVARIN), IMAGE_ICON,
                                              ::GetSystemMetrics(SM_CXSMICON),
                                              ::GetSystemMetrics(SM_CYSMICON), 0));
  ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(SmallIcon));
  const HWND log = Item(IDC_Memo_Msg);
  Log.Attach(log);

  RECT client{};
  ::GetClientRect(window, &client);
  LaidOut = {client.right, client.bottom};
  // The screen's density the layout was taken at (Windows 10 tells it per window).
  using DpiOfWindow = UINT(WINAPI*)(HWND);
  if (const auto dpiOf = reinterpret_cast<DpiOfWindow>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"))))
    Dpi = std::max(dpiOf(window), 1u);
  PanelAt = PlaceOf(window, Item(IDC_pnl_cmd));
  LogAt = PlaceOf(window, log);
  EntryAt = PlaceOf(window, Item(IDC_text_Cmd));
  SendAt = PlaceOf(window, Item(IDC_btn_SendCmd));

  StatusBar =
      ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0,
                        0, 0, window, nullptr, instance, nullptr);
  ProgressBar = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD, 0, 0, 0, 0, StatusBar,
                                  nullptr, instance, nullptr);
  ::SendMessageW(ProgressBar, PBM_SETRANGE32, 0, 100);
  RECT bar{};
  ::GetWindowRect(StatusBar, &bar);
  StatusHeight = bar.bottom - bar.top;
  // The window grows by the status bar; what was laid out above it stays where it was.
  RECT outer{};
  ::GetWindowRect(window, &outer);
  ::SetWindowPos(window, nullptr, 375, 103, outer.right - outer.left,
                 outer.bottom - outer.top + StatusHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  ::DragAcceptFiles(window, TRUE);

  Model.Bind(Protocol);
  Protocol.StartWorkers();
  Layout();
  UpdateStatus();
}

MainWindow::~MainWindow() {
  StopWorkers();
  if (SmallIcon) ::DestroyIcon(SmallIcon);
}

void MainWindow::Attach(UartDialog* uart, DlCfgDialog* dlConfig, TuneDialog* tune,
                        FlashDialog* flash) {
  Uart = uart;
  DlConfig = dlConfig;
  Tune = tune;
  Flash = flash;
  Model.Attach(uart ? &uart->Presenter() : nullptr, dlConfig ? &dlConfig->Presenter() : nullptr);
}

void MainWindow::AttachRecord(WindowRecordKeeper* record) {
  Keeper = record;
  WindowRecord* boxes = record ? &record->Boxes() : nullptr;
  Model.AttachRecord(boxes);
  if (Tune) Tune->Record = boxes;
  if (Flash) Flash->Record = boxes;
}

void MainWindow::StopWorkers() {
  Protocol.Shutdown();
}

bool MainWindow::OnCommand(int id, int code) {
  switch (id) {
    case IDC_tbtn_Service:
      Model.ServiceShown(::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED);
      return true;
    case IDOK:
      // Enter in the entry sends and keeps the text, so pressing it again sends it again.
      if (::GetFocus() == Item(IDC_text_Cmd)) Model.EntryEntered();
      return true;
    case IDCANCEL:
      return true;  // Escape leaves the main window open
    case CmdCopy:
      Log.CopySelection();
      return true;
    case CmdSelectAll:
      FlushLog();
      Log.SelectAll();
      return true;
    case CmdClearLog:
      ClearLog();
      return true;
    case CmdSaveLog:
      SaveLogAs();
      return true;
    case CmdTimestamps:
      Model.Timestamps = !Model.Timestamps;
      return true;
    case CmdAbout: {
      MSGBOXPARAMSW box{};
      box.cbSize = sizeof box;
      box.hwndOwner = Handle();
      box.hInstance = ::GetModuleHandleW(nullptr);
      const std::wstring text = AboutText();
      box.lpszText = text.c_str();
      box.lpszCaption = L"About Kelvarin";
      box.dwStyle = MB_OK | MB_USERICON;
      box.lpszIcon = MAKEINTRESOURCEW(IDI_KELVARIN);
      ::MessageBoxIndirectW(&box);
      return true;
    }
    case IDC_text_Label:
      if (code == EN_CHANGE) Model.LabelTyped();
      return true;
    default:
      // A control of the window's table; typing in the entry is no press.
      if (const char* name = ControlNameOf(id); name != nullptr && id != IDC_text_Cmd) {
        Model.Pressed(name);
        return true;
      }
      return false;
  }
  (void)code;
}

bool MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return true;
    case WM_GETMINMAXINFO: {
      // Never smaller than laid out.
      RECT outer{0, 0, LaidOut.cx, LaidOut.cy + StatusHeight};
      if (LaidOut.cx == 0) return false;
      ::AdjustWindowRectEx(&outer, static_cast<DWORD>(::GetWindowLongPtrW(Handle(), GWL_STYLE)),
                           FALSE, static_cast<DWORD>(::GetWindowLongPtrW(Handle(), GWL_EXSTYLE)));
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {outer.right - outer.left, outer.bottom - outer.top};
      return true;
    }
    case WM_TIMER:
      if (wParam == LogTimer) FlushLog();
      if (wParam == StatusTimer) UpdateStatus();
      return true;
    case WM_DROPFILES: {
      const auto drop = reinterpret_cast<HDROP>(wParam);
      std::vector<std::string> paths;
      const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
      for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(Utf8OfWide(path));
      }
      ::DragFinish(drop);
      DropFiles(paths);
      return true;
    }
    case WM_NOTIFY: {
      const auto* note = reinterpret_cast<const NMHDR*>(lParam);
      if (note->code == LVN_KEYDOWN && note->hwndFrom == Item(IDC_Memo_Msg) &&
          reinterpret_cast<const NMLVKEYDOWN*>(note)->wVKey == 'A' &&
          (::GetKeyState(VK_CONTROL) & 0x8000)) {
        OnCommand(CmdSelectAll, 0);  // the lines still waiting come first
        *result = 0;
        return true;
      }
      LRESULT answer = 0;
      if (!Log.OnNotify(reinterpret_cast<const NMHDR*>(lParam), &answer)) return false;
      *result = answer;
      return true;
    }
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) != Item(IDC_Memo_Msg)) return false;
      ShowLogMenu(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return true;
    case WM_DPICHANGED: {
      // Moved to a screen of another density: Windows scales the dialog's controls; what the
      // window lays out itself is scaled along before the new size arrives.
      const int dpi = HIWORD(wParam);
      const auto scale = [this, dpi](LONG& value) {
        value = ::MulDiv(value, dpi, static_cast<int>(Dpi));
      };
      for (RECT* place : {&PanelAt, &LogAt, &EntryAt, &SendAt})
        for (LONG* edge : {&place->left, &place->top, &place->right, &place->bottom}) scale(*edge);
      scale(LaidOut.cx);
      scale(LaidOut.cy);
      Dpi = static_cast<UINT>(dpi);
      RECT bar{};
      ::SendMessageW(StatusBar, WM_SIZE, 0, 0);
      ::GetWindowRect(StatusBar, &bar);
      StatusHeight = bar.bottom - bar.top;
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(Handle(), nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      // The dialog manager scales the controls and their font next; what the window lays out
      // itself follows once it is done.
      ::PostMessageW(Handle(), LayOutAgain, 0, 0);
      return false;
    }
    case LayOutAgain:
      Layout();
      return true;
    case WM_CLOSE:
      // Nothing may run against windows that are about to go.
      StopWorkers();
      FlushLog();
      ::ShowWindow(Handle(), SW_HIDE);
      ::PostQuitMessage(0);
      return true;
    default:
      return false;
  }
}

void MainWindow::Layout() {
  if (!StatusBar) return;
  RECT client{};
  ::GetClientRect(Handle(), &client);
  const int dw = std::max(0, static_cast<int>(client.right - LaidOut.cx));
  const int dh = std::max(0, static_cast<int>(client.bottom - StatusHeight - LaidOut.cy));
  PlaceAt(Item(IDC_pnl_cmd), PanelAt, 0, 0, dw, dh);
  PlaceAt(Item(IDC_Memo_Msg), LogAt, 0, 0, dw, dh);
  Log.Fit();
  PlaceAt(Item(IDC_text_Cmd), EntryAt, 0, dh, dw, 0);
  PlaceAt(Item(IDC_btn_SendCmd), SendAt, dw, dh, 0, 0);
  ::SendMessageW(StatusBar, WM_SIZE, 0, 0);
  LayOutStatusBar();
}

void MainWindow::LogWaiting() {
  ::SetTimer(Handle(), LogTimer, LogBatchMs, nullptr);
}

void MainWindow::AppendLog(const std::vector<LogLine>& lines) {
  std::vector<std::wstring> wide;
  wide.reserve(lines.size());
  for (const LogLine& line : lines)
    wide.push_back(line.System ? WideOfEngineText(line.Text) : WideOfLatin1(line.Text));
  Log.Append(wide);
}

void MainWindow::FlushLog() {
  ::KillTimer(Handle(), LogTimer);
  Model.FlushLog();
}

void MainWindow::FocusEntry() {
  ::SetFocus(Item(IDC_text_Cmd));
}

void MainWindow::Open(WindowAction what) {
  switch (what) {
    case WindowAction::Setting:
      if (Uart) Uart->Exec();
      return;
    case WindowAction::ConfigDialog:
      if (DlConfig) DlConfig->Exec();
      return;
    case WindowAction::FlashDialog:
      if (Flash) Flash->Exec();
      return;
    case WindowAction::TuneDialog:
      if (Tune) Tune->Exec();
      return;
    case WindowAction::Help:
      ShowHelpMenu();
      return;
    case WindowAction::RecordView:
      if (!Keeper) {
        ShowMessageBox(Handle(),
                       "No record is kept: the window was started with --no-record, or this "
                       "build keeps none");
        return;
      }
      if (!Record)
        Record = std::make_unique<RecordDialog>(
            Handle(), Keeper->Where(), [this](std::function<void()> r) { PostToWindow(r); });
      Record->Run();
      return;
    default:
      return;
  }
}

std::string MainWindow::LogText() {
  FlushLog();
  return Log.Text();
}

void MainWindow::ClearLog() {
  Model.DropWaitingLog();
  ::KillTimer(Handle(), LogTimer);
  Log.Clear();
}

void MainWindow::SaveLogAs() {
  const std::optional<std::string> path =
      PickLogFile ? PickLogFile()
                  : AskFileName(Handle(), FileQuestion::Save, L"Save Log As",
                                L"Text files (*.txt)\0*.txt\0All files (*)\0*.*\0",
                                L"kelvarin-log.txt", L"txt");
  if (!path) return;
  const std::string why = WriteWholeFile(*path, LogText());
  if (!why.empty()) ShowMessageBox(Handle(), "Can't write " + *path + ": " + why);
}

std::optional<std::string> MainWindow::PickImage() {
  if (PickImageFile) return PickImageFile();
  return AskFileName(Handle(), FileQuestion::Open, L"Open", L"bin files (*.bin)\0*.bin\0", L"",
                     L"");
}

bool MainWindow::DropFiles(const std::vector<std::string>& paths) {
  return Model.Dropped(paths);
}

void MainWindow::ShowLogMenu(int x, int y) {
  FlushLog();
  const HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING | (Log.HasSelection() ? 0 : MF_GRAYED), CmdCopy, L"Copy");
  ::AppendMenuW(menu, MF_STRING, CmdSelectAll, L"Select All");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, CmdClearLog, L"Clear Log");
  ::AppendMenuW(menu, MF_STRING, CmdSaveLog, L"Save Log As...");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING | (Model.Timestamps ? MF_CHECKED : 0), CmdTimestamps,
                L"Timestamps");
  if (x == -1 && y == -1) {  // from the keyboard: at the log's corner
    RECT place{};
    ::GetWindowRect(Item(IDC_Memo_Msg), &place);
    x = place.left + 8;
    y = place.top + 8;
  }
  ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, x, y, 0, Handle(),
                   nullptr);
  ::DestroyMenu(menu);
}

void MainWindow::ShowHelpMenu() {
  RECT button{};
  ::GetWindowRect(Item(IDC_tbtn_Help), &button);
  const HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING, CmdAbout, L"About Kelvarin");
  ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, button.left, button.bottom, 0, Handle(),
                   nullptr);
  ::DestroyMenu(menu);
}

std::wstring MainWindow::AboutText() const {
  wchar_t caption[128] = L"";
  ::GetWindowTextW(Handle(), caption, static_cast<int>(std::size(caption)));
  std::wstring text = caption;
  std::error_code error;
  for (const std::string& line :
       AboutLines(KELVARIN_VERSION, SystemName(std::filesystem::current_path(error))))
    text += L"\n\n" + WideOfUtf8(line);
  return text;
}

std::vector<std::wstring> MainWindow::StatusParts() const {
  return Parts;
}

int MainWindow::ProgressPercent() const {
  return Percent;
}

void MainWindow::UpdateStatus() {
  if (!StatusBar) return;
  const WindowStatus status = Model.Status();
  std::vector<std::wstring> parts(4);
  parts[0] = WideOfUtf8(status.State);
  if (!status.PortName.empty()) parts[1] = WideOfUtf8(PortText(status.PortName, status.Settings));
  const MovingStatus& moving = status.Moving;
  parts[2] = WideOfUtf8(moving.Wait);
  parts[3] = WideOfUtf8(moving.Rate);
  const int percent = moving.Percent;
  // Polled only while something moves by itself: a transfer's progress or a wait's countdown.
  if (moving.Moving() != StatusTimerOn) {
    if (moving.Moving())
      ::SetTimer(Handle(), StatusTimer, StatusPollMs, nullptr);
    else
      ::KillTimer(Handle(), StatusTimer);
    StatusTimerOn = moving.Moving();
  }
  if (parts == Parts && percent == Percent) return;
  const bool shape = (percent < 0) != (Percent < 0) || parts != Parts;
  Parts = std::move(parts);
  Percent = percent;
  if (percent >= 0) ::SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  if (shape) LayOutStatusBar();
}

// The parts are as wide as their texts; the progress bar sits in its own part while a transfer
// runs.
void MainWindow::LayOutStatusBar() {
  const HDC dc = ::GetDC(StatusBar);
  const HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(StatusBar, WM_GETFONT, 0, 0)));
  const auto width = [dc](const std::wstring& text) {
    if (text.empty()) return 0;
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx) + 16;
  };
  struct Part {
    std::wstring Text;
    int Width;
    bool Progress;
  };
  std::vector<Part> shown;
  for (size_t i = 0; i < 3; ++i)
    if (!Parts[i].empty() || i == 0)
      shown.push_back({Parts[i], std::max(width(Parts[i]), 60), false});
  if (Percent >= 0) shown.push_back({L"", 140, true});
  shown.push_back({Parts[3], -1, false});
  ::SelectObject(dc, old);
  ::ReleaseDC(StatusBar, dc);
  std::vector<int> edges;
  int right = 0;
  for (const Part& part : shown) {
    right = part.Width < 0 ? -1 : right + part.Width;
    edges.push_back(right);
  }
  ::SendMessageW(StatusBar, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  bool progressShown = false;
  for (size_t i = 0; i < shown.size(); ++i) {
    ::SendMessageW(StatusBar, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(shown[i].Text.c_str()));
    if (shown[i].Progress) {
      RECT place{};
      ::SendMessageW(StatusBar, SB_GETRECT, i, reinterpret_cast<LPARAM>(&place));
      ::InflateRect(&place, -2, -3);
      ::SetWindowPos(ProgressBar, nullptr, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
      progressShown = true;
    }
  }
  if (!progressShown) ::ShowWindow(ProgressBar, SW_HIDE);
}
