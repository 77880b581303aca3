#pragma once

#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "qt/MessageBox.h"
#include "qt/Windows.h"
#include "tests/qt/Controls.h"
#include "tests/support/FakeClock.h"

// What the settings dialog shows.
struct Shown {
  std::string Port, Baud, Data;
  int Parity, Stop;
  bool operator==(const Shown&) const = default;
};

inline void PrintTo(const Shown& s, std::ostream* os) {
  *os << "{port \"" << s.Port << "\" (" << s.Port.size() << " chars), baud " << s.Baud << ", data "
      << s.Data << ", parity " << s.Parity << ", stop " << s.Stop << "}";
}

inline Shown Controls(Tform_uart& uart) {
  return {Control<QComboBox>(uart, "Combo_port")->currentText().toStdString(),
          Control<QComboBox>(uart, "Combo_BaudRate")->currentText().toStdString(),
          Control<QComboBox>(uart, "Combo_DataBit")->currentText().toStdString(),
          Control<QComboBox>(uart, "Combo_Parity")->currentIndex(),
          Control<QComboBox>(uart, "Combo_StopBit")->currentIndex()};
}

// The five windows in a temporary folder, with message boxes recorded instead of shown.
class AppFixture {
 public:
  AppFixture() {
    Previous = SetMessageBoxHook([this](const std::string& text) { Boxes.push_back(text); });
  }
  ~AppFixture() {
    Program.reset();
    SetMessageBoxHook(Previous);
  }

  std::string ConfigPath() const { return (Dir.path() + "/config.cfg").toStdString(); }

  void WriteConfig(const std::string& line) const {
    std::FILE* f = std::fopen(ConfigPath().c_str(), "wb");
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }

  std::string ReadConfig() const {
    std::string content;
    std::FILE* f = std::fopen(ConfigPath().c_str(), "rb");
    if (!f) return "<missing>";
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
    std::fclose(f);
    return content;
  }

  Windows& Start() {
    Program.reset();
    Program = std::make_unique<Windows>(&Clock, ConfigPath());
    return *Program;
  }

  Tform_main& Main() { return Program->form_main; }
  Tform_uart& Uart() { return Program->form_uart; }

  std::string Log() {
    Main().FlushLog();
    return Control<QPlainTextEdit>(Main(), "Memo_Msg")->toPlainText().toStdString();
  }

  bool WaitForLog(const std::string& text, int ms = 3000) {
    return QTest::qWaitFor([&] { return Log().find(text) != std::string::npos; }, ms);
  }

  QTemporaryDir Dir;
  FakeClock Clock;
  std::vector<std::string> Boxes;
  std::unique_ptr<Windows> Program;
  MessageBoxHook Previous;
};
