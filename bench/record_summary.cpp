#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/RecordRows.h"

// `kelvarin-cli record --summary` over a SQLite record of 100,000 boxes (bench_record_summary
// [rows]): the program reads back the rows made as RecordRows.h makes them.
int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  char pattern[] = "/tmp/kelvarin-bench-record-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string file = std::string(pattern) + "/record.sqlite";
  if (const std::string why = FillRecord(file, rows); !why.empty()) {
    std::printf("cannot make the record: %s  TARGET MISSED\n", why.c_str());
    return 0;
  }

  const std::string command =
      std::string(KELVARIN_CLI) + " --record " + file + " record --summary > /dev/null";
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
      std::printf("record --summary failed  TARGET MISSED\n");
      return 0;
    }
    best = std::min(best, seconds);
  }
  std::printf("record --summary over %d rows: %.3f s (best of 3)%s\n", rows, best,
              best < 1.0 ? "" : "  TARGET MISSED");
  std::filesystem::remove_all(pattern);
  return 0;
}
