// How long the window's log takes to take a batch of lines once it holds all it keeps: every
// batch then also drops as many of the oldest lines. Lines of 100 characters, batches of 30
// (what 30 ms of a fast console brings).
//
// usage: bench_window_log
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it takes for granted.
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "win32/Windows.h"
#include "window/WindowRules.h"

int main() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  Windows app;
  MainWindow& window = app.form_main;
  ::ShowWindow(window.Handle(), SW_SHOW);
  const std::string pad(90, 'x');
  const auto fillStart = std::chrono::steady_clock::now();
  for (int i = 0; i < MaxLogLines; ++i) window.On(ev::BoxText{"line " + std::to_string(i) + pad});
  window.FlushLog();
  const double fillMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - fillStart)
          .count();
  constexpr int Rounds = 50;
  double worst = 0;
  double total = 0;
  for (int round = 0; round < Rounds; ++round) {
    for (int i = 0; i < 30; ++i) window.On(ev::BoxText{"more " + std::to_string(i) + pad});
    const auto start = std::chrono::steady_clock::now();
    window.FlushLog();
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    worst = std::max(worst, ms);
    total += ms;
  }
  std::printf(
      "window log: %d lines taken in %.0f ms; 30 more into the full log: mean %.2f ms, worst %.2f "
      "ms\n",
      MaxLogLines, fillMs, total / Rounds, worst);
  return 0;
}
