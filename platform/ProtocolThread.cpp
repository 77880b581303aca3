#include "platform/ProtocolThread.h"

#include <cassert>

void RunLoop::Post(std::function<void()> routine) {
  {
    std::lock_guard lock(Mutex);
    Routines.push_back(std::move(routine));
  }
  Posted.notify_one();
}

void RunLoop::Nudge() {
  {
    std::lock_guard lock(Mutex);
    Nudged = true;
  }
  Posted.notify_one();
}

bool RunLoop::RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  assert(IsCurrent() && "a RunLoop runs on the thread that created it");
  for (;;) {
    if (done()) return true;
    std::function<void()> routine;
    {
      std::unique_lock lock(Mutex);
      if (!Posted.wait_until(lock, deadline, [this] { return !Routines.empty() || Nudged; }))
        return done();
      Nudged = false;
      if (Routines.empty()) continue;
      routine = std::move(Routines.front());
      Routines.pop_front();
    }
    // Outside the lock: the routine may post, and workers post while it runs.
    routine();
  }
}

void RunLoop::RunFor(std::chrono::milliseconds limit) {
  RunUntil([] { return false; }, limit);
}
