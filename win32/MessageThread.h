#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "platform/ProtocolThread.h"

// The window's thread as the protocol thread: a routine posted by a worker waits in a queue of
// our own, and a window message to a message-only window says that some are there. Every message
// loop of the thread runs them, a dialog's and a message box's too, so the window never waits
// for the line and the line never waits for a dialog. A flood is run in slices: posted messages
// come before the technician's input, so after a slice the rest waits for a timer, which comes
// after it.
class MessageThread : public ProtocolThread {
 public:
  // On the thread that is to run the routines.
  MessageThread();
  ~MessageThread() override;
  MessageThread(const MessageThread&) = delete;
  MessageThread& operator=(const MessageThread&) = delete;

  void Post(std::function<void()> routine) override;
  bool IsCurrent() const override { return ::GetCurrentThreadId() == Owner; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RunSlice();
  void Signalled(UINT message);

  DWORD Owner;
  HWND Window = nullptr;
  std::mutex Mutex;
  std::deque<std::function<void()>> Routines;
  // Idle: the next routine posts a message. Message: one is on its way. Timer: a slice ran out
  // of time and the rest waits for the timer; a message meanwhile is let go.
  enum class Signal { Idle, Message, Timer } State = Signal::Idle;
};
