#include <cstdio>

#include "tests/e2e/FaultFixture.h"
#include "tests/qt/Controls.h"

namespace {

using boxsim::Fault;
using boxsim::FaultKind;
using boxsim::FaultTarget;

enum class Shows {
  CrcLine,   // "Read flash CRC fail"
  Timeout,   // a reply never arrives whole: "Timeout!!" once the reply time is up
  CutShort,  // a reply stops short for over a second: "Reply frame cut short", then as Timeout
  Nothing    // the reply survived the fault: the read completes
};

struct FlashCase {
  const char* name;
  FaultKind kind;
  int reply;  // 0 early, 2 in the middle, 4 the last of five
  int offset;
  int bit;
  Shows shows;
  boxsim::Bytes garbage;
  int pauseMs = 100;
};

constexpr std::uint32_t kStart = 0x1000;
constexpr std::uint32_t kSize = 0x5000;

void PrintTo(const FlashCase& c, std::ostream* os) {
  *os << c.name;
}

class FlashFault : public Misbehaving, public ::testing::WithParamInterface<FlashCase> {};

TEST_P(FlashFault, FlashdataNeverDiffersFromTheBoxAndTheNextReadWorks) {
  const FlashCase& c = GetParam();
  Connect();
  Read(0x20000, 0x1000);
  const auto previous = FlashRange(0x20000, 0x1000);
  ASSERT_TRUE(WaitForFile(previous));

  Fault fault;
  fault.kind = c.kind;
  fault.target = FaultTarget::FlashReply;
  fault.which = c.reply;
  fault.offset = c.offset;
  fault.bit = c.bit;
  fault.pauseMs = c.pauseMs;
  fault.garbage = c.garbage;
  Box->InjectFault(fault);
  Read(kStart, kSize);
  ASSERT_TRUE(BoxSaw("fault: "));

  // Replies before the fault; the read asks for nothing more once a reply goes wrong.
  const int untouched = c.reply;
  switch (c.shows) {
    case Shows::Nothing:
      EXPECT_TRUE(WaitForFile(FlashRange(kStart, kSize)));
      EXPECT_FALSE(Logged("Reply frame cut short"));
      break;
    case Shows::CrcLine:
      ASSERT_TRUE(WaitForLog("Read flash CRC fail"));
      ASSERT_TRUE(Until([&] { return Count("Read flash CRC OK") == 1 + untouched; }));
      EXPECT_TRUE(Logged("Read flash stopped: flashdata.bin left unchanged"));
      // The failure has been told: no "Timeout!!" is to follow it.
      EXPECT_FALSE(Protocol().AwaitingReply());
      QTest::qWait(100);
      EXPECT_TRUE(ReadFile("flashdata.bin") == previous);
      break;
    case Shows::CutShort:
      ASSERT_TRUE(WaitForLog("Reply frame cut short", 5000));
      [[fallthrough]];
    case Shows::Timeout:
      ASSERT_TRUE(Until([&] { return Count("Read flash CRC OK") == 1 + untouched; }));
      QTest::qWait(250);
      EXPECT_TRUE(ReadFile("flashdata.bin") == previous);
      EXPECT_TRUE(Boxes.empty());
      ExpireReplyTimeout();
      EXPECT_TRUE(WaitForBox("Timeout!!"));
      EXPECT_TRUE(ReadFile("flashdata.bin") == previous);
      break;
  }

  Box->ClearFaults();
  Read(0x8000, 0x3000);
  EXPECT_TRUE(WaitForFile(FlashRange(0x8000, 0x3000)));
  // A read that completes ends its wait for replies.
  EXPECT_TRUE(Until([&] { return !Protocol().AwaitingReply(); }));
  EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled());
}

const boxsim::Bytes kStrayFrameStart = {0x41, 0xBB, 0x42};

