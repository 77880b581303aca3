#include "tests/e2e/E2eFixture.h"
#include "tests/qt/Controls.h"

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
  // The box's line reads as it sent it: nothing of the loader version's frame leads it.
  EXPECT_TRUE(Logged("\nUnknown command")) << Log();
  EXPECT_TRUE(Boxes.empty());
}

// With Service on, every command button shown follows the command controls: clicked as a
// technician clicks it, each gets its answer, and each is off while an answer is awaited.
TEST_F(Commands, EveryServiceButtonWorksWhenShown) {
  Control<QToolButton>(Main(), "tbtn_Service")->click();
  Connect();
  struct Case {
    const char* Button;
    const char* Answer;
  };
  for (const Case& c : {Case{"btn_CmdVerifyBootCode", "Verify boot code ok"},
                        Case{"btn_CmdVerifyApp", "Verify App ok"},
                        Case{"btn_CmdRunApp", "Starting application..."}}) {
    SCOPED_TRACE(c.Button);
    QPushButton* button = Control<QPushButton>(Main(), c.Button);
    EXPECT_TRUE(button->isVisibleTo(&Main()));
    ASSERT_TRUE(Until([&] { return button->isEnabled(); }));
    button->click();
    ASSERT_TRUE(WaitForLog(c.Answer)) << Log();
  }
  EXPECT_FALSE(Control<QPushButton>(Main(), "btn_CmdRunApp")->isEnabled())
      << "run-app's answer is awaited";
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

// The tuning test and the flash dialog send nothing for a number that does not fit what the
// request carries, nor for a range past the last address; they say which field takes what.
TEST_F(Commands, ServiceNumbersThatDoNotFitSendNothing) {
  Connect();
  QWidget& tune = Program->form_Tune;
  QWidget& flash = Program->Form_EraseFlash;
  struct Case {
    QWidget& Dialog;
    const char* Button;
    QString First, Second;
    std::string Message;  // empty: the request goes, and the box logs Event
    std::string Event;
  };
  const Case cases[] = {
      {tune, "Btn_OK", "11778000", "8000", "Bandwidth: a decimal number from 0 to 255", ""},
      {tune, "Btn_OK", "11778000abc", "8", "Frequency: a decimal number from 0 to 4294967295", ""},
      {tune, "Btn_OK", "", "8", "Frequency: a decimal number from 0 to 4294967295", ""},
      {flash, "Btn_ReadFlash", "FFFFF000", "2000", "Size: a hexadecimal number from 1 to 1000", ""},
      {flash, "Btn_ReadFlash", "1000", "0", "Size: a hexadecimal number from 1 to fffff000", ""},
      {flash, "Btn_EraseFlashOK", "100000000", "10",
       "Start Addr: a hexadecimal number from 0 to ffffffff", ""},
      {flash, "Btn_EraseFlashOK", "1000", "2000 ", "Size: a hexadecimal number from 1 to fffff000",
       ""},
      {tune, "Btn_OK", " +800", "8", "", "tune 800 kHz bandwidth 8"},
      {flash, "Btn_EraseFlashOK", " 0x1000", "+2000", "", "erase 0x1000+0x2000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message + c.Event);
    const bool isTune = &c.Dialog == &tune;
    Edit(c.Dialog, isTune ? "Edt_Frequency" : "Edt_StartAddr")->setText(c.First);
    Edit(c.Dialog, isTune ? "Edt_Bandwidth" : "Edt_Offset")->setText(c.Second);
    Boxes.clear();
    Control<QPlainTextEdit>(Main(), "Memo_Msg")->clear();
    Box->ClearLogs();
    Button(c.Dialog, c.Button)->click();
    if (!c.Message.empty()) {
      EXPECT_EQ(Boxes, std::vector<std::string>{c.Message});
      QTest::qWait(200);
      EXPECT_FALSE(Logged("Cmd > "));
      for (const boxsim::Message& m : Box->Messages())
        EXPECT_EQ(m.word, 0xAA25326Du) << "only the sync word reached the box";
    } else {
      EXPECT_TRUE(BoxSaw(c.Event));
      EXPECT_TRUE(Boxes.empty());
    }
  }
}

TEST_F(Commands, ConsoleTextReachesTheLogLineByLine) {
  Connect();
  Box->PrintLines({"Loader ready", "", "caf\xe9 \x01 bytes"});
  ASSERT_TRUE(WaitForLog("caf\xc3\xa9 \x01 bytes"));
  // The stop-sync word stays in the line buffer and leads the first console line.
  EXPECT_TRUE(Logged("Loader ready\n\ncaf"));
}

}  // namespace
