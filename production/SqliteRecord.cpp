#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/Files.h"
#include "production/RecordSchema.h"
#include "production/RecordStore.h"

namespace {

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &S, nullptr); }
  ~Statement() { sqlite3_finalize(S); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Ok() const { return S != nullptr; }
  void Text(int i, const std::string& v) {
    sqlite3_bind_text(S, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Int(int i, long long v) { sqlite3_bind_int64(S, i, v); }
  void Real(int i, double v) { sqlite3_bind_double(S, i, v); }
  int Step() { return sqlite3_step(S); }
  std::string ColText(int i) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(S, i));
    return t != nullptr ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(S, i)))
                        : std::string();
  }
  long long ColInt(int i) { return sqlite3_column_int64(S, i); }
  double ColReal(int i) { return sqlite3_column_double(S, i); }
  void Reset() {
    sqlite3_reset(S);
    sqlite3_clear_bindings(S);
  }

 private:
  sqlite3_stmt* S = nullptr;
};

class SqliteStore : public LocalRecordStore {
 public:
  explicit SqliteStore(std::string path) : Path(std::move(path)) {}
  ~SqliteStore() override { sqlite3_close(Db); }

  bool Open(std::string& why) override {
    // Opened again after a failure: the connection before goes first.
    if (Db != nullptr) {
      sqlite3_close(Db);
      Db = nullptr;
    }
    std::error_code error;
    const std::filesystem::path file = SystemPath(Path);
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    // Made readable by its owner only before SQLite opens it: it names every box and station.
    if (const std::string refused = CreateOwnersFile(Path); !refused.empty()) {
      why = Path + ": " + refused;
      return false;
    }
    if (sqlite3_open_v2(Path.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      why = Path + ": " + (Db != nullptr ? sqlite3_errmsg(Db) : "cannot open");
      return false;
    }
    // Several stations (processes) may write one file: each waits its turn instead of failing.
    sqlite3_busy_timeout(Db, 10000);
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;", why)) return false;
    if (!Exec("BEGIN IMMEDIATE;", why)) return false;
    if (!Exec(RecordSchemaSql(", forwarded INTEGER NOT NULL DEFAULT 1").c_str(), why))
      return Rollback();
    int version = RecordSchemaVersion;
    {
      Statement found(Db, "SELECT MAX(version) FROM kelvarin_schema");
      if (found.Ok() && found.Step() == SQLITE_ROW) version = static_cast<int>(found.ColInt(0));
    }
    if (const std::string newer = SchemaTooNew(version); !newer.empty()) {
      why = Path + ": " + newer;
      return Rollback();
    }
    if (!Exec(SchemaUpgradeSql(version).c_str(), why)) return Rollback();
    return Exec("COMMIT;", why) || Rollback();
  }

  bool Put(const BoxRecord& r, std::string& why) override { return PutRow(r, true, why); }
  bool Keep(const BoxRecord& r, std::string& why) override { return PutRow(r, false, why); }

  // For the rows kept while a server could not be reached: written not forwarded, and marked
  // forwarded once the server has them.
  bool PutRow(const BoxRecord& r, bool forwarded, std::string& why) {
    if (!Exec("BEGIN IMMEDIATE;", why)) return false;
    Statement put(Db, BoxUpsertSql('?', "forwarded").c_str());
    if (!put.Ok()) return Fail(why);
    int i = 1;
    for (const std::string* v :
         {&r.Id, &r.Station, &r.Port, &r.Adapter, &r.Started, &r.Ended, &r.Result})
      put.Text(i++, *v);
    put.Int(i++, r.Status);
    for (const std::string* v :
         {&r.Why, &r.LoaderVersion, &r.HardwareModel, &r.HardwareVersion, &r.Oui, &r.Image})
      put.Text(i++, *v);
    put.Int(i++, static_cast<long long>(r.ImageSize));
    put.Text(i++, r.ImageSha256);
    put.Int(i++, static_cast<long long>(r.Bytes));
    put.Int(i++, r.Pid);
    put.Text(i++, r.StationId);
    put.Text(i++, r.ProcessStart);
    put.Text(i++, r.Label);
    put.Int(i++, forwarded ? 1 : 0);
    if (put.Step() != SQLITE_DONE) return Fail(why);
    Statement step(Db, StepUpsertSql('?').c_str());
    for (std::size_t k = 0; k < r.Steps.size(); ++k) {
      step.Reset();
      step.Text(1, r.Id);
      step.Int(2, r.StepPlace(k));
      step.Text(3, r.Steps[k].Name);
      step.Text(4, r.Steps[k].Result);
      step.Text(5, r.Steps[k].Why);
      step.Real(6, r.Steps[k].Seconds);
      if (step.Step() != SQLITE_DONE) return Fail(why);
    }
    return Exec("COMMIT;", why) || Rollback();
  }

  int MarkInterrupted(const StationSelf& station, const AliveTest& alive,
                      std::string& why) override {
    // Without their steps: a row is written over its steps, which it leaves as they are.
    std::vector<BoxRecord> running;
    RecordFilter all;
    if (!Rows(all, false, running, why, "result = 'running'")) return -1;
    int marked = 0;
    for (BoxRecord& r : running) {
      if (!station.Owns(r) || alive(r.Pid, r.ProcessStart)) continue;
      MarkStationStopped(r);
      // A row kept for a server goes to it again with its end.
      if (!PutRow(r, Forwarded(r.Id), why)) return -1;
      ++marked;
    }
    return marked;
  }

  bool Rows(const RecordFilter& filter, bool withSteps, std::vector<BoxRecord>& rows,
            std::string& why) override {
    return Rows(filter, withSteps, rows, why, nullptr);
  }

  // Rows kept here that a server has not taken yet.
  bool Unforwarded(std::vector<BoxRecord>& rows, std::string& why) override {
    return Rows({}, true, rows, why, "forwarded = 0");
  }
  bool MarkForwarded(const BoxRecord& r, std::string& why) override {
    Statement mark(Db,
                   "UPDATE boxes SET forwarded = 1 WHERE id = ?1 AND ended = ?2 AND result = ?3");
    if (!mark.Ok()) return Fail(why);
    mark.Text(1, r.Id);
    mark.Text(2, r.Ended);
    mark.Text(3, r.Result);
    return mark.Step() == SQLITE_DONE || Fail(why);
  }

  std::string Name() const override { return Path; }

  // A file names no box: any commit of another process (a station) is news.
  bool Listen(std::string& why) override {
    if (Db == nullptr && !Open(why)) return false;
    Version = DataVersion();
    return Version >= 0 || Fail(why);
  }
  int News(std::vector<std::string>&, std::string& why) override {
    const long long now = DataVersion();
    if (now < 0) {
      Fail(why);
      return -1;
    }
    return std::exchange(Version, now) != now ? 1 : 0;
  }

 private:
  bool Rows(const RecordFilter& filter, bool withSteps, std::vector<BoxRecord>& rows,
            std::string& why, const char* extra) {
    std::string sql =
        std::string("SELECT ") + BoxColumns +
        " FROM boxes WHERE started >= ?1 AND (?2 = '' OR port = ?2 OR port = ?4) AND (?3 = 0 OR"
        " result IN ('failed', 'interrupted')) AND (?5 = '' OR label = ?5) AND (?6 = '' OR"
        " (ended >= ?6 AND result <> 'running')) AND (?7 = '' OR id = ?7)";
    if (extra != nullptr) sql += std::string(" AND ") + extra;
    sql += " ORDER BY started, id";
    Statement q(Db, sql.c_str());
    if (!q.Ok()) return Fail(why);
    q.Text(1, filter.Since);
    q.Text(2, filter.Port);
    q.Int(3, filter.FailedOnly ? 1 : 0);
    q.Text(4, filter.PortAsTyped);
    q.Text(5, filter.Label);
    q.Text(6, filter.EndedFrom);
    q.Text(7, filter.Id);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      BoxRecord r;
      int i = 0;
      for (std::string* v :
           {&r.Id, &r.Station, &r.Port, &r.Adapter, &r.Started, &r.Ended, &r.Result})
        *v = q.ColText(i++);
      r.Status = static_cast<int>(q.ColInt(i++));
      for (std::string* v :
           {&r.Why, &r.LoaderVersion, &r.HardwareModel, &r.HardwareVersion, &r.Oui, &r.Image})
        *v = q.ColText(i++);
      r.ImageSize = static_cast<std::uint64_t>(q.ColInt(i++));
      r.ImageSha256 = q.ColText(i++);
      r.Bytes = static_cast<std::uint64_t>(q.ColInt(i++));
      r.Pid = q.ColInt(i++);
      r.StationId = q.ColText(i++);
      r.ProcessStart = q.ColText(i++);
      r.Label = q.ColText(i++);
      rows.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) return Fail(why);
    if (!withSteps) return true;
    Statement steps(Db,
                    "SELECT step, result, why, seconds, n FROM steps WHERE box_id = ?1 ORDER BY n");
    for (BoxRecord& r : rows) {
      steps.Reset();
      steps.Text(1, r.Id);
      while (steps.Step() == SQLITE_ROW)
        r.Steps.push_back({steps.ColText(0), steps.ColText(1), steps.ColText(2), steps.ColReal(3),
                           steps.ColInt(4)});
    }
    return true;
  }

