#pragma once

#include <QObject>
#include <QThread>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/ProtocolThread.h"

// The GUI thread as the protocol thread. Routines wait in a queue of our own, under our own
// lock; a queued call through the event loop only says that one is there. What a worker did
// before it posted is thereby plainly seen by the routine, whatever Qt's queue does inside.
class QtProtocolThread : public QObject, public ProtocolThread {
  Q_OBJECT

 public:
  // Lives in the thread that creates it, which runs the routines.
  explicit QtProtocolThread(QObject* parent = nullptr) : QObject(parent) {}

  void Post(std::function<void()> routine) override {
    {
      std::lock_guard lock(Mutex);
      Routines.push_back(std::move(routine));
    }
    QMetaObject::invokeMethod(this, "RunNext", Qt::QueuedConnection);
  }
  bool IsCurrent() const override { return QThread::currentThread() == thread(); }

 private:
  // One queued call per routine posted, so routines run in order, one per call.
  Q_INVOKABLE void RunNext() {
    std::function<void()> routine;
    {
      std::lock_guard lock(Mutex);
      if (Routines.empty()) return;
      routine = std::move(Routines.front());
      Routines.pop_front();
    }
    routine();
  }

  std::mutex Mutex;
  std::deque<std::function<void()>> Routines;
};
