#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/CoreBench.h"
#include "tests/support/TestBytes.h"
#include "wire/Bytes.h"
#include "wire/Words.h"

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

// What went out must be well-formed read requests; returns their addresses and lengths.
std::vector<Request> ReadRequests(const Bytes& sent) {
  std::vector<Request> requests;
  EXPECT_EQ(sent.size() % 16, 0u);
  for (std::size_t at = 0; at + 16 <= sent.size(); at += 16) {
    const Bytes m(sent.begin() + static_cast<std::ptrdiff_t>(at),
                  sent.begin() + static_cast<std::ptrdiff_t>(at + 16));
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 4), WireWord(Cmd::ReadFlash));
    EXPECT_EQ(Bytes(m.begin() + 4, m.end()), WithCrc(Bytes(m.begin() + 4, m.begin() + 12)));
    requests.push_back({GetLe32(m.data() + 4), GetLe32(m.data() + 8)});
  }
  return requests;
}

// The box's answer to one read request, as it comes off the line.
Bytes ReplyFrame(const Bytes& data) {
  return PayloadFrame(Reply::FlashData, data);
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t n) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

class FlashReadbackTest : public ::testing::Test, protected CoreBench {
 protected:
  std::string Bin() const { return PathOf("flashdata.bin"); }
  std::string Part() const { return PathOf("flashdata.bin.part"); }
  bool Reading() { return core.Progress().What == Core::WorkProgress::Job::FlashRead; }

  std::vector<Request> Requests() { return ReadRequests(Sent()); }

  // The box says bytes, and the tool has done all it does about them.
  void Line(const Bytes& bytes) {
    port.Say(bytes);
    Settle();
  }
  // The same for bytes that may leave a line of garbage behind: the box ends the line.
  void Garbled(const Bytes& bytes) { Line(bytes + TextLine("")); }

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
      }
    }
    return seen;
  }

  Bytes flash = Pattern(0x30000, 3);
};

TEST_F(FlashReadbackTest, RequestsGoOutOneAtATimeWithTheirLogLines) {
  core.ReadFlash(0x1000, 0x2000);
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"8192", "Cmd > 313211aa"}));
  const Request first{0x1000, 4096};
  ASSERT_EQ(Requests(), std::vector<Request>{first});
  Core::WorkProgress progress = core.Progress();
  EXPECT_EQ(progress.What, Core::WorkProgress::Job::FlashRead);
  EXPECT_EQ(progress.Done, 0u);
  EXPECT_EQ(progress.Total, 0x2000u);
  EXPECT_TRUE(core.AwaitingReply());

  Line(ReplyTo(first));
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"8192", "Cmd > 313211aa", "Read flash CRC OK",
                                                  "4096", "Cmd > 313211aa"}));
  EXPECT_EQ(core.Progress().Done, 4096u);
  EXPECT_EQ(Serve(), (std::vector<Request>{{0x2000, 4096}}));

  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0x1000, 0x2000));
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_FALSE(Reading());
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_TRUE(screen.Messages.empty());
  // The wait restarts with each request, but the controls come back only when the read ends:
  // switching them on and off for every block would hold up the next request.
  EXPECT_EQ(screen.CmdControlsOn, 1);
  EXPECT_TRUE(screen.CmdControls);
}

// Only one request is ever out, so the time from a block's last byte to the next request is
// time the line stands idle: the request leaves from the very routine that took the block, with
// no further routine on the protocol thread.
TEST_F(FlashReadbackTest, TheNextRequestLeavesFromTheRoutineThatTookTheBlock) {
  core.ReadFlash(0, 0x2000);
  const std::vector<Request> first = Requests();
  ASSERT_EQ(first, (std::vector<Request>{{0, 4096}}));
  RunFor(std::chrono::milliseconds(150));  // the pause after the request; the worker sleeps
  port.Say(ReplyTo(first[0]));
  ASSERT_TRUE(Until([&] { return core.Progress().Done == 4096; }));
  Bytes next;
  WaitWithoutTheLoop(
      [&] {
        next = next + port.TakeWritten();
        return next.size() >= 16;
      },
      Patience);
  EXPECT_EQ(ReadRequests(next), (std::vector<Request>{{4096, 4096}}));
  Line(ReplyTo({4096, 4096}));
  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0, 0x2000));
}

