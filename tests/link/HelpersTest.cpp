#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/NumberText.h"
#include "link/ReplyTimeout.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/FakeClock.h"
#include "tests/support/RecordingScreen.h"
#include "wire/Crc.h"
#include "wire/HexText.h"

TEST(Crc, KnownVectors) {
  const Bytes check = ToBytes("123456789");
  EXPECT_EQ(CalcCrc(check.data(), 9), 0x0376E6E7u);
  const std::uint8_t loaderVersion[] = {0x05, 0x06};
  EXPECT_EQ(CalcCrc(loaderVersion, 2), 0x8D0CC9BAu);
  EXPECT_EQ(CalcCrc(nullptr, 0), 0xFFFFFFFFu);
}

TEST(Crc, FourBytesAtATimeAgreeWithBitByBitAtEveryLength) {
  const auto bitByBit = [](const std::uint8_t* data, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
      crc ^= static_cast<std::uint32_t>(data[i]) << 24;
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
  };
  Bytes data(4099);
  std::uint32_t seed = 12345;
  for (auto& b : data) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 4096u, 4099u})
    EXPECT_EQ(CalcCrc(data.data(), static_cast<std::uint32_t>(n)), bitByBit(data.data(), n)) << n;
}

TEST(HexText, DecodesInPlaceAndCountsLettersPastF) {
  Bytes text = ToBytes("0506BAC90C8D");
  ASSERT_EQ(HexTextToBytes(text.data(), 12), 0);
  EXPECT_EQ(Bytes(text.begin(), text.begin() + 6), (Bytes{0x05, 0x06, 0xBA, 0xC9, 0x0C, 0x8D}));
  // The characters past the decoded bytes stay as they were.
  EXPECT_EQ(Bytes(text.begin() + 6, text.end()), ToBytes("C90C8D"));

  // G is 16 and Z is 35: 16*16+35 = 291, taken modulo 256.
  Bytes letters = ToBytes("GZ0G");
  ASSERT_EQ(HexTextToBytes(letters.data(), 4), 0);
  EXPECT_EQ(letters[0], 291 % 256);
  EXPECT_EQ(letters[1], 16);
}

TEST(HexText, RefusesSmallLettersAndLeavesTextAlone) {
  for (const char* bad : {"0a", "A-", "1 ", "zz"}) {
    Bytes text = ToBytes(bad);
    const Bytes before = text;
    EXPECT_EQ(HexTextToBytes(text.data(), 2), 1) << bad;
    EXPECT_EQ(text, before) << bad;
  }
  // A bad character at the very end of a block's text still leaves all of it alone.
  Bytes block(8192, '7');
  block.back() = 'x';
  const Bytes before = block;
  EXPECT_EQ(HexTextToBytes(block.data(), 8192), 1);
  EXPECT_EQ(block, before);
}

TEST(HexText, RoundTripsEveryByte) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  Bytes text(512);
  BytesToHexText(all.data(), 256, reinterpret_cast<char*>(text.data()));
  ASSERT_EQ(HexTextToBytes(text.data(), 512), 0);
  EXPECT_EQ(Bytes(text.begin(), text.begin() + 256), all);
}

