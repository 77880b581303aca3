#include <gtest/gtest.h>

#include "boxsim/BoxFrames.h"
#include "wire/Bytes.h"

using boxsim::Bytes;

namespace {

TEST(BoxFrames, ReplyWordsFollowTheirRule) {
  // As the words stand on the line.
  EXPECT_EQ(boxsim::ReplyWord(0x10), 0xBB102196u);
  EXPECT_EQ(boxsim::ReplyWord(0x24), 0xBB2421BEu);
  EXPECT_EQ(boxsim::ReplyWord(0x29), 0xBB2921C8u);
  EXPECT_EQ(boxsim::StatusFrame(Reply::DownloadRequest), (Bytes{0xBB, 0x22, 0x21, 0xBA}));
}

TEST(BoxFrames, PayloadFrameCarriesItsCrcLeastSignificantByteFirst) {
  const Bytes frame = boxsim::PayloadFrame(Reply::LoaderVersion, {5, 6});
  const std::string text(frame.begin() + 4, frame.end());
  EXPECT_EQ(text, "0506BAC90C8D");
}

TEST(BoxFrames, RecordsAreSealedAndCarryTheirDeliveryType) {
  EXPECT_EQ(boxsim::SatelliteRecord()[88], 1);
  EXPECT_EQ(boxsim::CableRecord()[88], 2);
  EXPECT_EQ(boxsim::TerrestrialRecord()[88], 3);
  EXPECT_EQ(boxsim::OddRecord(9)[88], 9);
  for (const boxsim::Record& r :
       {boxsim::SatelliteRecord(), boxsim::CableRecord(), boxsim::TerrestrialRecord(),
        boxsim::OddRecord(0), boxsim::DefaultRecord()}) {
    EXPECT_TRUE(boxsim::RecordSealed(r));
    boxsim::Record broken = r;
    broken[50] ^= 1;
    EXPECT_FALSE(boxsim::RecordSealed(broken));
  }
  EXPECT_NE(boxsim::DefaultRecord(), boxsim::SatelliteRecord());
}

TEST(BoxFrames, PatternFlashDoesNotRepeatEvery256Bytes) {
  const Bytes flash = boxsim::PatternFlash(0x3000);
  EXPECT_NE(Bytes(flash.begin(), flash.begin() + 256),
            Bytes(flash.begin() + 256, flash.begin() + 512));
  EXPECT_NE(Bytes(flash.begin() + 0x1000, flash.begin() + 0x1100),
            Bytes(flash.begin() + 0x2000, flash.begin() + 0x2100));
}

TEST(BoxFrames, FaultsChangeTheFrameAsNamed) {
  const Bytes frame = boxsim::PayloadFrame(Reply::LoaderVersion, {5, 6});
  boxsim::Fault fault;

  fault.kind = boxsim::FaultKind::BadCrc;
  auto out = boxsim::ApplyFault(frame, fault);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].bytes.size(), frame.size());
  EXPECT_EQ(Bytes(out[0].bytes.begin(), out[0].bytes.end() - 1),
            Bytes(frame.begin(), frame.end() - 1));
  EXPECT_NE(out[0].bytes.back(), frame.back());
  EXPECT_TRUE(std::isxdigit(out[0].bytes.back()));

  fault.kind = boxsim::FaultKind::DropByte;
  fault.offset = 0;
  out = boxsim::ApplyFault(frame, fault);
  EXPECT_EQ(out[0].bytes, Bytes(frame.begin() + 1, frame.end()));

  fault.kind = boxsim::FaultKind::FlipBit;
  fault.offset = 100;  // past the end: the last byte
  fault.bit = 7;
  out = boxsim::ApplyFault(frame, fault);
  EXPECT_EQ(out[0].bytes.back(), frame.back() ^ 0x80);

  fault.kind = boxsim::FaultKind::PauseInside;
  fault.offset = -1;
  fault.pauseMs = 30;
  out = boxsim::ApplyFault(frame, fault);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].pauseAfterMs, 30);
  EXPECT_EQ(out[0].bytes.size(), frame.size() / 2);
  Bytes joined = out[0].bytes;
  joined.insert(joined.end(), out[1].bytes.begin(), out[1].bytes.end());
  EXPECT_EQ(joined, frame);

  fault.kind = boxsim::FaultKind::GarbageBefore;
  out = boxsim::ApplyFault(frame, fault);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes.size(), 16u);
  for (std::uint8_t b : out[0].bytes) {
    EXPECT_NE(b, 0xBB);
    EXPECT_NE(b, 0x0D);
  }
  EXPECT_EQ(out[1].bytes, frame);

  fault.kind = boxsim::FaultKind::Silence;
  EXPECT_TRUE(boxsim::ApplyFault(frame, fault).empty());
}

TEST(BoxFrames, BadCrcOnABareWordSpoilsItsCheckByte) {
  boxsim::Fault fault;
  const auto out = boxsim::ApplyFault(boxsim::StatusFrame(Reply::TuneOk), fault);
  EXPECT_EQ(out[0].bytes, (Bytes{0xBB, 0x1A, 0x21, 0xAB}));
}

}  // namespace
