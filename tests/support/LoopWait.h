#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

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

// Waits until done() holds or the limit passes while the loop runs nothing: for what a worker
// must do without the protocol thread.
template <typename Done>
bool WaitWithoutTheLoop(Done done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A RunLoop that counts the routines posted to it: every hand-over of a worker is one.
class CountingLoop : public RunLoop {
 public:
  void Post(std::function<void()> routine) override {
    ++Count;
    RunLoop::Post(std::move(routine));
  }
  int Posts() const { return Count.load(); }

 private:
  std::atomic<int> Count{0};
};
