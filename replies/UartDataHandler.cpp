#include "UartDataHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "Bytes.h"
#include "CodeUpload.h"
#include "DlCfgRecord.h"
#include "DlCfgView.h"
#include "FlashReadback.h"
#include "Worker.h"

UartDataHandler::UartDataHandler(Screen& screen, ReplyTimeout& timeout, UartTxThread& tx,
                                 CodeUpload& upload, FlashReadback& flash)
    : Out(screen), Timeout(timeout), Tx(tx), Upload(upload), Flash(flash), ReplySlots(SlotCount) {}

bool UartDataHandler::AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) {
  const int next = (ReplyWritePos + 1) % SlotCount;
  if (next == ReplyReadPos) {
    Out.ShowMessage("Rx queue is full");
    return false;
  }
  Slot& slot = ReplySlots[ReplyWritePos];
  slot.Kind = kind;
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
  if (ReplyReadPos == ReplyWritePos) return false;
  // The slot under the read position is never written while it is queued: the writer stops
  // one short of it. So the item can be used in place.
  const Slot& slot = ReplySlots[ReplyReadPos];
  if (slot.Kind == ItemKind::Reply && slot.Data.size() >= 4)
    DispatchReply(slot.Data);
  else
    ShowText(slot.Data);
  ReplyReadPos = (ReplyReadPos + 1) % SlotCount;
  return true;
}

void UartDataHandler::ShowText(const std::vector<std::uint8_t>& item) {
  auto end = std::find(item.begin(), item.end(), std::uint8_t{0});
  // The carriage return only ends the line; the log starts a new line by itself.
  if (end != item.begin() && *(end - 1) == 0x0D) --end;
  Out.AppendLog(std::string(item.begin(), end));
}

void UartDataHandler::DispatchReply(const std::vector<std::uint8_t>& item) {
  const std::uint8_t* data = item.data();
  const std::size_t length = item.size();
  switch (GetBe32(data)) {
    case 0xBB14219Eu:
      Upload.FinishUpload();
      break;
    case 0xBB1521A0u:
      Upload.FailUpload();
      break;
    case 0xBB2221BAu:
      // Any other length is not a request the box could have meant; drop it.
      if (length == 6) Upload.ServeDownloadRequest(static_cast<std::int16_t>(GetLe16(data + 4)));
      break;
    case 0xBB2321BCu:
      if (DlCfg != nullptr && length >= 4 + DlCfgRecordSize) DlCfg->ShowDLCfgRecord(data + 4);
      Timeout.SetReplyTimeout(false, 0);
      break;
    case 0xBB2621C2u:
      if (length >= 6) {
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d", static_cast<std::int8_t>(data[4]),
                      static_cast<std::int8_t>(data[5]));
        Out.AppendLog(text);
      }
      Timeout.SetReplyTimeout(false, 0);
      break;
    case 0xBB2821C6u:
      Flash.WriteFlashBlock(data + 4, static_cast<std::uint32_t>(length - 4));
      break;
    case 0xBB2521C0u:
      // Download information has no use here; its binary record would only litter the log.
      break;
    default:
      ShowText(item);
      break;
  }
}

void UartDataHandler::HandleReplyWord(std::uint32_t word) {
  switch (word) {
    case 0xBB102196u:
      Out.SetCaption(Caption::DlCfgStatus, "Set DL CFG OK");
      break;
    case 0xBB112198u:
      Out.SetCaption(Caption::DlCfgStatus, "Set DL CFG Fail");
      break;
    case 0xBB12219Au:
      Out.AppendLog("ERASE OK");
      break;
    case 0xBB13219Cu:
      Out.AppendLog("ERASE fail");
      break;
    case 0xBB1621A2u:
      Out.AppendLog("Verify boot code ok");
      break;
    case 0xBB1721A4u:
      Out.AppendLog("Verify boot code fail");
      break;
    case 0xBB1821A6u:
      Out.AppendLog("Verify App ok");
      break;
    case 0xBB1921A8u:
      Out.AppendLog("Verify App fail");
      break;
    case 0xBB1A21AAu:
      Out.AppendLog("Tune test ok");
      break;
    case 0xBB1B21ACu:
      Out.AppendLog("Tune test fail");
      break;
    case 0xBB1E21B2u:
      Out.AppendLog("Set default CFG ok");
      Out.SetCaption(Caption::DlCfgStatus, "Set default CFG ok");
      break;
    case 0xBB1F21B4u:
      Out.AppendLog("Set default CFG fail");
      Out.SetCaption(Caption::DlCfgStatus, "Set default CFG fail");
      break;
    case 0xBB2021B6u:
      Out.AppendLog("Run App fail");
      break;
    case 0xBB2421BEu:
      Tx.SyncStopped = true;
      Out.AppendLog("Stop send sync byte");
      Out.SetCmdControls(true);
      break;
    case 0xBB2921C8u:
      Out.AppendLog("Read flash fail");
      // The box answered a read request without its data: the read cannot complete, and the
      // replies still due must be cut to their own lengths.
      Flash.FlashReadCrcFailed();
      break;
    default:
      break;
  }
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
  // ItemAdded wakes the worker, so an item that arrives meanwhile does not wait out the rest.
  if (idle) worker.Sleep(IdleSleepMs);
}
