#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "link/EngineEvents.h"
#include "link/ReplyTimeout.h"
#include "link/UartRxThread.h"
#include "link/UartTxThread.h"
#include "platform/ProtocolThread.h"

class CodeUpload;
class FlashReadback;
class Worker;

// The reply queue (1000 slots, 999 items at most) and the dispatcher that turns items and
// status words into log lines, captions and protocol steps.
class UartDataHandler : public ReplySink, public ProtocolThreadOnly {
 public:
  static constexpr int SlotCount = 1000;
  static constexpr int BatchMs = 15;

  UartDataHandler(EventSink& screen, ReplyTimeout& timeout, UartTxThread& tx, CodeUpload& upload,
                  FlashReadback& flash);

  bool AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) override;
  // A status word settles its command only when that command is out and unsettled, and began to
  // go out before the word came in; any other is an unexpected answer and changes nothing.
  void HandleReplyWord(std::uint32_t word, std::uint64_t begun) override;
  // The message numbered message carried this command: its status word is awaited from now on,
  // once (nullptr, or a command without status words: nothing to await).
  void Awaits(const LoaderCommand* command, std::uint64_t message);
  // Nothing sent before counts any more: the line was opened afresh.
  void ForgetAwaited() { Awaited.clear(); }
  // Processes at most one item; false when the queue was empty.
  bool ProcessReplyItem();

  int QueuedCount() const;

  // One round of the worker body: hand ProcessReplyItem over; sleep while the queue is empty,
  // until ItemAdded wakes the worker.
  void Execute(Worker& worker);
  // Wakes the worker; set by whoever runs it.
  std::function<void()> ItemAdded;

 private:
  // Items keep their kind and are stored whole, whatever their size.
  struct Slot {
    ItemKind Kind = ItemKind::Text;
    std::vector<std::uint8_t> Data;
    // The transmit ring's count of written messages when the item arrived: a reply judges
    // only what had gone out by then, however long it waits here.
    std::uint64_t WrittenBefore = 0;
  };

  void ShowText(const std::vector<std::uint8_t>& item);
  void DispatchReply(const Slot& slot);

  EventSink& Out;
  ReplyTimeout& Timeout;
  UartTxThread& Tx;
  CodeUpload& Upload;
  FlashReadback& Flash;
  // Commands out and not yet settled, by their row: the message that carried each.
  std::map<const LoaderCommand*, std::uint64_t> Awaited;
  std::vector<Slot> ReplySlots;
  int ReplyWritePos = 0;
  int ReplyReadPos = 0;
};
