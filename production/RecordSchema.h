#pragma once

#include <string>
#include <utility>

#include "production/RecordStore.h"

// Why a record of that schema version may not be written by this program (one made by a newer
// kelvarin-cli, whose rows this one would leave half-filled); empty when it may.
inline std::string SchemaTooNew(int version) {
  if (version <= RecordSchemaVersion) return {};
  return "the record's schema is version " + std::to_string(version) + ", newer than the " +
         std::to_string(RecordSchemaVersion) + " this kelvarin-cli writes";
}

// A box's columns as the stores read and write them.
inline constexpr const char* BoxColumns =
    "id, station, port, adapter, started, ended, result, status, why, loader_version,"
    " hardware_model, hardware_version, oui, image, image_size, image_sha256, bytes, pid,"
    " station_id, process_start, label";
inline constexpr int BoxColumnCount = 21;

// Writes a box's row whether or not it is there; its parameters are BoxColumns' in order (mark:
// '$' for PostgreSQL, '?' for SQLite), then extraColumn's. A finished row is never put back to
// running, and an "interrupted" mark, made when the station seemed gone, yields to the box's
// real end arriving later (a row kept while the server was away).
inline std::string BoxUpsertSql(char mark, const std::string& extraColumn = {}) {
  const auto p = [&](int n) { return std::string(1, mark) + std::to_string(n); };
  const int count = BoxColumnCount + (extraColumn.empty() ? 0 : 1);
  std::string sql = "INSERT INTO boxes (" + std::string(BoxColumns) +
                    (extraColumn.empty() ? "" : ", " + extraColumn) + ") VALUES (";
  for (int n = 1; n <= count; ++n) sql += p(n) + (n < count ? ", " : ")");
  sql += " ON CONFLICT (id) DO UPDATE SET";
  // What a later write of the row may change, by the column's place among BoxColumns.
  const std::pair<const char*, int> updated[] = {{"ended", 6},
                                                 {"result", 7},
                                                 {"status", 8},
                                                 {"why", 9},
                                                 {"loader_version", 10},
                                                 {"hardware_model", 11},
                                                 {"hardware_version", 12},
                                                 {"oui", 13},
                                                 {"image", 14},
                                                 {"image_size", 15},
                                                 {"image_sha256", 16},
                                                 {"bytes", 17},
                                                 {"label", 21}};
  for (const auto& [column, n] : updated)
    sql += std::string(n > 6 ? "," : "") + " " + column + " = " + p(n);
  if (!extraColumn.empty()) sql += ", " + extraColumn + " = " + p(count);
  return sql + " WHERE boxes.result = 'running' OR (boxes.result = 'interrupted' AND " + p(7) +
         " IN ('ok', 'failed'))";
}

// Writes step n of a box over what it was: a role that may insert and update rows, but delete
// none, will do.
inline std::string StepUpsertSql(char mark) {
  const auto p = [&](int n) { return std::string(1, mark) + std::to_string(n); };
  return "INSERT INTO steps (box_id, n, step, result, why, seconds) VALUES (" + p(1) + ", " + p(2) +
         ", " + p(3) + ", " + p(4) + ", " + p(5) + ", " + p(6) +
         ") ON CONFLICT (box_id, n) DO UPDATE SET step = " + p(3) + ", result = " + p(4) +
         ", why = " + p(5) + ", seconds = " + p(6);
}

// A row left running by a station that stopped before its box was done.
inline void MarkStationStopped(BoxRecord& r) {
  r.Result = "interrupted";
  r.Status = 130;  // as a shell tells a program stopped by Ctrl+C
  r.Why = "the station stopped before the box was done";
}

// The record's tables as this program writes them, in SQL that SQLite and PostgreSQL both take
// (SQLite reads BIGINT and DOUBLE PRECISION as its integer and real), made only where missing.
// extraColumns: columns of the local file's own (", forwarded ...").
inline std::string RecordSchemaSql(const std::string& extraColumns = {}) {
  return "CREATE TABLE IF NOT EXISTS kelvarin_schema (version INTEGER NOT NULL);"
         "CREATE TABLE IF NOT EXISTS boxes ("
         " id TEXT PRIMARY KEY, station TEXT NOT NULL, port TEXT NOT NULL, adapter TEXT NOT NULL,"
         " started TEXT NOT NULL, ended TEXT NOT NULL, result TEXT NOT NULL, status INTEGER NOT"
         " NULL, why TEXT NOT NULL, loader_version TEXT NOT NULL, hardware_model TEXT NOT NULL,"
         " hardware_version TEXT NOT NULL, oui TEXT NOT NULL, image TEXT NOT NULL,"
         " image_size BIGINT NOT NULL, image_sha256 TEXT NOT NULL, bytes BIGINT NOT NULL,"
         " pid BIGINT NOT NULL, station_id TEXT NOT NULL DEFAULT '',"
         " process_start TEXT NOT NULL DEFAULT '', label TEXT NOT NULL DEFAULT ''" +
         extraColumns +
         ");"
         "CREATE INDEX IF NOT EXISTS boxes_started ON boxes (started);"
         "CREATE TABLE IF NOT EXISTS steps ("
         " box_id TEXT NOT NULL REFERENCES boxes (id) ON DELETE CASCADE, n INTEGER NOT NULL,"
         " step TEXT NOT NULL, result TEXT NOT NULL, why TEXT NOT NULL, seconds DOUBLE PRECISION"
         " NOT NULL, PRIMARY KEY (box_id, n));"
         "INSERT INTO kelvarin_schema SELECT " +
         std::to_string(RecordSchemaVersion) + " WHERE NOT EXISTS (SELECT 1 FROM kelvarin_schema);";
}

// What brings a record of an older schema version to this program's, in place, keeping every
// row: empty when there is nothing to do.
inline std::string SchemaUpgradeSql(int version) {
  std::string sql;
  if (version < 2)
    sql +=
        "ALTER TABLE boxes ADD COLUMN station_id TEXT NOT NULL DEFAULT '';"
        "ALTER TABLE boxes ADD COLUMN process_start TEXT NOT NULL DEFAULT '';";
  if (version < 3) sql += "ALTER TABLE boxes ADD COLUMN label TEXT NOT NULL DEFAULT '';";
  if (!sql.empty())
    sql += "UPDATE kelvarin_schema SET version = " + std::to_string(RecordSchemaVersion) + ";";
  return sql;
}
