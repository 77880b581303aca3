#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/FaultFixture.h"
#include "tests/qt/Controls.h"

namespace {

using boxsim::FaultKind;
using boxsim::FaultTarget;
using boxsim::UploadOutcome;

using BadFile = Misbehaving;

constexpr std::uint32_t kUploadWord = 0xAA0F322B;

bool BoxGotAnUploadCommand(const boxsim::BoxSim& box) {
  for (const auto& m : box.Messages())
    if (m.kind == boxsim::MessageKind::Command && m.word == kUploadWord) return true;
  return false;
}

TEST_F(BadFile, AnImageThatCannotBeReadIsRefusedBeforeAnythingIsSent) {
  Connect();
  ASSERT_EQ(mkdir(Path("x.bin").c_str(), 0755), 0);
  StartUpload(Path("x.bin"));
  ASSERT_EQ(Boxes, std::vector<std::string>{"open file error"});
  EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Upload Code");
  EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());

  StartUpload(Path("missing.bin"));
  EXPECT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes.back(), "open file error");
  QTest::qWait(100);
  EXPECT_FALSE(BoxGotAnUploadCommand(*Box));

  Boxes.clear();
  UploadAndCompare(Image(5000, 2), "good.bin");
}

TEST_F(BadFile, AnImageRemovedAfterTheStartIsSentAsItWas) {
  Connect();
  const auto image = Image(2 * kBlock + 1, 9);
  Box->SetExpectedImage(image);
  StartUpload(WriteFile("gone.bin", image));
  ASSERT_EQ(unlink(Path("gone.bin").c_str()), 0);
  ASSERT_TRUE(WaitForLog("Upload Complete", 20000));
  EXPECT_TRUE(Box->UploadedImage() == image);
}

TEST_F(BadFile, AnImageThatShrinksDuringTheUploadSendsNothingWrong) {
  Connect();
  Box->SetBlockWait(60000, 1);
  const auto image = Image(3 * kBlock + 17, 11);
  Box->SetExpectedImage(image);
  // The request for block 2 stays away until the file has shrunk.
  Box->InjectFault(MakeFault(FaultKind::Silence, FaultTarget::BlockRequest, 2));
  StartUpload(WriteFile("image.bin", image));
  ASSERT_TRUE(BoxSaw("fault: silence", 20000));
  ASSERT_TRUE(WaitForLog("Download 66%"));
  ASSERT_EQ(truncate(Path("image.bin").c_str(), kBlock + 5), 0);
  Box->ClearFaults();
  QTest::qWait(100);
  const std::size_t sent = Box->Received().size();

  Box->ExpireBlockWait();
  ASSERT_TRUE(WaitForBox("Request data length is not correspond to file point"));
  QTest::qWait(200);
  EXPECT_EQ(Box->Received().size(), sent);
  EXPECT_FALSE(Logged("Download 100%"));

  // The box gives up on the block it never got; the tool says so and lets go of the file.
  Box->ExpireBlockWait();
  ASSERT_TRUE(WaitForLog("Upload fail"));
  EXPECT_EQ(Box->LastUploadOutcome(), UploadOutcome::Abandoned);
  ExpectEveryBlockTheBoxCheckedWasRight();
  ExpireReplyTimeout();
  ASSERT_TRUE(WaitForBox("Timeout!!"));

  Boxes.clear();
  UploadAndCompare(Image(kBlock + 1, 12), "next.bin");
}

// Every block arrived, and flashdata.bin will not take them: the read is kept under a name the
// log gives, never deleted, and no part file stays behind.
TEST_F(BadFile, AFlashdataThatCannotBeReplacedIsReportedAndTheReadKept) {
  Connect();
  ASSERT_EQ(mkdir(Path("flashdata.bin").c_str(), 0755), 0);
  Read(0, 0x2000);
  ASSERT_TRUE(Until([&] { return !Boxes.empty(); }, 5000));
  EXPECT_EQ(Boxes.back().rfind("Can't write ", 0), 0u) << Boxes.back();
  EXPECT_EQ(Boxes.back().substr(Boxes.back().size() - 14), "/flashdata.bin");
  ASSERT_TRUE(WaitForLog("could not be written (")) << Log();
  EXPECT_TRUE(Logged("): the data is kept in ") && Logged("/flashdata-kept-1.bin")) << Log();
  EXPECT_EQ(ReadFile("flashdata-kept-1.bin"), FlashRange(0, 0x2000));
  struct stat info {};
  EXPECT_NE(stat(Path("flashdata.bin.part").c_str(), &info), 0);

  ASSERT_EQ(rmdir(Path("flashdata.bin").c_str()), 0);
  Read(0x3000, 0x2000);
  EXPECT_TRUE(WaitForFile(FlashRange(0x3000, 0x2000)));
}

}  // namespace
