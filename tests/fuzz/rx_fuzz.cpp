#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <vector>

#include "link/EngineEvents.h"
#include "link/UartRxThread.h"
#include "link/UartState.h"

// Feeds the receiver whatever the fuzzer makes up: whole, one byte at a time (which must give
// the same items), and in random pieces with random pass ends and a flash block length that
// changes under it. The sink checks every item it is handed.

namespace {

void Fail(const char* why) {
  std::fprintf(stderr, "rx_fuzz: %s\n", why);
  std::abort();
}

class NullScreen : public EventSink, private EventText {
 public:
  void On(const EngineEvent& event) override { RenderEvent(event, *this); }
  int Lines = 0;

 private:
  void Line(const std::string& line, bool) override {
    if (line.empty()) Fail("empty log line");
    ++Lines;
  }
  void Message(const std::string&) override {}
};

struct Item {
  ItemKind Kind;
  std::vector<std::uint8_t> Data;
  bool operator==(const Item&) const = default;
};

// The reply queue as the dispatcher keeps it: 999 items at most, each stored whole.
class BoundedQueue : public ReplySink {
 public:
  static constexpr std::size_t Capacity = 999;

  bool AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) override {
    if (length <= 0 || length > UartRxThread::LineMax + 1) Fail("item length out of range");
    if (kind == ItemKind::Text && data[length - 1] != 0) Fail("text item without its zero");
    if (kind == ItemKind::Reply && (length > 4100 || data[0] != 0xBB)) Fail("bad reply item");
    if (Items.size() >= Capacity) {
      // The dispatcher would have drained it by now; keep the memory bounded all the same.
      Items.erase(Items.begin(), Items.begin() + Capacity / 2);
      Dropped += Capacity / 2;
    }
    Items.push_back({kind, std::vector<std::uint8_t>(data, data + length)});
    return true;
  }
  void HandleReplyWord(std::uint32_t word, std::uint64_t) override {
    if ((word >> 24) != 0xBB) Fail("status word without BB");
    Words.push_back(word);
  }

  std::vector<Item> Items;
  std::vector<std::uint32_t> Words;
  std::size_t Dropped = 0;
};

class FlashLength : public FlashBlockSource {
 public:
  std::uint32_t ExpectedFlashBlockLen(std::uint64_t) const override { return Length; }
  void FlashReadCrcFailed(std::uint64_t) override {}
  std::uint32_t Length = 0;
};

struct Receiver {
  Receiver() { Uart.UartConnected = true; }
  NullScreen Out;
  UartState Uart;
  BoundedQueue Queue;
  FlashLength Flash;
  UartRxThread Rx{Uart, Out, Queue, Flash};
};

