#include <gtest/gtest.h>

#include <random>

#include "link/UartRxThread.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/RecordingScreen.h"

namespace {

Bytes TextItem(const std::string& text) {
  Bytes item = ToBytes(text);
  item.push_back(0);
  return item;
}

class Receiver : public ::testing::Test {
 protected:
  Receiver() { Uart.UartConnected = true; }

  void Feed(const Bytes& bytes, bool passEnded = true) {
    Rx.RxPass(bytes.data(), bytes.size(), passEnded);
  }

  std::vector<Bytes> Replies() const {
    std::vector<Bytes> out;
    for (const SinkItem& item : Sink.Items)
      if (item.Kind == ItemKind::Reply) out.push_back(item.Data);
    return out;
  }
  std::vector<Bytes> Texts() const {
    std::vector<Bytes> out;
    for (const SinkItem& item : Sink.Items)
      if (item.Kind == ItemKind::Text) out.push_back(item.Data);
    return out;
  }

  RecordingScreen Screen;
  UartState Uart;
  RecordingSink Sink;
  FakeFlash Flash;
  UartRxThread Rx{Uart, Screen, Sink, Flash};
};

TEST_F(Receiver, TextLinesKeepTheirCarriageReturnAndAZero) {
  Feed(ToBytes("OK\r"));
  Feed(ToBytes("\r"));
  EXPECT_EQ(Texts(), (std::vector<Bytes>{{'O', 'K', 0x0D, 0}, {0x0D, 0}}));
}

TEST_F(Receiver, PartialLineCarriesOverToTheNextPass) {
  Feed(ToBytes("Boot"));
  EXPECT_TRUE(Sink.Items.empty());
  Feed(ToBytes("er ready\r"));
  EXPECT_EQ(Texts(), std::vector<Bytes>{TextItem("Booter ready\r")});
}

TEST_F(Receiver, LongLineIsCutEvery8192Characters) {
  Feed(Bytes(UartRxThread::LineMax + 1, 'x') + ToBytes("\r"));
  ASSERT_EQ(Texts().size(), 2u);
  EXPECT_EQ(Texts()[0], TextItem(std::string(UartRxThread::LineMax, 'x')));
  EXPECT_EQ(Texts()[1], TextItem("x\r"));
}

TEST_F(Receiver, StatusWordGoesToTheHandlerAndLeavesTheLine) {
  Feed(ToBytes("ab") + WireWord(0xBB1A21AA) + ToBytes("hi\r"));
  EXPECT_EQ(Sink.Words, std::vector<std::uint32_t>{0xBB1A21AA});
  EXPECT_EQ(Texts(), std::vector<Bytes>{TextItem("abhi\r")});
  EXPECT_TRUE(Replies().empty());
}

// Words the receiver acted on leave no trace in the text; anything else stays byte for byte.
TEST_F(Receiver, OnlyWordsItActedOnLeaveTheText) {
  struct Case {
    Bytes In;
    Bytes Text;
  };
  const Bytes ready = WireWord(0xBB2421BE);
  const Bytes unknown = WireWord(0xBB2F21CA);
  const Case cases[] = {
      // The loader's stop-sync word right before its next console line.
      {ready + ToBytes("Unknown command\r"), TextItem("Unknown command\r")},
      {ToBytes("ab") + WireWord(0xBB14219E) + ToBytes("cd\r"), TextItem("abcd\r")},
      {ToBytes("ab") + ready + ready + ToBytes("\r"), TextItem("ab\r")},
      {ToBytes("ab") + unknown + ToBytes("\r"), ToBytes("ab") + unknown + TextItem("\r")},
      {ToBytes("x") + Bytes{0xBB, 0x24, 0x21} + ToBytes("\r"),
       ToBytes("x") + Bytes{0xBB, 0x24, 0x21} + TextItem("\r")},
  };
  for (const Case& c : cases) {
    Sink.Items.clear();
    Feed(c.In);
    EXPECT_EQ(Texts(), std::vector<Bytes>{c.Text}) << ::testing::PrintToString(c.In);
    // The same bytes one at a time, as pieces of one pass.
    Sink.Items.clear();
    for (std::uint8_t b : c.In) Feed({b}, false);
    Feed({}, true);
    EXPECT_EQ(Texts(), std::vector<Bytes>{c.Text}) << ::testing::PrintToString(c.In);
  }
}

// A line feed right after a carriage return belongs to the line the carriage return ended.
TEST_F(Receiver, LineFeedAfterCarriageReturnStartsNoLine) {
  struct Case {
    std::vector<Bytes> Passes;
    std::vector<Bytes> Texts;
  };
  const Case cases[] = {
      {{ToBytes("A\r\nB\r\n")}, {TextItem("A\r"), TextItem("B\r")}},
      {{ToBytes("\r\n\r\n")}, {TextItem("\r"), TextItem("\r")}},
      {{ToBytes("A\r"), ToBytes("\nB\r")}, {TextItem("A\r"), TextItem("B\r")}},
      {{ToBytes("A\r") + WireWord(0xBB2421BE) + ToBytes("\nB\r")},
       {TextItem("A\r"), TextItem("B\r")}},
      // Line feeds anywhere else are the box's text.
      {{ToBytes("A\r\n\nB\n\r")}, {TextItem("A\r"), TextItem("\nB\n\r")}},
      {{ToBytes("A\r"), ToBytes("x"), ToBytes("\nB\r")}, {TextItem("A\r"), TextItem("x\nB\r")}},
  };
  for (const Case& c : cases) {
    Sink.Items.clear();
    Rx.RxLineLen = 0;
    for (const Bytes& pass : c.Passes) Feed(pass);
    Feed(ToBytes("C\r"));
    std::vector<Bytes> expected = c.Texts;
    expected.push_back(TextItem("C\r"));
    EXPECT_EQ(Texts(), expected) << ::testing::PrintToString(c.Passes);
  }
}

TEST_F(Receiver, KnowsEveryWordOfItsTable) {
  const std::vector<int> statusKs = {0x10, 0x11, 0x12, 0x13, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B,
                                     0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x24, 0x27, 0x29};
  std::vector<std::uint32_t> expected;
  for (int k : statusKs) {
    const std::uint32_t word = 0xBB002100u | (std::uint32_t(k) << 16) | (0x96 + 2 * (k - 0x10));
    expected.push_back(word);
    Feed(WireWord(word));
  }
  EXPECT_EQ(Sink.Words, expected);

  // A word of the right shape outside the table, or with a wrong last byte, is text.
  Feed(WireWord(0xBB2F21CA) + WireWord(0xBB0F2194) + WireWord(0xBB102197));
  EXPECT_EQ(Sink.Words.size(), statusKs.size());
  EXPECT_TRUE(Replies().empty());
}

TEST_F(Receiver, UploadResultWordsAreQueuedAsReplies) {
  Feed(WireWord(0xBB14219E) + WireWord(0xBB1521A0));
  EXPECT_EQ(Replies(), (std::vector<Bytes>{WireWord(0xBB14219E), WireWord(0xBB1521A0)}));
  EXPECT_TRUE(Sink.Words.empty());
}

TEST_F(Receiver, UnknownWordBecomesText) {
  Feed(WireWord(0xBB2F21CA) + ToBytes("\r"));
  EXPECT_TRUE(Sink.Words.empty());
  EXPECT_EQ(Sink.Items.size(), 1u);
  EXPECT_EQ(Texts(), (std::vector<Bytes>{WireWord(0xBB2F21CA) + Bytes{0x0D, 0}}));
}

TEST_F(Receiver, LoaderVersionFrameDecodesAndChecksItsCrc) {
  const Bytes frame = WireWord(0xBB2621C2) + ToBytes("0506BAC90C8D");
  EXPECT_EQ(PayloadFrame(0xBB2621C2, Bytes{0x05, 0x06}), frame);
  Feed(ToBytes("junk") + frame + ToBytes("\r"));
  EXPECT_EQ(Replies(), (std::vector<Bytes>{WireWord(0xBB2621C2) + Bytes{0x05, 0x06}}));
  EXPECT_TRUE(Screen.Log.empty());
}

// The partial line before a payload frame is dropped, and none of the frame's characters lead
// the next line, whatever the frame carried and whether its check held.
TEST_F(Receiver, TheLineAfterAPayloadFrameReadsAsTheBoxSentIt) {
  Flash.BlockLen = 16;
  Bytes badVersion = PayloadFrame(0xBB2621C2, {0x05, 0x06});
  badVersion.back() ^= 1;
  const Bytes frames[] = {PayloadFrame(0xBB2621C2, {0x05, 0x06}),
                          PayloadFrame(0xBB2221BA, {0x03, 0x00}),
                          PayloadFrame(0xBB2321BC, Bytes(96, 0x1A)),
                          PayloadFrame(0xBB2821C6, Bytes(16, 0x42)), badVersion};
  for (const Bytes& frame : frames) {
    Sink.Items.clear();
    for (bool split : {false, true}) {
      if (split) {
        Feed(ToBytes("junk") + frame, false);
        Feed(ToBytes("Unknown command\r\n"));
      } else {
        Feed(ToBytes("junk") + frame + ToBytes("Unknown command\r\n"));
      }
    }
    EXPECT_EQ(Texts(), std::vector<Bytes>(2, TextItem("Unknown command\r")));
  }
}

TEST_F(Receiver, BadCrcOrSmallLettersGiveTheFailureLineAndNoItem) {
  Feed(WireWord(0xBB2621C2) + ToBytes("0506BAC90C8E"));
  Feed(WireWord(0xBB2621C2) + ToBytes("0506bac90c8d"));
  EXPECT_TRUE(Replies().empty());
  EXPECT_EQ(Screen.Log,
            (std::vector<std::string>{"Get loader version fail", "Get loader version fail"}));
}

TEST_F(Receiver, DownloadRequestAndInfoFrames) {
  Bytes record(96);
  for (int i = 0; i < 96; ++i) record[i] = static_cast<std::uint8_t>(200 - i);
  Feed(PayloadFrame(0xBB2221BA, {0x03, 0x00}) + PayloadFrame(0xBB2321BC, record) +
       PayloadFrame(0xBB2521C0, record));
  ASSERT_EQ(Replies().size(), 3u);
  EXPECT_EQ(Replies()[0], (WireWord(0xBB2221BA) + Bytes{0x03, 0x00}));
  Bytes crc(4);
  PutLe32(crc.data(), CalcCrc(record.data(), 96));
  EXPECT_EQ(Replies()[1], WireWord(0xBB2321BC) + record + crc);
  EXPECT_EQ(Replies()[2], WireWord(0xBB2521C0) + record + crc);

  Bytes broken = PayloadFrame(0xBB2221BA, {0x03, 0x00});
  broken[4] = '1';
  Bytes brokenInfo = PayloadFrame(0xBB2321BC, record);
  brokenInfo[10] = brokenInfo[10] == '0' ? '1' : '0';
  Feed(broken + brokenInfo);
  EXPECT_EQ(Screen.Log,
            (std::vector<std::string>{"Download Request CRC fail", "Download Info CRC fail"}));
  EXPECT_EQ(Replies().size(), 3u);
}

TEST_F(Receiver, FlashFrameLengthFollowsTheExpectedBlock) {
  // Before any flash read N is 0: the frame is the word and the CRC of nothing.
  Feed(WireWord(0xBB2821C6) + ToBytes("FFFFFFFF"));
  EXPECT_EQ(Replies(), std::vector<Bytes>{WireWord(0xBB2821C6)});
  EXPECT_EQ(Screen.Log, std::vector<std::string>{"Read flash CRC OK"});
  EXPECT_EQ(Flash.BlocksReceived, 1);

  Flash.BlockLen = 4096;
  Bytes block(4096);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  const Bytes frame = PayloadFrame(0xBB2821C6, block);
  ASSERT_EQ(frame.size(), static_cast<std::size_t>(UartRxThread::FrameMax));
  Feed(frame);
  ASSERT_EQ(Replies().size(), 2u);
  EXPECT_EQ(Replies()[1], WireWord(0xBB2821C6) + block);
  EXPECT_EQ(Flash.CrcFailures, 0);

  Bytes bad = frame;
  bad[100] = bad[100] == 'A' ? 'B' : 'A';
  Feed(bad);
  EXPECT_EQ(Flash.CrcFailures, 1);
  EXPECT_EQ(Screen.LastLog(), "Read flash CRC fail");
  EXPECT_EQ(Flash.BlocksReceived, 2);
  EXPECT_EQ(Replies().size(), 2u);
}

TEST_F(Receiver, FlashFrameThatCannotFitIsNeverCollected) {
  Flash.BlockLen = 5000;
  Bytes block(5000, 0x11);
  Feed(PayloadFrame(0xBB2821C6, block) + ToBytes("\r"));
  EXPECT_TRUE(Replies().empty());
  EXPECT_EQ(Flash.CrcFailures, 0);
  ASSERT_FALSE(Texts().empty());
  EXPECT_EQ(Texts()[0].size(), static_cast<std::size_t>(UartRxThread::LineMax + 1));

  Flash.BlockLen = 0xFFFFFFFFu;
  Feed(WireWord(0xBB2821C6) + ToBytes("FFFFFFFF"));
  EXPECT_TRUE(Replies().empty());
}

TEST_F(Receiver, FrameSplitByAPassEndIsDroppedAndLogged) {
  const Bytes frame = PayloadFrame(0xBB2621C2, {0x01, 0x0A});
  Feed(Bytes(frame.begin(), frame.begin() + 9), true);
  EXPECT_FALSE(Rx.FrameInProgress());
  EXPECT_EQ(Screen.Log, std::vector<std::string>{"Reply frame cut short"});
  Feed(Bytes(frame.begin() + 9, frame.end()) + ToBytes("\r"), true);
  EXPECT_TRUE(Replies().empty());
  EXPECT_EQ(Screen.Log.size(), 1u);
  // What followed the pause is text; nothing of the frame before it is.
  EXPECT_EQ(Texts(), (std::vector<Bytes>{Bytes(frame.begin() + 9, frame.end()) + Bytes{0x0D, 0}}));

  // Before its word is complete a frame start is only text: no loss to tell.
  Feed(Bytes{0xBB, 0x26, 0x21}, true);
  EXPECT_EQ(Screen.Log.size(), 1u);
}

// Noise that begins like a frame must not swallow the real frame right behind it: whatever
// made the receiver give the frame up (an unknown word, a failed check, the pass ending), it
// looks for the next frame start among the bytes the frame took.
TEST_F(Receiver, FrameStartInsideAFrameGivenUpIsFoundAgain) {
  const Bytes request = PayloadFrame(0xBB2221BA, {0x05, 0x00});
  const Bytes served = WireWord(0xBB2221BA) + Bytes{0x05, 0x00};
  const std::uint32_t ready = 0xBB2421BE;
  struct Case {
    const char* What;
    Bytes In;
    std::vector<Bytes> Replies;
    std::vector<std::uint32_t> Words;
    std::vector<std::string> Log;
  };
  const Case cases[] = {
      {"a lone frame start", Bytes{0xBB} + request, {served}, {}, {}},
      {"a stray frame start inside noise", Bytes{0x41, 0xBB, 0x42} + request, {served}, {}, {}},
      {"noise shaped like a request",
       WireWord(0xBB2221BA) + ToBytes("31") + request,
       {served},
       {},
       {"Download Request CRC fail"}},
      {"a request that fails its check, then another",
       WireWord(0xBB2221BA) + ToBytes("0500") + request,
       {served},
       {},
       {"Download Request CRC fail"}},
      {"a version frame cut short by the pass, with a word inside",
       WireWord(0xBB2621C2) + ToBytes("0") + WireWord(ready),
       {},
       {ready},
       {"Reply frame cut short"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Sink.Items.clear();
    Sink.Words.clear();
    Screen.Log.clear();
    Feed(c.In);
    EXPECT_EQ(Replies(), c.Replies);
    EXPECT_EQ(Sink.Words, c.Words);
    EXPECT_EQ(Screen.Log, c.Log);
  }
}

TEST_F(Receiver, FrameSplitAcrossPiecesOfOnePassSurvives) {
  const Bytes frame = PayloadFrame(0xBB2621C2, {0x01, 0x0A});
  for (std::size_t i = 0; i < frame.size(); ++i) {
    Feed({frame[i]}, false);
    EXPECT_EQ(Rx.FrameInProgress(), i + 1 < frame.size()) << i;
  }
  Feed({}, true);
  EXPECT_EQ(Replies(), (std::vector<Bytes>{WireWord(0xBB2621C2) + Bytes{0x01, 0x0A}}));
}

TEST_F(Receiver, BytesAfterDisconnectAreDropped) {
  Uart.UartConnected = false;
  Feed(ToBytes("OK\r"));
  EXPECT_TRUE(Sink.Items.empty());
}

TEST_F(Receiver, OutOfRangeLineLengthStartsAFreshLine) {
  Rx.RxLineLen = 9000;
  Feed(ToBytes("A\r"));
  Rx.RxLineLen = -3;
  Feed(ToBytes("B\r"));
  EXPECT_EQ(Texts(), (std::vector<Bytes>{TextItem("A\r"), TextItem("B\r")}));
}

// Whatever the cut into pieces, a pass gives the same items as one byte at a time.
TEST_F(Receiver, PiecesOfAPassEqualByteAtATime) {
  std::mt19937 random(1234);
  Bytes stream;
  for (int i = 0; i < 200; ++i) {
    switch (random() % 6) {
      case 0:
        stream = stream + ToBytes("line " + std::to_string(i) + "\r");
        break;
      case 1:
        stream = stream + WireWord(0xBB2421BE);
        break;
      case 2:
        stream = stream + PayloadFrame(0xBB2221BA, {static_cast<std::uint8_t>(i), 0});
        break;
      case 3:
        stream = stream + PayloadFrame(0xBB2321BC, Bytes(96, static_cast<std::uint8_t>(i)));
        break;
      case 4:
        stream.push_back(0xBB);
        break;
      default:
        stream.push_back(static_cast<std::uint8_t>(random()));
        break;
    }
  }
  Feed(stream);
  const std::vector<SinkItem> whole = Sink.Items;
  const std::vector<std::uint32_t> wholeWords = Sink.Words;
  ASSERT_GT(Replies().size(), 10u);

  Sink.Items.clear();
  Sink.Words.clear();
  Rx.RxLineLen = 0;
  std::size_t at = 0;
  while (at < stream.size()) {
    const std::size_t n = std::min<std::size_t>(random() % 300, stream.size() - at);
    Rx.RxPass(stream.data() + at, n, false);
    at += n;
  }
  Feed({}, true);
  ASSERT_EQ(Sink.Items.size(), whole.size());
  for (std::size_t i = 0; i < whole.size(); ++i) {
    EXPECT_EQ(Sink.Items[i].Kind, whole[i].Kind) << i;
    EXPECT_EQ(Sink.Items[i].Data, whole[i].Data) << i;
  }
  EXPECT_EQ(Sink.Words, wholeWords);
}

}  // namespace
