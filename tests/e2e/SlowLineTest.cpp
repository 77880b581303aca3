#include <QElapsedTimer>

#include "tests/e2e/E2eFixture.h"
#include "wire/Words.h"

namespace {

// At 9600 baud one block of an upload is on the wire for well over 2 minutes.
using SlowLine = PacedEndToEnd<9600>;

TEST_F(SlowLine, ClosingTheWindowInsideALongBlockWriteReturnsAtOnce) {
  Main().show();
  Connect();
  StartUpload(WriteFile("image.bin", Image(2 * kBlock, 3)));
  // The first block is queued; wait until the box is taking it in, so that the transmit worker
  // is inside its write.
  ASSERT_TRUE(WaitForLog("Download "));
  const std::size_t before = Box->Received().size();
  ASSERT_TRUE(Until([&] { return Box->Received().size() > before + 1000; }));
  ASSERT_EQ(Box->LastUploadOutcome(), boxsim::UploadOutcome::InProgress);

  QElapsedTimer took;
  took.start();
  EXPECT_TRUE(Main().close());
  EXPECT_FALSE(Main().isVisible());
  Program.reset();
  EXPECT_LT(took.elapsed(), 1000);
}

// At 300 baud a sync word is on the wire for 167 ms, longer than the tool waits between them.
using VerySlowLine = PacedEndToEnd<300>;

// While the loader keeps quiet the tool repeats the sync word, but never faster than the line
// takes it: a command then waits behind one sync word at most, not behind seconds of them.
TEST_F(VerySlowLine, ACommandWaitsBehindOneSyncWordAtMost) {
  Control<QComboBox>(Program->form_uart, "Combo_BaudRate")->setEditText("300");
  Box->SetAnswer(boxsim::BoxCommand::Sync, boxsim::Answer::Never);
  Control<QToolButton>(Main(), "tbtn_UartConnect")->click();
  ASSERT_TRUE(Protocol().Connected());
  Until([] { return false; }, 2000);
  const int before = Box->SyncWordsSeen();
  ASSERT_GE(before, 5);
  Protocol().SendCmdWord(Cmd::VerifyBoot);
  ASSERT_TRUE(BoxSaw("ignored AA 06 32 10", 5000));
  EXPECT_LE(Box->SyncWordsSeen() - before, 2) << "sync words the command found ahead of it";
}

}  // namespace
