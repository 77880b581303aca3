#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Core.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingScreen.h"
#include "tests/support/TempDir.h"

// A connected Core on a fake port, working in a fresh temporary folder unless given one.
struct CoreBench {
  using Bytes = std::vector<std::uint8_t>;

  explicit CoreBench(const std::string& folder = {})
      : core(screen, clock, folder.empty() ? dir.Path() : folder, loop) {
    core.Uart.ComHandle = &port;
    core.Uart.UartConnected = true;
  }

  // Runs transmit passes until the ring is empty; returns what the worker would have written,
  // message by message.
  std::vector<Bytes> Sent() {
    std::vector<Bytes> sent;
    UartTxThread::Outgoing out;
    // A ring that cannot move (no port, not connected) gives up instead of spinning.
    for (int guard = 0; guard < 64 && core.Tx.QueuedCount() > 0; ++guard) {
      if (!core.Tx.TxPass(out)) continue;
      sent.emplace_back(out.Data, out.Data + out.Length);
      core.Tx.TxWritten({IoStatus::Ok, static_cast<std::size_t>(out.Length)});
    }
    return sent;
  }

  std::string PathOf(const std::string& name) const { return dir.FilePath(name); }

  TempDir dir;
  RecordingScreen screen;
  FakeClock clock;
  FakePort port;
  RunLoop loop;
  Core core;
};