TEST(NumberText, DecimalStopsAtFirstOtherCharacterAndSaturates) {
  EXPECT_EQ(ReadDecimalText("12abc"), 12);
  EXPECT_EQ(ReadDecimalText("0x1a"), 0);
  EXPECT_EQ(ReadDecimalText("-1"), -1);
  EXPECT_EQ(ReadDecimalText("  +7"), 7);
  EXPECT_EQ(ReadDecimalText(""), 0);
  EXPECT_EQ(ReadDecimalText("-"), 0);
  EXPECT_EQ(ReadDecimalText("2147483647"), INT32_MAX);
  EXPECT_EQ(ReadDecimalText("2147483648"), INT32_MAX);
  EXPECT_EQ(ReadDecimalText("-2147483648"), INT32_MIN);
  EXPECT_EQ(ReadDecimalText("99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(ReadDecimalText("-99999999999999999999999"), INT32_MIN);
}

// Whole texts only, exact values only: the largest magnitude and one past it, in both bases, and
// texts that a multiplication past 64 bits would once have turned into a small number.
TEST(NumberText, ParsesWholeTextsUpToTheLargestMagnitudeAndRefusesTheRest) {
  struct Case {
    const char* Text;
    int Base;
    std::optional<std::int64_t> Value;
  };
  const std::int64_t max = INT64_MAX;
  const std::vector<Case> cases = {
      {"0", 10, 0},
      {"  +45", 10, 45},
      {"-12", 10, -12},
      {"0x1A", 16, 0x1A},
      {"-0Xff", 16, -0xFF},
      {"9223372036854775807", 10, max},
      {"-9223372036854775807", 10, -max},
      {"7fffffffffffffff", 16, max},
      {"0x0007fffffffffffffff", 16, max},
      {"9223372036854775808", 10, std::nullopt},
      {"-9223372036854775808", 10, std::nullopt},
      {"8000000000000000", 16, std::nullopt},
      {"18446744073709551616", 10, std::nullopt},  // 2^64 wrapped to 0
      {"18446744073709551661", 10, std::nullopt},  // ...and this to 45
      {"10000000000000000", 16, std::nullopt},
      {"10000000000001000", 16, std::nullopt},
      {"99999999999999999999999999999999", 10, std::nullopt},
      {"", 10, std::nullopt},
      {"  ", 10, std::nullopt},
      {"-", 10, std::nullopt},
      {"0x", 16, std::nullopt},
      {"0xg", 16, std::nullopt},
      {"12abc", 10, std::nullopt},
      {"12 ", 10, std::nullopt},
      {"1a", 10, std::nullopt},
      {"--1", 10, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(ParseNumberText(c.Text, c.Base), c.Value);
  }
  std::string why;
  EXPECT_FALSE(CheckNumberText({"Start Addr", 16, 0, 0xFFFFFFFF}, "10000000000000000", why));
  EXPECT_EQ(why, "Start Addr: a hexadecimal number from 0 to ffffffff");
}

TEST(ReplyTimeout, CountsAcrossTheHourAndFiresOnlyAfterTheWholeWait) {
  RecordingScreen screen;
  FakeClock clock;
  ReplyTimeout timeout(screen, clock);
  EXPECT_EQ(timeout.SecondsLeft(), 0);
  clock.Set(59, 50);
  timeout.SetReplyTimeout(true, 20);
  EXPECT_FALSE(screen.CmdControls);
  EXPECT_EQ(timeout.SecondsLeft(), 20);

  // The countdown the window shows agrees with the check that fires.
  const struct {
    int minute, second, left;
  } countdown[] = {{59, 53, 17}, {59, 59, 11}, {0, 0, 10}, {0, 9, 1}, {0, 10, 0}};
  for (const auto& c : countdown) {
    clock.Set(c.minute, c.second);
    EXPECT_EQ(timeout.SecondsLeft(), c.left) << c.minute << ":" << c.second;
    timeout.CheckReplyTimeout();
    EXPECT_TRUE(timeout.Armed());
  }
  EXPECT_TRUE(screen.Messages.empty());

  clock.Set(0, 11);
  EXPECT_EQ(timeout.SecondsLeft(), 0);
  timeout.CheckReplyTimeout();
  EXPECT_FALSE(timeout.Armed());
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Timeout!!"});
  EXPECT_TRUE(screen.CmdControls);
  EXPECT_EQ(timeout.SecondsLeft(), 0);

  timeout.CheckReplyTimeout();
  EXPECT_EQ(screen.Messages.size(), 1u);
}

TEST(ReplyTimeout, DisarmWhenNotArmedStillEnablesControls) {
  RecordingScreen screen;
  FakeClock clock;
  ReplyTimeout timeout(screen, clock);
  timeout.SetReplyTimeout(false, 0);
  EXPECT_TRUE(screen.CmdControls);
  EXPECT_EQ(screen.CmdControlSwitches, 1);
  EXPECT_FALSE(timeout.Armed());
}
