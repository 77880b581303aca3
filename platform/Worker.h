#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ProtocolThread.h"

// A worker thread that does no protocol work of its own: its body waits (on the port, on a
// queue, on a timer) and hands routines to the protocol thread with HandOver, which blocks until
// the routine has run there. One process-wide lock makes sure only one handed-over routine
// runs at a time, also while a routine sits in a modal message box.
class Worker {
 public:
  using Body = std::function<void(Worker&)>;

  // Routines are posted to protocolThread.
  Worker(std::string name, ProtocolThread& protocolThread);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Runs body over and over on a new thread until Stop(). A suspended worker starts waiting.
  void Start(Body body, bool suspended);
  // Protocol thread. Takes effect before the body's next hand-over.
  void Suspend();
  void Resume();
  bool IsSuspended() const;
  // Protocol thread. Ends the thread: waits and hand-overs in progress return false, routines not
  // yet run never run. Safe to call twice; never from inside a handed-over routine.
  void Stop();

  // Worker thread. Waits while suspended (unless evenIfSuspended), then runs routine on the
  // protocol thread and waits for it. False when the worker is stopping and the routine did not
  // run.
  bool HandOver(const std::function<void()>& routine, bool evenIfSuspended = false);
  // Worker thread. Sleeps ms milliseconds or until Wake(); false when stopping.
  bool Sleep(int ms);
  // Any thread. Ends a Sleep in progress (or the next one) early.
  void Wake();
  bool Stopping() const;

 private:
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
};
