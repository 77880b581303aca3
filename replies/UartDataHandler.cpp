#include "replies/UartDataHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "dlcfg/DlCfgRecord.h"
#include "platform/Worker.h"
#include "replies/CodeUpload.h"
#include "service/FlashReadback.h"
#include "wire/Bytes.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

UartDataHandler::UartDataHandler(EventSink& screen, ReplyTimeout& timeout, UartTxThread& tx,
                                 CodeUpload& upload, FlashReadback& flash)
    : Out(screen), Timeout(timeout), Tx(tx), Upload(upload), Flash(flash), ReplySlots(SlotCount) {}

bool UartDataHandler::AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) {
  OnProtocolThread();
  const int next = (ReplyWritePos + 1) % SlotCount;
  if (next == ReplyReadPos) {
    Out.On(ev::Refused{ev::Refusal::RxQueueFull});
    return false;
  }
  Slot& slot = ReplySlots[ReplyWritePos];
  slot.Kind = kind;
  slot.WrittenBefore = Tx.DoneCount();
  if (data != nullptr && length > 0)
    slot.Data.assign(data, data + length);
  else
    slot.Data.clear();
  ReplyWritePos = next;
  if (ItemAdded) ItemAdded();
  return true;
}

int UartDataHandler::QueuedCount() const {
  return (ReplyWritePos - ReplyReadPos + SlotCount) % SlotCount;
}

bool UartDataHandler::ProcessReplyItem() {
  OnProtocolThread();
  if (ReplyReadPos == ReplyWritePos) return false;
  // The slot under the read position is never written while it is queued: the writer stops
  // one short of it. So the item can be used in place.
  const Slot& slot = ReplySlots[ReplyReadPos];
  if (slot.Kind == ItemKind::Reply && slot.Data.size() >= 4)
    DispatchReply(slot);
  else
    ShowText(slot.Data);
  ReplyReadPos = (ReplyReadPos + 1) % SlotCount;
  return true;
}

void UartDataHandler::ShowText(const std::vector<std::uint8_t>& item) {
  // A text item ends with the zero the receiver put after it; a reply has none.
  auto end = item.end();
  if (end != item.begin() && *(end - 1) == 0) --end;
  Out.On(ev::BoxText{std::string(item.begin(), end)});
}

void UartDataHandler::DispatchReply(const Slot& slot) {
  const std::vector<std::uint8_t>& item = slot.Data;
  const std::uint8_t* data = item.data();
  const std::size_t length = item.size();
  switch (GetBe32(data)) {
    case Reply::UploadAccepted:
      Upload.FinishUpload();
      break;
    case Reply::UploadRefused:
      Upload.FailUpload();
      break;
    case Reply::DownloadRequest:
      // Any other length is not a request the box could have meant; drop it.
      if (length == 6)
        Upload.ServeDownloadRequest(static_cast<std::int16_t>(GetLe16(data + 4)),
                                    slot.WrittenBefore);
      break;
    case Reply::DlCfgRecord:
      if (length >= 4 + DlCfgRecordSize) {
        ev::RecordArrived arrived;
        std::copy(data + 4, data + 4 + DlCfgRecordSize, arrived.Record.begin());
        Out.On(arrived);
      }
      Timeout.SetReplyTimeout(false, 0);
      break;
    case Reply::LoaderVersion:
      if (length >= 6)
        Out.On(ev::LoaderVersion{static_cast<std::int8_t>(data[4]),
                                 static_cast<std::int8_t>(data[5])});
      Timeout.SetReplyTimeout(false, 0);
      break;
    case Reply::FlashData:
      Flash.WriteFlashBlock(data + 4, static_cast<std::uint32_t>(length - 4));
      break;
    case Reply::DownloadInfo:
      // Download information has no use here; its binary record would only litter the log.
      break;
    default:
      ShowText(item);
      break;
  }
}

void UartDataHandler::Awaits(const LoaderCommand* command, std::uint64_t message) {
  OnProtocolThread();
  if (command != nullptr && (command->OkReply != 0 || command->FailReply != 0))
    Awaited[command] = message;
}

void UartDataHandler::HandleReplyWord(std::uint32_t word, std::uint64_t begun) {
  OnProtocolThread();
  if (const LoaderCommand* command = CommandSettledBy(word)) {
    const auto awaited = Awaited.find(command);
    if (awaited == Awaited.end() || awaited->second > begun) {
      // A copy of an answer, or one to a command of an earlier line, must not pass for the
      // answer to whatever waits now: the wait goes on.
      Out.On(ev::UnexpectedAnswer{command, word});
      Out.On(ev::StatusWord{word});
      return;
    }
    Awaited.erase(awaited);
    Out.On(ev::CommandSettled{command, word});
  }
  switch (word) {
    case Reply::LoaderReady:
      Tx.SyncStopped = true;
      Out.On(ev::LoaderAnswered{});
      break;
    case Reply::ReadFlashFail:
      Out.On(ev::FlashReadRefused{});
      // The box answered a read request without its data: the read cannot complete, and the
      // replies still due must be cut to their own lengths.
      Flash.FlashReadCrcFailed(AllBegun);
      break;
    default:
      break;
  }
  Out.On(ev::StatusWord{word});
  Timeout.SetReplyTimeout(false, 0);
}

void UartDataHandler::Execute(Worker& worker) {
  bool idle = false;
  if (!worker.HandOver([&] {
        // One item per hand-over cannot keep up with a box that floods its console: take
        // what waits, for a few milliseconds at a time, so the queue never overflows and the
        // window stays responsive.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(BatchMs);
        while (ProcessReplyItem() && std::chrono::steady_clock::now() < until) {
        }
        idle = QueuedCount() == 0;
      }))
    return;
  // An item added meanwhile has woken the worker already, so this sleep ends at once.
  if (idle) worker.Sleep(Worker::Forever);
}
