#include "platform/PortGate.h"

IoStatus PortGate::Enter() {
  std::lock_guard lock(Mutex);
  if (ShuttingDown) return IoStatus::Aborted;
  if (!IsOpen()) return IoStatus::NotOpen;
  ++Users;
  return IoStatus::Ok;
}

void PortGate::Leave() {
  bool last;
  {
    std::lock_guard lock(Mutex);
    last = --Users == 0;
  }
  if (last) Changed.notify_all();
}

void PortGate::Close(const std::function<void()>& abort, const std::function<void()>& release) {
  std::unique_lock lock(Mutex);
  if (!IsOpen()) return;
  if (ShuttingDown) {
    // Another thread is closing; return once it is done so the port is closed for us too.
    Changed.wait(lock, [this] { return !IsOpen(); });
    return;
  }
  ShuttingDown = true;
  abort();
  Changed.wait(lock, [this] { return Users == 0; });
  release();
  ShuttingDown = false;
  lock.unlock();
  Changed.notify_all();
}
