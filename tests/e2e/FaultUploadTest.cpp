#include "tests/e2e/FaultFixture.h"
#include "tests/qt/Controls.h"

namespace {

using boxsim::Fault;
using boxsim::FaultKind;
using boxsim::FaultTarget;
using boxsim::UploadOutcome;

// What the technician gets to see when the box's request for a block is spoiled.
enum class Shows {
  CrcLine,   // the request fails its check: "Download Request CRC fail"
  Timeout,   // the request never arrives whole: "Timeout!!" once the reply time is up
  CutShort,  // the request stops short for over a second: "Reply frame cut short", then as Timeout
  Nothing    // the request survived the fault: the upload just completes
};

struct UploadCase {
  const char* name;
  FaultKind kind;
  int block;  // 0 early, 2 in the middle, 3 the short last block
  int offset;
  int bit;
  Shows shows;
  boxsim::Bytes garbage;
  int pauseMs = 100;
};

// Three full blocks and a short fourth.
constexpr std::size_t kImageSize = 3 * 0x1FFFC + 17;

void PrintTo(const UploadCase& c, std::ostream* os) {
  *os << c.name;
}

class UploadFault : public Misbehaving, public ::testing::WithParamInterface<UploadCase> {};

TEST_P(UploadFault, NoWrongByteNoHangAndTheNextUploadWorks) {
  const UploadCase& c = GetParam();
  Connect();
  // The box waits as long as the test likes and asks once more when told to.
  Box->SetBlockWait(60000, 1);
  const auto image = Image(kImageSize, 7);
  Box->SetExpectedImage(image);
  Fault fault;
  fault.kind = c.kind;
  fault.target = FaultTarget::BlockRequest;
  fault.which = c.block;
  fault.offset = c.offset;
  fault.bit = c.bit;
  fault.pauseMs = c.pauseMs;
  fault.garbage = c.garbage;
  Box->InjectFault(fault);
  StartUpload(WriteFile("image.bin", image));
  ASSERT_TRUE(BoxSaw("fault: "));

  switch (c.shows) {
    case Shows::CrcLine:
      ASSERT_TRUE(WaitForLog("Download Request CRC fail"));
      Box->ExpireBlockWait();
      ASSERT_TRUE(WaitForLog("Upload Complete", 20000));
      break;
    case Shows::CutShort:
      ASSERT_TRUE(WaitForLog("Reply frame cut short", 5000));
      [[fallthrough]];
    case Shows::Timeout:
      // Past the pause and the receiver's silence: the request is gone for good.
      QTest::qWait(250);
      EXPECT_FALSE(Logged("Upload Complete"));
      EXPECT_FALSE(Control<QLineEdit>(Main(), "text_Cmd")->isEnabled());
      EXPECT_EQ(Control<QPushButton>(Main(), "btn_UpdateCode")->text(), "Stop");
      EXPECT_TRUE(Boxes.empty());
      ExpireReplyTimeout();
      ASSERT_TRUE(WaitForBox("Timeout!!"));
      EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
      // A box that asks again still gets the right block.
      Box->ClearFaults();
      Box->ExpireBlockWait();
      ASSERT_TRUE(WaitForLog("Upload Complete", 20000));
      break;
    case Shows::Nothing:
      ASSERT_TRUE(WaitForLog("Upload Complete", 20000));
      EXPECT_FALSE(Logged("Reply frame cut short"));
      break;
  }

  EXPECT_EQ(Box->LastUploadOutcome(), UploadOutcome::Accepted);
  EXPECT_TRUE(Box->UploadedImage() == image);
  EXPECT_TRUE(Logged("Download 100%"));
  // A request that comes twice is answered once: the box would take a second answer for the
  // next block.
  if (c.kind == FaultKind::Duplicate) {
    EXPECT_TRUE(Logged("ignored: its block is still being sent"));
  }
  ExpectEveryBlockTheBoxCheckedWasRight();

  Box->ClearLogs();
  UploadAndCompare(Image(kBlock + 9, 8), "next.bin");
}

const boxsim::Bytes kStrayFrameStart = {0x41, 0xBB, 0x42};

INSTANTIATE_TEST_SUITE_P(
    EveryFaultAtSeveralBlocks, UploadFault,
    ::testing::Values(
        UploadCase{"BadCrcFirst", FaultKind::BadCrc, 0, -1, 0, Shows::CrcLine, {}},
        UploadCase{"BadCrcMiddle", FaultKind::BadCrc, 2, -1, 0, Shows::CrcLine, {}},
        UploadCase{"BadCrcLast", FaultKind::BadCrc, 3, -1, 0, Shows::CrcLine, {}},
        UploadCase{"FlippedPayloadBitFirst", FaultKind::FlipBit, 0, 6, 2, Shows::CrcLine, {}},
        UploadCase{"FlippedCrcBitLast", FaultKind::FlipBit, 3, 12, 0, Shows::CrcLine, {}},
        UploadCase{"FlippedFrameStartMiddle", FaultKind::FlipBit, 2, 0, 0, Shows::Timeout, {}},
        UploadCase{"FlippedReplyWordLast", FaultKind::FlipBit, 3, 3, 4, Shows::Timeout, {}},
        UploadCase{"DroppedByteFirst", FaultKind::DropByte, 0, -1, 0, Shows::CutShort, {}},
        UploadCase{"DroppedByteMiddle", FaultKind::DropByte, 2, 15, 0, Shows::CutShort, {}},
        UploadCase{"DroppedByteLast", FaultKind::DropByte, 3, 2, 0, Shows::Timeout, {}},
        UploadCase{"PauseInsideFirst", FaultKind::PauseInside, 0, -1, 0, Shows::Nothing, {}},
        UploadCase{"PauseInsideMiddle", FaultKind::PauseInside, 2, 4, 0, Shows::Nothing, {}},
        UploadCase{"PauseInsideLast", FaultKind::PauseInside, 3, 15, 0, Shows::Nothing, {}},
        UploadCase{
            "LongPauseInsideMiddle", FaultKind::PauseInside, 2, 8, 0, Shows::CutShort, {}, 1500},
        UploadCase{"SilenceFirst", FaultKind::Silence, 0, -1, 0, Shows::Timeout, {}},
        UploadCase{"SilenceLast", FaultKind::Silence, 3, -1, 0, Shows::Timeout, {}},
        UploadCase{"GarbageFirst", FaultKind::GarbageBefore, 0, -1, 0, Shows::Nothing, {}},
        UploadCase{"GarbageLast", FaultKind::GarbageBefore, 3, -1, 0, Shows::Nothing, {}},
        // The stray frame start takes the request's first bytes; the receiver finds the
        // request among them again.
        UploadCase{"GarbageWithAFrameStartMiddle", FaultKind::GarbageBefore, 2, -1, 0,
                   Shows::Nothing, kStrayFrameStart},
        UploadCase{"DuplicateFirst", FaultKind::Duplicate, 0, -1, 0, Shows::Nothing, {}},
        UploadCase{"DuplicateMiddle", FaultKind::Duplicate, 2, -1, 0, Shows::Nothing, {}},
        UploadCase{"DuplicateLast", FaultKind::Duplicate, 3, -1, 0, Shows::Nothing, {}}),
    [](const ::testing::TestParamInfo<UploadCase>& info) { return std::string(info.param.name); });

}  // namespace
