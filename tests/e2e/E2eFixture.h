#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "boxsim/BoxSim.h"
#include "qt/MessageBox.h"
#include "qt/Windows.h"
#include "tests/qt/Controls.h"
#include "tests/support/FakeClock.h"

// The whole program, its windows included, against the simulated box over a pseudo-terminal,
// in a temporary working folder. Message boxes are recorded instead of shown.
class EndToEnd : public ::testing::Test {
 protected:
  static constexpr std::size_t kBlock = boxsim::kBlockSize;

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    Home = here;
    ASSERT_EQ(chdir(Dir.path().toLocal8Bit().constData()), 0);
    Previous = SetMessageBoxHook([this](const std::string& text) { Boxes.push_back(text); });
    Box = std::make_unique<boxsim::BoxSim>(BoxOptions());
    ASSERT_TRUE(Box->Start());
    Program = std::make_unique<Windows>(&Clock, Path("config.cfg"));
    Control<QComboBox>(Program->form_uart, "Combo_port")
        ->setEditText(QString::fromStdString(Box->DevicePath()));
  }

  void TearDown() override {
    Program.reset();
    if (Box) Box->Stop();
    SetMessageBoxHook(Previous);
    if (!Home.empty() && chdir(Home.c_str()) != 0) ADD_FAILURE() << "can't go back to " << Home;
  }

  virtual boxsim::BoxOptions BoxOptions() { return {}; }

  std::string Path(const std::string& name) const {
    return (Dir.path() + "/").toStdString() + name;
  }

  Tform_main& Main() { return Program->form_main; }
  Core& Protocol() { return Program->form_main.core(); }

  std::string Log() {
    Main().FlushLog();
    return Control<QPlainTextEdit>(Main(), "Memo_Msg")->toPlainText().toStdString();
  }

  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }

  int Count(const std::string& text) {
    const std::string log = Log();
    int n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  // Runs the event loop until done() holds or ms have passed. Hand-overs from the workers run
  // as soon as they are posted, as in the program's own loop; qWaitFor sleeps between looks,
  // which makes a stream of many small replies crawl.
  static bool Until(const std::function<bool()>& done, int ms = 10000) {
    if (done()) return true;
    QEventLoop loop;
    QTimer look;
    QTimer deadline;
    QObject::connect(&look, &QTimer::timeout, [&] {
      if (done()) loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    look.start(5);
    deadline.setSingleShot(true);
    deadline.start(ms);
    loop.exec();
    return done();
  }

  bool WaitForLog(const std::string& text, int ms = 10000) {
    return Until([&] { return Logged(text); }, ms);
  }

  bool WaitForBox(const std::string& text, int ms = 10000) {
    return Until([&] { return !Boxes.empty() && Boxes.back() == text; }, ms);
  }

  // Waits, serving the GUI, until the box logs an event containing text.
  bool BoxSaw(const std::string& text, int ms = 10000) {
    return Until([&] { return Box->WaitForEvent(text, 0); }, ms);
  }

  // Waits until flashdata.bin holds the expected bytes.
  bool WaitForFile(const std::vector<std::uint8_t>& expected, int ms = 15000) {
    return Until([&] { return ReadFile("flashdata.bin") == expected; }, ms);
  }

  static boxsim::Fault MakeFault(boxsim::FaultKind kind, boxsim::FaultTarget target, int which) {
    boxsim::Fault fault;
    fault.kind = kind;
    fault.target = target;
    fault.which = which;
    return fault;
  }

  // Connects and waits for the loader's answer to the sync word.
  void Connect() {
    Control<QToolButton>(Main(), "tbtn_UartConnect")->click();
    ASSERT_TRUE(Protocol().Connected()) << (Boxes.empty() ? "" : Boxes.back());
    ASSERT_TRUE(WaitForLog("Stop send sync byte"));
    ASSERT_TRUE(Until([&] { return Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled(); }));
  }

  // Lets the clock run past the reply timeout.
  void ExpireReplyTimeout() { Clock.Set((Clock.Now().Minute + 1) % 60, Clock.Now().Second); }

  static std::vector<std::uint8_t> Image(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
      x = x * 1103515245u + 12345u;
      b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
  }

  std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = Path(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }

  std::vector<std::uint8_t> ReadFile(const std::string& name) {
    std::vector<std::uint8_t> bytes;
    std::FILE* f = std::fopen(Path(name).c_str(), "rb");
    if (!f) return bytes;
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
  }

  // Presses "Upload Code" and picks the file.
  void StartUpload(const std::string& path) {
    Main().PickImageFile = [path] { return std::optional<std::string>(path); };
    Control<QPushButton>(Main(), "btn_UpdateCode")->click();
  }

  QLineEdit* Edit(QWidget& dialog, const char* name) { return dialog.findChild<QLineEdit*>(name); }
  QPushButton* Button(QWidget& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(name);
  }

  // Types start and size into the flash dialog and presses one of its buttons.
  void UseFlashDialog(const char* button, std::uint32_t start, std::uint32_t size) {
    QWidget& dialog = Program->Form_EraseFlash;
    Edit(dialog, "Edt_StartAddr")->setText(QString::number(start, 16));
    Edit(dialog, "Edt_Offset")->setText(QString::number(size, 16));
    Button(dialog, button)->click();
  }
  void Read(std::uint32_t start, std::uint32_t size) {
    UseFlashDialog("Btn_ReadFlash", start, size);
  }
  void Erase(std::uint32_t start, std::uint32_t size) {
    UseFlashDialog("Btn_EraseFlashOK", start, size);
  }

  std::vector<std::uint8_t> FlashRange(std::uint32_t start, std::uint32_t size) {
    const auto flash = Box->Flash();
    return {flash.begin() + start, flash.begin() + start + size};
  }

  QTemporaryDir Dir;
  std::string Home;
  FakeClock Clock;
  std::vector<std::string> Boxes;
  MessageBoxHook Previous;
  std::unique_ptr<boxsim::BoxSim> Box;
  std::unique_ptr<Windows> Program;
};

// The box's line paced to a cable of the given speed, so that a block takes its time on it.
template <int Baud>
class PacedEndToEnd : public EndToEnd {
 protected:
  boxsim::BoxOptions BoxOptions() override {
    boxsim::BoxOptions options;
    options.baud = Baud;
    return options;
  }
};
