#include <gtest/gtest.h>

#include <filesystem>

#include "Bytes.h"
#include "ServiceBench.h"
#include "ServiceRequests.h"

namespace {

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7);
  return data;
}

struct Request {
  std::uint32_t Address;
  std::uint32_t Length;
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

class FlashReadbackTest : public ::testing::Test {
 protected:
  FlashReadback& Flash() { return bench.core.Flash; }
  std::string Bin() const { return bench.PathOf("flashdata.bin"); }
  std::string Part() const { return bench.PathOf("flashdata.bin.part"); }

  // The receiver cuts each reply with the length it is told, ahead of the writer.
  void Receive(const std::vector<Bytes>& blocks) {
    for (const Bytes& block : blocks) {
      ASSERT_EQ(Flash().ExpectedFlashBlockLen(), block.size());
      Flash().FlashBlockReceived();
    }
  }
  void Write(const std::vector<Bytes>& blocks) {
    for (const Bytes& block : blocks)
      Flash().WriteFlashBlock(block.data(), static_cast<std::uint32_t>(block.size()));
  }
  void Answer(const std::vector<Bytes>& blocks) {
    Receive(blocks);
    Write(blocks);
  }

  ServiceBench bench;
};

TEST_F(FlashReadbackTest, ReadOfTwoFullBlocksLogsAndQueuesEachRequest) {
  Flash().ReadFlash(0x1000, 0x2000);
  EXPECT_EQ(bench.screen.Log,
            (std::vector<std::string>{"8192", "Cmd > 313211aa", "4096", "Cmd > 313211aa"}));
  const auto requests = ReadRequests(bench.Sent());
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Address, 0x1000u);
  EXPECT_EQ(requests[1].Address, 0x2000u);
  EXPECT_EQ(requests[0].Length, 4096u);
  EXPECT_EQ(requests[1].Length, 4096u);
  EXPECT_EQ(Flash().FlashBlocksRequested, 2);
}

TEST_F(FlashReadbackTest, SizeZeroSendsAndLogsNothing) {
  Flash().ReadFlash(0x1000, 0);
  EXPECT_TRUE(bench.screen.Log.empty());
  EXPECT_TRUE(bench.Sent().empty());
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 0u);
}

TEST_F(FlashReadbackTest, ShortLastBlockIsRequestedCutAndWrittenWithItsOwnLength) {
  Flash().ReadFlash(0x7FFFF800, 0x1800);  // the second address crosses 0x80000000
  const auto requests = ReadRequests(bench.Sent());
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].Address, 0x80000800u);
  EXPECT_EQ(requests[0].Length, 4096u);
  EXPECT_EQ(requests[1].Length, 2048u);

  const std::vector<Bytes> blocks{Pattern(4096, 1), Pattern(2048, 2)};
  Receive(blocks);
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 0u);
  Write(blocks);
  EXPECT_EQ(ReadFile(Bin()), Concat(blocks[0], blocks[1]));
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_EQ(Flash().FlashBlocksRequested, 0);
  EXPECT_EQ(Flash().FlashBlocksWritten, 0);
}

TEST_F(FlashReadbackTest, FileAppearsOnlyWhenTheLastBlockIsWritten) {
  Flash().ReadFlash(0, 0x9000);
  ASSERT_EQ(ReadRequests(bench.Sent()).size(), 9u);
  Bytes expected;
  for (int i = 0; i < 9; ++i) {
    EXPECT_FALSE(std::filesystem::exists(Bin()));
    const Bytes block = Pattern(4096, static_cast<std::uint8_t>(i));
    Answer({block});
    expected = Concat(expected, block);
  }
  EXPECT_EQ(ReadFile(Bin()), expected);

  Flash().ReadFlash(0, 0x10);  // a second, smaller read replaces the whole file
  const Bytes small = Pattern(16, 99);
  Answer({small});
  EXPECT_EQ(ReadFile(Bin()), small);
}

TEST_F(FlashReadbackTest, CrcFailureMidReadKeepsPreviousFileAndDropsTheRest) {
  const Bytes previous = Pattern(100, 5);
  WriteFile(Bin(), previous);
  Flash().ReadFlash(0, 0x2800);
  Answer({Pattern(4096, 1)});
  ASSERT_TRUE(std::filesystem::exists(Part()));

  ASSERT_EQ(Flash().ExpectedFlashBlockLen(), 4096u);
  Flash().FlashReadCrcFailed();
  EXPECT_EQ(Flash().FlashBlocksRequested, 0);
  EXPECT_EQ(Flash().FlashBlocksWritten, 0);
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_TRUE(bench.screen.Logged("Read flash stopped: flashdata.bin left unchanged"));

  // The last reply is still on its way: it is cut at its own length, then dropped.
  Answer({Pattern(2048, 3)});
  EXPECT_EQ(ReadFile(Bin()), previous);
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 0u);
  EXPECT_TRUE(bench.screen.Messages.empty());
}

