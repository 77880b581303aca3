#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/ReplyTimeout.h"
#include "link/Screen.h"
#include "link/UartState.h"
#include "platform/Port.h"

class Worker;

// The transmit ring: 16 slots of 131072 bytes (15 messages at most), written one message at a
// time by the transmit worker, with the sync word while nothing waits.
class UartTxThread {
 public:
  static constexpr int SlotCount = 16;
  static constexpr int SlotSize = 0x20000;
  static constexpr int PauseAfterWriteMs = 40;
  // The sync word goes out about every 60 ms: its pause, and the two transmit periods of 10 ms
  // that queueing it and sending it took.
  static constexpr int SyncPauseMs = PauseAfterWriteMs + 2 * 10;

  UartTxThread(UartState& uart, Screen& screen, ReplyTimeout& timeout);

  // The one way to send. Copies the bytes at once. Refusals show their message:
  // "Uart does not connected" (and empties the command entry), "Tx data length is longer than
  // buffer", "Tx queue is full".
  bool TxEnqueue(int count, const std::uint8_t* bytes);

  // What the worker is to write after a pass; Data stays valid until TxWritten.
  struct Outgoing {
    const std::uint8_t* Data = nullptr;
    int Length = 0;
    int TimeoutMs = 0;  // the time the message needs on the line, with a margin
    Port* Target = nullptr;
    std::uint64_t Number = 0;    // as counted by LastQueued
    std::size_t PieceBytes = 0;  // written in pieces of this size
    bool SyncWord = false;
  };
  // One pass, on the GUI thread: checks the reply timeout, queues the sync word when the ring
  // is empty, and names the next message to write (false when there is none).
  bool TxPass(Outgoing& out);
  // On the GUI thread after the worker's write: reports a failed write, frees the slot.
  void TxWritten(const IoResult& result);

  // The worker body: hand passes over until one names a message, write it, hand TxWritten over
  // and take the pause. With nothing to write the worker sleeps until a message is queued, a
  // wait for a reply is armed or the clock is set (Wake), or the wait's end is due.
  void Execute(Worker& worker);

  // How long a write of n bytes may take at the given line settings: the time the bytes need
  // on the line, with a margin for the driver and the adapter.
  static int WriteTimeoutMs(const LineSettings& settings, int n);

  int QueuedCount() const;
  // Messages are numbered as they are queued, from 1. A message is still queued until the
  // worker has written it (or it was dropped).
  std::uint64_t LastQueued() const { return QueuedTotal; }
  bool StillQueued(std::uint64_t message) const { return message > DoneTotal; }
  // Messages written (or dropped) so far: message m was still queued when this was below m.
  std::uint64_t DoneCount() const { return DoneTotal; }
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
    std::uint8_t Data[SlotSize];
  };

  UartState& Uart;
  Screen& Out;
  ReplyTimeout& Timeout;
  std::unique_ptr<Slot[]> TxSlots;
  // The ring's next slot to fill and next slot to send follow from the running counts.
  int TxHead() const { return static_cast<int>(QueuedTotal % SlotCount); }
  int TxTail() const { return static_cast<int>(DoneTotal % SlotCount); }

  // Worker side of a write: the message goes out in pieces, so that progress can be seen and
  // an abandoned message stops between two pieces.
  IoResult WriteInPieces(const Outgoing& out);

  bool Writing = false;                          // slot TxTail is with the worker
  std::uint64_t SyncNumber = 0;                  // the sync word queued last
  bool InPass = false;                           // TxPass is queueing the sync word
  std::atomic<std::uint64_t> CurrentWritten{0};  // bytes of slot TxTail's message written so far
  std::atomic<std::uint64_t> Dropped{0};         // the message whose rest is not to be written
  std::uint64_t QueuedTotal = 0;
  std::uint64_t DoneTotal = 0;
};
