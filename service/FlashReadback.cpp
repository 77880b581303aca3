#include "FlashReadback.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "Bytes.h"
#include "ServiceRequests.h"

namespace {

const char* const LeftUnchanged = "Read flash stopped: flashdata.bin left unchanged";
constexpr int ReplyWaitSecs = 20;

}  // namespace

FlashReadback::FlashReadback(Screen& screen, UartTxThread& tx, std::string folder,
                             ReplyTimeout* timeout)
    : Out(screen), Tx(tx), Timeout(timeout), Folder(std::move(folder)) {}

FlashReadback::~FlashReadback() {
  if (FlashFile) {
    CloseFlashFile();
    std::remove(PartFilePath().c_str());
  }
}

std::string FlashReadback::FlashFilePath() const {
  return (std::filesystem::path(Folder) / "flashdata.bin").string();
}

std::string FlashReadback::PartFilePath() const {
  return (std::filesystem::path(Folder) / "flashdata.bin.part").string();
}

void FlashReadback::ReadFlash(std::int32_t start, std::uint32_t size) {
  if (size == 0) return;

  const std::uint64_t blocks = (std::uint64_t{size} + BlockMax - 1) / BlockMax;
  const int freeSlots = std::max(Tx.FreeSlots(), 0);
  if (blocks > static_cast<std::uint64_t>(freeSlots)) {
    char text[96];
    std::snprintf(text, sizeof text, "Read too large: at most 0x%" PRIX32 " bytes fit in one read",
                  static_cast<std::uint32_t>(freeSlots) * BlockMax);
    Out.ShowMessage(text);
    return;
  }

  // Replies still due for an earlier read cannot be told apart from this read's, so the
  // earlier read is given up rather than mixed in.
  if (FlashBlocksRequested > 0) AbandonRead();
  ForgetRequests();

  const auto first = static_cast<std::uint32_t>(start);
  FlashBytesLeft = size;
  while (FlashBytesLeft > 0) {
    Out.AppendLog(std::to_string(FlashBytesLeft));
    FlashBlockLen = std::min(FlashBytesLeft, BlockMax);
    FlashBytesLeft -= FlashBlockLen;
    const std::uint32_t address =
        first + BlockMax * static_cast<std::uint32_t>(FlashBlocksRequested);
    const FlashRequest request = BuildFlashReadRequest(address, FlashBlockLen);
    if (!Tx.TxEnqueue(static_cast<int>(request.size()), request.data())) {
      // The ring has said why; a read with a block missing could never complete.
      FlashBytesLeft = 0;
      if (FlashBlocksRequested > 0) AbandonRead();
      return;
    }
    Out.AppendLog(CmdLogLine(request.data(), 4));
    RequestLengths.push_back(FlashBlockLen);
    ++FlashBlocksRequested;
  }
  WatchReplies(true);
}

std::uint32_t FlashReadback::ExpectedFlashBlockLen() const {
  return RepliesReceived < RequestLengths.size() ? RequestLengths[RepliesReceived] : 0;
}

void FlashReadback::FlashBlockReceived() {
  if (RepliesReceived < RequestLengths.size()) ++RepliesReceived;
  if (FlashBlocksRequested == 0 && RepliesReceived == RequestLengths.size()) ForgetRequests();
}

void FlashReadback::WriteFlashBlock(const std::uint8_t* data, std::uint32_t n) {
  if (FlashBlocksRequested == 0) return;  // nothing asked for, or the rest of a read given up

  const auto index = static_cast<std::size_t>(FlashBlocksWritten);
  if (index >= RequestLengths.size() || n != RequestLengths[index]) {
    Out.AppendLog("Read flash block length wrong");
    AbandonRead();
    return;
  }

  if (FlashBlocksWritten == 0) {
    FlashFile = std::fopen(PartFilePath().c_str(), "wb");
    if (!FlashFile) {
      Out.ShowMessage("Can't create " + PartFilePath());
      AbandonRead();
      return;
    }
  }
  if (std::fwrite(data, 1, n, FlashFile) != n) {
    Out.ShowMessage("Can't write " + PartFilePath());
    AbandonRead();
    return;
  }

  ++FlashBlocksWritten;
  if (FlashBlocksWritten != FlashBlocksRequested) {
    // The wait starts again with every block, however slow the line.
    WatchReplies(true);
    return;
  }

  WatchReplies(false);
  ForgetRequests();
  const bool closed = CloseFlashFile();
  if (!closed || std::rename(PartFilePath().c_str(), FlashFilePath().c_str()) != 0) {
    std::remove(PartFilePath().c_str());
    Out.ShowMessage("Can't write " + FlashFilePath());
    Out.AppendLog(LeftUnchanged);
  }
}

void FlashReadback::FlashReadCrcFailed() {
  // The bad reply still answered its request; the ones after it keep their lengths.
  if (RepliesReceived < RequestLengths.size()) ++RepliesReceived;
  if (FlashBlocksRequested > 0) AbandonRead();
  if (RepliesReceived == RequestLengths.size()) ForgetRequests();
}

void FlashReadback::AbandonRead() {
  if (FlashFile) {
    CloseFlashFile();
    std::remove(PartFilePath().c_str());
  }
  FlashBytesLeft = 0;
  FlashBlocksRequested = 0;
  FlashBlocksWritten = 0;
  WatchReplies(false);
  Out.AppendLog(LeftUnchanged);
}

void FlashReadback::ForgetRequests() {
  RequestLengths.clear();
  RepliesReceived = 0;
  FlashBlocksRequested = 0;
  FlashBlocksWritten = 0;
}

void FlashReadback::WatchReplies(bool waiting) {
  // Only a wait this read started is ended here; another command's stays as it is.
  if (!Timeout || (!waiting && !Watching)) return;
  Timeout->SetReplyTimeout(false, 0);
  if (waiting) Timeout->SetReplyTimeout(true, ReplyWaitSecs);
  Watching = waiting;
}

bool FlashReadback::CloseFlashFile() {
  const bool ok = std::fclose(FlashFile) == 0;
  FlashFile = nullptr;
  return ok;
}
