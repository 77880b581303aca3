#include "service/FlashReadback.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/Files.h"
#include "service/ServiceRequests.h"
#include "wire/Bytes.h"

namespace {

// What the log calls the read's file.
const char* const FileName = "flashdata.bin";

}  // namespace

FlashReadback::FlashReadback(EventSink& screen, UartTxThread& tx, std::string folder,
                             ReplyTimeout* timeout)
    : Out(screen), Tx(tx), Timeout(timeout), Folder(std::move(folder)) {}

FlashReadback::~FlashReadback() {
  DiscardPartFile();
}

std::string FlashReadback::FlashFilePath() const {
  return SystemName(SystemPath(Folder) / FileName);
}

std::string FlashReadback::PartFilePath() const {
  return SystemName(SystemPath(Folder) / (std::string(FileName) + ".part"));
}

void FlashReadback::ReadFlash(std::int32_t start, std::uint32_t size) {
  OnProtocolThread();
  if (size == 0) return;

  const bool due = ReplyStillDue();
  if (Reading) AbandonRead();
  // A reply the wait has given up on is taken as lost; otherwise this read's first request
  // waits for it, so that it cannot be taken as this read's first block.
  if (!due) {
    Request = Slot::Free;
    RequestOrphaned = false;
  }

  Reading = true;
  Start = static_cast<std::uint32_t>(start);
  Total = size;
  Arrived = 0;
  FlashBytesLeft = size;
  FlashBlocksRequested = 0;
  FlashBlocksWritten = 0;
  SurplusArriving = false;
  if (Request == Slot::Free)
    SendNextRequest();
  else
    WatchReplies(true);
}

void FlashReadback::SendNextRequest() {
  const std::uint32_t length = std::min(FlashBytesLeft, BlockMax);
  const std::uint32_t address = Start + BlockMax * static_cast<std::uint32_t>(FlashBlocksRequested);
  const FlashRequest request = BuildFlashReadRequest(address, length);
  // Queued before its log lines are written: the request goes out while they are.
  const bool queued = Tx.TxEnqueue(static_cast<int>(request.size()), request.data());
  const std::uint64_t number = Tx.LastQueued();
  Out.On(ev::FlashReadAsks{FlashBytesLeft});
  if (!queued) {
    // The ring has said why; a read with a block missing could never complete. A read that
    // never got a request out has nothing to report beyond that.
    AbandonRead(FlashBlocksRequested > 0);
    return;
  }
  Out.On(ev::CommandSent{{request.begin(), request.begin() + 4}});
  FlashBlockLen = length;
  FlashBytesLeft -= length;
  ++FlashBlocksRequested;
  Request = Slot::Asked;
  RequestMessage = number;
  RequestOrphaned = false;
  SurplusArriving = false;
  // The wait starts again with every request, however slow the line.
  WatchReplies(true);
}

std::uint32_t FlashReadback::ExpectedFlashBlockLen(std::uint64_t begunBefore) const {
  if (Answers(begunBefore)) return FlashBlockLen;
  SurplusArriving = true;
  return 0;
}

void FlashReadback::FlashBlockReceived(std::uint64_t begunBefore) {
  OnProtocolThread();
  if (Answers(begunBefore)) {
    Request = Slot::Received;
    return;
  }
  // A good reply that answers nothing: the box sent more than it was asked for, and what it
  // sends next cannot be trusted to answer the next request.
  if (Reading) AbandonRead();
}

void FlashReadback::FlashReadCrcFailed(std::uint64_t begunBefore) {
  OnProtocolThread();
  if (Answers(begunBefore)) {
    // The bad reply (or the box's refusal) still answered the request out.
    if (RequestOrphaned) {
      SlotFreed();
    } else {
      Request = Slot::Free;
      AbandonRead();
    }
    return;
  }
  if (Reading) AbandonRead();
}

