#include "link/UartRxThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/Worker.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/HexText.h"
#include "wire/ReplyWords.h"
#include "wire/Words.h"

namespace {

// What the next byte belongs to: the console's text, a reply frame's first four bytes (its
// word; text too until the word is known), or a frame's bytes past its word.
enum class RxState { Text, Word, Payload };

RxState StateOf(int frameLen) {
  return frameLen == 0 ? RxState::Text : frameLen < 4 ? RxState::Word : RxState::Payload;
}

}  // namespace

UartRxThread::UartRxThread(UartState& uart, EventSink& screen, ReplySink& sink,
                           FlashBlockSource& flash)
    : Uart(uart),
      Out(screen),
      Sink(sink),
      Flash(flash),
      RxReadBuf(std::make_unique<std::uint8_t[]>(PieceBytes)) {}

void UartRxThread::RxPass(const std::uint8_t* bytes, std::size_t n, bool passEnded,
                          std::uint64_t begun) {
  OnProtocolThread();
  PieceBegun = begun;
  if (!Uart.UartConnected) {
    RxFrameLen = 0;
    LineEndedByCr = false;
    return;
  }
  Take(bytes, n);
  if (!passEnded) return;
  // Only a frame whose word was known is a loss worth telling; a lone 0xBB is text.
  if (RxFrameLen >= 4) Out.On(ev::ReplyCutShort{});
  // Past its word a frame's bytes are no text, so a frame start among them is all they can be.
  while (RxFrameLen > 4) {
    KeepForRetake(RxFrame, RxFrameLen);
    RxFrameLen = 0;
    if (Retake.empty()) break;
    RxLineLen = 0;
    std::vector<std::uint8_t> again;
    again.swap(Retake);
    Take(again.data(), again.size());
  }
  RxFrameLen = 0;
}

void UartRxThread::KeepForRetake(const std::uint8_t* frame, int len) {
  Retake.clear();
  if (len <= 4) return;
  const auto* start = static_cast<const std::uint8_t*>(std::memchr(frame + 1, 0xBB, len - 1));
  if (start != nullptr) Retake.assign(start, frame + len);
}

void UartRxThread::Take(const std::uint8_t* bytes, std::size_t n) {
  // The lengths live in locals while bytes are stored, so that every byte store need not
  // reload them; they are written back before anything outside is called.
  int frameLen = RxFrameLen;
  int lineLen = RxLineLen;
  bool afterCr = LineEndedByCr;
  // Bytes of the frame in progress that cannot complete it, as the last look found: they are
  // stored as they are. Looked at afresh in every call, since the flash block's length may
  // change between two.
  int plainBytes = 0;

  // The frame may be complete with the byte just stored: what the parser makes of it. True when
  // that byte is done with; false when it is text too.
  auto frameMayEnd = [&]() -> bool {
    RxFrameLen = frameLen;
    RxLineLen = lineLen;
    const int result = ParseReplyFrame(RxFrame, frameLen);
    lineLen = RxLineLen;
    if (result == 0) {
      lineLen = 0;
      if (frameLen > 4) plainBytes = FrameBytesMissing() - 1;
      // No known frame is longer than the buffer; should one claim to be, it is dropped.
      if (frameLen >= FrameMax) frameLen = 0;
      return frameLen >= 4;
    }
    const int taken = frameLen;
    frameLen = 0;
    if (taken == 4 && result == 2) {
      // A word that was acted on is no text: its first three bytes leave the line again (as
      // far as they are still in it), the fourth never enters it.
      lineLen = lineLen > 3 ? lineLen - 3 : 0;
      afterCr = CrBeforeFrame;
      return true;
    }
    if (taken == 4) {
      // An unknown word: its bytes stay text, and a frame may begin among its last three.
      const auto* start = static_cast<const std::uint8_t*>(std::memchr(RxFrame + 1, 0xBB, 3));
      if (start != nullptr) {
        CrBeforeFrame = start[-1] == 0x0D;
        // It may have begun in this piece: the later count never calls an answer early.
        FrameBegun = PieceBegun;
        frameLen = static_cast<int>(RxFrame + 4 - start);
        std::memmove(RxFrame, start, static_cast<std::size_t>(frameLen));
      }
      return false;
    }
    if (!Retake.empty()) {
      // A frame given up past its word: the rest of its bytes, this one among them, are taken
      // again from the frame start found inside.
      std::vector<std::uint8_t> again;
      again.swap(Retake);
      RxFrameLen = 0;
      RxLineLen = 0;
      LineEndedByCr = afterCr;
      Take(again.data(), again.size());
      frameLen = RxFrameLen;
      lineLen = RxLineLen;
      afterCr = LineEndedByCr;
      return true;
    }
    // A payload frame, taken or failed, is no text: the line starts afresh behind it.
    lineLen = 0;
    afterCr = CrBeforeFrame;
    return true;
  };

  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t byte = bytes[i];
    switch (StateOf(frameLen)) {
      case RxState::Text:
        if (byte == 0xBB) {
          CrBeforeFrame = afterCr;
          FrameBegun = PieceBegun;
          RxFrame[frameLen++] = byte;
        }
        break;  // a frame's first bytes are text too until its word is known
      case RxState::Word:
        RxFrame[frameLen++] = byte;
        if (frameLen == 4 && frameMayEnd()) continue;
        break;
      case RxState::Payload:
        if (plainBytes > 0 && frameLen > 4) {
          const int count = static_cast<int>(std::min<std::size_t>(plainBytes, n - i));
          std::memcpy(RxFrame + frameLen, bytes + i, static_cast<std::size_t>(count));
          frameLen += count;
          plainBytes -= count;
          FrameMissing -= count;
          lineLen = 0;
          i += static_cast<std::size_t>(count) - 1;
          continue;
        }
        RxFrame[frameLen++] = byte;
        // Between its word and its known length a fixed-length frame can only go on.
        if (frameLen >= FrameWant) {
          if (frameMayEnd()) continue;
          break;
        }
        lineLen = 0;
        if (frameLen >= FrameMax) {
          frameLen = 0;
          break;
        }
        continue;  // past its word a frame's bytes are no text
    }
    // Boxes that end their lines with CR LF: the line feed belongs to the line just ended.
    if (byte == 0x0A && afterCr) {
      afterCr = false;
      continue;
    }
    afterCr = false;
    // Others reset RxLineLen; anything out of range starts a fresh line.
    if (lineLen < 0 || lineLen >= LineMax) lineLen = 0;
    RxLineBuf[lineLen++] = byte;
    if (byte == 0x0D || lineLen >= LineMax) {
      afterCr = byte == 0x0D;
      RxLineBuf[lineLen] = 0;
      RxFrameLen = frameLen;
      RxLineLen = lineLen;
      Sink.AddReplyItem(RxLineBuf, lineLen + 1, ItemKind::Text);
      lineLen = 0;
    }
  }
  RxFrameLen = frameLen;
  RxLineLen = lineLen;
  LineEndedByCr = afterCr;
}