TEST_F(FlashReadbackTest, NewReadStartsAfreshAndAbandonsAnUnfinishedOne) {
  Flash().ReadFlash(0x1000, 0x3000);
  Answer({Pattern(4096, 1)});
  bench.Sent();
  bench.screen.Clear();

  Flash().ReadFlash(0x5000, 0x1000);
  EXPECT_EQ(bench.screen.Log.front(), "Read flash stopped: flashdata.bin left unchanged");
  EXPECT_FALSE(std::filesystem::exists(Part()));
  const auto requests = ReadRequests(bench.Sent());
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Address, 0x5000u);  // numbering starts again at 0
  EXPECT_EQ(Flash().FlashBlocksRequested, 1);

  const Bytes block = Pattern(4096, 8);
  Answer({block});
  EXPECT_EQ(ReadFile(Bin()), block);
}

TEST_F(FlashReadbackTest, ReadTooLargeForTheRingIsRefusedWithNothingQueued) {
  Flash().ReadFlash(0, 0x10000);  // 16 blocks, the empty ring holds 15
  ASSERT_EQ(bench.screen.Messages,
            (std::vector<std::string>{"Read too large: at most 0xF000 bytes fit in one read"}));
  EXPECT_TRUE(bench.screen.Log.empty());
  EXPECT_TRUE(bench.Sent().empty());
  EXPECT_EQ(Flash().FlashBlocksRequested, 0);

  bench.screen.Clear();
  const std::uint8_t word[4] = {0xAA, 0x0B, 0x32, 0x1F};
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(bench.core.Tx.TxEnqueue(4, word));
  Flash().ReadFlash(0, 0x5001);
  EXPECT_EQ(bench.screen.Messages,
            (std::vector<std::string>{"Read too large: at most 0x5000 bytes fit in one read"}));
  EXPECT_EQ(bench.Sent().size(), 10u);
}

TEST_F(FlashReadbackTest, ReadWhileDisconnectedLeavesNoRequestOutstanding) {
  bench.core.Uart.UartConnected = false;
  Flash().ReadFlash(0, 0x3000);
  EXPECT_EQ(bench.screen.Messages, (std::vector<std::string>{"Uart does not connected"}));
  EXPECT_FALSE(bench.screen.Logged("Cmd > 313211aa"));
  EXPECT_EQ(Flash().FlashBlocksRequested, 0);
  EXPECT_EQ(Flash().ExpectedFlashBlockLen(), 0u);
}

TEST(FlashReadbackFolder, UncreatableFileGivesOneMessageAndDropsTheRead) {
  ServiceBench bench("/nonexistent-kelvarin-folder/inner");
  FlashReadback& flash = bench.core.Flash;
  flash.ReadFlash(0, 0x2000);
  const Bytes block = Pattern(4096, 1);
  for (int i = 0; i < 2; ++i) {
    flash.FlashBlockReceived();
    flash.WriteFlashBlock(block.data(), 4096);
  }
  EXPECT_EQ(bench.screen.Messages,
            (std::vector<std::string>{
                "Can't create /nonexistent-kelvarin-folder/inner/flashdata.bin.part"}));
  EXPECT_TRUE(bench.screen.Logged("Read flash stopped: flashdata.bin left unchanged"));
  EXPECT_EQ(flash.FlashBlocksRequested, 0);
  EXPECT_EQ(flash.ExpectedFlashBlockLen(), 0u);
}

// The whole road: the box's frames arrive in one pass before the dispatcher writes any.
TEST_F(FlashReadbackTest, RepliesThroughReceiverAndDispatcherMakeTheFile) {
  Flash().ReadFlash(0, 0x1800);
  bench.Sent();
  const Bytes first = Pattern(4096, 4);
  const Bytes last = Pattern(2048, 6);
  const Bytes line = Concat(ReplyFrame(first), ReplyFrame(last));
  bench.core.Rx.RxPass(line.data(), line.size(), true);
  while (bench.core.DataHandler.ProcessReplyItem()) {
  }
  EXPECT_EQ(ReadFile(Bin()), Concat(first, last));
  EXPECT_FALSE(bench.screen.Logged("Read flash CRC fail"));
}

}  // namespace
