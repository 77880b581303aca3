#include "platform/Worker.h"

#include <algorithm>
#include <cassert>
#include <deque>

#include "platform/ThreadName.h"

namespace {

// The hand-over baton: held from before a routine is posted until it has returned, so
// routines of different workers never interleave, even across a nested event loop. It goes
// to the workers in the order they asked for it: a worker that hands over again at once
// (the receiver under a flood of bytes) must not starve the others.
struct Baton {
  std::mutex Mutex;
  std::condition_variable Free;
  bool Taken = false;
  std::deque<const Worker*> Waiting;
};

Baton& TheBaton() {
  static Baton baton;
  return baton;
}

// Handed-over routines running on this thread (more than one only through a nested loop).
thread_local int RoutineDepth = 0;

}  // namespace

struct Worker::Call {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Started = false;
  bool Finished = false;
  bool Cancelled = false;
  bool StopAsked = false;
};

Worker::Worker(std::string name, ProtocolThread& protocolThread)
    : ThreadName(std::move(name)), Target(protocolThread) {}

Worker::~Worker() {
  Stop();
}

bool Worker::InsideRoutine() {
  return RoutineDepth > 0;
}

void Worker::Start(Body body, bool suspended) {
  WorkBody = std::move(body);
  {
    std::lock_guard lock(Mutex);
    Suspended = suspended;
    StopRequested = false;
  }
  Thread = std::thread([this] { Loop(); });
  NameThread(Thread, ThreadName);
}

void Worker::Suspend() {
  assert(Target.IsCurrent() && "Worker::Suspend off the protocol thread");
  std::lock_guard lock(Mutex);
  Suspended = true;
}

void Worker::Resume() {
  assert(Target.IsCurrent() && "Worker::Resume off the protocol thread");
  {
    std::lock_guard lock(Mutex);
    if (Suspended) Woken = true;
    Suspended = false;
  }
  Changed.notify_all();
}

bool Worker::IsSuspended() const {
  std::lock_guard lock(Mutex);
  return Suspended;
}

bool Worker::Stopping() const {
  std::lock_guard lock(Mutex);
  return StopRequested;
}

bool Worker::Stop() {
  // The routine runs for a worker that waits for it; joining that worker from inside any
  // routine, or a worker joining itself, would wait for ever.
  if (InsideRoutine() || std::this_thread::get_id() == Thread.get_id()) return false;
  std::shared_ptr<Call> waiting;
  {
    std::lock_guard lock(Mutex);
    StopRequested = true;
    waiting = Current;
  }
  Changed.notify_all();
  if (waiting) {
    {
      std::lock_guard lock(waiting->Mutex);
      waiting->StopAsked = true;
    }
    waiting->Done.notify_all();
  }
  {
    // Wake a hand-over waiting for the baton.
    std::lock_guard lock(TheBaton().Mutex);
  }
  TheBaton().Free.notify_all();
  if (Thread.joinable()) Thread.join();
  return true;
}

void Worker::Wake() {
  {
    std::lock_guard lock(Mutex);
    Woken = true;
  }
  Changed.notify_all();
}

bool Worker::Sleep(int ms) {
  std::unique_lock lock(Mutex);
  const auto ended = [this] { return StopRequested || Woken; };
  if (ms < 0)
    Changed.wait(lock, ended);
  else
    Changed.wait_for(lock, std::chrono::milliseconds(ms), ended);
  Woken = false;
  return !StopRequested;
}

bool Worker::WaitWhileSuspended() {
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [this] { return StopRequested || !Suspended; });
  return !StopRequested;
}

bool Worker::HandOver(const std::function<void()>& routine, bool evenIfSuspended) {
  if (!evenIfSuspended && !WaitWhileSuspended()) return false;
  Baton& baton = TheBaton();
  std::unique_lock batonLock(baton.Mutex);
  baton.Waiting.push_back(this);
  baton.Free.wait(batonLock,
                  [&] { return (!baton.Taken && baton.Waiting.front() == this) || Stopping(); });
  baton.Waiting.erase(std::find(baton.Waiting.begin(), baton.Waiting.end(), this));
  if (Stopping()) {
    batonLock.unlock();
    baton.Free.notify_all();  // the next in line may be us no longer
    return false;
  }
  baton.Taken = true;
  batonLock.unlock();

  auto call = std::make_shared<Call>();
  {
    std::lock_guard lock(Mutex);
    Current = call;
    call->StopAsked = StopRequested;
  }
  Target.Post([call, &routine] {
    {
      std::lock_guard lock(call->Mutex);
      if (call->Cancelled) return;  // the worker gave up waiting: routine is gone
      call->Started = true;
    }
    ++RoutineDepth;
    routine();
    --RoutineDepth;
    {
      std::lock_guard lock(call->Mutex);
      call->Finished = true;
    }
    call->Done.notify_all();
  });

  bool ran;
  {
    std::unique_lock lock(call->Mutex);
    // A routine that has started is always waited for, since it works on this thread's locals.
    call->Done.wait(lock, [&] { return call->Finished || (!call->Started && call->StopAsked); });
    ran = call->Finished;
    if (!ran) call->Cancelled = true;
  }
  {
    std::lock_guard lock(Mutex);
    Current.reset();
  }
  batonLock.lock();
  baton.Taken = false;
  batonLock.unlock();
  baton.Free.notify_all();
  return ran;
}

void Worker::Loop() {
  while (WaitWhileSuspended()) WorkBody(*this);
}