TEST_F(FlashReadbackTest, EmptyRangesAndRangesPastTheTopSendNothingAndLeaveARunningReadAlone) {
  EXPECT_FALSE(core.ReadFlash(0x1000, 0));
  // FFFFF000 2000 would ask for address 0 next.
  EXPECT_FALSE(core.ReadFlash(0xFFFFF000, 0x2000));
  EXPECT_TRUE(screen.Log.empty());
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(screen.Messages,
            (std::vector<std::string>{"Size: a hexadecimal number from 1 to fffff000",
                                      "Size: a hexadecimal number from 1 to 1000"}));
  EXPECT_FALSE(Reading());
  // Up to the last byte is a range.
  EXPECT_TRUE(core.ReadFlash(0xFFFFF000, 0x1000));
  EXPECT_EQ(Requests(), (std::vector<Request>{{0xFFFFF000u, 4096}}));
  core.StopWork();
  screen.Log.clear();

  core.ReadFlash(0, 0x2000);
  core.ReadFlash(0x1000, 0);
  EXPECT_FALSE(screen.Logged(LeftUnchanged));
  Serve();
  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0, 0x2000));
}

TEST_F(FlashReadbackTest, ReadsOfManySizesMatchTheFlashByteForByte) {
  // 0x20000 is 32 requests, more than the transmit ring could hold at once.
  const std::pair<std::uint32_t, std::uint32_t> reads[] = {
      {0, 0x10}, {0x2345, 0x1801}, {0x4000, 0x9000}, {0x1000, 0x20000}};
  for (auto [start, size] : reads) {
    SCOPED_TRACE(size);
    core.ReadFlash(start, size);
    const auto requests = Serve();
    ASSERT_EQ(requests.size(), (size + 4095) / 4096);
    for (std::size_t i = 0; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].Address, start + 4096 * i);
      EXPECT_EQ(requests[i].Length, std::min<std::uint32_t>(4096, size - 4096 * i));
    }
    EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, start, size));
  }
  EXPECT_FALSE(screen.Logged("Read flash CRC fail"));
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(FlashReadbackTest, ShortLastBlockPastTheSignedRangeIsRequestedWithItsOwnLength) {
  core.ReadFlash(0x7FFFF800, 0x1800);
  ASSERT_EQ(Requests(), (std::vector<Request>{{0x7FFFF800u, 4096}}));
  const Bytes first = Pattern(4096, 1);
  Line(ReplyFrame(first));
  ASSERT_EQ(Requests(), (std::vector<Request>{{0x80000800u, 2048}}));
  // The reply is cut at the length asked for.
  const Bytes last = Pattern(2048, 2);
  Line(ReplyFrame(last));
  EXPECT_EQ(ReadFileBytes(Bin()), first + last);
}

TEST_F(FlashReadbackTest, FileAppearsOnlyWhenTheLastBlockIsWrittenAndANewReadReplacesIt) {
  core.ReadFlash(0, 0x9000);
  for (int i = 0; i < 9; ++i) {
    EXPECT_FALSE(std::filesystem::exists(Bin()));
    const auto asked = Requests();
    ASSERT_EQ(asked.size(), 1u);
    Line(ReplyTo(asked[0]));
  }
  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0, 0x9000));

  core.ReadFlash(0x100, 0x10);
  Serve();
  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0x100, 0x10));
}

// A read that goes wrong part way: flashdata.bin keeps what it had, nothing more is asked of
// the box, and the next read works.
class BrokenRead : public FlashReadbackTest {
 protected:
  void SetUp() override {
    WriteFileBytes(Bin(), previous);
    core.ReadFlash(0, 0x3000);
  }

  // The reply to the one request out, which must be the only one.
  Bytes NextReply() {
    const auto asked = Requests();
    EXPECT_EQ(asked.size(), 1u);
    return asked.empty() ? Bytes{} : ReplyTo(asked[0]);
  }
  void AnswerOne() { Line(NextReply()); }

  void ExpectReadGivenUp() {
    EXPECT_TRUE(screen.Logged(LeftUnchanged));
    EXPECT_TRUE(Requests().empty());
    EXPECT_FALSE(Reading());
    EXPECT_FALSE(core.AwaitingReply());
    EXPECT_EQ(ReadFileBytes(Bin()), previous);
    EXPECT_FALSE(std::filesystem::exists(Part()));
  }

