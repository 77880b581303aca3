#include "tests/e2e/E2eFixture.h"

namespace {

using boxsim::Answer;
using boxsim::BoxCommand;

using FlashRead = EndToEnd;

TEST_F(FlashRead, ReadsOfEverySizeMatchTheBoxsFlash) {
  Connect();
  const std::pair<std::uint32_t, std::uint32_t> reads[] = {
      {0x0, 0x10}, {0x1000, 0x2000}, {0x0, 0x9000}, {0x2345, 0x1801}};
  for (auto [start, size] : reads) {
    SCOPED_TRACE(size);
    Read(start, size);
    EXPECT_TRUE(WaitForFile(FlashRange(start, size)));
  }
  EXPECT_EQ(Count("Read flash CRC OK"), 1 + 2 + 9 + 2);
  EXPECT_TRUE(Boxes.empty()) << Boxes.front();
}

TEST_F(FlashRead, EraseThenReadShowsTheErasedRange) {
  Connect();
  Erase(0x1000, 0x800);
  ASSERT_TRUE(WaitForLog("ERASE OK"));
  EXPECT_TRUE(Logged("Cmd > a3204aa"));
  Read(0x0, 0x2000);
  auto expected = FlashRange(0, 0x2000);
  for (std::size_t i = 0x1000; i < 0x1800; ++i) ASSERT_EQ(expected[i], 0xFF);
  EXPECT_TRUE(WaitForFile(expected));

  Box->SetAnswer(BoxCommand::Erase, Answer::Bad);
  Erase(0, 0x10);
  EXPECT_TRUE(WaitForLog("ERASE fail"));
}

TEST_F(FlashRead, AReadTheBoxRefusesLeavesTheFileAndTheNextReadWorks) {
  Connect();
  Read(0, 0x1000);
  const auto first = FlashRange(0, 0x1000);
  ASSERT_TRUE(WaitForFile(first));

  Box->SetAnswer(BoxCommand::ReadFlash, Answer::Bad);
  Read(0x8000, 0x2800);
  ASSERT_TRUE(WaitForLog("Read flash fail"));
  EXPECT_TRUE(Logged("flashdata.bin left unchanged"));
  // The refusal ends the read: the rest of it is never asked for.
  QTest::qWait(300);
  EXPECT_EQ(Count("Read flash fail"), 1);
  EXPECT_EQ(Count("Cmd > 313211aa"), 1 + 1);
  EXPECT_TRUE(ReadFile("flashdata.bin") == first);

  Box->SetAnswer(BoxCommand::ReadFlash, Answer::Good);
  Read(0x8000, 0x2800);
  EXPECT_TRUE(WaitForFile(FlashRange(0x8000, 0x2800)));
}

TEST_F(FlashRead, TuningTestAnswersReachTheLog) {
  Connect();
  QWidget& tune = Program->form_Tune;
  Edit(tune, "Edt_Frequency")->setText("474000");
  Edit(tune, "Edt_Bandwidth")->setText("8");
  Button(tune, "Btn_OK")->click();
  EXPECT_TRUE(Logged("Cmd > 163208aa"));
  ASSERT_TRUE(WaitForLog("Tune test ok"));

  Box->SetAnswer(BoxCommand::Tune, Answer::Bad);
  Button(tune, "Btn_OK")->click();
  EXPECT_TRUE(WaitForLog("Tune test fail"));
}

}  // namespace
