#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <functional>

#include "platform/ProtocolThread.h"

// The GUI thread as the protocol thread: routines go through the event loop of context's thread.
class QtProtocolThread : public ProtocolThread {
 public:
  explicit QtProtocolThread(QObject* context) : Context(context) {}
  void Post(std::function<void()> routine) override {
    QMetaObject::invokeMethod(Context, std::move(routine), Qt::QueuedConnection);
  }
  bool IsCurrent() const override { return QThread::currentThread() == Context->thread(); }

 private:
  QObject* Context;
};
