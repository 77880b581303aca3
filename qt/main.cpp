#include <QApplication>
#include <QDir>
#include <cstdio>
#include <memory>
#include <optional>

#include "qt/MessageBox.h"
#include "qt/StartUp.h"
#include "qt/Windows.h"
#include "version/KelvarinVersion.h"
#include "window/WindowRecord.h"
#include "window/WindowRules.h"

int main(int argc, char** argv) {
  // Everything that needs no window is settled before Qt looks for a display.
  const StartRequest request = ReadStartArguments(argc, argv);
  switch (request.What) {
    case StartRequest::Action::Help:
      std::fputs(UsageText(), stdout);
      return 0;
    case StartRequest::Action::Version:
      std::printf("kelvarin %s\n", KELVARIN_VERSION);
      return 0;
    case StartRequest::Action::Bad:
      std::fprintf(stderr, "kelvarin: %s\nTry 'kelvarin --help'.\n", request.Problem.c_str());
      return 2;
    case StartRequest::Action::Run:
      break;
  }
  if (const std::string why = MissingDisplay(request); !why.empty()) {
    std::fprintf(stderr,
                 "kelvarin: no display to open the window on (%s); kelvarin-cli does the same "
                 "work from a terminal\n",
                 why.c_str());
    return 1;
  }
  const std::string folderProblem =
      request.FromMenu ? EnterMenuFolder(QDir::homePath().toLocal8Bit().toStdString())
                       : std::string();

  std::optional<PlatformFailureGuard> guard(std::in_place);
  QApplication app(argc, argv);
  guard.reset();
  QApplication::setApplicationName("Kelvarin");
  QApplication::setApplicationVersion(KELVARIN_VERSION);
  // Lets the desktop match the window to the menu entry and its icon.
  QGuiApplication::setDesktopFileName("kelvarin");
  QApplication::setWindowIcon(KelvarinIcon());
  Windows windows;
  // The record of the boxes the bench serves, as kelvarin-cli keeps it; what its writer says
  // goes to the log, on the window's thread.
  std::unique_ptr<WindowRecordKeeper> record;
  if (KeepsRecord(request.Record)) {
    Tform_main* window = &windows.form_main;
    record = std::make_unique<WindowRecordKeeper>(
        request.Record.Where, request.Record.Station, [window](const std::string& text) {
          // Through the window's own queue, under its own lock.
          window->PostToWindow([window, text] { window->AppendSystemLog(text); });
        });
    windows.form_main.AttachRecord(record.get());
  }
  windows.form_main.show();
  if (!folderProblem.empty()) ShowMessageBox(folderProblem);
  const int status = QApplication::exec();
  // The box at work is written before the engine stops with the windows.
  if (record) {
    record->Close();
    windows.form_main.AttachRecord(nullptr);
  }
  return status;
}
