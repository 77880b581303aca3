#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/Core.h"
#include "tests/support/BoxSays.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakePort.h"
#include "tests/support/LoopWait.h"
#include "tests/support/RecordingScreen.h"
#include "tests/support/TempDir.h"

// A Core on a fake port, in a fresh temporary folder unless given one, with its workers' routines
// run on the test thread whenever a test waits. Unless told otherwise it connects as a
// technician would and the box's loader answers the sync word, so that only what a test sends
// goes out on the line.
struct CoreBench {
  static constexpr std::chrono::milliseconds Patience{5000};

  // Ready: connected, and the loader has answered. Offline: the workers run, no port is open.
  enum class Begin { Ready, Offline };
  explicit CoreBench(Begin begin = Begin::Ready, const std::string& folder = {});

  // Runs the engine's routines until done() holds; false when it did not within the limit.
  bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit = Patience);
  // Runs the engine's routines for a while: for what must not happen.
  void RunFor(std::chrono::milliseconds time);

  // Connect, as the tool bar's button does.
  bool Connect();
  // The box answers the sync word; returns once no sync word is left to go out.
  void LoaderReady();
  // The box says a line of its own and the screen shows it: everything said before has been
  // handled. The line is taken out of the log again.
  void Settle();
  // Every message queued so far has gone out; returns the bytes written since the last call.
  Bytes Sent();
  // Waits until at least n bytes have been written since the last call; returns them all.
  Bytes SentAtLeast(std::size_t n);
  // The transmit worker stalls on the line, so that the ring keeps what is queued: then fills
  // the ring with erase requests, which wait for no answer. The screen is cleared.
  void FillRing();

  std::string PathOf(const std::string& name) const { return dir.FilePath(name); }

  TempDir dir;
  RecordingScreen screen;
  FakeClock clock;
  FakePort port;
  CountingLoop loop;
  Core core;

 private:
  int Marks = 0;
};

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
