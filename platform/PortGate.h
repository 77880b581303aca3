#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/Port.h"

// Lets calls into a port come from several threads while another thread closes it: a call
// enters before it touches the system's handle and leaves after it; Close shuts the gate,
// aborts what waits, waits until the last call has left and only then releases the handle.
class PortGate {
 public:
  // isOpen: whether the port holds a handle; asked with the gate's lock held.
  explicit PortGate(std::function<bool()> isOpen) : IsOpen(std::move(isOpen)) {}

  // Held while a port is opened, so that no close runs half-way through.
  std::unique_lock<std::mutex> Hold() { return std::unique_lock(Mutex); }
  // Ok when the caller may use the handle (and must Leave); else why not.
  IoStatus Enter();
  void Leave();
  // Read between system calls: a close is waiting for the callers to leave.
  bool Closing() const { return ShuttingDown.load(); }
  // abort: wakes the calls that wait; release: gives the handle back once none is inside.
  // Returns when the port is closed, also when another thread was closing it.
  void Close(const std::function<void()>& abort, const std::function<void()>& release);

 private:
  std::function<bool()> IsOpen;
  std::mutex Mutex;
  std::condition_variable Changed;  // a caller left, or a close has finished
  int Users = 0;
  std::atomic<bool> ShuttingDown{false};
};
