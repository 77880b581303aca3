#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/E2eFixture.h"
#include "tests/qt/Controls.h"

// The whole program against a box that misbehaves: helpers to watch the box from the GUI
// thread (so the program's workers keep being served while the test waits), to upload and to
// read flash as a technician would.
class Misbehaving : public EndToEnd {
 protected:
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
    if (Control<QPushButton>(Main(), "btn_UpdateCode")->text() == "Stop")
      Control<QPushButton>(Main(), "btn_UpdateCode")->click();
    ASSERT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Upload Code");
    ASSERT_TRUE(
        Until([&] { return Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled(); }, 10000));
    const int before = Count("Upload Complete");
    Box->SetExpectedImage(image);
    StartUpload(WriteFile(name, image));
    ASSERT_TRUE(Until([&] { return Count("Upload Complete") > before; }, 20000));
    EXPECT_EQ(Box->LastUploadOutcome(), boxsim::UploadOutcome::Accepted);
    EXPECT_TRUE(Box->UploadedImage() == image);
  }
};