int UartRxThread::FrameBytesMissing() const {
  if (RxFrameLen == 0) return 0;
  if (RxFrameLen < 4) return 4 - RxFrameLen;
  if (FrameWant > 0) return std::max(FrameWant - RxFrameLen, 0);
  return FrameMissing;
}

int UartRxThread::ParseReplyFrame(std::uint8_t* frame, int len) {
  FrameWant = 0;
  FrameMissing = 0;
  if (len < 4) return 0;
  std::uint8_t wordBytes[4];
  std::copy(frame, frame + 4, wordBytes);
  ReverseBytes(wordBytes, 4);
  const std::uint32_t word = GetLe32(wordBytes);
  const ReplyWordInfo* info = FindReplyWord(word);
  if (info == nullptr) return 1;

  switch (info->Kind) {
    case WordKind::Status:
      Sink.HandleReplyWord(word, FrameBegun);
      return 2;
    case WordKind::UploadResult:
      Sink.AddReplyItem(frame, 4, ItemKind::Reply);
      return 2;
    case WordKind::Payload:
    case WordKind::FlashData:
      break;
  }

  const bool flash = info->Kind == WordKind::FlashData;
  const std::uint64_t blockLen = flash ? Flash.ExpectedFlashBlockLen(FrameBegun) : 0;
  const std::uint64_t frameLen = flash ? 2 * blockLen + 12 : info->FrameLen;
  // A frame that cannot be held, or that has grown past its length because N changed while
  // it arrived, can never complete: give it up instead of swallowing the line behind it.
  if (frameLen > static_cast<std::uint64_t>(FrameMax) ||
      static_cast<std::uint64_t>(len) > frameLen) {
    KeepForRetake(frame, len);
    return 1;
  }
  if (static_cast<std::uint64_t>(len) != frameLen) {
    // The flash block length may change while the frame arrives, so only fixed lengths are
    // remembered.
    if (!flash) FrameWant = static_cast<int>(frameLen);
    FrameMissing = static_cast<int>(frameLen) - len;
    return 0;
  }

  const int crcOver = flash ? static_cast<int>(blockLen) : info->CrcOver;
  const int handOver = flash ? static_cast<int>(blockLen) + 4 : info->HandOver;
  KeepForRetake(frame, len);  // before the decoding overwrites the frame's text
  HexTextToBytes(frame + 4, len - 4);
  const std::uint32_t expected = CalcCrc(frame + 4, static_cast<std::uint32_t>(crcOver));
  if (expected == GetLe32(frame + 4 + crcOver)) {
    Retake.clear();
    Sink.AddReplyItem(frame, handOver, ItemKind::Reply);
    if (flash) {
      Flash.FlashBlockReceived(FrameBegun);
      Out.On(ev::FlashBlockChecked{});
    }
  } else {
    // The cause comes first in the log, then whatever the read-back says it did about it.
    Out.On(ev::ReplyCrcFailed{info->Word});
    if (flash) Flash.FlashReadCrcFailed(FrameBegun);
  }
  return 2;
}

