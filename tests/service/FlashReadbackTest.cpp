#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/service/ServiceBench.h"
#include "wire/Bytes.h"

namespace {

const char* const LeftUnchanged = "Read flash stopped: flashdata.bin left unchanged";

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
  return data;
}

struct Request {
  std::uint32_t Address;
  std::uint32_t Length;
  bool operator==(const Request&) const = default;
};

// Every message must be a well-formed read request; returns their addresses and lengths.
std::vector<Request> ReadRequests(const std::vector<Bytes>& sent) {
  std::vector<Request> requests;
  for (const Bytes& m : sent) {
    EXPECT_EQ(m.size(), 16u);
    if (m.size() != 16) continue;
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 4), (Bytes{0xAA, 0x11, 0x32, 0x31}));
    EXPECT_EQ(Bytes(m.begin() + 4, m.end()), WithCrc(Bytes(m.begin() + 4, m.begin() + 12)));
    requests.push_back({GetLe32(m.data() + 4), GetLe32(m.data() + 8)});
  }
  return requests;
}

// The box's answer to one read request, as it comes off the line.
Bytes ReplyFrame(const Bytes& data) {
  Bytes frame{0xBB, 0x28, 0x21, 0xC6};
  static const char* digits = "0123456789ABCDEF";
  for (std::uint8_t b : WithCrc(data)) {
    frame.push_back(static_cast<std::uint8_t>(digits[b >> 4]));
    frame.push_back(static_cast<std::uint8_t>(digits[b & 15]));
  }
  return frame;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t n) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

class FlashReadbackTest : public ::testing::Test {
 protected:
  FlashReadback& Flash() { return bench.core.Flash; }
  std::string Bin() const { return bench.PathOf("flashdata.bin"); }
  std::string Part() const { return bench.PathOf("flashdata.bin.part"); }

  std::vector<Request> Requests() { return ReadRequests(bench.Sent()); }

  // Bytes off the line, one pass.
  void Line(const Bytes& bytes, bool passEnded = true) {
    bench.core.Rx.RxPass(bytes.data(), bytes.size(), passEnded);
  }
  void Dispatch() {
    while (bench.core.DataHandler.ProcessReplyItem()) {
    }
  }

  // The reply to one request, from flash (a box whose flash starts at address 0).
  Bytes ReplyTo(const Request& r) const { return ReplyFrame(Slice(flash, r.Address, r.Length)); }

  // Plays the box until the tool asks for nothing more; returns the requests in order. Each
  // request must be the only one out.
  std::vector<Request> Serve() {
    std::vector<Request> seen;
    for (auto asked = Requests(); !asked.empty(); asked = Requests()) {
      EXPECT_EQ(asked.size(), 1u);
      for (const Request& r : asked) {
        seen.push_back(r);
        if (r.Address + std::size_t{r.Length} > flash.size()) {
          ADD_FAILURE() << "request beyond the flash at " << r.Address;
          return seen;
        }
        Line(ReplyTo(r));
        Dispatch();
      }
    }
    return seen;
  }

  ServiceBench bench;
  Bytes flash = Pattern(0x30000, 3);
};

TEST_F(FlashReadbackTest, RequestsGoOutOneAtATimeWithTheirLogLines) {
  Flash().ReadFlash(0x1000, 0x2000);
  EXPECT_EQ(bench.screen.Log, (std::vector<std::string>{"8192", "Cmd > 313211aa"}));
  const Request first{0x1000, 4096};
  ASSERT_EQ(Requests(), std::vector<Request>{first});
  EXPECT_EQ(Flash().FlashBlocksRequested, 1);
  EXPECT_EQ(Flash().FlashBytesLeft, 4096u);
  EXPECT_EQ(Flash().FlashBlockLen, 4096u);
  EXPECT_TRUE(bench.core.Timeout.Armed());

  // The next request waits until the reply has been written.
  Line(ReplyTo(first));
  EXPECT_TRUE(Requests().empty());

  Dispatch();
  EXPECT_EQ(bench.screen.Log,
            (std::vector<std::string>{"8192", "Cmd > 313211aa", "Read flash CRC OK", "4096",
                                      "Cmd > 313211aa"}));
  EXPECT_EQ(Flash().FlashBlocksWritten, 1);
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 4096u);
  EXPECT_EQ(Serve(), (std::vector<Request>{{0x2000, 4096}}));

  EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0x1000, 0x2000));
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_EQ(Flash().FlashBlocksRequested, 0);
  EXPECT_EQ(Flash().FlashBlocksWritten, 0);
  EXPECT_FALSE(bench.core.Timeout.Armed());
  EXPECT_TRUE(bench.screen.Messages.empty());
}

