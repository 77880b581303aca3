#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "production/RecordStore.h"

// A SQLite record of rows boxes, one a second over the days from 2026-12-01, every 37th
// failed: made by the program, filled through SQLite itself in one transaction. "" or why not.
inline std::string FillRecord(const std::string& file, int rows) {
  std::string why;
  if (!SqliteRecord(file)->Open(why)) return why;
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* put = nullptr;
  sqlite3_prepare_v2(
      db,
      "INSERT INTO boxes (id, station, port, adapter, started, ended, result, status,"
      " why, loader_version, hardware_model, hardware_version, oui, image,"
      " image_size, image_sha256, bytes, pid, label) VALUES (?1, 'station', ?2, '',"
      " ?3, ?3, ?4, ?5, ?6, '1.10', '5a17', '3', 'a0b1c2', 'fw.bin', 1048576, 'ab',"
      " 1048576, 1, ?7)",
      -1, &put, nullptr);
  for (int i = 0; i < rows; ++i) {
    char started[40];
    std::snprintf(started, sizeof started, "2026-12-%02d T%02d:%02d:%02d.000Z", 1 + i / 86400 % 28,
                  i / 3600 % 24, i / 60 % 60, i % 60);
    started[10] = 'T';
    const bool failed = i % 37 == 0;
    const std::string id = "box" + std::to_string(i);
    const std::string port = "ttyUSB" + std::to_string(i % 8);
    const std::string label = "5A17-" + std::to_string(100000 + i);
    sqlite3_bind_text(put, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put, 2, port.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put, 3, started, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put, 4, failed ? "failed" : "ok", -1, SQLITE_STATIC);
    sqlite3_bind_int(put, 5, failed ? 1 : 0);
    sqlite3_bind_text(put, 6, failed ? (i % 2 ? "Upload fail" : "Timeout!!") : "", -1,
                      SQLITE_STATIC);
    sqlite3_bind_text(put, 7, label.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(put);
    sqlite3_reset(put);
  }
  sqlite3_finalize(put);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return {};
}
