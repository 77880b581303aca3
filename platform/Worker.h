#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ProtocolThread.h"

// A worker thread that does no protocol work of its own: its body waits (on the port, on a
// queue, on a deadline) and hands routines to the protocol thread with HandOver, which blocks
// until the routine has run there. One process-wide lock makes sure only one handed-over routine
// runs at a time, also while a routine sits in a modal message box. Nothing here wakes on an
// interval: every wait ends on the event it waits for, on Wake(), or on Stop().
class Worker {
 public:
  using Body = std::function<void(Worker&)>;
  static constexpr int Forever = -1;

  // Routines are posted to protocolThread.
  Worker(std::string name, ProtocolThread& protocolThread);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Runs body over and over on a new thread until Stop(). A suspended worker starts waiting.
  void Start(Body body, bool suspended);
  // Protocol thread. Suspend takes effect before the body's next hand-over; Resume also ends a
  // Sleep in progress, so that the body looks at the world again.
  void Suspend();
  void Resume();
  bool IsSuspended() const;
  // Ends the thread: waits and hand-overs in progress return false, routines not yet run never
  // run. Safe to call twice. Refused (false, nothing done) from inside a handed-over routine or
  // from the worker's own thread, where the wait for the thread to end could never end.
  bool Stop();

  // Worker thread. Waits while suspended (unless evenIfSuspended), then runs routine on the
  // protocol thread and waits for it. False when the worker is stopping and the routine did not
  // run.
  bool HandOver(const std::function<void()>& routine, bool evenIfSuspended = false);
  // Worker thread. Sleeps ms milliseconds (Forever: without end) or until Wake(); false when
  // stopping.
  bool Sleep(int ms);
  // Any thread. Ends a Sleep in progress (or the next one) early.
  void Wake();
  bool Stopping() const;

  // Whether the calling thread is running a handed-over routine right now.
  static bool InsideRoutine();

 private:
  struct Call;

  void Loop();
  bool WaitWhileSuspended();

  std::string ThreadName;
  ProtocolThread& Target;
  Body WorkBody;
  std::thread Thread;
  mutable std::mutex Mutex;
  std::condition_variable Changed;
  bool Suspended = false;
  bool StopRequested = false;
  bool Woken = false;
  std::shared_ptr<Call> Current;  // the hand-over waiting for its routine; Stop() ends the wait
};