TEST_F(FlashReadbackTest, SizeZeroSendsAndLogsNothingAndLeavesARunningReadAlone) {
  Flash().ReadFlash(0x1000, 0);
  EXPECT_TRUE(bench.screen.Log.empty());
  EXPECT_TRUE(bench.Sent().empty());
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 0u);

  Flash().ReadFlash(0, 0x2000);
  Flash().ReadFlash(0x1000, 0);
  EXPECT_FALSE(bench.screen.Logged(LeftUnchanged));
  Serve();
  EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0, 0x2000));
}

TEST_F(FlashReadbackTest, ReadsOfManySizesMatchTheFlashByteForByte) {
  // 0x20000 is 32 requests, more than the transmit ring could hold at once.
  const std::pair<std::uint32_t, std::uint32_t> reads[] = {
      {0, 0x10}, {0x2345, 0x1801}, {0x4000, 0x9000}, {0x1000, 0x20000}};
  for (auto [start, size] : reads) {
    SCOPED_TRACE(size);
    Flash().ReadFlash(static_cast<std::int32_t>(start), size);
    const auto requests = Serve();
    ASSERT_EQ(requests.size(), (size + 4095) / 4096);
    for (std::size_t i = 0; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].Address, start + 4096 * i);
      EXPECT_EQ(requests[i].Length, std::min<std::uint32_t>(4096, size - 4096 * i));
    }
    EXPECT_EQ(ReadFile(Bin()), Slice(flash, start, size));
  }
  EXPECT_FALSE(bench.screen.Logged("Read flash CRC fail"));
  EXPECT_TRUE(bench.screen.Messages.empty());
}

TEST_F(FlashReadbackTest, ShortLastBlockPastTheSignedRangeIsRequestedWithItsOwnLength) {
  Flash().ReadFlash(0x7FFFF800, 0x1800);
  ASSERT_EQ(Requests(), (std::vector<Request>{{0x7FFFF800u, 4096}}));
  const Bytes first = Pattern(4096, 1);
  Line(ReplyFrame(first));
  Dispatch();
  ASSERT_EQ(Requests(), (std::vector<Request>{{0x80000800u, 2048}}));
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 2048u);
  const Bytes last = Pattern(2048, 2);
  Line(ReplyFrame(last));
  Dispatch();
  EXPECT_EQ(ReadFile(Bin()), Concat(first, last));
}

TEST_F(FlashReadbackTest, FileAppearsOnlyWhenTheLastBlockIsWrittenAndANewReadReplacesIt) {
  Flash().ReadFlash(0, 0x9000);
  for (int i = 0; i < 9; ++i) {
    EXPECT_FALSE(std::filesystem::exists(Bin()));
    const auto asked = Requests();
    ASSERT_EQ(asked.size(), 1u);
    Line(ReplyTo(asked[0]));
    Dispatch();
  }
  EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0, 0x9000));

  Flash().ReadFlash(0x100, 0x10);
  Serve();
  EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0x100, 0x10));
}

// A read that goes wrong part way: flashdata.bin keeps what it had, nothing more is asked of
// the box, and the next read works.
class BrokenRead : public FlashReadbackTest {
 protected:
  void SetUp() override {
    WriteFile(Bin(), previous);
    Flash().ReadFlash(0, 0x3000);
  }

  // The reply to the one request out, which must be the only one.
  Bytes NextReply() {
    const auto asked = Requests();
    EXPECT_EQ(asked.size(), 1u);
    return asked.empty() ? Bytes{} : ReplyTo(asked[0]);
  }
  void AnswerOne() {
    Line(NextReply());
    Dispatch();
  }

