#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "production/BoxRecord.h"

// Where the record of boxes is kept: a local SQLite file or a line's PostgreSQL server. Every
// call is one transaction; a false return leaves the store as it was, with why set.
class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Connects and creates or upgrades the schema. A server whose schema exists is used as it
  // is, so that a role that may only write rows will do.
  virtual bool Open(std::string& why) = 0;
  // Writes the row as it stands, whether or not it was written before (by its Id): the box's
  // start, its end, or a row forwarded again.
  virtual bool Put(const BoxRecord& row, std::string& why) = 0;
  // After a failed call: whether the store is still there (it refused the row) or not.
  virtual bool Reachable() const { return true; }
  // Rows of this station left "running" by a process no longer alive (alive: given its pid and
  // its start) become "interrupted". The number marked, -1 on failure.
  using AliveTest = std::function<bool(long long pid, const std::string& start)>;
  virtual int MarkInterrupted(const StationSelf& station, const AliveTest& alive,
                              std::string& why) = 0;
  // The rows the filter takes, oldest first; without their steps when withSteps is false.
  virtual bool Rows(const RecordFilter& filter, bool withSteps, std::vector<BoxRecord>& rows,
                    std::string& why) = 0;
  // What the store is, for messages: a file's path, or the server without its password.
  virtual std::string Name() const = 0;

  // Following the record as boxes end: from now on, what changes is noticed (a server's notices
  // of the boxes that end, a file's commits by any process).
  virtual bool Listen(std::string& why) = 0;
  // What changed since Listen or the last call, without waiting: -1 when the store is gone
  // (Open and Listen again), 0 nothing, 1 something; ids: the boxes the server named as ended
  // (a file names none: any row may have changed).
  virtual int News(std::vector<std::string>& ids, std::string& why) = 0;
};

// The local file, which also keeps the rows a server could not take until it can.
class LocalRecordStore : public RecordStore {
 public:
  // Writes the row as Put does, as one a server still has to take.
  virtual bool Keep(const BoxRecord& row, std::string& why) = 0;
  // The rows kept for a server, oldest first, with their steps.
  virtual bool Unforwarded(std::vector<BoxRecord>& rows, std::string& why) = 0;
  // The server has the row as it was read: unless it changed since, it need not go again.
  virtual bool MarkForwarded(const BoxRecord& row, std::string& why) = 0;
};

// A SQLite file, created readable by its owner only.
std::unique_ptr<LocalRecordStore> SqliteRecord(const std::string& path);
// A PostgreSQL server, named as libpq takes it (postgresql://... or key=value), with libpq's
// own ways of holding a password (the password file, a service file, PGPASSWORD).
std::unique_ptr<RecordStore> PostgresRecord(const std::string& conninfo);

// Whether this build can keep a record at all.
bool RecordAvailable();
// Whether a --record value names a server rather than a file.
bool NamesServer(const std::string& where);
// Why a server's address cannot be used as written, in words that never quote it (it may hold
// a password); empty when it can.
std::string ServerAddressProblem(const std::string& conninfo);

// The schema version this program writes.
inline constexpr int RecordSchemaVersion = 3;
