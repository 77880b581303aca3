#include "win32/MessageThread.h"

#include <chrono>

namespace {

constexpr UINT RoutineWaits = WM_APP + 1;
constexpr wchar_t ClassName[] = L"KelvarinProtocolThread";
constexpr UINT_PTR SliceTimer = 1;
// Routines run for this long at most before the window's own messages get their turn.
constexpr auto SliceLength = std::chrono::milliseconds(8);

}  // namespace

MessageThread::MessageThread() : Owner(::GetCurrentThreadId()) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MessageThread::Procedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = ClassName;
  ::RegisterClassExW(&windowClass);  // a second thread finds it registered: that is fine
  Window = ::CreateWindowExW(0, ClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             windowClass.hInstance, this);
}

MessageThread::~MessageThread() {
  if (Window) ::DestroyWindow(Window);
}

void MessageThread::Post(std::function<void()> routine) {
  bool signal = false;
  {
    std::lock_guard lock(Mutex);
    Routines.push_back(std::move(routine));
    signal = State == Signal::Idle;
    if (signal) State = Signal::Message;
  }
  // One message for any number of routines, so the message queue (Windows keeps 10,000) can
  // hardly fill up; should it be full all the same, the message is tried again until the
  // window's thread has made room: the worker waits for its routine, and no other comes.
  if (!signal) return;
  while (!::PostMessageW(Window, RoutineWaits, 0, 0)) {
    if (!::IsWindow(Window)) {
      // The thread is ending and takes no messages any more.
      std::lock_guard lock(Mutex);
      State = Signal::Idle;
      return;
    }
    ::Sleep(1);
  }
}

void MessageThread::RunSlice() {
  const auto start = std::chrono::steady_clock::now();
  {
    // A routine may open a dialog: what is posted meanwhile runs in the dialog's loop.
    std::lock_guard lock(Mutex);
    State = Signal::Idle;
  }
  for (;;) {
    std::function<void()> routine;
    {
      std::lock_guard lock(Mutex);
      if (Routines.empty()) return;
      if (std::chrono::steady_clock::now() - start >= SliceLength) {
        // Timers come after the technician's input; without one, a message carries on, and
        // without that the rest runs now.
        if (::SetTimer(Window, SliceTimer, USER_TIMER_MINIMUM, nullptr)) {
          State = Signal::Timer;
          return;
        }
        if (::PostMessageW(Window, RoutineWaits, 0, 0)) {
          State = Signal::Message;
          return;
        }
      }
      routine = std::move(Routines.front());
      Routines.pop_front();
    }
    routine();
  }
}

void MessageThread::Signalled(UINT message) {
  {
    std::lock_guard lock(Mutex);
    if (message == WM_TIMER) {
      ::KillTimer(Window, SliceTimer);
    } else if (State == Signal::Timer) {
      return;  // the timer runs them, after the technician's input
    }
  }
  RunSlice();
}

LRESULT CALLBACK MessageThread::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == RoutineWaits || (message == WM_TIMER && wParam == SliceTimer)) {
    if (auto* self = reinterpret_cast<MessageThread*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
      self->Signalled(message);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
