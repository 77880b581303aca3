#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "replies/CodeUpload.h"
#include "tests/replies/CoreFixture.h"
#include "tests/support/TestBytes.h"
#include "wire/Bytes.h"
#include "wire/Words.h"

namespace {

using namespace std::chrono_literals;

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

// The box asks for block k.
Bytes RequestFrame(std::int16_t k) {
  Bytes block(2);
  PutLe16(block.data(), static_cast<std::uint16_t>(k));
  return PayloadFrame(Reply::DownloadRequest, block);
}

class UploadTest : public CoreFixture {
 protected:
  // Uploads the image at path; returns what went out.
  Bytes Start(const std::string& path) {
    core.StartUpload(path);
    return Sent();
  }

  // The box asks for block k; returns what went out in answer.
  Bytes Request(std::int16_t k) {
    port.Say(RequestFrame(k));
    Settle();
    return Sent();
  }

  void Result(std::uint32_t word) {
    port.Say(WireWord(word));
    Settle();
  }

  std::string UploadCaption() { return screen.CaptionOf(RecordingScreen::Caption::UploadButton); }
  bool Uploading() { return core.Progress().What == Core::WorkProgress::Job::Upload; }

  static constexpr const char* TooFar = "Request data is longer than file size";
  static constexpr const char* Shrunk = "Request data length is not correspond to file point";
};

TEST_F(UploadTest, NothingHappensWithThePortClosed) {
  core.ClosePort();
  screen.Clear();
  EXPECT_TRUE(Start(WriteFile("app.bin", Image(Block))).empty());
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Uart does not connected"});
  EXPECT_FALSE(Uploading());
}

// Stopping is the engine's to know: an upload under way stops, with nothing under way nothing
// happens.
TEST_F(UploadTest, StopEndsAnUploadUnderWayOnly) {
  EXPECT_FALSE(core.StopUpload());
  Start(WriteFile("app.bin", Image(Block)));
  ASSERT_TRUE(Uploading());
  EXPECT_TRUE(core.StopUpload());
  EXPECT_FALSE(Uploading());
  EXPECT_TRUE(screen.Logged("Upload stopped"));
}

TEST_F(UploadTest, UnopenableFileSendsNothing) {
  EXPECT_TRUE(Start(PathOf("missing.bin")).empty());
  EXPECT_TRUE(Start(dir.Path()).empty());  // a folder has no size to announce
  EXPECT_EQ(screen.Messages, (std::vector<std::string>{"open file error", "open file error"}));
  EXPECT_FALSE(Uploading());
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_TRUE(screen.Log.empty());
}

TEST_F(UploadTest, AnnouncesTheImageSizeWithItsCrc) {
  const std::string path = WriteFile("app.bin", Image(Block));
  port.Say(ToBytes("partial"));
  ASSERT_TRUE(Until([&] { return port.Heard(); }));
  EXPECT_EQ(Start(path), WireWord(Cmd::Upload) + WithCrc({0xFC, 0xFF, 0x01, 0x00}));

  EXPECT_TRUE(core.AwaitingReply());
  EXPECT_FALSE(screen.CmdControls);
  EXPECT_EQ(UploadCaption(), "Stop");
  EXPECT_EQ(screen.Log, std::vector<std::string>{"upload " + path + " to STB start..."});
  EXPECT_EQ(screen.SystemLines, screen.Log);  // the path is the system's text
  const Core::WorkProgress progress = core.Progress();
  EXPECT_EQ(progress.What, Core::WorkProgress::Job::Upload);
  EXPECT_EQ(progress.Done, 0u);
  EXPECT_EQ(progress.Total, Block);

  // The line the box had begun is dropped, not glued to what it says next.
  port.Say(TextLine("next"));
  ASSERT_TRUE(Until([&] { return screen.Log.size() == 2; }));
  EXPECT_EQ(screen.LastLog(), "next");
}

TEST_F(UploadTest, TheAnnouncementStopsTheSyncWordARefusedOneDoesNot) {
  core.ResumeSync();
  EXPECT_EQ(SentAtLeast(kSyncWord.size()), kSyncWord);
  Start(WriteFile("app.bin", Image(10)));
  RunFor(200ms);  // four sync periods
  EXPECT_TRUE(port.TakeWritten().empty());
  ASSERT_TRUE(core.StopWork());

  FillRing();
  core.ResumeSync();
  core.StartUpload(WriteFile("img.bin", Image(10)));
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Tx queue is full"});
  port.ReleaseWrites();
  // The erase requests in the ring go out, then the sync word again.
  const std::size_t queued = (UartTxThread::SlotCount - 1) * 16;
  const Bytes line = SentAtLeast(queued + kSyncWord.size());
  ASSERT_GE(line.size(), queued + kSyncWord.size());
  EXPECT_EQ(Bytes(line.begin() + queued, line.begin() + queued + 5), kSyncWord);
}

TEST_F(UploadTest, OneByteImageIsOneShortBlock) {
  const Bytes image = Image(1);
  Start(WriteFile("one.bin", image));
  screen.Clear();

  EXPECT_EQ(Request(0), BlockAnswer(image, 0));
  EXPECT_EQ(screen.Log, std::vector<std::string>{"Download 100%"});
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_TRUE(screen.CmdControls);

  EXPECT_TRUE(Request(1).empty());
  EXPECT_EQ(screen.LastLog(), TooFar);
}

TEST_F(UploadTest, BlockBoundaryImages) {
  {
    SCOPED_TRACE("exactly one block");
    const Bytes image = Image(Block);
    Start(WriteFile("exact.bin", image));
    const Bytes sent = Request(0);
    // A full block and its CRC fill one transmit slot exactly.
    EXPECT_EQ(sent.size(), static_cast<std::size_t>(UartTxThread::SlotSize));
    EXPECT_EQ(sent, BlockAnswer(image, 0));
    EXPECT_EQ(screen.LastLog(), "Download 100%");
    EXPECT_FALSE(core.AwaitingReply());
    EXPECT_TRUE(Request(1).empty());
    EXPECT_EQ(screen.LastLog(), TooFar);
    Result(Reply::UploadAccepted);
    EXPECT_TRUE(Start("unused").empty());
  }
  {
    SCOPED_TRACE("one byte more than a block");
    const Bytes image = Image(Block + 1);
    Start(WriteFile("plus1.bin", image));
    EXPECT_EQ(Request(0), BlockAnswer(image, 0));
    EXPECT_EQ(screen.LastLog(), "Download 99%");
    EXPECT_TRUE(core.AwaitingReply());
    EXPECT_FALSE(screen.CmdControls);

    const Bytes last = Request(1);
    EXPECT_EQ(last.size(), 5u);
    EXPECT_EQ(last, BlockAnswer(image, 1));
    EXPECT_EQ(screen.LastLog(), "Download 100%");
    EXPECT_FALSE(core.AwaitingReply());
  }
}

TEST_F(UploadTest, ThreeBlocksInOrderThenRequestedAgainInAnyOrder) {
  const Bytes image = Image(3 * Block);
  Start(WriteFile("three.bin", image));
  screen.Clear();

  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(Request(static_cast<std::int16_t>(k)), BlockAnswer(image, k));
    EXPECT_EQ(core.AwaitingReply(), k < 2);
  }
  EXPECT_EQ(screen.Log,
            (std::vector<std::string>{"Download 33%", "Download 66%", "Download 100%"}));