  void ExpectReadGivenUp() {
    EXPECT_TRUE(bench.screen.Logged(LeftUnchanged));
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 0u);
    EXPECT_EQ(Flash().FlashBlocksRequested, 0);
    EXPECT_EQ(Flash().FlashBlocksWritten, 0);
    EXPECT_FALSE(bench.core.Timeout.Armed());
    EXPECT_EQ(ReadFile(Bin()), previous);
    EXPECT_FALSE(std::filesystem::exists(Part()));
  }

  void ExpectTheNextReadWorks() {
    Flash().ReadFlash(0x8000, 0x2000);
    EXPECT_EQ(Serve().size(), 2u);
    EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0x8000, 0x2000));
  }

  const Bytes previous = Pattern(100, 5);
};

TEST_F(BrokenRead, CopyRightBehindTheFirstReplyFailsItsCrc) {
  const Bytes reply = NextReply();
  Line(Concat(reply, reply));
  EXPECT_TRUE(bench.screen.Logged("Read flash CRC fail"));
  Dispatch();
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, CopyOfTheLastReply) {
  AnswerOne();
  AnswerOne();
  const Bytes reply = NextReply();
  Line(Concat(reply, reply));
  Dispatch();
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, CopyWhoseStartArrivesBeforeTheOriginalIsWritten) {
  AnswerOne();
  const Bytes reply = NextReply();
  // The pass hands its bytes over in pieces, and the dispatcher writes the good reply
  // between them, while the copy's first bytes have already been taken in.
  Line(Concat(reply, Slice(reply, 0, 6)), false);
  Dispatch();
  EXPECT_TRUE(Requests().empty());
  Line(Slice(reply, 6, reply.size() - 6));
  Dispatch();
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, CopyOfErasedFlashPassesTheCrcOfItsShortCut) {
  // Cut to 12 bytes, a copy of data that begins FF FF FF FF carries the CRC of nothing.
  std::fill_n(flash.begin() + 0x1000, 4, std::uint8_t{0xFF});
  AnswerOne();
  const Bytes reply = NextReply();
  Line(Concat(reply, reply));
  Dispatch();
  EXPECT_FALSE(bench.screen.Logged("Read flash CRC fail"));
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, BadCrcInTheMiddle) {
  AnswerOne();
  ASSERT_TRUE(std::filesystem::exists(Part()));
  Bytes reply = NextReply();
  reply[100] = reply[100] == '0' ? '1' : '0';
  Line(reply);
  // The cause comes before what the read did about it.
  const auto fail = std::find(bench.screen.Log.begin(), bench.screen.Log.end(),
                              std::string("Read flash CRC fail"));
  ASSERT_NE(fail, bench.screen.Log.end());
  ASSERT_NE(fail + 1, bench.screen.Log.end());
  EXPECT_EQ(*(fail + 1), LeftUnchanged);
  Dispatch();
  ExpectReadGivenUp();
  EXPECT_TRUE(bench.screen.Messages.empty());
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, BoxRefusesARequest) {
  AnswerOne();
  EXPECT_EQ(Requests().size(), 1u);
  Line({0xBB, 0x29, 0x21, 0xC8});
  EXPECT_TRUE(bench.screen.Logged("Read flash fail"));
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, RingRefusesTheNextRequest) {
  const Bytes reply = NextReply();
  const std::uint8_t word[4] = {0xAA, 0x0B, 0x32, 0x1F};
  while (bench.core.Tx.FreeSlots() > 0) ASSERT_TRUE(bench.core.Tx.TxEnqueue(4, word));
  Line(reply);
  Dispatch();
  EXPECT_EQ(bench.screen.Messages, (std::vector<std::string>{"Tx queue is full"}));
  for (const Bytes& m : bench.Sent()) EXPECT_EQ(m, Bytes(word, word + 4));
  bench.screen.Messages.clear();
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(FlashReadbackTest, NewReadWaitsForTheReplyStillDueAndDropsIt) {
  Flash().ReadFlash(0x1000, 0x3000);
  const auto old = Requests();
  ASSERT_EQ(old.size(), 1u);
  bench.screen.Clear();

  Flash().ReadFlash(0x5000, 0x1000);
  EXPECT_EQ(bench.screen.Log, (std::vector<std::string>{LeftUnchanged}));
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(Flash().FlashBlocksRequested, 0);
  EXPECT_TRUE(bench.core.Timeout.Armed());

  // Same length as the new read's block: taken for it, it would land in the file.
  Line(ReplyTo(old[0]));
  Dispatch();
  EXPECT_FALSE(std::filesystem::exists(Bin()));
  EXPECT_EQ(Serve(), (std::vector<Request>{{0x5000, 4096}}));
  EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0x5000, 0x1000));
}