void FlashReadback::WriteFlashBlock(const std::uint8_t* data, std::uint32_t n) {
  OnProtocolThread();
  // Anything but the reply awaited is the remains of a reply nobody asked for.
  if (Request != Slot::Received || n != FlashBlockLen) return;
  if (RequestOrphaned) {
    SlotFreed();
    return;
  }

  if (FlashBlocksWritten == 0) {
    FlashFile = OpenFile(PartFilePath(), "wb");
    if (!FlashFile) {
      Out.On(ev::Refused{ev::Refusal::PartFileNotCreated, PartFilePath()});
      Request = Slot::Free;
      AbandonRead();
      return;
    }
  }
  if (std::fwrite(data, 1, n, FlashFile) != n) {
    Out.On(ev::Refused{ev::Refusal::PartFileNotWritten, PartFilePath()});
    Request = Slot::Free;
    AbandonRead();
    return;
  }
  ++FlashBlocksWritten;
  Arrived += n;
  SlotFreed();
}

void FlashReadback::SlotFreed() {
  Request = Slot::Free;
  RequestOrphaned = false;
  if (!Reading) return;
  if (SurplusArriving) {
    AbandonRead();
    return;
  }
  if (FlashBytesLeft > 0)
    SendNextRequest();
  else
    FinishRead();
}

void FlashReadback::FinishRead() {
  WatchReplies(false);
  Reading = false;
  FlashBlocksRequested = 0;
  FlashBlocksWritten = 0;
  std::string why = FlashFile != nullptr ? SyncAndClose(FlashFile) : "nothing was written";
  FlashFile = nullptr;
  if (!why.empty()) {
    // The bytes never reached the disk whole: there is nothing to keep.
    RemoveFile(PartFilePath());
    Out.On(ev::FlashReadEnded{ev::ReadOutcome::NotWritten, FlashFilePath(), FileName});
    return;
  }
  if (!MoveOnto(PartFilePath(), FlashFilePath(), why)) {
    // Every byte arrived and is on the disk: a failed last move must not throw it away, nor
    // leave it where the next read would write over it.
    const std::string kept = KeepBeside(PartFilePath(), FlashFilePath());
    Out.On(ev::FlashReadEnded{ev::ReadOutcome::Kept, FlashFilePath(), FileName, kept, why});
    return;
  }
  Out.On(ev::FlashReadEnded{ev::ReadOutcome::Complete, FlashFilePath(), FileName});
}

bool FlashReadback::StopRead() {
  OnProtocolThread();
  if (!Reading) return false;
  AbandonRead();
  return true;
}

void FlashReadback::AbandonRead(bool announce) {
  DiscardPartFile();
  Reading = false;
  FlashBytesLeft = 0;
  FlashBlocksRequested = 0;
  FlashBlocksWritten = 0;
  SurplusArriving = false;
  if (Request != Slot::Free) RequestOrphaned = true;
  WatchReplies(false);
  if (!announce) return;
  Out.On(ev::FlashReadEnded{ev::ReadOutcome::Failed, FlashFilePath(), FileName});
}

bool FlashReadback::ReplyStillDue() const {
  switch (Request) {
    case Slot::Free:
      return false;
    case Slot::Received:
      return true;
    case Slot::Asked:
      // Without a watchdog there is no telling a slow reply from a lost one; wait for it.
      return Timeout == nullptr || (Watching && Timeout->Armed());
  }
  return false;
}

void FlashReadback::WatchReplies(bool waiting) {
  // Only a wait this read started is ended here; another command's stays as it is.
  if (!Timeout || (!waiting && !Watching)) return;
  // Arming again restarts a wait under way; the controls, already off, are not switched on
  // and off again for every block.
  Timeout->SetReplyTimeout(waiting, ReplyTimeout::ReplyWaitSecs);
  Watching = waiting;
}

void FlashReadback::DiscardPartFile() {
  if (!FlashFile) return;
  CloseFlashFile();
  RemoveFile(PartFilePath());
}

bool FlashReadback::CloseFlashFile() {
  const bool ok = std::fclose(FlashFile) == 0;
  FlashFile = nullptr;
  return ok;
}
