#include "link/UartTxThread.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/Worker.h"
#include "wire/Bytes.h"
#include "wire/Words.h"

UartTxThread::UartTxThread(UartState& uart, EventSink& screen, ReplyTimeout& timeout)
    : Uart(uart), Out(screen), Timeout(timeout), TxSlots(std::make_unique<Slot[]>(SlotCount)) {}

bool UartTxThread::TxEnqueue(int count, const std::uint8_t* bytes) {
  OnProtocolThread();
  if (!Uart.UartConnected) {
    Out.On(ev::Refused{ev::Refusal::NotConnected});
    return false;
  }
  if (count > SlotSize) {
    Out.On(ev::Refused{ev::Refusal::TooLong});
    return false;
  }
  // A negative length or missing bytes can only come from a caller's mistake; copying them
  // would run wild, so nothing is queued.
  if (count < 0 || (count > 0 && bytes == nullptr)) return false;
  if (QueuedCount() == SlotCount - 1) {
    Out.On(ev::Refused{ev::Refusal::TxQueueFull});
    return false;
  }
  Slot& slot = TxSlots[TxHead()];
  if (count > 0) std::memcpy(slot.Data, bytes, static_cast<std::size_t>(count));
  slot.Length = count;
  slot.Dropped = false;
  ++QueuedTotal;
  // The worker's own sync word needs no waking: the pass that follows writes it at once.
  if (InPass) return true;
  {
    std::lock_guard lock(Mail.Mutex);
    if (Mail.Parked && !Writing && QueuedCount() == 1) {
      Outgoing out;
      if (NameNext(out)) {
        Mail.Message = out;
        Mail.Parked = false;
      }
    }
  }
  if (Queued) Queued();
  return true;
}

int UartTxThread::WriteTimeoutMs(const LineSettings& settings, int n) {
  const long long baud = std::max<std::uint32_t>(settings.BaudRate, 1);
  const long long lineMs =
      (std::max(n, 0) * static_cast<long long>(BitsPerCharacter(settings)) * 1000 + baud - 1) /
      baud;
  return static_cast<int>(std::min<long long>(lineMs * 3 / 2 + 100, INT_MAX));
}

long long UartTxThread::LineTimeUs(const LineSettings& settings, int n) {
  const long long baud = std::max<std::uint32_t>(settings.BaudRate, 1);
  return (std::max(n, 0) * static_cast<long long>(BitsPerCharacter(settings)) * 1000000 + baud -
          1) /
         baud;
}