TEST_F(FlashReadbackTest, NewReadAfterTheWaitRanOutStartsAtOnce) {
  Flash().ReadFlash(0x1000, 0x3000);
  ASSERT_EQ(Requests().size(), 1u);
  bench.clock.Set(0, 25);
  UartTxThread::Outgoing out;
  EXPECT_FALSE(bench.core.Tx.TxPass(out));  // a transmit period notices the wait is over
  ASSERT_EQ(bench.screen.Messages, (std::vector<std::string>{"Timeout!!"}));

  Flash().ReadFlash(0x5000, 0x1000);
  EXPECT_EQ(Serve(), (std::vector<Request>{{0x5000, 4096}}));
  EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0x5000, 0x1000));
}

TEST_F(FlashReadbackTest, RepliesNobodyAskedForWriteNothing) {
  const Bytes stray = Pattern(16, 1);
  Flash().WriteFlashBlock(stray.data(), 16);
  Line(ReplyFrame({}));  // the one flash reply the receiver cuts while nothing is asked
  Dispatch();
  EXPECT_TRUE(bench.screen.Logged("Read flash CRC OK"));

  Flash().ReadFlash(0, 0x10);
  Serve();
  Flash().WriteFlashBlock(stray.data(), 16);
  EXPECT_EQ(ReadFile(Bin()), Slice(flash, 0, 0x10));
  EXPECT_TRUE(bench.screen.Messages.empty());
}

TEST_F(FlashReadbackTest, ReadWhileDisconnectedLeavesNoRequestOutstanding) {
  bench.core.Uart.UartConnected = false;
  Flash().ReadFlash(0, 0x3000);
  EXPECT_EQ(bench.screen.Messages, (std::vector<std::string>{"Uart does not connected"}));
  EXPECT_FALSE(bench.screen.Logged("Cmd > 313211aa"));
  EXPECT_FALSE(bench.screen.Logged(LeftUnchanged));
  EXPECT_EQ(Flash().FlashBlocksRequested, 0);
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 0u);
  EXPECT_FALSE(bench.core.Timeout.Armed());
}

TEST(FlashReadbackFolder, UncreatableFileGivesOneMessageAndDropsTheRead) {
  ServiceBench bench("/nonexistent-kelvarin-folder/inner");
  bench.core.Flash.ReadFlash(0, 0x2000);
  bench.Sent();
  const Bytes reply = ReplyFrame(Pattern(4096, 1));
  for (int i = 0; i < 2; ++i) {
    bench.core.Rx.RxPass(reply.data(), reply.size(), true);
    while (bench.core.DataHandler.ProcessReplyItem()) {
    }
  }
  const std::string part =
      (std::filesystem::path("/nonexistent-kelvarin-folder/inner") / "flashdata.bin.part").string();
  EXPECT_EQ(bench.screen.Messages, (std::vector<std::string>{"Can't create " + part}));
  EXPECT_TRUE(bench.screen.Logged(LeftUnchanged));
  EXPECT_TRUE(bench.Sent().empty());
  EXPECT_EQ(bench.core.Flash.FlashBlocksRequested, 0);
  EXPECT_EQ(bench.core.Flash.ExpectedFlashBlockLen(), 0u);
}

}  // namespace
