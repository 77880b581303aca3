#include <map>

#include "bench/BenchSupport.h"

// CPU the program uses while connected to a box that has nothing to say: after the handshake the
// line is quiet, and the workers should be asleep. The box runs in a child process so that only
// the program's own time is counted.
//
// usage: bench_idle_cpu [seconds]   (10 by default)

int main(int argc, char** argv) {
  using namespace bench;
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
  // Shown, with its status bar polling the engine, as it stands on a technician's desk.
  program.Main().show();
  if (!program.Connect(box.Device)) {
    std::printf("idle CPU: no handshake  TARGET MISSED\n");
    return 0;
  }
  // The last sync words and the log's batch settle first.
  RunEventLoopFor(1000);

  std::map<std::string, ThreadUse> threadsBefore;
  for (const auto& [name, use] : CpuSecondsPerThread()) threadsBefore[name] = use;
  const double cpuBefore = CpuSecondsOfProcess();
  const auto start = std::chrono::steady_clock::now();
  RunEventLoopFor(seconds * 1000);
  const double wall = Seconds(std::chrono::steady_clock::now() - start);
  const double cpu = CpuSecondsOfProcess() - cpuBefore;

  const double percent = 100.0 * cpu / wall;
  std::printf("idle CPU while connected, over %.1f s: %.2f%% of one core (%.3f s CPU)%s\n", wall,
              percent, cpu, TargetNote(percent < 1.0).c_str());
  // Where the time went; the thread whose id is the process id is the GUI thread.
  std::printf("  threads (the GUI thread's id is the process id, %d):\n",
              static_cast<int>(getpid()));
  for (const auto& [name, use] : CpuSecondsPerThread()) {
    const ThreadUse& before = threadsBefore[name];
    std::printf("  thread %s: %.2f s CPU, %.0f wake-ups/s\n", name.c_str(),
                use.cpuSeconds - before.cpuSeconds, (use.wakeUps - before.wakeUps) / wall);
  }
  if (!program.Main().core().Connected())
    std::printf("idle CPU: the connection was lost during the measurement  TARGET MISSED\n");
  return 0;
}