  // Backwards after the last block, then skipping ahead past the next one.
  EXPECT_EQ(Request(1), BlockAnswer(image, 1));
  EXPECT_EQ(Request(0), BlockAnswer(image, 0));
  EXPECT_EQ(screen.LastLog(), "Download 33%");
  EXPECT_EQ(Request(2), BlockAnswer(image, 2));
  EXPECT_EQ(screen.LastLog(), "Download 100%");
  EXPECT_TRUE(Request(3).empty());
  EXPECT_EQ(screen.LastLog(), TooFar);
}

TEST_F(UploadTest, ACopyOfARequestIsNotAnsweredTwice) {
  const Bytes image = Image(2 * Block);
  Start(WriteFile("two.bin", image));
  screen.Clear();

  // Both copies arrive before the block has gone out: one answer only.
  port.Say(RequestFrame(0) + RequestFrame(0));
  Settle();
  EXPECT_EQ(Sent(), BlockAnswer(image, 0));
  EXPECT_EQ(screen.LastLog(),
            "Download request for block 0 ignored: its block is still being sent");

  // Once the block is out, the box may ask for it again and gets it.
  EXPECT_EQ(Request(0), BlockAnswer(image, 0));
  EXPECT_EQ(screen.LastLog(), "Download 50%");
}

TEST_F(UploadTest, EmptyImageAnnouncesZeroAndServesNothing) {
  EXPECT_EQ(Start(WriteFile("empty.bin", {})), WireWord(Cmd::Upload) + WithCrc({0, 0, 0, 0}));

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
  EXPECT_TRUE(core.AwaitingReply());
}

