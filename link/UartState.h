#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Port.h"

// Whether the port is open, and the port itself: read by every part that sends or receives.
// The receive and transmit workers read ComHandle from their own threads, so it is atomic;
// the Port object itself lives for the whole program and is only opened and closed.
struct UartState {
  bool UartConnected = false;
  std::atomic<Port*> ComHandle{nullptr};
  // Counts successful opens. The Port object is reused, so this is what tells a port opened
  // again from the one that was lost.
  std::atomic<std::uint64_t> Opens{0};
  LineSettings Settings;  // as applied at the last successful open
  // The last message (numbered as UartTxThread::LastQueued counts) the transmit worker has
  // begun to write. The receive worker reads it once bytes are in its hands: a message begun
  // after that cannot be what those bytes answer.
  std::atomic<std::uint64_t> Begun{0};
};
