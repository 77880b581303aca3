#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "production/RecordStore.h"

// `kelvarin-cli record --summary` over a SQLite record of 100,000 boxes (bench_record_summary
// [rows]): the rows go in through SQLite in one transaction, the program reads them back.
int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  char pattern[] = "/tmp/kelvarin-bench-record-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string file = std::string(pattern) + "/record.sqlite";
  std::string why;
  if (!SqliteRecord(file)->Open(why)) {
    std::printf("cannot make the record: %s  TARGET MISSED\n", why.c_str());
    return 0;
  }
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* put = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO boxes VALUES (?1, 'station', ?2, '', ?3, ?3, ?4, ?5, ?6, '1.10',"
                     " '5a17', '3', 'a0b1c2', 'fw.bin', 1048576, 'ab', 1048576, 1, '', '', 1)",
                     -1, &put, nullptr);
  for (int i = 0; i < rows; ++i) {
    char started[40];
    std::snprintf(started, sizeof started, "2026-12-%02d T%02d:%02d:%02d.000Z", 1 + i / 86400 % 28,
                  i / 3600 % 24, i / 60 % 60, i % 60);
    started[10] = 'T';
    const bool failed = i % 37 == 0;
    const std::string id = "box" + std::to_string(i);
    const std::string port = "ttyUSB" + std::to_string(i % 8);
    sqlite3_bind_text(put, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put, 2, port.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put, 3, started, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put, 4, failed ? "failed" : "ok", -1, SQLITE_STATIC);
    sqlite3_bind_int(put, 5, failed ? 1 : 0);
    sqlite3_bind_text(put, 6, failed ? (i % 2 ? "Upload fail" : "Timeout!!") : "", -1,
                      SQLITE_STATIC);
    sqlite3_step(put);
    sqlite3_reset(put);
  }
  sqlite3_finalize(put);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);

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
