#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "link/EngineEvents.h"
#include "link/ReplyTimeout.h"
#include "link/UartState.h"
#include "platform/Port.h"
#include "platform/ProtocolThread.h"

class Worker;

// The transmit ring: 16 slots of 131072 bytes (15 messages at most), written one message at a
// time by the transmit worker, with the sync word while nothing waits.
class UartTxThread : public ProtocolThreadOnly {
 public:
  static constexpr int SlotCount = 16;
  static constexpr int SlotSize = 0x20000;
  static constexpr int PauseAfterWriteMs = 40;
  // The sync word goes out about every 60 ms: its pause, and the two transmit periods of 10 ms
  // that queueing it and sending it took.
  static constexpr int SyncPauseMs = PauseAfterWriteMs + 2 * 10;
  // Allowance past a message's line time before the port is asked whether it has left: the far
  // end of a pseudo-terminal, which cannot tell, takes the bytes at its own pace.
  static constexpr std::chrono::milliseconds SettleMargin{10};
  // What a serial driver holds of written bytes (Linux: a page); a write returns once the rest
  // is in it.
  static constexpr int PortBufferBytes = 4096;

  UartTxThread(UartState& uart, EventSink& screen, ReplyTimeout& timeout);

  // The one way to send. Copies the bytes at once; a worker asleep with nothing to write is
  // handed the message straight away and writes it without a pass. Refusals show their message:
  // "Uart does not connected" (and empties the command entry), "Tx data length is longer than
  // buffer", "Tx queue is full".
  bool TxEnqueue(int count, const std::uint8_t* bytes);

  // What the worker is to write after a pass; Data stays valid until TxWritten.
  struct Outgoing {
    const std::uint8_t* Data = nullptr;
    int Length = 0;
    int TimeoutMs = 0;  // the time the message needs on the line, with a margin
    Port* Target = nullptr;
    std::uint64_t Number = 0;                 // as counted by LastQueued
    std::chrono::microseconds LineTime{0};    // the bytes' time on the line, start to stop bit
    std::chrono::microseconds BufferTime{0};  // ...and that of a full buffer of the system's
    std::uint64_t Open = 0;                   // the port's open it goes out on (UartState::Opens)
    std::size_t PieceBytes = 0;               // written in pieces of this size
    bool Sync = false;                        // the sync word
  };
  // One pass, on the GUI thread: checks the reply timeout, queues the sync word when the ring
  // is empty, and names the next message to write (false when there is none).
  bool TxPass(Outgoing& out);
  // On the GUI thread after the worker's write: reports a failed write, frees the slot.
  void TxWritten(const IoResult& result);

  // On the GUI thread once the bytes written last have had their line time: whether the port
  // says they have left it (drained is Ok).
  void LineSettled(std::uint64_t message, std::uint64_t open, IoStatus drained);
  // The port was closed: what had not left it by then never will.
  void LineClosed();
  // The port was lost: what is still queued was meant for the box on that line, and the next
  // open may be another's (a station's next box). Drops it all; returns how many messages that
  // were, the sync word not counted.
  int DropQueued();

  // The worker body: settle what was written last once its line time is over, take the message
  // handed to it while it slept or else hand passes over until one names a message, write it,
  // hand TxWritten over and take the pause. With nothing to write the worker sleeps until a
  // message is queued, a wait for a reply is armed or the clock is set (Wake), or the wait's end
  // or the settling of what was written last is due.
  void Execute(Worker& worker);

  // How long a write of n bytes may take at the given line settings: the time the bytes need
  // on the line, with a margin for the driver and the adapter.
  static int WriteTimeoutMs(const LineSettings& settings, int n);
  // The time n bytes take on the line, start bit to stop bit, in microseconds.
  static long long LineTimeUs(const LineSettings& settings, int n);

