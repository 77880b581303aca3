#include <filesystem>
#include <optional>
#include <string>

#include "tests/replies/CoreFixture.h"
#include "tests/support/TestBytes.h"
#include "wire/Bytes.h"

namespace {

constexpr std::size_t Block = CodeUpload::BlockSize;

Bytes Image(std::size_t n) {
  Bytes image(n);
  // Varies with the position and from block to block, so a block from the wrong offset shows.
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
  return image;
}

Bytes BlockAnswer(const Bytes& image, std::size_t k) {
  const std::size_t begin = k * Block;
  const std::size_t end = std::min(image.size(), begin + Block);
  return WithCrc(Bytes(image.begin() + begin, image.begin() + end));
}

class UploadTest : public CoreFixture {
 protected:
  // Presses "Upload Code" and picks path; returns what went out.
  std::vector<Bytes> Start(const std::string& path) {
    core.Upload.btn_UpdateCodeClick([&] { return std::optional<std::string>(path); });
    return Sent();
  }

  // The box asks for block k, as the receiver would hand the request over.
  std::vector<Bytes> Request(std::int16_t k) {
    Bytes item = {0xBB, 0x22, 0x21, 0xBA, 0, 0};
    PutLe16(item.data() + 4, static_cast<std::uint16_t>(k));
    AddReply(item);
    ProcessAll();
    return Sent();
  }

  void Result(std::uint8_t second, std::uint8_t fourth) {
    AddReply({0xBB, second, 0x21, fourth});
    ProcessAll();
  }

  std::string UploadCaption() { return screen.GetCaption(Caption::UploadButton); }

  static constexpr const char* TooFar = "Request data is longer than file size";
  static constexpr const char* Shrunk = "Request data length is not correspond to file point";
};

TEST_F(UploadTest, NothingHappensWithThePortClosed) {
  core.Uart.UartConnected = false;
  bool picked = false;
  core.Upload.btn_UpdateCodeClick([&] {
    picked = true;
    return std::optional<std::string>();
  });
  EXPECT_FALSE(picked);
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Uart does not connected"});
  EXPECT_FALSE(core.Upload.UploadFileOpen());
}

TEST_F(UploadTest, CancelledOrUnopenableFileSendsNothing) {
  core.Upload.btn_UpdateCodeClick([] { return std::optional<std::string>(); });
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(screen.Messages.empty());

  EXPECT_TRUE(Start(PathOf("missing.bin")).empty());
  EXPECT_TRUE(Start(dir.Path()).empty());  // a folder has no size to announce
  EXPECT_EQ(screen.Messages, (std::vector<std::string>{"open file error", "open file error"}));
  EXPECT_FALSE(core.Upload.UploadFileOpen());
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_TRUE(screen.Log.empty());
}

TEST_F(UploadTest, AnnouncesTheImageSizeWithItsCrc) {
  const std::string path = WriteFile("app.bin", Image(Block));
  core.Rx.RxLineLen = 7;
  const std::vector<Bytes> sent = Start(path);

  ASSERT_EQ(sent.size(), 1u);
  const Bytes size = {0xFC, 0xFF, 0x01, 0x00};
  Bytes expected = {0xAA, 0x0F, 0x32, 0x2B};
  const Bytes sizeWithCrc = WithCrc(size);
  expected.insert(expected.end(), sizeWithCrc.begin(), sizeWithCrc.end());
  EXPECT_EQ(sent[0], expected);

  EXPECT_TRUE(core.Timeout.Armed());
  EXPECT_FALSE(screen.CmdControls);
  EXPECT_EQ(UploadCaption(), "Stop");
  EXPECT_TRUE(core.Tx.SyncStopped);
  EXPECT_EQ(screen.Log, std::vector<std::string>{"upload " + path + " to STB start..."});
  EXPECT_EQ(screen.SystemLines, screen.Log);  // the path is the system's text
  EXPECT_EQ(core.Rx.RxLineLen, 0);
  EXPECT_TRUE(core.Upload.UploadFileOpen());
}

TEST_F(UploadTest, OneByteImageIsOneShortBlock) {
  const Bytes image = Image(1);
  Start(WriteFile("one.bin", image));
  screen.Clear();

  EXPECT_EQ(Request(0), std::vector<Bytes>{BlockAnswer(image, 0)});
  EXPECT_EQ(screen.Log, std::vector<std::string>{"Download 100%"});
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_TRUE(screen.CmdControls);

  EXPECT_TRUE(Request(1).empty());
  EXPECT_EQ(screen.LastLog(), TooFar);
}

TEST_F(UploadTest, BlockBoundaryImages) {
  {
    SCOPED_TRACE("exactly one block");
    const Bytes image = Image(Block);
    Start(WriteFile("exact.bin", image));
    const std::vector<Bytes> sent = Request(0);
    ASSERT_EQ(sent.size(), 1u);
    // A full block and its CRC fill one transmit slot exactly.
    EXPECT_EQ(sent[0].size(), static_cast<std::size_t>(UartTxThread::SlotSize));
    EXPECT_EQ(sent[0], BlockAnswer(image, 0));
    EXPECT_EQ(screen.LastLog(), "Download 100%");
    EXPECT_FALSE(core.Timeout.Armed());
    EXPECT_TRUE(Request(1).empty());
    EXPECT_EQ(screen.LastLog(), TooFar);
    Result(0x14, 0x9E);
    // The button still reads "Stop"; its press only restores the caption.
    EXPECT_TRUE(Start("unused").empty());
  }
  {
    SCOPED_TRACE("one byte more than a block");
    const Bytes image = Image(Block + 1);
    Start(WriteFile("plus1.bin", image));
    EXPECT_EQ(Request(0), std::vector<Bytes>{BlockAnswer(image, 0)});
    EXPECT_EQ(screen.LastLog(), "Download 99%");
    EXPECT_TRUE(core.Timeout.Armed());
    EXPECT_FALSE(screen.CmdControls);

    const std::vector<Bytes> last = Request(1);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].size(), 5u);
    EXPECT_EQ(last[0], BlockAnswer(image, 1));
    EXPECT_EQ(screen.LastLog(), "Download 100%");
    EXPECT_FALSE(core.Timeout.Armed());
  }
}

