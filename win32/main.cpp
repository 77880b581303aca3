#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which they take for granted.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "version/KelvarinVersion.h"
#include "win32/WideText.h"
#include "win32/Windows.h"
#include "window/WindowRecord.h"
#include "window/WindowRules.h"

namespace {

const std::string Usage =
    "usage: kelvarin [--menu] [--record WHERE | --no-record] [--station NAME]\n"
    "       kelvarin --help | --version\n"
    "Opens the window of the Kelvarin service tool for set-top box boot loaders.\n"
    "It keeps config.cfg and writes flashdata.bin in the folder it is started from.\n"
    "\n"
    "  --menu      work in Documents\\Kelvarin (made on first start), as the Start menu's\n"
    "              entry does\n" +
    std::string(RecordOptionsHelp) +
    "  -h, --help  print this help and exit\n"
    "  --version   print the version and exit\n"
    "kelvarin-cli does the same work from a console.\n";

// A program of the window subsystem has no console of its own: what it prints goes to the
// console it was started from, or to where its output was sent.
void Print(FILE* stream, const std::string& text) {
  const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  HANDLE out = ::GetStdHandle(which);
  if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS))
    out = ::GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The Start menu's entry works in Documents\Kelvarin, never beside the program: "" or why not.
std::string EnterDocumentsFolder() {
  PWSTR documents = nullptr;
  if (FAILED(::SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &documents)))
    return "Can't find the Documents folder; config.cfg and flashdata.bin stay in the folder "
           "the program was started in";
  const std::string base = Utf8OfWide(documents);
  ::CoTaskMemFree(documents);
  return EnterMenuFolder(base);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  int argc = 0;
  LPWSTR* wideArgv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::wstring> args(wideArgv, wideArgv + (wideArgv ? argc : 0));
  ::LocalFree(wideArgv);
  bool fromMenu = false;
  std::vector<std::string> utf8;
  for (const std::wstring& arg : args) utf8.push_back(Utf8OfWide(arg));
  WindowRecordOptions recordOptions;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
      Print(stdout, Usage);
      return 0;
    }
    if (arg == L"--version") {
      Print(stdout, std::string("kelvarin ") + KELVARIN_VERSION + "\n");
      return 0;
    }
    if (arg == L"--menu") {
      fromMenu = true;
      continue;
    }
    std::string problem;
    if (TakeRecordOption(utf8, i, recordOptions, problem)) {
      if (problem.empty()) continue;
      Print(stderr, "kelvarin: " + problem + "\nTry 'kelvarin --help'.\n");
      return 2;
    }
    Print(stderr, "kelvarin: unknown option '" + Utf8OfWide(arg) + "'\nTry 'kelvarin --help'.\n");
    return 2;
  }

  if (const std::string problem = RecordOptionsProblem(recordOptions); !problem.empty()) {
    Print(stderr, "kelvarin: " + problem + "\nTry 'kelvarin --help'.\n");
    return 2;
  }

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  const std::string folderProblem = fromMenu ? EnterDocumentsFolder() : std::string();

  Windows windows;
  // The record of the boxes the bench serves, as kelvarin-cli keeps it; what its writer says
  // goes to the log, on the window's thread.
  std::unique_ptr<WindowRecordKeeper> record;
  if (KeepsRecord(recordOptions)) {
    MainWindow* window = &windows.form_main;
    record = std::make_unique<WindowRecordKeeper>(
        recordOptions.Where, recordOptions.Station, [window](const std::string& text) {
          window->PostToWindow([window, text] { window->AppendSystemLog(text); });
        });
    windows.form_main.AttachRecord(record.get());
  }
  const HWND main = windows.form_main.Handle();
  ::ShowWindow(main, show == SW_HIDE ? SW_SHOWNORMAL : show);
  if (!folderProblem.empty()) ShowMessageBox(main, folderProblem);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(main, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  // The box at work is written before the engine stops with the windows.
  if (record) {
    record->Close();
    windows.form_main.AttachRecord(nullptr);
  }
  return static_cast<int>(message.wParam);
}
