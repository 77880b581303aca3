#pragma once

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The thread that runs the protocol: workers post routines to it and wait until they have run.
// The window runs them on its GUI thread (Qt's queued call on Linux, window messages on
// Windows); a program without a window runs a RunLoop on its main thread.
class ProtocolThread {
 public:
  virtual ~ProtocolThread() = default;
  // Any thread. Runs routine later, on the protocol thread, in the order posted.
  virtual void Post(std::function<void()> routine) = 0;
  // Whether the calling thread is the protocol thread: the engine checks its thread rule with it.
  virtual bool IsCurrent() const = 0;
};

// For an object whose state belongs to the protocol thread alone (the transmit ring, the
// receiver's framer, the reply dispatcher, the upload, the flash read-back): once bound to that
// thread, debug builds check every use of its operations.
class ProtocolThreadOnly {
 public:
  void BindToThread(const ProtocolThread& thread) { Bound = &thread; }

 protected:
  void OnProtocolThread() const {
    assert((Bound == nullptr || Bound->IsCurrent()) && "used off its protocol thread");
  }

 private:
  const ProtocolThread* Bound = nullptr;
};

// A protocol thread made of the standard library: the thread that creates it calls Run* and
// runs what was posted, one routine at a time.
class RunLoop : public ProtocolThread {
 public:
  using Clock = std::chrono::steady_clock;

  RunLoop() : Owner(std::this_thread::get_id()) {}
  void Post(std::function<void()> routine) override;
  bool IsCurrent() const override { return std::this_thread::get_id() == Owner; }
  // Runs routines until done() holds (checked after each one and at the start) or the
  // deadline passes; true when done() held.
  bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline);
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    return RunUntil(done, Clock::now() + limit);
  }
  // Runs routines for the given time.
  void RunFor(std::chrono::milliseconds limit);
  // Any thread. Makes a RunUntil in progress look at its condition again now.
  void Nudge();

 private:
  std::thread::id Owner;
  std::mutex Mutex;
  std::condition_variable Posted;
  std::deque<std::function<void()>> Routines;
  bool Nudged = false;
};