TEST_F(UploadTest, ThreeBlocksInOrderThenRequestedAgainInAnyOrder) {
  const Bytes image = Image(3 * Block);
  Start(WriteFile("three.bin", image));
  screen.Clear();

  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(Request(static_cast<std::int16_t>(k)), std::vector<Bytes>{BlockAnswer(image, k)});
    EXPECT_EQ(core.Timeout.Armed(), k < 2);
  }
  EXPECT_EQ(screen.Log,
            (std::vector<std::string>{"Download 33%", "Download 66%", "Download 100%"}));

  // Backwards after the last block, then skipping ahead past the next one.
  EXPECT_EQ(Request(1), std::vector<Bytes>{BlockAnswer(image, 1)});
  EXPECT_EQ(Request(0), std::vector<Bytes>{BlockAnswer(image, 0)});
  EXPECT_EQ(screen.LastLog(), "Download 33%");
  EXPECT_EQ(Request(2), std::vector<Bytes>{BlockAnswer(image, 2)});
  EXPECT_EQ(screen.LastLog(), "Download 100%");
  EXPECT_TRUE(Request(3).empty());
  EXPECT_EQ(screen.LastLog(), TooFar);
}

TEST_F(UploadTest, ACopyOfARequestIsNotAnsweredTwice) {
  const Bytes image = Image(2 * Block);
  Start(WriteFile("two.bin", image));
  screen.Clear();

  // Both copies arrive before the block has gone out: one answer only.
  const Bytes request = {0xBB, 0x22, 0x21, 0xBA, 0, 0};
  AddReply(request);
  AddReply(request);
  ProcessAll();
  EXPECT_EQ(Sent(), std::vector<Bytes>{BlockAnswer(image, 0)});
  EXPECT_EQ(screen.LastLog(),
            "Download request for block 0 ignored: its block is still being sent");

  // Once the block is out, the box may ask for it again and gets it.
  EXPECT_EQ(Request(0), std::vector<Bytes>{BlockAnswer(image, 0)});
  EXPECT_EQ(screen.LastLog(), "Download 50%");
}