  void ExpectTheNextReadWorks() {
    core.ReadFlash(0x8000, 0x2000);
    EXPECT_EQ(Serve().size(), 2u);
    EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0x8000, 0x2000));
  }

  const Bytes previous = Pattern(100, 5);
};

TEST_F(BrokenRead, CopyRightBehindTheFirstReplyFailsItsCrc) {
  const Bytes reply = NextReply();
  Garbled(reply + reply);
  EXPECT_TRUE(screen.Logged("Read flash CRC fail"));
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, CopyOfTheLastReply) {
  AnswerOne();
  AnswerOne();
  const Bytes reply = NextReply();
  Garbled(reply + reply);
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, CopyWhoseStartArrivesBeforeTheOriginalIsWritten) {
  AnswerOne();
  const Bytes reply = NextReply();
  // The dispatcher writes the good reply while the copy's first bytes have already been taken
  // in: the read gives up there, and no request follows.
  port.Say(reply + Slice(reply, 0, 6));
  ASSERT_TRUE(Until([&] { return screen.Logged(LeftUnchanged); }));
  EXPECT_TRUE(Requests().empty());
  Garbled(Slice(reply, 6, reply.size() - 6));
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, CopyReadBeforeTheNextRequestWentOutAnswersNothing) {
  AnswerOne();
  const Bytes reply = NextReply();
  // A command typed meanwhile stalls on the line, and the next request waits behind it; the
  // copy's start is read then and taken apart once the request may be out. It began before
  // the box could have seen the request.
  port.HoldWritesAfter(0);
  const Bytes typed = TextLine("hello");
  ASSERT_TRUE(core.SendCmd(typed.data(), static_cast<int>(typed.size())));
  ASSERT_TRUE(Until([&] { return port.WriterHeld(); }));
  port.Say(reply);
  ASSERT_TRUE(Until([&] { return screen.Logged("4096"); }));  // the last request is queued
  port.Say(Slice(reply, 0, 6));
  ASSERT_TRUE(Until([&] { return port.Heard(); }));
  port.ReleaseWrites();
  const Bytes sent = Sent();
  ASSERT_EQ(sent.size(), typed.size() + 16);
  const auto asked = ReadRequests(Slice(sent, typed.size(), 16));
  ASSERT_EQ(asked.size(), 1u);
  Garbled(Slice(reply, 6, reply.size() - 6));
  // The box answers the request it got; the read it belonged to is over.
  Line(ReplyTo(asked[0]));
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, CopyOfErasedFlashPassesTheCrcOfItsShortCut) {
  // Cut to 12 bytes, a copy of data that begins FF FF FF FF carries the CRC of nothing.
  std::fill_n(flash.begin() + 0x1000, 4, std::uint8_t{0xFF});
  AnswerOne();
  const Bytes reply = NextReply();
  Garbled(reply + reply);
  EXPECT_FALSE(screen.Logged("Read flash CRC fail"));
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
  const auto fail =
      std::find(screen.Log.begin(), screen.Log.end(), std::string("Read flash CRC fail"));
  ASSERT_NE(fail, screen.Log.end());
  ASSERT_NE(fail + 1, screen.Log.end());
  EXPECT_EQ(*(fail + 1), LeftUnchanged);
  ExpectReadGivenUp();
  EXPECT_TRUE(screen.Messages.empty());
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, BoxRefusesARequest) {
  AnswerOne();
  EXPECT_EQ(Requests().size(), 1u);
  Line(WireWord(Reply::ReadFlashFail));
  EXPECT_TRUE(screen.Logged("Read flash fail"));
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(BrokenRead, RingRefusesTheNextRequest) {
  const Bytes reply = NextReply();
  FillRing();
  Line(reply);
  EXPECT_EQ(screen.Messages, (std::vector<std::string>{"Tx queue is full"}));
  port.ReleaseWrites();
  const Bytes sent = Sent();
  ASSERT_EQ(sent.size(), (UartTxThread::SlotCount - 1) * 16u);
  for (std::size_t at = 0; at < sent.size(); at += 16)
    EXPECT_EQ(Bytes(sent.begin() + static_cast<std::ptrdiff_t>(at),
                    sent.begin() + static_cast<std::ptrdiff_t>(at + 4)),
              WireWord(Cmd::EraseFlash));
  screen.Messages.clear();
  ExpectReadGivenUp();
  ExpectTheNextReadWorks();
}

TEST_F(FlashReadbackTest, NewReadWaitsForTheReplyStillDueAndDropsIt) {
  core.ReadFlash(0x1000, 0x3000);
  const auto old = Requests();
  ASSERT_EQ(old.size(), 1u);
  screen.Clear();

  core.ReadFlash(0x5000, 0x1000);
  EXPECT_EQ(screen.Log, (std::vector<std::string>{LeftUnchanged}));
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Reading());
  EXPECT_TRUE(core.AwaitingReply());

  // Same length as the new read's block: taken for it, it would land in the file.
  Line(ReplyTo(old[0]));
  EXPECT_FALSE(std::filesystem::exists(Bin()));
  EXPECT_EQ(Serve(), (std::vector<Request>{{0x5000, 4096}}));
  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0x5000, 0x1000));
}

