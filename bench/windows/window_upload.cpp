// Uploads an image through kelvarin.exe's window as a technician's click would, with the
// window's own message loop running, and prints how long that loop was held up at most: a
// thread posts a stamped message every few milliseconds and the loop notes how late each one
// is handled. The line's efficiency is taken from the box's side by the script that runs this.
//
// usage: bench_window_upload PORT IMAGE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it takes for granted.
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "win32/ControlIds.h"
#include "win32/WideText.h"
#include "win32/Windows.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr UINT Stamped = WM_APP + 7;
constexpr auto ProbeEvery = std::chrono::milliseconds(5);

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_window_upload PORT IMAGE\n");
    return 2;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  SetMessageBoxHook([](const std::string& text) { std::printf("message: %s\n", text.c_str()); });
  Windows app;
  MainWindow& window = app.form_main;
  const HWND main = window.Handle();
  ::ShowWindow(main, SW_SHOW);
  app.form_uart.SetText(IDC_Combo_port, argv[1]);
  const std::string image = Utf8OfWide(argv[2]);
  window.PickImageFile = [image] { return std::optional<std::string>(image); };

  const auto start = Steady::now();
  const auto elapsed = [&] { return Steady::now() - start; };
  std::atomic<bool> probing{true};
  // The probe's messages go to the thread, as the workers' hand-overs do.
  const DWORD loopThread = ::GetCurrentThreadId();
  std::thread probe([&] {
    while (probing) {
      const auto at = std::chrono::duration_cast<std::chrono::microseconds>(elapsed()).count();
      ::PostThreadMessageW(loopThread, Stamped, 0, static_cast<LPARAM>(at));
      std::this_thread::sleep_for(ProbeEvery);
    }
  });
  long long longestStallUs = 0;
  enum class Step { Connecting, Uploading, Done } step = Step::Connecting;
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_tbtn_UartConnect, BN_CLICKED), 0);
  const auto deadline = start + std::chrono::minutes(10);
  MSG message;
  while (step != Step::Done && Steady::now() < deadline &&
         ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == Stamped && message.hwnd == nullptr) {
      const auto now = std::chrono::duration_cast<std::chrono::microseconds>(elapsed()).count();
      if (step == Step::Uploading) longestStallUs = std::max(longestStallUs, now - message.lParam);
    } else if (!::IsDialogMessageW(main, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (step == Step::Connecting && window.StatusParts()[0] == L"Ready") {
      step = Step::Uploading;
      ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_btn_UpdateCode, BN_CLICKED), 0);
    } else if (step == Step::Uploading) {
      const std::string log = window.LogText();
      if (log.find("Upload Complete") != std::string::npos ||
          log.find("Upload fail") != std::string::npos)
        step = Step::Done;
    }
  }
  probing = false;
  probe.join();
  const bool done =
      step == Step::Done && window.LogText().find("Upload Complete") != std::string::npos;
  std::printf("window upload: %s, longest stall of the message loop %.1f ms\n",
              done ? "complete" : "NOT COMPLETE", static_cast<double>(longestStallUs) / 1000.0);
  return done ? 0 : 1;
}