bool UartTxThread::TxPass(Outgoing& out) {
  OnProtocolThread();
  std::uint8_t syncWord[5] = {};
  PutCommandWord(syncWord, Cmd::Sync);

  Timeout.CheckReplyTimeout();
  if (!Uart.UartConnected || Writing) return false;
  if (QueuedCount() == 0) {
    // Queued now, written by the next pass; but only once the bytes written last have left the
    // port, so that on a slow line sync words do not pile up in front of the next command.
    if (!SyncStopped && SettleDue == 0) {
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
  return NameNext(out);
}

bool UartTxThread::NameNext(Outgoing& out) {
  const Slot& slot = TxSlots[TxTail()];
  if (slot.Length == 0) return false;
  Port* port = Uart.ComHandle.load();
  if (port == nullptr) return false;  // keep the message for when there is a port again
  out.Data = slot.Data;
  out.Length = slot.Length;
  out.TimeoutMs = WriteTimeoutMs(Uart.Settings, slot.Length);
  out.Target = port;
  out.Number = DoneTotal + 1;
  out.LineTime = std::chrono::microseconds(LineTimeUs(Uart.Settings, slot.Length));
  out.BufferTime = std::chrono::microseconds(LineTimeUs(Uart.Settings, PortBufferBytes));
  out.Open = Uart.Opens.load();
  // About 20 ms of line time a piece: small enough for a smooth progress bar and a quick stop,
  // large enough to cost nothing at any speed.
  out.PieceBytes = std::clamp<std::size_t>(Uart.Settings.BaudRate / 10 / 50, 256, 16384);
  out.Sync = out.Number == SyncNumber;
  WritingSync = out.Sync;
  WritingOpen = out.Open;
  CurrentWritten = 0;
  Writing = true;
  return true;
}

void UartTxThread::TxWritten(const IoResult& result) {
  OnProtocolThread();
  if (!Writing) return;
  Slot& slot = TxSlots[TxTail()];
  const int length = slot.Length;
  slot.Sent = static_cast<std::int32_t>(std::min<std::size_t>(result.Count, SlotSize));
  Writing = false;
  // A failed write is not retried: the slot is freed either way, before any message box.
  ++DoneTotal;
  // The next sync word waits until the worker has settled this one; one written on a port
  // closed since is never settled, and must not hold up the next open's.
  if (result.Count > 0 && WritingSync && WritingOpen == Uart.Opens.load() && Uart.UartConnected)
    SettleDue = DoneTotal;
  // Closing the port aborts a write on purpose; that is no error to report.
  if (result.Status == IoStatus::Aborted || result.Status == IoStatus::NotOpen) return;
  if (result.Status != IoStatus::Ok || result.Count != static_cast<std::size_t>(length))
    Out.On(ev::Refused{ev::Refusal::WriteFailed});
}

void UartTxThread::LineSettled(std::uint64_t message, std::uint64_t open, IoStatus drained) {
  OnProtocolThread();
  // Written on a port closed since: LineClosed has counted it.
  if (open != Uart.Opens.load() || !Uart.UartConnected) return;
  if (drained == IoStatus::Ok)
    OnLineTotal = std::max(OnLineTotal, message);
  else
    LostTotal = std::max(LostTotal, message);
  if (message >= SettleDue) SettleDue = 0;
}

void UartTxThread::LineClosed() {
  OnProtocolThread();
  // Closing flushes what the port still held.
  LostTotal = std::max(LostTotal, DoneTotal);
  SettleDue = 0;
}

int UartTxThread::DropQueued() {
  OnProtocolThread();
  int dropped = 0;
  for (std::uint64_t message = DoneTotal + 1; message <= QueuedTotal; ++message) {
    const Slot& slot = TxSlots[(message - 1) % SlotCount];
    if (slot.Dropped || slot.Length == 0) continue;
    // The one with the worker may be on its way already: it is cut short, not counted.
    const bool withWorker = Writing && message == DoneTotal + 1;
    if (message != SyncNumber && !withWorker) ++dropped;
    Abandon(message);
  }
  return dropped;
}

UartTxThread::Progress UartTxThread::Whereabouts(std::uint64_t message) const {
  if (message == 0 || message > DoneTotal) return Progress::Queued;
  // Unless its slot has been taken by a later message since: then it went out long ago.
  if (message + SlotCount > QueuedTotal) {
    const Slot& slot = TxSlots[(message - 1) % SlotCount];
    if (slot.Dropped || slot.Sent < slot.Length) return Progress::Lost;
  }
  // The port sends in order: what was written before a message that left has left too.
  if (message <= OnLineTotal) return Progress::OnLine;
  if (message <= LostTotal) return Progress::Lost;
  return Progress::Leaving;
}

void UartTxThread::Execute(Worker& worker) {
  using SteadyClock = std::chrono::steady_clock;
  if (WrittenLast.Number != 0 && SteadyClock::now() >= WrittenLast.FreeAt) {
    const Unsettled last = WrittenLast;
    WrittenLast = {};
    // Its line time is over, so the port has normally sent it already; an adapter that holds
    // bytes back is given the message's own time-out.
    const IoStatus drained = last.Target->Drain(last.DrainMs).Status;
    if (!worker.HandOver([&] { LineSettled(last.Number, last.Open, drained); }, true)) return;
  }

  Outgoing out;
  bool haveMessage = false;
  int waitMs = Worker::Forever;
  {
    std::lock_guard lock(Mail.Mutex);
    Mail.Parked = false;
    if (Mail.Message) {
      out = *Mail.Message;
      Mail.Message.reset();
      haveMessage = true;
    }
  }
  // Named for a port closed since: the next pass names it again, for the port open then.
  if (haveMessage && (out.Open != Uart.Opens.load() || Uart.ComHandle.load() == nullptr)) {
    worker.HandOver([&] { Writing = false; }, true);
    return;
  }
  if (!haveMessage && !worker.HandOver([&] {
        // A pass that queued the sync word or skipped a dropped message leaves the next message
        // due at once: the pass that writes it follows straight away. So does the pass after
        // the last dropped message, which queues the sync word into the emptied ring: sleeping
        // before it, the worker would wait for a wake that may never come.
        for (int pass = 0; !haveMessage && pass <= SlotCount; ++pass) {
          const std::uint64_t done = DoneTotal, queued = QueuedTotal;
          haveMessage = TxPass(out);
          if (done == DoneTotal && queued == QueuedTotal) break;  // nothing moved
        }
        if (!haveMessage) {
          waitMs = Timeout.MsUntilDue();
          std::lock_guard lock(Mail.Mutex);
          Mail.Parked = true;
        }
      }))
    return;
  if (haveMessage) {
    const auto start = SteadyClock::now();
    Uart.Begun.store(out.Number);
    const IoResult result = WriteInPieces(out);
    // The bytes leave the port at the line's pace, behind those written before them; but the
    // system holds no more than a buffer's worth once a write has returned.
    if (out.Open != LastOpen) LineFreeAt = {};
    LastOpen = out.Open;
    LineFreeAt =
        std::min(std::max(LineFreeAt, start) + out.LineTime, SteadyClock::now() + out.BufferTime);
    if (result.Count > 0)
      WrittenLast = {out.Number, out.Open, out.Target, LineFreeAt + SettleMargin, out.TimeoutMs};
    // Even when Disconnect suspended us meanwhile, the slot must be freed.
    if (!worker.HandOver([&] { TxWritten(result); }, true)) return;
    worker.Sleep(out.Sync ? SyncPauseMs : PauseAfterWriteMs);
    return;
  }
  // Nothing to write: the next thing due may be the settling of what was written last.
  if (WrittenLast.Number != 0) {
    const auto untilFree =
        std::chrono::ceil<std::chrono::milliseconds>(WrittenLast.FreeAt - SteadyClock::now());
    const int freeMs = static_cast<int>(std::clamp<long long>(untilFree.count(), 0, INT_MAX));
    waitMs = waitMs < 0 ? freeMs : std::min(waitMs, freeMs);
  }
  worker.Sleep(waitMs);
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
  OnProtocolThread();
  if (!StillQueued(message)) return;
  if (Writing && message == DoneTotal + 1) {
    Dropped = message;
    return;
  }
  Slot& slot = TxSlots[(message - 1) % SlotCount];
  slot.Length = 0;  // the pass skips it
  slot.Dropped = true;
}

int UartTxThread::QueuedCount() const {
  return static_cast<int>(QueuedTotal - DoneTotal);
}