TEST_F(UploadTest, RequestWithoutAnOpenImageIsIgnored) {
  EXPECT_TRUE(Request(0).empty());
  EXPECT_EQ(screen.Log, std::vector<std::string>{"Download request ignored: no upload file open"});

  // Also once an upload has ended.
  Start(WriteFile("img.bin", Image(10)));
  Request(0);
  Result(Reply::UploadAccepted);
  screen.Clear();
  EXPECT_TRUE(Request(0).empty());
  EXPECT_EQ(screen.Log, std::vector<std::string>{"Download request ignored: no upload file open"});
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(UploadTest, RefusedAnnouncementClosesTheImage) {
  FillRing();
  core.StartUpload(WriteFile("img.bin", Image(10)));
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Tx queue is full"});
  EXPECT_FALSE(Uploading());
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_TRUE(screen.Log.empty());
  port.ReleaseWrites();
  const Bytes sent = Sent();
  EXPECT_EQ(sent.size(), (UartTxThread::SlotCount - 1) * 16u) << "more than the erase requests";
}

TEST_F(UploadTest, AfterCompleteTheButtonOffersTheNextUpload) {
  const Bytes image = Image(10);
  Start(WriteFile("img.bin", image));
  Request(0);
  Result(Reply::UploadAccepted);
  EXPECT_EQ(screen.LastLog(), "Upload Complete");
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_FALSE(Uploading());
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_TRUE(screen.CmdControls);
  EXPECT_EQ(core.Progress().What, Core::WorkProgress::Job::None);
  EXPECT_FALSE(core.StopUpload()) << "nothing left to stop";
}

TEST_F(UploadTest, StopMidBlockAbandonsTheRestAndEndsTheWait) {
  const Bytes image = Image(3 * Block);
  Start(WriteFile("img.bin", image));
  // The line stalls once part of block 0 is out.
  port.HoldWritesAfter(1000);
  port.Say(RequestFrame(0));
  ASSERT_TRUE(Until([&] { return port.WriterHeld(); }));
  const Core::WorkProgress before = core.Progress();
  EXPECT_EQ(before.What, Core::WorkProgress::Job::Upload);
  EXPECT_EQ(before.Total, image.size());
  EXPECT_GE(before.Done, 1000u);
  EXPECT_LT(before.Done, Block);

  EXPECT_TRUE(core.StopWork());
  ASSERT_GE(screen.Log.size(), 2u);
  EXPECT_EQ(screen.Log[screen.Log.size() - 2], "Upload stopped");
  EXPECT_EQ(screen.LastLog(), UploadStoppedAdvice) << "the box waits for the rest of block 0";
  EXPECT_FALSE(Uploading());
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_EQ(UploadCaption(), "Upload Code");
  // The block's write ends as abandoned, which is no write error; nothing else follows.
  port.ReleaseWrites();
  const Bytes sent = Sent();
  const Bytes block = BlockAnswer(image, 0);
  ASSERT_LT(sent.size(), block.size());
  EXPECT_EQ(sent, Bytes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(sent.size())));
  RunFor(100ms);
  EXPECT_TRUE(screen.Messages.empty());
  EXPECT_TRUE(Sent().empty());
  EXPECT_FALSE(core.StopWork());
}

// Stopped while the box judges an image that went out whole, the box needs no restart; stopped
// before it asked for anything, it waits for block 0.
TEST_F(UploadTest, StopTellsWhetherTheBoxStillWaitsForBlockData) {
  const Bytes image = Image(1000);
  Start(WriteFile("img.bin", image));
  EXPECT_EQ(Request(0), BlockAnswer(image, 0));
  screen.Clear();
  EXPECT_TRUE(core.StopWork());
  EXPECT_EQ(screen.Log, std::vector<std::string>{"Upload stopped"});

  Start(WriteFile("img.bin", image));
  screen.Clear();
  EXPECT_TRUE(core.StopWork());
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"Upload stopped", UploadStoppedAdvice}));
}

TEST_F(UploadTest, RefusalClosesTheImageAndRestoresTheCaption) {
  Start(WriteFile("img.bin", Image(3 * Block)));
  Request(0);
  Result(Reply::UploadRefused);
  EXPECT_EQ(screen.LastLog(), "Upload fail");
  EXPECT_EQ(UploadCaption(), "Upload Code");
  EXPECT_FALSE(Uploading());
  // The timeout armed by block 0 keeps running.
  EXPECT_TRUE(core.AwaitingReply());
}

TEST_F(UploadTest, ImageThatShrinksIsNotSentShort) {
  const Bytes image = Image(3 * Block);
  const std::string path = WriteFile("img.bin", image);
  Start(path);
  EXPECT_EQ(Request(0), BlockAnswer(image, 0));

  std::filesystem::resize_file(path, Block + Block / 2);
  screen.Clear();
  EXPECT_TRUE(Request(1).empty());
  EXPECT_EQ(screen.Messages, std::vector<std::string>{Shrunk});
  EXPECT_TRUE(core.AwaitingReply());
  EXPECT_TRUE(Request(2).empty());
  EXPECT_EQ(screen.Messages, (std::vector<std::string>{Shrunk, Shrunk}));
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_TRUE(screen.Log.empty());

  // What is still there is still served.
  EXPECT_EQ(Request(0), BlockAnswer(image, 0));
}

}  // namespace
