#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "link/EngineEvents.h"
#include "link/ReplyTimeout.h"
#include "link/UartRxThread.h"
#include "link/UartTxThread.h"
#include "platform/ProtocolThread.h"

// Reading a range of the box's flash back into flashdata.bin, 4096 bytes per request.
// Replies carry no address, so only one request is ever out: the next is sent once the block
// before it has been written, and a reply that comes when none is due cannot be mistaken for
// the answer to a later request. Blocks go to flashdata.bin.part, which replaces flashdata.bin
// only once the last block is in, so a read that fails never leaves a file that looks complete.
class FlashReadback : public FlashBlockSource, public ProtocolThreadOnly {
 public:
  static constexpr std::uint32_t BlockMax = 4096;

  // folder: where flashdata.bin goes (the working folder in the program). timeout: watches
  // the replies of a read, so that one lost on the line ends in "Timeout!!" instead of a read
  // that waits for ever without a word, and tells a reply still due from one given up.
  FlashReadback(EventSink& screen, UartTxThread& tx, std::string folder,
                ReplyTimeout* timeout = nullptr);
  ~FlashReadback() override;
  FlashReadback(const FlashReadback&) = delete;
  FlashReadback& operator=(const FlashReadback&) = delete;

  // Btn_ReadFlashClick after the edits are read: plans the read and sends its first request,
  // abandoning a read still under way. Size 0 does nothing.
  void ReadFlash(std::int32_t start, std::uint32_t size);
  // The n data bytes of one read-back reply that passed its CRC check.
  void WriteFlashBlock(const std::uint8_t* data, std::uint32_t n);

  // The receiver's question as a flash reply arrives: the length of the request out on the
  // line, or 0 when none is. Asked while a reply waits to be written, or by a reply that began
  // before the request out began to go out (a copy of the reply before, which looks just like
  // its answer), it means a reply nobody asked for is arriving, and the read is given up.
  std::uint32_t ExpectedFlashBlockLen(std::uint64_t begunBefore) const override;
  void FlashReadCrcFailed(std::uint64_t begunBefore) override;
  void FlashBlockReceived(std::uint64_t begunBefore) override;

  // Ends a read under way at once, leaving flashdata.bin as it was. False when none was.
  bool StopRead();
  bool ReadUnderWay() const { return Reading; }
  // Bytes of the read that have arrived and been written, and the read's size.
  std::uint64_t BytesArrived() const { return Arrived; }
  std::uint64_t ReadBytes() const { return Total; }

  std::string FlashFilePath() const;
  std::string PartFilePath() const;

 private:
  std::uint32_t FlashBytesLeft = 0;  // bytes of the read not yet requested
  std::uint32_t FlashBlockLen = 0;   // the block requested last: what its reply must carry
  std::int32_t FlashBlocksRequested = 0;
  std::int32_t FlashBlocksWritten = 0;

  // The one request out: its reply is awaited (Asked), or has arrived and waits in the reply
  // queue to be written (Received).
  enum class Slot : std::uint8_t { Free, Asked, Received };

  void SendNextRequest();
  // Marks the slot's reply as belonging to no read: it is still cut at its own length, then
  // dropped. A read planned meanwhile starts once the slot is free.
  void AbandonRead(bool announce = true);
  void SlotFreed();
  void FinishRead();
  bool ReplyStillDue() const;
  // Whether a reply that began once message begunBefore was going out answers the request out.
  bool Answers(std::uint64_t begunBefore) const {
    return Request == Slot::Asked && RequestMessage <= begunBefore;
  }
  bool CloseFlashFile();
  void DiscardPartFile();
  void WatchReplies(bool waiting);

  EventSink& Out;
  UartTxThread& Tx;
  ReplyTimeout* Timeout;
  std::string Folder;
  bool Reading = false;  // a read is planned or under way
  std::uint32_t Start = 0;
  std::uint64_t Total = 0;
  std::uint64_t Arrived = 0;
  Slot Request = Slot::Free;
  std::uint64_t RequestMessage = 0;  // the request's number in the transmit ring
  bool RequestOrphaned = false;      // the slot's request belongs to an abandoned read
  // Set by the receiver's question when the reply arriving answers no request out: the bytes
  // of a surplus reply are arriving, and the next request must not be sent before they have
  // passed.
  mutable bool SurplusArriving = false;
  std::FILE* FlashFile = nullptr;
  bool Watching = false;  // the reply timeout is armed for this read
};