void UartRxThread::Execute(Worker& worker) {
  using SteadyClock = std::chrono::steady_clock;
  const auto msSince = [](SteadyClock::time_point t) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t).count());
  };

  Port* port = Uart.ComHandle.load();
  const std::uint64_t open = Uart.Opens.load();
  if (port == nullptr || LostOpen == open) {
    // Nothing to read until Connect opens a port again, which resumes us.
    worker.Sleep(Worker::Forever);
    return;
  }

  std::size_t got = 0;
  bool inFrame = false;
  std::size_t missing = 0;  // bytes that complete the frame in progress, as RxPass knew it
  // Bytes read while connected are handed over even if Disconnect suspended us meanwhile;
  // RxPass drops them once the port is closed, so nothing stale survives to the next Connect.
  std::uint64_t pieceBegun = AllBegun;  // UartState::Begun once the piece was read
  // Hands the first n bytes over; those read after them wait for the next piece.
  const auto handOver = [&](std::size_t n, bool passEnded) {
    const std::uint8_t* data = RxReadBuf.get();
    const std::uint64_t begun = pieceBegun;
    if (!worker.HandOver(
            [&] {
              RxPass(data, n, passEnded, begun);
              inFrame = FrameInProgress();
              missing = static_cast<std::size_t>(FrameBytesMissing());
            },
            true))
      return false;
    got -= n;
    if (got > 0) std::memmove(RxReadBuf.get(), RxReadBuf.get() + n, got);
    return true;
  };

  bool started = false;  // the pass starts with its first byte
  auto lastByte = SteadyClock::now();
  auto pieceStart = lastByte;
  const char* lost = nullptr;
  bool closed = false;
  for (;;) {
    int waitMs = Port::NoTimeout;
    if (started) {
      // A reply frame in progress may pause far longer than text before the pass gives it up.
      waitMs = std::max((inFrame ? FrameSilenceMs : SilenceMs) - msSince(lastByte), 0);
      // Part of a frame is of no use to the parser: the piece goes when the frame is complete,
      // or when it is due anyway.
      if (got > 0 && inFrame && got < missing)
        waitMs = std::min(waitMs, std::max(PieceMs - msSince(pieceStart), 0));
      else if (got > 0)
        waitMs = std::min(waitMs, GapMs);
    }
    const IoResult result = port->Read(RxReadBuf.get() + got, PieceBytes - got, waitMs);
    if (result.Status == IoStatus::Ok && result.Count > 0) {
      ReadFailures = 0;
      started = true;
      const std::size_t count = std::min(result.Count, PieceBytes - got);
      // Looked at once the bytes are in hand, so never before the message they may answer.
      const std::uint64_t begun = Uart.Begun.load();
      const std::size_t held = got;
      got += count;
      // A message begun since the bytes held were read cannot be what they answer (a copy of
      // the last reply looks just like the answer to the next request): they go as they are.
      if (held > 0 && begun != pieceBegun && !handOver(held, false)) return;
      if (got == count) {
        pieceStart = SteadyClock::now();
        pieceBegun = begun;
      }
      lastByte = SteadyClock::now();
      if (got >= PieceBytes || msSince(pieceStart) >= PieceMs || (inFrame && got >= missing)) {
        if (!handOver(got, false)) return;
      }
      continue;
    }
    if (result.Status == IoStatus::Ok || result.Status == IoStatus::TimedOut) {
      ReadFailures = 0;
      // A short gap: let the parser see what came so far, then listen on for the silence.
      if (got > 0) {
        if (!handOver(got, false)) return;
        continue;
      }
      if (!started) continue;
      break;
    }
    if (result.Status == IoStatus::HungUp) {
      lost = "Serial port hung up";
    } else if (result.Status == IoStatus::Failed) {
      if (++ReadFailures < FailLimit) continue;
      lost = "Serial port read error";
    } else {
      closed = true;
    }
    break;
  }
  if (got > 0 || inFrame) {
    if (!handOver(got, true)) return;
  }
  if (lost != nullptr) {
    ReadFailures = 0;
    LostOpen = open;
    const std::string why = lost;
    if (!worker.HandOver(
            [&] {
              if (Uart.UartConnected && PortLost) PortLost(why);
            },
            true))
      return;
  }
  // A port that is gone is looked at again once a Connect resumes us.
  if (lost != nullptr || closed) worker.Sleep(Worker::Forever);
}
