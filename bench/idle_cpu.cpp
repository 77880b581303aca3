#include <map>
#include <set>

#include "bench/BenchSupport.h"

// What the program costs while nothing happens, in three states: not connected; connected while
// the sync word goes out and no loader answers; connected to a loader that has answered and has
// nothing to say. Each thread's wake-ups (voluntary context switches) and CPU are counted over
// the same span; the engine's threads should sleep until something is due. The box runs in a
// child process so that only the program's own time is counted.
//
// usage: bench_idle_cpu [seconds]   (10 by default, per state)

namespace {

using namespace bench;

const std::set<std::string> kEngineThreads = {"UartRxThread", "UartTxThread", "UartDataHandler"};

std::string ThreadName(const std::string& nameAndId) {
  return nameAndId.substr(0, nameAndId.rfind(' '));
}

struct Span {
  double wall = 0;
  double cpu = 0;
  std::map<std::string, ThreadUse> threads;  // by name and id, what each used over the span
};

Span Watch(int seconds) {
  std::map<std::string, ThreadUse> before;
  for (const auto& [name, use] : CpuSecondsPerThread()) before[name] = use;
  const double cpuBefore = CpuSecondsOfProcess();
  const auto start = std::chrono::steady_clock::now();
  RunEventLoopFor(seconds * 1000);
  Span span;
  span.wall = Seconds(std::chrono::steady_clock::now() - start);
  span.cpu = CpuSecondsOfProcess() - cpuBefore;
  for (const auto& [name, use] : CpuSecondsPerThread()) {
    const ThreadUse& was = before[name];
    span.threads[name] = {use.cpuSeconds - was.cpuSeconds, use.wakeUps - was.wakeUps};
  }
  return span;
}

// Prints the span; returns the engine's threads' wake-ups a second, all of them together.
double Report(const char* state, const Span& span, double cpuTarget, double wakeTarget) {
  double engineWakes = 0;
  for (const auto& [name, use] : span.threads)
    if (kEngineThreads.count(ThreadName(name))) engineWakes += use.wakeUps / span.wall;
  const double percent = 100.0 * span.cpu / span.wall;
  std::printf("%s, over %.1f s: CPU %.3f%% of one core%s; engine threads %.1f wake-ups/s%s\n",
              state, span.wall, percent,
              cpuTarget > 0 ? TargetNote(percent < cpuTarget).c_str() : "", engineWakes,
              wakeTarget >= 0 ? TargetNote(engineWakes <= wakeTarget).c_str() : "");
  for (const auto& [name, use] : span.threads) {
    const bool gui = name.substr(name.rfind(' ') + 1) == std::to_string(getpid());
    std::printf("  thread %s%s: %.3f s CPU, %.1f wake-ups/s\n", name.c_str(), gui ? " (GUI)" : "",
                use.cpuSeconds, use.wakeUps / span.wall);
  }
  std::fflush(stdout);
  return engineWakes;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  if (argc > 1) seconds = std::atoi(argv[1]);
  if (argc > 2 || seconds <= 0) {
    std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
    return 2;
  }
  RemoteBox box;
  if (!box.Start()) {
    std::printf("idle CPU: cannot start the box  TARGET MISSED\n");
    return 0;
  }
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);
  Program program;
  // Shown, with its status bar, as it stands on a technician's desk.
  program.Main().show();
  RunEventLoopFor(1000);
  Report("not connected", Watch(seconds), 0, 0);

  // The loader is not there: the sync word goes out, about every 60 ms, and nothing answers.
  box.TakeAway();
  Control<QComboBox>(program.All().form_uart, "Combo_port")
      ->setEditText(QString::fromStdString(box.Device));
  Control<QToolButton>(program.Main(), "tbtn_UartConnect")->click();
  if (!program.Main().core().Connected()) {
    std::printf("idle CPU: cannot connect  TARGET MISSED\n");
    return 0;
  }
  RunEventLoopFor(500);
  box.ClearLogs();
  const Span waiting = Watch(seconds);
  const double syncs = static_cast<double>(box.Received()) / 5 / waiting.wall;
  Report("waiting for the loader (sync word going out)", waiting, 0, -1);
  std::printf("  sync words on the line: %.1f/s\n", syncs);

  box.BringBack();
  if (!WaitFor([&] { return program.LogHas("Stop send sync byte"); }, 10000, 50)) {
    std::printf("idle CPU: no handshake  TARGET MISSED\n");
    return 0;
  }
  // The last sync words and the log's batch settle first.
  RunEventLoopFor(1000);
  Report("connected and idle (loader answered, box silent)", Watch(seconds), 0.1, 2);
  if (!program.Main().core().Connected())
    std::printf("idle CPU: the connection was lost during the measurement  TARGET MISSED\n");
  return 0;
}
