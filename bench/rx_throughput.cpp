#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "boxsim/BoxFrames.h"
#include "link/EngineEvents.h"
#include "link/UartRxThread.h"
#include "link/UartState.h"

// How fast the receiver cuts mixed console text and reply frames, fed in 4 KiB pieces as the
// receive worker hands them over. The fastest serial line (3 Mbaud) brings 0.3 MB/s.

namespace {

using Bytes = std::vector<std::uint8_t>;

class QuietScreen : public EventSink {
 public:
  void On(const EngineEvent&) override { ++Lines; }
  long Lines = 0;
};

class CountingSink : public ReplySink {
 public:
  bool AddReplyItem(const std::uint8_t*, int length, ItemKind kind) override {
    ++(kind == ItemKind::Text ? TextItems : Replies);
    Bytes += static_cast<std::uint64_t>(length);
    return true;
  }
  void HandleReplyWord(std::uint32_t, std::uint64_t) override { ++Words; }
  long TextItems = 0;
  long Replies = 0;
  long Words = 0;
  std::uint64_t Bytes = 0;
};

class NoFlash : public FlashBlockSource {
 public:
  std::uint32_t ExpectedFlashBlockLen(std::uint64_t) const override { return 0; }
  void FlashReadCrcFailed(std::uint64_t) override {}
};

// Frames built the way the simulated box builds them.
void AppendWord(Bytes& out, std::uint32_t word) {
  const Bytes frame = boxsim::StatusFrame(word);
  out.insert(out.end(), frame.begin(), frame.end());
}

void AppendPayloadFrame(Bytes& out, std::uint32_t word, const Bytes& payload) {
  const Bytes frame = boxsim::PayloadFrame(word, payload);
  out.insert(out.end(), frame.begin(), frame.end());
}

// About 1 MB of what a box says during a session: mostly console lines, with every kind of
// frame the loader sends in between.
Bytes MakeSession(long& frames) {
  std::mt19937 rng(7);
  Bytes out;
  frames = 0;
  while (out.size() < (1u << 20)) {
    const unsigned pick = rng() % 10;
    if (pick < 6) {
      const std::size_t len = 20 + rng() % 100;
      for (std::size_t i = 0; i < len; ++i)
        out.push_back(static_cast<std::uint8_t>(' ' + rng() % 95));
      out.push_back('\r');
      continue;
    }
    ++frames;
    if (pick == 6) {
      AppendWord(out, Reply::LoaderReady);
    } else if (pick == 7) {
      AppendPayloadFrame(out, Reply::DownloadRequest, {static_cast<std::uint8_t>(rng()), 0});
    } else if (pick == 8) {
      AppendPayloadFrame(out, Reply::LoaderVersion, {1, 10});
    } else {
      Bytes record(96);
      for (auto& b : record) b = static_cast<std::uint8_t>(rng());
      AppendPayloadFrame(out, Reply::DlCfgRecord, record);
    }
  }
  return out;
}

}  // namespace

int main() {
  long framesPerSession = 0;
  const Bytes session = MakeSession(framesPerSession);
  const int rounds = 100;
  const std::size_t piece = 4096;

  QuietScreen screen;
  UartState uart;
  uart.UartConnected = true;
  CountingSink sink;
  NoFlash flash;
  UartRxThread rx(uart, screen, sink, flash);

  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t at = 0; at < session.size(); at += piece) {
      const std::size_t n = std::min(piece, session.size() - at);
      rx.RxPass(session.data() + at, n, false);
    }
  }
  rx.RxPass(nullptr, 0, true);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double megabytes = static_cast<double>(session.size()) * rounds / 1e6;

  std::printf("rx_throughput: %.1f MB in %.3f s: %.1f MB/s\n", megabytes, seconds,
              megabytes / seconds);
  std::printf(
      "text items %ld, replies %ld, status words %ld, failure lines %ld (frames sent %ld)\n",
      sink.TextItems, sink.Replies, sink.Words, screen.Lines, framesPerSession * rounds);
  return sink.Replies + sink.Words == framesPerSession * rounds && screen.Lines == 0 ? 0 : 1;
}
