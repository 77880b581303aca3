#pragma once

#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "E2eFixture.h"

// The whole program against a box that misbehaves: helpers to watch the box from the GUI
// thread (so the program's workers keep being served while the test waits), to upload and to
// read flash as a technician would.
class Misbehaving : public EndToEnd {
 protected:
  static constexpr std::size_t kBlock = 0x1FFFC;

  static boxsim::Fault MakeFault(boxsim::FaultKind kind, boxsim::FaultTarget target, int which) {
    boxsim::Fault fault;
    fault.kind = kind;
    fault.target = target;
    fault.which = which;
    return fault;
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

  bool LogShows(const std::string& text, int ms = 10000) {
    return Until([&] { return Logged(text); }, ms);
  }

  bool BoxShown(const std::string& text, int ms = 10000) {
    return Until([&] { return !Boxes.empty() && Boxes.back() == text; }, ms);
  }

  // Waits, serving the GUI, until the box logs an event containing text at or after from.
  bool BoxSaw(const std::string& text, int ms = 10000, std::size_t from = 0) {
    return Until([&] { return Box->WaitForEvent(text, 0, from); }, ms);
  }

  int BoxEvents(const std::string& text) const {
    const auto events = Box->Events();
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const std::string& e) {
      return e.find(text) != std::string::npos;
    }));
  }

  // Every block the box checked was the file's own: none failed its CRC, none differed.
  void ExpectEveryBlockTheBoxCheckedWasRight() {
    EXPECT_EQ(BoxEvents(": crc fail"), 0);
    EXPECT_EQ(BoxEvents("differs from the expected image"), 0);
  }

  // A whole upload from a fresh press of "Upload Code", checked byte for byte.
  void UploadAndCompare(const std::vector<std::uint8_t>& image, const std::string& name) {
    if (Main().ui.btn_UpdateCode->text() == "Stop") Main().ui.btn_UpdateCode->click();
    ASSERT_EQ(Main().ui.btn_UpdateCode->text(), "Upload Code");
    ASSERT_TRUE(Until([&] { return Main().ui.btn_UpdateCode->isEnabled(); }, 10000));
    const int before = Count("Upload Complete");
    Box->SetExpectedImage(image);
    StartUpload(WriteFile(name, image));
    ASSERT_TRUE(Until([&] { return Count("Upload Complete") > before; }, 20000));
    EXPECT_EQ(Box->LastUploadOutcome(), boxsim::UploadOutcome::Accepted);
    EXPECT_TRUE(Box->UploadedImage() == image);
  }

  bool WaitForFile(const std::vector<std::uint8_t>& expected, int ms = 15000) {
    return Until([&] { return ReadFile("flashdata.bin") == expected; }, ms);
  }
};
