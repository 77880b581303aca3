#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/EngineEvents.h"
#include "link/UartState.h"
#include "platform/ProtocolThread.h"

class Worker;

enum class ItemKind : std::uint8_t { Text, Reply };

// Where the receiver hands what it cut out of the byte stream.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual bool AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) = 0;
  // begun: UartState::Begun once the word's first byte had been read (see AllBegun).
  virtual void HandleReplyWord(std::uint32_t word, std::uint64_t begun) = 0;
};

// UartState::Begun as it was once the first byte of a reply had been read: a message numbered
// above it had not begun to go out when the reply began, so the reply cannot answer it.
// AllBegun where nobody counted: the reply may answer anything sent.
constexpr std::uint64_t AllBegun = ~std::uint64_t{0};

// The flash read-back as the receiver sees it.
class FlashBlockSource {
 public:
  virtual ~FlashBlockSource() = default;
  // N of the next flash-read reply: the length of the block it answers (0 before any read, or
  // when the reply began before the request out began to go out).
  virtual std::uint32_t ExpectedFlashBlockLen(std::uint64_t begunBefore) const = 0;
  virtual void FlashReadCrcFailed(std::uint64_t begunBefore) = 0;
  // A flash-read reply passed its CRC check: the next reply answers the next request, even
  // while this one still waits in the reply queue.
  virtual void FlashBlockReceived(std::uint64_t /*begunBefore*/) {}
};

// Cuts the box's bytes into text lines and reply frames. The worker does the blocking reads
// and hands the bytes of a pass over in pieces; RxPass treats them exactly as if it had read
// them one by one.
class UartRxThread : public ProtocolThreadOnly {
 public:
  static constexpr int LineMax = 8192;
  static constexpr int FrameMax = 8204;
  static constexpr int SilenceMs = 25;         // a pass ends after this long without a byte...
  static constexpr int FrameSilenceMs = 1000;  // ...or this long, while a reply frame is begun
  static constexpr int PieceBytes = 4096;
  static constexpr int PieceMs = 50;
  // Bytes go to the parser once the line pauses this long, without waiting for the pass to end;
  // the bytes that complete a reply frame go at once.
  static constexpr int GapMs = 2;
  // Reads that fail in a row before the port counts as lost.
  static constexpr int FailLimit = 5;

  UartRxThread(UartState& uart, EventSink& screen, ReplySink& sink, FlashBlockSource& flash);

  // A piece of one pass. passEnded drops a frame still incomplete; one whose word was known is
  // logged as "Reply frame cut short". A frame given up (an unknown word, a failed check, cut
  // short) is looked through again from the next 0xBB it took: noise that began like a frame
  // must not swallow the real frame right behind it.
  // begun: UartState::Begun once the bytes had been read.
  void RxPass(const std::uint8_t* bytes, std::size_t n, bool passEnded,
              std::uint64_t begun = AllBegun);
  // 0 incomplete, 1 not a known reply word (or a frame that can no longer be completed),
  // 2 consumed. frame holds len bytes.
  int ParseReplyFrame(std::uint8_t* frame, int len);
  // A reply frame has begun and waits for more bytes of this pass.
  bool FrameInProgress() const { return RxFrameLen > 0; }
  // Bytes the frame in progress still lacks, as far as known now (0: none in progress).
  int FrameBytesMissing() const;

  // The worker body: wait for the line to speak, read the pass, hand it over piece by piece. A
  // port that fails or hangs up is handed to PortLost once; a closed or lost port is not looked
  // at again until the worker is resumed.
  void Execute(Worker& worker);

  // Set by the main window: disconnect as Disconnect would, the text says why ("Serial port
  // hung up" or "Serial port read error"). Called on the GUI thread, only while connected.
  std::function<void(const std::string& why)> PortLost;

  // Forgets the text line received so far.
  void DropLine() {
    OnProtocolThread();
    RxLineLen = 0;
  }

  std::uint8_t RxLineBuf[LineMax + 1] = {};
  int RxLineLen = 0;

 private:
  void Take(const std::uint8_t* bytes, std::size_t n);
  // Keeps the bytes of the frame from its next 0xBB on, to be taken again if it is given up.
  void KeepForRetake(const std::uint8_t* frame, int len);

  UartState& Uart;
  EventSink& Out;
  ReplySink& Sink;
  FlashBlockSource& Flash;
  std::uint8_t RxFrame[FrameMax] = {};
  std::vector<std::uint8_t> Retake;  // of the frame just given up: to be taken again
  int RxFrameLen = 0;
  int FrameWant = 0;     // length of the fixed-length frame in progress, once its word is known
  int FrameMissing = 0;  // what the last look at the frame in progress found it lacked
  bool LineEndedByCr = false;  // the last byte taken into a line ended it with a carriage return
  bool CrBeforeFrame = false;  // LineEndedByCr as it was when the frame in progress began
  std::uint64_t PieceBegun = AllBegun;  // UartState::Begun for the bytes being taken
  std::uint64_t FrameBegun = AllBegun;  // ...for the first byte of the frame in progress

  // Worker thread only.
  std::unique_ptr<std::uint8_t[]> RxReadBuf;
  // The open whose port was handed to PortLost: it is not read again, even if left open.
  std::optional<std::uint64_t> LostOpen;
  int ReadFailures = 0;
};
