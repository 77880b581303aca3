#include <QStatusBar>
#include <filesystem>

#include "replies/CodeUpload.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/qt/Controls.h"

namespace {

// The line runs at the pace of a real cable, so that work is caught in the middle of a block.
using PacedLine = PacedEndToEnd<115200>;

// Stop and Disconnect both end an upload at once: the rest of the block never reaches the
// box, the file is closed, and no reply timeout fires later.
TEST_F(PacedLine, StopAndDisconnectEndTheUploadAtOnce) {
  struct Case {
    const char* button;
    std::string lastLines;
    bool connectedAfter;
  } cases[] = {
      {"btn_UpdateCode", "Upload stopped\n" + std::string(UploadStoppedAdvice), true},
      {"tbtn_UartDisconnect",
       "Upload stopped\n" + std::string(UploadStoppedAdvice) + "\nRS232 Disconnect", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    Connect();
    Main().show();
    Box->SetBlockWait(500, 2);
    Box->ClearLogs();
    StartUpload(WriteFile("image.bin", Image(3 * kBlock)));
    ASSERT_TRUE(Until([&] { return Protocol().Progress().Done > 8192; }));

    // Mid-block: the button offers Stop and the status bar shows the work.
    EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Stop");
    EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
    EXPECT_TRUE(Control<QToolButton>(Main(), "tbtn_UartDisconnect")->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(Main(), "text_Cmd")->isEnabled());
    EXPECT_EQ(Main().lab_State->text(), "Busy");
    ASSERT_TRUE(Until([&] { return Main().bar_Progress->isVisible(); }, 2000));
    EXPECT_TRUE(Until([&] { return Main().lab_Rate->text().endsWith(" left"); }, 2000))
        << Main().lab_Rate->text().toStdString();

    Main().findChild<QAbstractButton*>(c.button)->click();
    const std::string log = Log();
    ASSERT_GE(log.size(), c.lastLines.size());
    EXPECT_EQ(log.substr(log.size() - c.lastLines.size()), c.lastLines);
    EXPECT_NE(Protocol().Progress().What, Core::WorkProgress::Job::Upload);
    EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Upload Code");
    EXPECT_EQ(Protocol().Connected(), c.connectedAfter);
    EXPECT_EQ(Main().lab_State->text().toStdString(), c.connectedAfter ? "Ready" : "Offline");
    EXPECT_FALSE(Main().bar_Progress->isVisible());
    if (c.connectedAfter) {
      EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
    }

    // The box waits for the rest of the block, asks for it again, and gets nothing more.
    EXPECT_TRUE(BoxSaw("block 0: timed out after", 5000));
    EXPECT_TRUE(BoxSaw("block 0: timed out after 0 of", 5000));
    for (const boxsim::Message& m : Box->Messages())
      EXPECT_NE(m.kind, boxsim::MessageKind::Block) << "block " << m.block << " reached the box";

    ExpireReplyTimeout();
    Until([] { return false; }, 500);
    EXPECT_TRUE(Boxes.empty()) << Boxes.front();
    // The box gives the image up before the next round.
    EXPECT_TRUE(BoxSaw("never came", 5000));
    if (Protocol().Connected()) Control<QToolButton>(Main(), "tbtn_UartDisconnect")->click();
  }
}

// Disconnect in the middle of a read-back keeps flashdata.bin as the last complete read left
// it and leaves no part file; the log says so before the port goes.
TEST_F(PacedLine, DisconnectMidReadLeavesTheFileAsItWas) {
  Connect();
  Read(0, 0x1000);
  const auto earlier = FlashRange(0, 0x1000);
  ASSERT_TRUE(WaitForFile(earlier));

  Read(0x4000, 0x10000);
  ASSERT_TRUE(Until([&] { return Protocol().Progress().Done >= 0x1000; }));
  EXPECT_EQ(Protocol().Progress().What, Core::WorkProgress::Job::FlashRead);
  EXPECT_TRUE(Control<QToolButton>(Main(), "tbtn_UartDisconnect")->isEnabled());
  Control<QToolButton>(Main(), "tbtn_UartDisconnect")->click();

  const std::string last = "Read flash stopped: flashdata.bin left unchanged\nRS232 Disconnect";
  const std::string log = Log();
  ASSERT_GE(log.size(), last.size());
  EXPECT_EQ(log.substr(log.size() - last.size()), last);
  EXPECT_TRUE(ReadFile("flashdata.bin") == earlier);
  EXPECT_FALSE(std::filesystem::exists(Path("flashdata.bin.part")));
  EXPECT_EQ(Protocol().Progress().What, Core::WorkProgress::Job::None);
}

}  // namespace
