#pragma once

#include <string>

#include "production/RecordStore.h"

// Why a record of that schema version may not be written by this program (one made by a newer
// kelvarin-cli, whose rows this one would leave half-filled); empty when it may.
inline std::string SchemaTooNew(int version) {
  if (version <= RecordSchemaVersion) return {};
  return "the record's schema is version " + std::to_string(version) + ", newer than the " +
         std::to_string(RecordSchemaVersion) + " this kelvarin-cli writes";
}

// A box's columns as the stores read them, in the table's order.
inline constexpr const char* BoxColumns =
    "id, station, port, adapter, started, ended, result, status, why, loader_version,"
    " hardware_model, hardware_version, oui, image, image_size, image_sha256, bytes, pid";

// A row left running by a station that stopped before its box was done.
inline void MarkStationStopped(BoxRecord& r) {
  r.Result = "interrupted";
  r.Status = 130;  // as a shell tells a program stopped by Ctrl+C
  r.Why = "the station stopped before the box was done";
}

// The record's tables, in SQL that SQLite and PostgreSQL both take (SQLite reads BIGINT and
// DOUBLE PRECISION as its integer and real), made only where missing. extraColumns: columns of
// the local file's own (", forwarded ...").
inline std::string RecordSchemaSql(const std::string& extraColumns = {}) {
  return "CREATE TABLE IF NOT EXISTS kelvarin_schema (version INTEGER NOT NULL);"
         "CREATE TABLE IF NOT EXISTS boxes ("
         " id TEXT PRIMARY KEY, station TEXT NOT NULL, port TEXT NOT NULL, adapter TEXT NOT NULL,"
         " started TEXT NOT NULL, ended TEXT NOT NULL, result TEXT NOT NULL, status INTEGER NOT"
         " NULL, why TEXT NOT NULL, loader_version TEXT NOT NULL, hardware_model TEXT NOT NULL,"
         " hardware_version TEXT NOT NULL, oui TEXT NOT NULL, image TEXT NOT NULL,"
         " image_size BIGINT NOT NULL, image_sha256 TEXT NOT NULL, bytes BIGINT NOT NULL,"
         " pid BIGINT NOT NULL" +
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