  bool Exec(const char* sql, std::string& why) {
    char* message = nullptr;
    if (sqlite3_exec(Db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    why = Path + ": " + (message != nullptr ? message : "error");
    sqlite3_free(message);
    return false;
  }
  bool Fail(std::string& why) {
    why = Path + ": " + sqlite3_errmsg(Db);
    sqlite3_exec(Db, "ROLLBACK;", nullptr, nullptr, nullptr);
    return false;
  }
  bool Rollback() {
    sqlite3_exec(Db, "ROLLBACK;", nullptr, nullptr, nullptr);
    return false;
  }

 private:
  long long DataVersion() {
    Statement q(Db, "PRAGMA data_version");
    return q.Ok() && q.Step() == SQLITE_ROW ? q.ColInt(0) : -1;
  }

  bool Forwarded(const std::string& id) {
    Statement q(Db, "SELECT forwarded FROM boxes WHERE id = ?1");
    q.Text(1, id);
    return q.Step() != SQLITE_ROW || q.ColInt(0) != 0;
  }

  std::string Path;
  long long Version = -1;
  sqlite3* Db = nullptr;
};

}  // namespace

std::unique_ptr<LocalRecordStore> SqliteRecord(const std::string& path) {
  return std::make_unique<SqliteStore>(path);
}
