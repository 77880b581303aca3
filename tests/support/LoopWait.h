#pragma once

#include <algorithm>
#include <chrono>

#include "platform/ProtocolThread.h"

// Runs the loop's routines until done() holds or the limit passes, looking at done() at least
// every few milliseconds: a worker thread may make it true without posting anything.
template <typename Done>
bool WaitFor(RunLoop& loop, Done done, std::chrono::milliseconds limit) {
  const auto deadline = RunLoop::Clock::now() + limit;
  while (!done()) {
    const auto now = RunLoop::Clock::now();
    if (now >= deadline) return false;
    loop.RunUntil(done, std::min(deadline, now + std::chrono::milliseconds(5)));
  }
  return true;
}