INSTANTIATE_TEST_SUITE_P(
    EveryFaultAtSeveralReplies, FlashFault,
    ::testing::Values(
        FlashCase{"BadCrcFirst", FaultKind::BadCrc, 0, -1, 0, Shows::CrcLine, {}},
        FlashCase{"BadCrcLast", FaultKind::BadCrc, 4, -1, 0, Shows::CrcLine, {}},
        FlashCase{"FlippedDataBitFirst", FaultKind::FlipBit, 0, 4, 1, Shows::CrcLine, {}},
        FlashCase{"FlippedDataBitMiddle", FaultKind::FlipBit, 2, -1, 0, Shows::CrcLine, {}},
        FlashCase{"FlippedCrcBitLast", FaultKind::FlipBit, 4, 8200, 2, Shows::CrcLine, {}},
        FlashCase{"FlippedReplyWordMiddle", FaultKind::FlipBit, 2, 1, 0, Shows::Timeout, {}},
        FlashCase{"DroppedByteFirst", FaultKind::DropByte, 0, 9, 0, Shows::CutShort, {}},
        FlashCase{"DroppedByteMiddle", FaultKind::DropByte, 2, -1, 0, Shows::CutShort, {}},
        FlashCase{"DroppedByteLast", FaultKind::DropByte, 4, 8203, 0, Shows::CutShort, {}},
        FlashCase{"PauseInsideFirst", FaultKind::PauseInside, 0, 5, 0, Shows::Nothing, {}},
        FlashCase{"PauseInsideMiddle", FaultKind::PauseInside, 2, -1, 0, Shows::Nothing, {}},
        FlashCase{"PauseInsideLast", FaultKind::PauseInside, 4, 8203, 0, Shows::Nothing, {}},
        FlashCase{
            "LongPauseInsideMiddle", FaultKind::PauseInside, 2, -1, 0, Shows::CutShort, {}, 1500},
        FlashCase{"SilenceFirst", FaultKind::Silence, 0, -1, 0, Shows::Timeout, {}},
        FlashCase{"SilenceMiddle", FaultKind::Silence, 2, -1, 0, Shows::Timeout, {}},
        FlashCase{"GarbageFirst", FaultKind::GarbageBefore, 0, -1, 0, Shows::Nothing, {}},
        FlashCase{"GarbageLast", FaultKind::GarbageBefore, 4, -1, 0, Shows::Nothing, {}},
        // The stray frame start takes the reply's first bytes; the receiver finds the reply
        // among them again.
        FlashCase{"GarbageWithAFrameStartMiddle", FaultKind::GarbageBefore, 2, -1, 0,
                  Shows::Nothing, kStrayFrameStart}),
    [](const ::testing::TestParamInfo<FlashCase>& info) { return std::string(info.param.name); });

// A reply that comes twice must not be taken for the answer to the next request, which would
// shift the blocks after it by one and leave a complete-looking flashdata.bin with the wrong
// bytes.
TEST_F(Misbehaving, ADuplicatedFlashReplyNeverEndsUpInFlashdata) {
  Connect();
  for (int reply : {4, 0, 2}) {
    SCOPED_TRACE(reply);
    // Without the file from the round before, the wait below ends only once this read has.
    std::remove(Path("flashdata.bin").c_str());
    Read(0x20000, 0x1000);
    const auto previous = FlashRange(0x20000, 0x1000);
    ASSERT_TRUE(WaitForFile(previous));
    const int before = Count("Read flash CRC");
    const int stopped = Count("Read flash stopped: flashdata.bin left unchanged");
    Box->InjectFault(MakeFault(FaultKind::Duplicate, FaultTarget::FlashReply, reply));
    Read(kStart, kSize);
    ASSERT_TRUE(BoxSaw("fault: duplicate"));
    // The replies up to the doubled one and the copy; nothing is asked after the copy.
    ASSERT_TRUE(Until([&] { return Count("Read flash CRC") == before + reply + 2; }));
    QTest::qWait(100);
    EXPECT_EQ(Count("Read flash CRC"), before + reply + 2);
    const auto file = ReadFile("flashdata.bin");
    EXPECT_TRUE(file == previous || file == FlashRange(kStart, kSize));
    if (reply != 4) {
      EXPECT_TRUE(file == previous);
      EXPECT_EQ(Count("Read flash stopped: flashdata.bin left unchanged"), stopped + 1);
    }
    EXPECT_FALSE(Protocol().AwaitingReply());
    Box->ClearLogs();
  }
  Read(0x8000, 0x3000);
  EXPECT_TRUE(WaitForFile(FlashRange(0x8000, 0x3000)));
  EXPECT_TRUE(Boxes.empty());
}

}  // namespace
