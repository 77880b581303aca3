#include "platform/Worker.h"

#include <algorithm>
#include <deque>
#include <memory>

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

struct Call {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Started = false;
  bool Finished = false;
  bool Cancelled = false;
};

}  // namespace

Worker::Worker(std::string name, ProtocolThread& protocolThread)
    : ThreadName(std::move(name)), Target(protocolThread) {}

Worker::~Worker() {
  Stop();
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
  std::lock_guard lock(Mutex);
  Suspended = true;
}

void Worker::Resume() {
  {
    std::lock_guard lock(Mutex);
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

void Worker::Stop() {
  {
    std::lock_guard lock(Mutex);
    StopRequested = true;
  }
  Changed.notify_all();
  {
    // Wake a hand-over waiting for the baton or for its routine.
    std::lock_guard lock(TheBaton().Mutex);
  }
  TheBaton().Free.notify_all();
  if (Thread.joinable()) Thread.join();
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
  Changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return StopRequested || Woken; });
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
  Target.Post([call, &routine] {
    {
      std::lock_guard lock(call->Mutex);
      if (call->Cancelled) return;  // the worker gave up waiting: routine is gone
      call->Started = true;
    }
    routine();
    {
      std::lock_guard lock(call->Mutex);
      call->Finished = true;
    }
    call->Done.notify_all();
  });

  bool ran;
  {
    std::unique_lock lock(call->Mutex);
    // Poll for a stop request: Stop() cannot reach this condition variable. A routine that
    // has started is always waited for, since it works on this thread's locals.
    while (!call->Finished && (call->Started || !Stopping()))
      call->Done.wait_for(lock, std::chrono::milliseconds(20));
    ran = call->Finished;
    if (!ran) call->Cancelled = true;
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