  int QueuedCount() const;
  // Messages are numbered as they are queued, from 1. A message is still queued until the
  // worker has written it (or it was dropped).
  std::uint64_t LastQueued() const { return QueuedTotal; }
  bool StillQueued(std::uint64_t message) const { return message > DoneTotal; }
  // Messages written (or dropped) so far: message m was still queued when this was below m.
  std::uint64_t DoneCount() const { return DoneTotal; }
  // Where a message is: queued or being written; written and on its way out of the port; gone
  // out on the line (the port drained after its line time); or lost, wholly or in part
  // (dropped, a failed write, a port that would not drain or was closed first).
  enum class Progress { Queued, Leaving, OnLine, Lost };
  Progress Whereabouts(std::uint64_t message) const;
  int FreeSlots() const { return SlotCount - 1 - QueuedCount(); }
  // Bytes of a message that have gone out to the line so far: 0 while it waits, then as many
  // as were written (all of them, unless the write failed or the message was abandoned).
  std::uint64_t WrittenOf(std::uint64_t message, std::uint64_t length) const;
  // Drops a message: unsent if it still waits, or the rest of it if the worker is writing it.
  void Abandon(std::uint64_t message);

  bool SyncStopped = false;
  // Called whenever a message was queued; wakes an idle worker.
  std::function<void()> Queued;

 private:
  struct Slot {
    std::int32_t Length = 0;
    std::int32_t Sent = 0;  // once the message is done: how many of its bytes went out
    bool Dropped = false;   // abandoned before it was written
    std::uint8_t Data[SlotSize];
  };

  UartState& Uart;
  EventSink& Out;
  ReplyTimeout& Timeout;
  std::unique_ptr<Slot[]> TxSlots;
  // The ring's next slot to fill and next slot to send follow from the running counts.
  int TxHead() const { return static_cast<int>(QueuedTotal % SlotCount); }
  int TxTail() const { return static_cast<int>(DoneTotal % SlotCount); }

  // Names the message at the ring's tail for the worker (false: nothing to write there now).
  bool NameNext(Outgoing& out);

  // Worker side of a write: the message goes out in pieces, so that progress can be seen and
  // an abandoned message stops between two pieces.
  IoResult WriteInPieces(const Outgoing& out);

  // What the worker wrote last and when the line has carried it: it is settled once that
  // time has passed (worker thread only).
  struct Unsettled {
    std::uint64_t Number = 0;
    std::uint64_t Open = 0;
    Port* Target = nullptr;
    std::chrono::steady_clock::time_point FreeAt{};
    int DrainMs = 0;
  };
  Unsettled WrittenLast;
  std::chrono::steady_clock::time_point LineFreeAt{};
  std::uint64_t LastOpen = 0;

  // Between the protocol thread and a worker that sleeps with nothing to write. A message
  // queued then is named at once and left here, so that it goes out without waiting for a pass
  // on the protocol thread, which may be busy with whatever queued it.
  struct Mailbox {
    std::mutex Mutex;
    bool Parked = false;  // the last pass found nothing, and the worker has not woken since
    std::optional<Outgoing> Message;
  };
  Mailbox Mail;

  bool Writing = false;                          // slot TxTail is with the worker
  bool InPass = false;                           // TxPass is queueing the sync word
  std::atomic<std::uint64_t> CurrentWritten{0};  // bytes of slot TxTail's message written so far
  std::atomic<std::uint64_t> Dropped{0};         // the message whose rest is not to be written
  std::uint64_t QueuedTotal = 0;
  std::uint64_t DoneTotal = 0;
  std::uint64_t OnLineTotal = 0;  // every message up to this one has gone out on the line
  std::uint64_t LostTotal = 0;    // ...or, where not, never will
  std::uint64_t SettleDue = 0;    // the sync word whose settling the next one waits for
  std::uint64_t SyncNumber = 0;   // the sync word queued last
  bool WritingSync = false;       // the message with the worker is that sync word
  std::uint64_t WritingOpen = 0;  // ...and the port's open it was named for
};
