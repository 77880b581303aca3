#include "tests/e2e/E2eFixture.h"
#include "tests/qt/Controls.h"

namespace {

using boxsim::Answer;
using boxsim::BlockOrder;
using boxsim::BoxCommand;
using boxsim::UploadOutcome;

class Upload : public EndToEnd {
 protected:
  // Uploads an image of the given size and checks that the box holds it byte for byte.
  void UploadAndCompare(std::size_t size, BlockOrder order = BlockOrder::InSequence) {
    Box->SetBlockOrder(order);
    const auto image = Image(size, static_cast<unsigned>(size));
    Box->SetExpectedImage(image);
    StartUpload(WriteFile("image.bin", image));
    ASSERT_TRUE(Logged("upload " + Path("image.bin") + " to STB start..."));
    EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Stop");
    ASSERT_TRUE(WaitForLog("Upload Complete", 20000));
    EXPECT_EQ(Box->LastUploadOutcome(), UploadOutcome::Accepted);
    EXPECT_EQ(Box->LastUploadSize(), size);
    EXPECT_TRUE(Box->UploadedImage() == image);
    EXPECT_TRUE(Logged("Download 100%"));
    EXPECT_TRUE(Boxes.empty()) << Boxes.front();
  }
};

// The file name is the system's text (UTF-8), not the box's one byte per character.
TEST_F(Upload, ImageNameBeyondAsciiShowsAsSpelled) {
  Connect();
  const std::string name =
      "pr\xC3\xBC"
      "fung.bin";  // prüfung.bin
  const auto image = Image(100, 9);
  Box->SetExpectedImage(image);
  StartUpload(WriteFile(name, image));
  ASSERT_TRUE(WaitForLog("Upload Complete", 20000));
  EXPECT_TRUE(Box->UploadedImage() == image);
  EXPECT_TRUE(Logged("upload " + Path(name) + " to STB start...")) << Log();
  EXPECT_EQ(Control<QPlainTextEdit>(Main(), "Memo_Msg")
                ->toPlainText()
                .count(QString::fromUtf8("pr\u00fcfung.bin")),
            1);
}

TEST_F(Upload, ImagesOfEveryShapeArriveByteForByte) {
  Connect();
  for (std::size_t size : {std::size_t{1}, kBlock, kBlock + 1, 3 * kBlock + 17}) {
    SCOPED_TRACE(size);
    UploadAndCompare(size);
    // Nothing is left to stop once the box has taken the image.
    EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Upload Code");
    Control<QPlainTextEdit>(Main(), "Memo_Msg")->clear();
  }
}

TEST_F(Upload, BlocksAskedForAgainOrBackwardsAreServedFromTheirOffset) {
  Connect();
  UploadAndCompare(3 * kBlock + 5, BlockOrder::WithRepeats);
  Control<QPlainTextEdit>(Main(), "Memo_Msg")->clear();
  UploadAndCompare(3 * kBlock + 5, BlockOrder::Backwards);
  // Progress follows the block served: block 0 comes last.
  const std::string log = Log();
  EXPECT_LT(log.find("Download 100%"), log.find("Download 33%"));
}

TEST_F(Upload, AnEmptyImageHasNoBlockToGive) {
  Connect();
  StartUpload(WriteFile("empty.bin", {}));
  ASSERT_TRUE(WaitForLog("Request data is longer than file size"));
  EXPECT_FALSE(Logged("Download"));
}

TEST_F(Upload, ARefusedImageSaysSoAndTheButtonComesBack) {
  Connect();
  Box->SetAnswer(BoxCommand::Upload, Answer::Bad);
  StartUpload(WriteFile("image.bin", Image(1000)));
  ASSERT_TRUE(WaitForLog("Upload fail"));
  EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Upload Code");
  EXPECT_FALSE(Logged("Upload Complete"));
}

TEST_F(Upload, ABoxThatStopsAskingEndsInTimeoutAndTheNextUploadWorks) {
  Connect();
  Box->SetBlockOrder(BlockOrder::StopHalfway);
  StartUpload(WriteFile("image.bin", Image(4 * kBlock)));
  ASSERT_TRUE(WaitForLog("Download 50%", 20000));
  // While the box pulls blocks only Stop is offered.
  EXPECT_FALSE(Control<QLineEdit>(Main(), "text_Cmd")->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
  QTest::qWait(300);
  ExpireReplyTimeout();
  ASSERT_TRUE(WaitForBox("Timeout!!"));
  EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
  EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Stop");
  Control<QPushButton>(Main(), "btn_UpdateCode")->click();  // Stop: the tool gives the image up
  EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Upload Code");
  Boxes.clear();

  // The box was told to stop; a fresh upload starts afresh.
  Box->SetBlockOrder(BlockOrder::InSequence);
  Box->ClearFaults();
  UploadAndCompare(kBlock + 2);
}

}  // namespace
