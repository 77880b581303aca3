#include "tests/app/Controls.h"
#include "tests/e2e/E2eFixture.h"

namespace {

using boxsim::Answer;
using boxsim::BoxCommand;

using Commands = EndToEnd;

TEST_F(Commands, HandshakeThenButtonsAndTypedCommandsGetTheirAnswers) {
  Connect();
  EXPECT_GE(Box->SyncWordsSeen(), 1);
  EXPECT_TRUE(Logged("Com port set up ok"));

  Main().btn_CmdLoadVerClick();
  EXPECT_TRUE(Logged("Cmd > 22320caa"));
  ASSERT_TRUE(WaitForLog("\n5.6"));
  ASSERT_TRUE(Until([&] { return Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled(); }));

  Main().btn_CmdVerifyBootCodeClick();
  EXPECT_TRUE(WaitForLog("Verify boot code ok"));
  ASSERT_TRUE(Until([&] { return Control<QLineEdit>(Main(), "text_Cmd")->isEnabled(); }));

  Box->SetAnswer(BoxCommand::VerifyApp, Answer::Bad);
  Main().btn_CmdVerifyAppClick();
  EXPECT_TRUE(WaitForLog("Verify App fail"));
  ASSERT_TRUE(Until([&] { return Control<QLineEdit>(Main(), "text_Cmd")->isEnabled(); }));

  // A typed command goes out as typed, the first four characters reversed.
  Control<QLineEdit>(Main(), "text_Cmd")->setText("hello");
  Control<QPushButton>(Main(), "btn_SendCmd")->click();
  EXPECT_EQ(Control<QLineEdit>(Main(), "text_Cmd")->text(), "");
  EXPECT_TRUE(Logged("Cmd > 68656c6c"));
  ASSERT_TRUE(BoxSaw("lleho"));
  EXPECT_TRUE(WaitForLog("Unknown command"));
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(Commands, AnUnansweredCommandEndsInTimeout) {
  Connect();
  Box->SetAnswer(BoxCommand::VerifyBoot, Answer::Never);
  Main().btn_CmdVerifyBootCodeClick();
  EXPECT_FALSE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
  QTest::qWait(300);
  EXPECT_TRUE(Boxes.empty());
  ExpireReplyTimeout();
  ASSERT_TRUE(WaitForBox("Timeout!!"));
  EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
}

TEST_F(Commands, RebootGoesBackToTheHandshake) {
  Connect();
  const int syncsBefore = Box->SyncWordsSeen();
  Main().btn_CmdRebootSTBClick();
  EXPECT_TRUE(Logged("Cmd > 193209aa"));
  EXPECT_FALSE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
  EXPECT_TRUE(Control<QToolButton>(Main(), "tbtn_UartDisconnect")->isEnabled());
  EXPECT_FALSE(Control<QToolButton>(Main(), "tbtn_Setting")->isEnabled());
  ASSERT_TRUE(Until([&] { return Count("Stop send sync byte") == 2; }));
  EXPECT_GT(Box->SyncWordsSeen(), syncsBefore);
  EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(Commands, ConsoleTextReachesTheLogLineByLine) {
  Connect();
  Box->PrintLines({"Loader ready", "", "caf\xe9 \x01 bytes"});
  ASSERT_TRUE(WaitForLog("caf\xc3\xa9 \x01 bytes"));
  // The stop-sync word stays in the line buffer and leads the first console line.
  EXPECT_TRUE(Logged("Loader ready\n\ncaf"));
}

}  // namespace
