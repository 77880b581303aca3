#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Screen.h"
#include "UartState.h"

class Worker;

enum class ItemKind : std::uint8_t { Text, Reply };

// Where the receiver hands what it cut out of the byte stream.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual bool AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) = 0;
  virtual void HandleReplyWord(std::uint32_t word) = 0;
};

// The flash read-back as the receiver sees it.
class FlashBlockSource {
 public:
  virtual ~FlashBlockSource() = default;
  // N of the next flash-read reply: the length of the block it answers (0 before any read).
  virtual std::uint32_t ExpectedFlashBlockLen() const = 0;
  virtual void FlashReadCrcFailed() = 0;
};

// Cuts the box's bytes into text lines and reply frames. The worker does the blocking reads
// and hands the bytes of a pass over in pieces; RxPass treats them exactly as if it had read
// them one by one.
class UartRxThread {
 public:
  static constexpr int LineMax = 8192;
  static constexpr int FrameMax = 8204;
  static constexpr int SilenceMs = 25;  // a pass ends after this long without a byte
  static constexpr int PieceBytes = 4096;
  static constexpr int PieceMs = 50;
  static constexpr int SleepMs = 5;

  UartRxThread(UartState& uart, Screen& screen, ReplySink& sink, FlashBlockSource& flash);

  // A piece of one pass. passEnded drops a frame still incomplete.
  void RxPass(const std::uint8_t* bytes, std::size_t n, bool passEnded);
  // 0 incomplete, 1 not a known reply word, 2 consumed.
  int ParseReplyFrame(std::uint8_t* frame, int len);

  // The worker body: read a pass, hand it over piece by piece, sleep. A port that fails or
  // hangs up is handed to PortLost once.
  void Execute(Worker& worker);

  // Set by the main window: disconnect as Disconnect would, the text says why.
  std::function<void(const std::string& why)> PortLost;

  std::uint8_t RxLineBuf[LineMax + 1] = {};
  int RxLineLen = 0;

 private:
  void TakeByte(std::uint8_t byte);

  UartState& Uart;
  Screen& Out;
  ReplySink& Sink;
  FlashBlockSource& Flash;
  std::uint8_t RxFrame[FrameMax] = {};
  int RxFrameLen = 0;
};
