#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "production/Recorder.h"
#include "production/RecordStore.h"

namespace {

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;
}

}  // namespace

// A job of many steps on one box, as kelvarin-cli records it (the box's start, each step as it
// ends, the box's end), into a SQLite file or a server (bench_record_steps [steps] [SERVER]): the
// time until every row is written, which a station waits at its exit, and the peak memory.
int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::string server = argc > 2 ? argv[2] : "";
  char pattern[] = "/tmp/kelvarin-bench-steps-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string file = std::string(pattern) + "/record.sqlite";
  const double idle = PeakMiB();
  int said = 0;
  Recorder recorder(server.empty() ? file : server, file, "bench",
                    [&](const std::string& text) {
                      ++said;
                      std::printf("  (record: %s)\n", text.c_str());
                    });
  recorder.Start();
  const auto start = std::chrono::steady_clock::now();
  BoxRecord box;
  box.Id = "bench/" + std::to_string(recorder.Self().Pid) + "/" + std::to_string(time(nullptr));
  box.Station = recorder.Self().Name;
  box.StationId = recorder.Self().Id;
  box.Port = "ttyUSB0";
  box.Started = UtcNow();
  box.Pid = recorder.Self().Pid;
  box.ProcessStart = recorder.Self().ProcessStart;
  recorder.Put(box);
  for (int n = 0; n < steps; ++n) {
    BoxRecord step = box;
    step.FirstStep = static_cast<std::size_t>(n);
    step.Steps = {{"erase " + std::to_string(n * 0x1000) + " 1000", "ok", "", 0.01}};
    recorder.Put(std::move(step));
  }
  box.Ended = UtcNow();
  box.Result = "ok";
  recorder.Put(box);
  recorder.Finish();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d steps into %s: %.2f s until every row is written, peak memory +%.1f MiB%s\n",
              steps, server.empty() ? "a SQLite file" : "the server", seconds, PeakMiB() - idle,
              said == 0 ? "" : "  TARGET MISSED");
  std::filesystem::remove_all(pattern);
  return 0;
}