TEST_F(UploadTest, EmptyImageAnnouncesZeroAndServesNothing) {
  const std::vector<Bytes> sent = Start(WriteFile("empty.bin", {}));
  ASSERT_EQ(sent.size(), 1u);
  Bytes expected = {0xAA, 0x0F, 0x32, 0x2B};
  const Bytes zero = WithCrc({0, 0, 0, 0});
  expected.insert(expected.end(), zero.begin(), zero.end());
  EXPECT_EQ(sent[0], expected);

  screen.Clear();
  EXPECT_TRUE(Request(0).empty());
  EXPECT_TRUE(Request(1).empty());
  EXPECT_EQ(screen.Log, (std::vector<std::string>{TooFar, TooFar}));
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(UploadTest, NegativeBlockNumbersAreOutOfRange) {
  Start(WriteFile("img.bin", Image(2 * Block)));
  screen.Clear();
  EXPECT_TRUE(Request(-1).empty());
  EXPECT_TRUE(Request(-32768).empty());
  EXPECT_EQ(screen.Log, (std::vector<std::string>{TooFar, TooFar}));
  // The wait for a proper request goes on.
  EXPECT_TRUE(core.Timeout.Armed());
}

TEST_F(UploadTest, RequestWithoutAnOpenImageIsIgnored) {
  EXPECT_TRUE(Request(0).empty());
  ASSERT_EQ(screen.Log.size(), 1u);
  EXPECT_EQ(screen.Log[0], "Download request ignored: no upload file open");

  // Also once an upload has ended.
  Start(WriteFile("img.bin", Image(10)));
  Request(0);
  Result(0x14, 0x9E);
  screen.Clear();
  EXPECT_TRUE(Request(0).empty());
  EXPECT_EQ(screen.Log, std::vector<std::string>{"Download request ignored: no upload file open"});
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(UploadTest, RefusedAnnouncementClosesTheImage) {
  const Bytes filler = {0xAA, 0x06, 0x32, 0x10};
  for (int i = 0; i < UartTxThread::SlotCount - 1; ++i)
    ASSERT_TRUE(core.Tx.TxEnqueue(4, filler.data()));

  core.Upload.btn_UpdateCodeClick(
      [&] { return std::optional<std::string>(WriteFile("img.bin", Image(10))); });
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Tx queue is full"});
  EXPECT_FALSE(core.Upload.UploadFileOpen());
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_FALSE(core.Tx.SyncStopped);
  EXPECT_TRUE(screen.Log.empty());
}

TEST_F(UploadTest, AfterCompleteTheButtonOffersTheNextUpload) {
  const Bytes image = Image(10);
  Start(WriteFile("img.bin", image));
  Request(0);
  Result(0x14, 0x9E);
  EXPECT_EQ(screen.LastLog(), "Upload Complete");
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_FALSE(core.Upload.UploadFileOpen());
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_TRUE(screen.CmdControls);
  EXPECT_EQ(core.Progress().What, Core::WorkProgress::Job::None);

  bool picked = false;
  core.Upload.btn_UpdateCodeClick([&] {
    picked = true;
    return std::optional<std::string>();
  });
  EXPECT_TRUE(picked);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(UploadTest, StopMidBlockAbandonsTheRestAndEndsTheWait) {
  const Bytes image = Image(3 * CodeUpload::BlockSize);
  Start(WriteFile("img.bin", image));
  AddReply({0xBB, 0x22, 0x21, 0xBA, 0, 0});
  ProcessAll();
  // The worker has taken block 0 and put part of it on the line.
  UartTxThread::Outgoing out;
  ASSERT_TRUE(core.Tx.TxPass(out));
  ASSERT_EQ(out.Length, static_cast<int>(CodeUpload::BlockSize + 4));
  const Core::WorkProgress before = core.Progress();
  EXPECT_EQ(before.What, Core::WorkProgress::Job::Upload);
  EXPECT_EQ(before.Total, image.size());

  EXPECT_TRUE(core.StopWork());
  EXPECT_EQ(screen.LastLog(), "Upload stopped");
  EXPECT_FALSE(core.Upload.UploadFileOpen());
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_EQ(UploadCaption(), "Upload Code");
  // The block's write ends as abandoned, which is no write error; nothing else follows.
  core.Tx.TxWritten({IoStatus::Aborted, 100});
  EXPECT_TRUE(screen.Messages.empty());
  EXPECT_TRUE(Sent().empty());
  EXPECT_FALSE(core.StopWork());
}

TEST_F(UploadTest, RefusalClosesTheImageAndRestoresTheCaption) {
  Start(WriteFile("img.bin", Image(3 * Block)));
  Request(0);
  Result(0x15, 0xA0);
  EXPECT_EQ(screen.LastLog(), "Upload fail");
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_FALSE(core.Upload.UploadFileOpen());
  // The timeout armed by block 0 keeps running.
  EXPECT_TRUE(core.Timeout.Armed());
}

TEST_F(UploadTest, ImageThatShrinksIsNotSentShort) {
  const Bytes image = Image(3 * Block);
  const std::string path = WriteFile("img.bin", image);
  Start(path);
  EXPECT_EQ(Request(0), std::vector<Bytes>{BlockAnswer(image, 0)});

  std::filesystem::resize_file(path, Block + Block / 2);
  screen.Clear();
  EXPECT_TRUE(Request(1).empty());
  EXPECT_EQ(screen.Messages, std::vector<std::string>{Shrunk});
  EXPECT_TRUE(core.Timeout.Armed());
  EXPECT_TRUE(Request(2).empty());
  EXPECT_EQ(screen.Messages, (std::vector<std::string>{Shrunk, Shrunk}));
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_TRUE(screen.Log.empty());

  // What is still there is still served.
  EXPECT_EQ(Request(0), std::vector<Bytes>{BlockAnswer(image, 0)});
}

}  // namespace
