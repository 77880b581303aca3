#include "link/UartTxThread.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/Worker.h"
#include "wire/Bytes.h"
#include "wire/Words.h"

UartTxThread::UartTxThread(UartState& uart, Screen& screen, ReplyTimeout& timeout)
    : Uart(uart), Out(screen), Timeout(timeout), TxSlots(std::make_unique<Slot[]>(SlotCount)) {}

bool UartTxThread::TxEnqueue(int count, const std::uint8_t* bytes) {
  if (!Uart.UartConnected) {
    Out.ShowMessage("Uart does not connected");
    Out.ClearCommandEntry();
    return false;
  }
  if (count > SlotSize) {
    Out.ShowMessage("Tx data length is longer than buffer");
    return false;
  }
  // A negative length or missing bytes can only come from a caller's mistake; copying them
  // would run wild, so nothing is queued.
  if (count < 0 || (count > 0 && bytes == nullptr)) return false;
  if (QueuedCount() == SlotCount - 1) {
    Out.ShowMessage("Tx queue is full");
    return false;
  }
  Slot& slot = TxSlots[TxHead()];
  if (count > 0) std::memcpy(slot.Data, bytes, static_cast<std::size_t>(count));
  slot.Length = count;
  ++QueuedTotal;
  // The worker's own sync word needs no waking: the pass that follows writes it at once.
  if (Queued && !InPass) Queued();
  return true;
}

int UartTxThread::WriteTimeoutMs(const LineSettings& settings, int n) {
  const long long bitsPerByte = 1 + std::clamp(settings.DataBits, 5, 8) +
                                (settings.ParityMode == Parity::None ? 0 : 1) +
                                (settings.Stop == StopBits::Two ? 2 : 1);
  const long long baud = std::max<std::uint32_t>(settings.BaudRate, 1);
  const long long lineMs = (std::max(n, 0) * bitsPerByte * 1000 + baud - 1) / baud;
  return static_cast<int>(std::min<long long>(lineMs * 3 / 2 + 100, INT_MAX));
}

bool UartTxThread::TxPass(Outgoing& out) {
  std::uint8_t syncWord[5] = {};
  PutCommandWord(syncWord, Cmd::Sync);

  Timeout.CheckReplyTimeout();
  if (!Uart.UartConnected || Writing) return false;
  if (QueuedCount() == 0) {
    // Queued now, written by the next pass.
    if (!SyncStopped) {
      InPass = true;
      if (TxEnqueue(sizeof syncWord, syncWord)) SyncNumber = QueuedTotal;
      InPass = false;
    }
    return false;
  }
  Slot& slot = TxSlots[TxTail()];
  if (slot.Length == 0) {
    slot.Sent = 0;
    ++DoneTotal;
    return false;
  }
  Port* port = Uart.ComHandle.load();
  if (port == nullptr) return false;  // keep the message for when there is a port again
  out.Data = slot.Data;
  out.Length = slot.Length;
  out.TimeoutMs = WriteTimeoutMs(Uart.Settings, slot.Length);
  out.Target = port;
  out.Number = DoneTotal + 1;
  // About 20 ms of line time a piece: small enough for a smooth progress bar and a quick stop,
  // large enough to cost nothing at any speed.
  out.PieceBytes = std::clamp<std::size_t>(Uart.Settings.BaudRate / 10 / 50, 256, 16384);
  out.SyncWord = out.Number == SyncNumber;
  CurrentWritten = 0;
  Writing = true;
  return true;
}

void UartTxThread::TxWritten(const IoResult& result) {
  if (!Writing) return;
  Slot& slot = TxSlots[TxTail()];
  const int length = slot.Length;
  slot.Sent = static_cast<std::int32_t>(std::min<std::size_t>(result.Count, SlotSize));
  Writing = false;
  // A failed write is not retried: the slot is freed either way, before any message box.
  ++DoneTotal;
  // Closing the port aborts a write on purpose; that is no error to report.
  if (result.Status == IoStatus::Aborted || result.Status == IoStatus::NotOpen) return;
  if (result.Status != IoStatus::Ok || result.Count != static_cast<std::size_t>(length))
    Out.ShowMessage("writeFile error");
}

void UartTxThread::Execute(Worker& worker) {
  Outgoing out;
  bool haveMessage = false;
  int waitMs = Worker::Forever;
  if (!worker.HandOver([&] {
        haveMessage = TxPass(out);
        // A pass that queued the sync word or skipped a dropped message leaves the next message
        // due at once: the pass that writes it follows straight away.
        for (int more = 0;
             !haveMessage && more < SlotCount && Uart.UartConnected && QueuedCount() > 0; ++more)
          haveMessage = TxPass(out);
        if (!haveMessage) waitMs = Timeout.MsUntilDue();
      }))
    return;
  if (!haveMessage) {
    worker.Sleep(waitMs);
    return;
  }
  const IoResult result = WriteInPieces(out);
  // Even when Disconnect suspended us meanwhile, the slot must be freed.
  if (!worker.HandOver([&] { TxWritten(result); }, true)) return;
  worker.Sleep(out.SyncWord ? SyncPauseMs : PauseAfterWriteMs);
}

IoResult UartTxThread::WriteInPieces(const Outgoing& out) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(out.TimeoutMs);
  const auto length = static_cast<std::size_t>(out.Length);
  IoResult result{IoStatus::Ok, 0};
  while (result.Count < length) {
    if (Dropped.load() == out.Number) {
      result.Status = IoStatus::Aborted;
      break;
    }
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    const std::size_t n = std::min(out.PieceBytes, length - result.Count);
    const IoResult part = out.Target->Write(out.Data + result.Count, n,
                                            static_cast<int>(std::max<long long>(left, 0)));
    result.Count += part.Count;
    CurrentWritten = result.Count;
    if (part.Status != IoStatus::Ok) {
      result.Status = part.Status;
      break;
    }
  }
  return result;
}

std::uint64_t UartTxThread::WrittenOf(std::uint64_t message, std::uint64_t length) const {
  if (message == 0 || message > DoneTotal + 1) return 0;
  if (message <= DoneTotal) {
    // Its slot has been taken by a later message since: it went out long ago, and whole as
    // far as anyone can still tell.
    if (message + SlotCount <= QueuedTotal) return length;
    return std::min<std::uint64_t>(TxSlots[(message - 1) % SlotCount].Sent, length);
  }
  return Writing ? std::min<std::uint64_t>(CurrentWritten.load(), length) : 0;
}

void UartTxThread::Abandon(std::uint64_t message) {
  if (!StillQueued(message)) return;
  if (Writing && message == DoneTotal + 1) {
    Dropped = message;
    return;
  }
  TxSlots[(message - 1) % SlotCount].Length = 0;  // the pass skips it
}

int UartTxThread::QueuedCount() const {
  return static_cast<int>(QueuedTotal - DoneTotal);
}