// The byte loop step by step as the protocol describes it, without the receiver's shortcuts:
// its own line and frame buffers, the receiver's frame parser. A word the parser acted on
// leaves the line, a frame's bytes past its word never enter it (a payload frame, taken or
// given up, leaves the line empty), a line feed right after a carriage return is dropped, and a
// frame whose word was known and that is still open when the pass ends is logged as cut short.
// A frame given up is looked at again: an unknown word from the next 0xBB among its last three
// bytes, a longer frame (failed check, grown past its length, cut short) by putting its bytes from
// the next 0xBB back in front of the input.
void ReferencePass(Receiver& r, const std::uint8_t* stream, std::size_t n) {
  std::deque<std::uint8_t> input(stream, stream + n);
  std::vector<std::uint8_t> frame(UartRxThread::FrameMax);
  std::vector<std::uint8_t> line(UartRxThread::LineMax + 1);
  int frameLen = 0;
  int lineLen = 0;
  bool afterCr = false;
  bool crBeforeFrame = false;
  const auto putBack = [&](const std::vector<std::uint8_t>& raw) {
    const auto start = std::find(raw.begin() + 1, raw.end(), 0xBB);
    if (start == raw.end()) return false;
    input.insert(input.begin(), start, raw.end());
    return true;
  };
  const auto run = [&] {
    while (!input.empty()) {
      const std::uint8_t byte = input.front();
      input.pop_front();
      frame[frameLen] = byte;
      if (frame[0] == 0xBB) {
        if (frameLen == 0) crBeforeFrame = afterCr;
        ++frameLen;
        if (frameLen >= 4) {
          const std::vector<std::uint8_t> raw(frame.begin(), frame.begin() + frameLen);
          const std::size_t itemsBefore = r.Queue.Items.size() + r.Queue.Dropped;
          const int result = r.Rx.ParseReplyFrame(frame.data(), frameLen);
          const bool itemAdded = r.Queue.Items.size() + r.Queue.Dropped != itemsBefore;
          if (result == 2 && frameLen == 4) {
            frameLen = 0;
            lineLen = std::max(lineLen - 3, 0);
            afterCr = crBeforeFrame;
            continue;
          }
          if (result == 0) {
            lineLen = 0;
          } else if (frameLen == 4) {
            frameLen = 0;
            for (int k = 1; k < 4; ++k) {
              if (raw[k] != 0xBB) continue;
              std::copy(raw.begin() + k, raw.end(), frame.begin());
              frameLen = 4 - k;
              crBeforeFrame = raw[k - 1] == 0x0D;
              break;
            }
          } else {
            frameLen = 0;
            lineLen = 0;
            if (!itemAdded && putBack(raw)) continue;
            afterCr = crBeforeFrame;
            continue;
          }
          if (frameLen >= UartRxThread::FrameMax) frameLen = 0;
          if (frameLen >= 4) continue;
        }
      }
      if (byte == 0x0A && afterCr) {
        afterCr = false;
        continue;
      }
      afterCr = false;
      line[lineLen++] = byte;
      if (byte == 0x0D || lineLen == UartRxThread::LineMax) {
        afterCr = byte == 0x0D;
        line[lineLen] = 0;
        r.Queue.AddReplyItem(line.data(), lineLen + 1, ItemKind::Text);
        lineLen = 0;
      }
    }
  };
  run();
  if (frameLen >= 4) r.Out.On(ev::ReplyCutShort{});
  while (frameLen > 4) {
    const std::vector<std::uint8_t> raw(frame.begin(), frame.begin() + frameLen);
    frameLen = 0;
    if (!putBack(raw)) break;
    lineLen = 0;
    run();
  }
  r.Rx.RxLineLen = lineLen;
}

// Small enough lengths that random bytes can complete a flash frame, and ones that never fit.
constexpr std::uint32_t FlashLengths[] = {0, 1, 2, 7, 100, 4095, 4096, 4097, 60000, 0xFFFFFFFFu};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t flashLength = FlashLengths[data[0] % std::size(FlashLengths)];
  std::uint32_t random = 0x9E3779B9u * (data[1] + 1u);
  const auto next = [&random] {
    random ^= random << 13;
    random ^= random >> 17;
    random ^= random << 5;
    return random;
  };
  const std::uint8_t* stream = data + 2;
  const std::size_t n = size - 2;

  Receiver whole;
  whole.Flash.Length = flashLength;
  whole.Rx.RxPass(stream, n, true);

  Receiver byByte;
  byByte.Flash.Length = flashLength;
  for (std::size_t i = 0; i < n; ++i) byByte.Rx.RxPass(stream + i, 1, false);
  byByte.Rx.RxPass(nullptr, 0, true);
  if (byByte.Queue.Items != whole.Queue.Items || byByte.Queue.Words != whole.Queue.Words ||
      byByte.Rx.RxLineLen != whole.Rx.RxLineLen)
    Fail("one byte at a time differs from one piece");

  Receiver reference;
  reference.Flash.Length = flashLength;
  ReferencePass(reference, stream, n);
  if (reference.Queue.Items != whole.Queue.Items || reference.Queue.Words != whole.Queue.Words ||
      reference.Out.Lines != whole.Out.Lines || reference.Rx.RxLineLen != whole.Rx.RxLineLen)
    Fail("the receiver differs from the step-by-step loop");

  Receiver cut;
  cut.Flash.Length = flashLength;
  for (std::size_t at = 0; at < n;) {
    const std::uint32_t r = next();
    const std::size_t piece = std::min<std::size_t>(r % 64, n - at);
    cut.Rx.RxPass(stream + at, piece, (r >> 8) % 4 == 0);
    at += piece;
    if ((r >> 12) % 32 == 0) cut.Flash.Length = FlashLengths[(r >> 17) % std::size(FlashLengths)];
    if ((r >> 22) % 64 == 0) cut.Rx.RxLineLen = static_cast<int>(r >> 26) - 8;
  }
  cut.Rx.RxPass(nullptr, 0, true);
  return 0;
}