TEST_F(FlashReadbackTest, NewReadAfterTheWaitRanOutStartsAtOnce) {
  core.ReadFlash(0x1000, 0x3000);
  ASSERT_EQ(Requests().size(), 1u);
  clock.Set(0, 25);
  // A transmit period notices the wait is over.
  ASSERT_TRUE(Until([&] { return !screen.Messages.empty(); }));
  EXPECT_EQ(screen.Messages, (std::vector<std::string>{"Timeout!!"}));

  core.ReadFlash(0x5000, 0x1000);
  EXPECT_EQ(Serve(), (std::vector<Request>{{0x5000, 4096}}));
  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0x5000, 0x1000));
}

TEST_F(FlashReadbackTest, RepliesNobodyAskedForWriteNothing) {
  Line(ReplyFrame({}));  // the one flash reply the receiver takes whole while nothing is asked
  EXPECT_TRUE(screen.Logged("Read flash CRC OK"));
  EXPECT_FALSE(std::filesystem::exists(Bin()));

  core.ReadFlash(0, 0x10);
  Serve();
  Garbled(ReplyFrame(Pattern(16, 1)));
  EXPECT_EQ(ReadFileBytes(Bin()), Slice(flash, 0, 0x10));
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(FlashReadbackTest, ReadWhileDisconnectedLeavesNoRequestOutstanding) {
  core.ClosePort();
  screen.Clear();
  core.ReadFlash(0, 0x3000);
  EXPECT_EQ(screen.Messages, (std::vector<std::string>{"Uart does not connected"}));
  EXPECT_FALSE(screen.Logged("Cmd > 313211aa"));
  EXPECT_FALSE(screen.Logged(LeftUnchanged));
  EXPECT_FALSE(Reading());
  EXPECT_FALSE(core.AwaitingReply());

  // Connected again, a flash reply finds no request it could answer.
  ASSERT_TRUE(Connect());
  LoaderReady();
  Garbled(ReplyFrame(Pattern(4096, 1)));
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_FALSE(std::filesystem::exists(Bin()));
}

TEST(FlashReadbackFolder, UncreatableFileGivesOneMessageAndDropsTheRead) {
  CoreBench bench(CoreBench::Begin::Ready, "/nonexistent-kelvarin-folder/inner");
  bench.core.ReadFlash(0, 0x2000);
  bench.Sent();
  // The second reply would be taken for the next block, had a request gone out on the first.
  for (int i = 0; i < 2; ++i) {
    bench.port.Say(ReplyFrame(Pattern(4096, 1)) + TextLine(""));
    bench.Settle();
  }
  const std::string part =
      (std::filesystem::path("/nonexistent-kelvarin-folder/inner") / "flashdata.bin.part").string();
  EXPECT_EQ(bench.screen.Messages, (std::vector<std::string>{"Can't create " + part}));
  EXPECT_TRUE(bench.screen.Logged(LeftUnchanged));
  EXPECT_TRUE(bench.Sent().empty());
  EXPECT_NE(bench.core.Progress().What, Core::WorkProgress::Job::FlashRead);
}

}  // namespace
