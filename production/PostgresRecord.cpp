#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>

#include "production/RecordSchema.h"
#include "production/RecordStore.h"

namespace {

// The SQL states of a statement given up after its time: the server is there, but as good as
// away for this row.
bool TimedOut(PGresult* result) {
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  return state != nullptr && (std::strcmp(state, "57014") == 0 || std::strcmp(state, "55P03") == 0);
}

// One result, cleared when it goes.
struct Result {
  explicit Result(PGresult* r) : R(r) {}
  ~Result() { PQclear(R); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    const ExecStatusType s = PQresultStatus(R);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  PGresult* R;
};

class PostgresStore : public RecordStore {
 public:
  explicit PostgresStore(std::string conninfo) : Conninfo(std::move(conninfo)) {}
  ~PostgresStore() override { PQfinish(Conn); }

  bool Open(std::string& why) override {
    PQfinish(Conn);
    Conn = nullptr;
    Stalled = false;
    // libpq's own words for an address it cannot read quote the address, password and all.
    if (const std::string problem = ServerAddressProblem(Conninfo); !problem.empty()) {
      why = problem;
      return false;
    }
    // A server that does not answer must not hold the line up for long; one that stops answering
    // mid-write is given up within seconds too (keep-alives, and a limit on unacknowledged data),
    // and so is a statement that waits for a lock another session holds. The operator's own
    // settings come last and win.
    const char* keys[] = {"connect_timeout",  "keepalives_idle",  "keepalives_interval",
                          "keepalives_count", "tcp_user_timeout", "options",
                          "application_name", "dbname",           nullptr};
    const char* values[] = {"5",
                            "5",
                            "2",
                            "3",
                            "10000",
                            "-c statement_timeout=10000 -c lock_timeout=5000",
                            "kelvarin-cli",
                            Conninfo.c_str(),
                            nullptr};
    Conn = PQconnectdbParams(keys, values, 1);
    if (PQstatus(Conn) != CONNECTION_OK) return Failed(why);
    // A role that may write rows but not change the schema works once the schema exists.
    int version = SchemaVersion();
    if (version >= RecordSchemaVersion) return VersionUsable(version, why);
    // Stations that start together on a new or older server make or upgrade it once: the
    // second waits for the first and finds its work done.
    if (!Exec("BEGIN", why)) return false;
    Result locked(PQexec(Conn, "SELECT pg_advisory_xact_lock(7319046)"));
    if (!locked.Ok()) {
      Failed(why);
      Result(PQexec(Conn, "ROLLBACK"));
      return false;
    }
    version = SchemaVersion();
    // Another station did it meanwhile, perhaps a newer program.
    if (version >= RecordSchemaVersion) {
      Result(PQexec(Conn, "ROLLBACK"));
      return VersionUsable(version, why);
    }
    const std::string sql = version > 0 ? SchemaUpgradeSql(version) : RecordSchemaSql();
    Result changed(PQexec(Conn, (sql + "COMMIT;").c_str()));
    if (changed.Ok()) return true;
    Failed(why);
    Result(PQexec(Conn, "ROLLBACK"));
    if (version > 0)
      why += " (upgrading the record's schema from version " + std::to_string(version) +
             ": its owner runs kelvarin-cli once to do it)";
    return false;
  }

  // The schema's version on the server; 0: none there yet.
  int SchemaVersion() {
    // Asked first, so that a transaction under way is not spoiled by a table not there.
    Result table(PQexec(Conn, "SELECT to_regclass('kelvarin_schema') IS NOT NULL"));
    if (!table.Ok() || PQntuples(table.R) == 0 || PQgetvalue(table.R, 0, 0)[0] != 't') return 0;
    Result exists(PQexec(Conn, "SELECT MAX(version) FROM kelvarin_schema"));
    if (!exists.Ok() || PQntuples(exists.R) == 0 || PQgetisnull(exists.R, 0, 0)) return 0;
    return std::atoi(PQgetvalue(exists.R, 0, 0));
  }

  bool VersionUsable(int version, std::string& why) {
    why = SchemaTooNew(version);
    if (why.empty()) return true;
    why = Name() + ": " + why;
    return false;
  }

  bool Put(const BoxRecord& r, std::string& why) override {
    const bool wasUp = Reachable();
    if (PutOnce(r, why)) return true;
    // A server restarted since the last row: the connection is found broken only now, and a
    // fresh one is worth one more try. A server that could not be reached just now, or kept a
    // statement waiting past its time, is not waited for twice.
    if (!wasUp || Stalled || PQstatus(Conn) != CONNECTION_BAD) return false;
    return PutOnce(r, why);
  }

  bool Reachable() const override { return Conn != nullptr && PQstatus(Conn) == CONNECTION_OK; }

  bool PutOnce(const BoxRecord& r, std::string& why) {
    if (!Connected(why)) return false;
    if (!Exec("BEGIN", why)) return false;
    const std::string status = std::to_string(r.Status), imageSize = std::to_string(r.ImageSize),
                      bytes = std::to_string(r.Bytes), pid = std::to_string(r.Pid);
    const char* values[] = {r.Id.c_str(),
                            r.Station.c_str(),
                            r.Port.c_str(),
                            r.Adapter.c_str(),
                            r.Started.c_str(),
                            r.Ended.c_str(),
                            r.Result.c_str(),
                            status.c_str(),
                            r.Why.c_str(),
                            r.LoaderVersion.c_str(),
                            r.HardwareModel.c_str(),
                            r.HardwareVersion.c_str(),
                            r.Oui.c_str(),
                            r.Image.c_str(),
                            imageSize.c_str(),
                            r.ImageSha256.c_str(),
                            bytes.c_str(),
                            pid.c_str(),
                            r.StationId.c_str(),
                            r.ProcessStart.c_str(),
                            r.Label.c_str()};
    static_assert(std::size(values) == BoxColumnCount);
    static const std::string upsert = BoxUpsertSql('$');
    Result put(
        PQexecParams(Conn, upsert.c_str(), BoxColumnCount, nullptr, values, nullptr, nullptr, 0));
    if (!put.Ok()) return Abort(why, put);
    static const std::string stepUpsert = StepUpsertSql('$');
    for (std::size_t k = 0; k < r.Steps.size(); ++k) {
      const StepRecord& s = r.Steps[k];
      const std::string number = std::to_string(r.StepPlace(k)),
                        seconds = std::to_string(s.Seconds);
      const char* step[] = {r.Id.c_str(),     number.c_str(), s.Name.c_str(),
                            s.Result.c_str(), s.Why.c_str(),  seconds.c_str()};
      Result added(PQexecParams(Conn, stepUpsert.c_str(), 6, nullptr, step, nullptr, nullptr, 0));
      if (!added.Ok()) return Abort(why, added);
    }
    // Whoever follows the record hears of a box that ended, once the row is there to read.
    if (r.Result != "running") {
      const char* id[] = {r.Id.c_str()};
      Result told(PQexecParams(Conn, "SELECT pg_notify('kelvarin_boxes', $1)", 1, nullptr, id,
                               nullptr, nullptr, 0));
      if (!told.Ok()) return Abort(why, told);
    }
    return Exec("COMMIT", why);
  }

  int MarkInterrupted(const StationSelf& station, const AliveTest& alive,
                      std::string& why) override {
    // Without their steps: a row is written over its steps, which it leaves as they are.
    std::vector<BoxRecord> rows;
    if (!Select(RecordFilter{}, false, rows, why, true)) return -1;
    int marked = 0;
    for (BoxRecord& r : rows) {
      if (!station.Owns(r) || alive(r.Pid, r.ProcessStart)) continue;
      MarkStationStopped(r);
      if (!Put(r, why)) return -1;
      ++marked;
    }
    return marked;
  }

  bool Listen(std::string& why) override {
    if (!Connected(why)) return false;
    return Exec("LISTEN kelvarin_boxes", why);
  }

  // The notices that have come on the connection: reading them asks the server nothing.
  int News(std::vector<std::string>& ids, std::string& why) override {
    if (Conn == nullptr || !PQconsumeInput(Conn) || PQstatus(Conn) != CONNECTION_OK) {
      Failed(why);
      PQfinish(Conn);
      Conn = nullptr;
      return -1;
    }
    while (PGnotify* notice = PQnotifies(Conn)) {
      ids.emplace_back(notice->extra);
      PQfreemem(notice);
    }
    return ids.empty() ? 0 : 1;
  }

  bool Rows(const RecordFilter& filter, bool withSteps, std::vector<BoxRecord>& rows,
            std::string& why) override {
    return Select(filter, withSteps, rows, why, false);
  }

  std::string Name() const override {
    // The server as the operator knows it, never a password that may stand in the text.
    PQconninfoOption* options = PQconninfoParse(Conninfo.c_str(), nullptr);
    if (options == nullptr) return "the server";
    std::string host = "localhost", db;
    for (PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
      if (o->val == nullptr) continue;
      if (std::string(o->keyword) == "host") host = o->val;
      if (std::string(o->keyword) == "dbname") db = o->val;
    }
    PQconninfoFree(options);
    return "the server " + host + (db.empty() ? "" : "/" + db);
  }

 private:
  // running: only the rows still running.
  bool Select(const RecordFilter& filter, bool withSteps, std::vector<BoxRecord>& rows,
              std::string& why, bool running) {
    if (!Connected(why)) return false;
    const std::string failed = filter.FailedOnly ? "1" : "0";
    const char* values[] = {
        filter.Since.c_str(),     filter.Port.c_str(),        failed.c_str(),
        running ? "1" : "0",      filter.PortAsTyped.c_str(), filter.Label.c_str(),
        filter.EndedFrom.c_str(), filter.Id.c_str()};
    const std::string sql =
        std::string("SELECT ") + BoxColumns +
        " FROM boxes WHERE started >= $1 AND ($2 = '' OR port = $2 OR port = $5) AND ($3 = '0'"
        " OR result IN ('failed', 'interrupted')) AND ($4 = '0' OR result = 'running')"
        " AND ($6 = '' OR label = $6) AND ($7 = '' OR (ended >= $7 AND result <> 'running'))"
        " AND ($8 = '' OR id = $8) ORDER BY started, id";
    Result q(PQexecParams(Conn, sql.c_str(), 8, nullptr, values, nullptr, nullptr, 0));
    if (!q.Ok()) return Failed(why);
    const int first = static_cast<int>(rows.size());
    for (int t = 0; t < PQntuples(q.R); ++t) {
      auto col = [&](int c) { return std::string(PQgetvalue(q.R, t, c)); };
      BoxRecord r;
      r.Id = col(0), r.Station = col(1), r.Port = col(2), r.Adapter = col(3);
      r.Started = col(4), r.Ended = col(5), r.Result = col(6);
      r.Status = std::atoi(col(7).c_str());
      r.Why = col(8), r.LoaderVersion = col(9), r.HardwareModel = col(10);
      r.HardwareVersion = col(11), r.Oui = col(12), r.Image = col(13);
      r.ImageSize = std::strtoull(col(14).c_str(), nullptr, 10);
      r.ImageSha256 = col(15);
      r.Bytes = std::strtoull(col(16).c_str(), nullptr, 10);
      r.Pid = std::strtoll(col(17).c_str(), nullptr, 10);
      r.StationId = col(18), r.ProcessStart = col(19), r.Label = col(20);
      rows.push_back(std::move(r));
    }
    if (!withSteps) return true;
    for (std::size_t k = static_cast<std::size_t>(first); k < rows.size(); ++k) {
      const char* id[] = {rows[k].Id.c_str()};
      Result s(PQexecParams(Conn,
                            "SELECT step, result, why, seconds, n FROM steps WHERE box_id = $1"
                            " ORDER BY n",
                            1, nullptr, id, nullptr, nullptr, 0));
      if (!s.Ok()) return Failed(why);
      for (int t = 0; t < PQntuples(s.R); ++t)
        rows[k].Steps.push_back({PQgetvalue(s.R, t, 0), PQgetvalue(s.R, t, 1),
                                 PQgetvalue(s.R, t, 2), std::atof(PQgetvalue(s.R, t, 3)),
                                 std::atoll(PQgetvalue(s.R, t, 4))});
    }
    return true;
  }

  // A connection lost since (the server restarted) is made afresh, once.
  bool Connected(std::string& why) {
    if (Conn != nullptr && PQstatus(Conn) == CONNECTION_OK) return true;
    return Open(why);
  }
  bool Exec(const char* sql, std::string& why) {
    Result r(PQexec(Conn, sql));
    return r.Ok() || Abort(why, r);
  }
  bool Abort(std::string& why, const Result& failed) {
    Failed(why);
    if (TimedOut(failed.R)) {
      // Given up as a server that went away: the row is kept and tried again later.
      Stalled = true;
      PQfinish(Conn);
      Conn = nullptr;
      return false;
    }
    Result(PQexec(Conn, "ROLLBACK"));
    return false;
  }
  bool Failed(std::string& why) {
    std::string message = Conn != nullptr ? PQerrorMessage(Conn) : "cannot connect";
    // libpq's message may run over lines; the log gives it one.
    for (char& c : message)
      if (c == '\n' || c == '\t') c = ' ';
    while (!message.empty() && message.back() == ' ') message.pop_back();
    why = Name() + ": " + message;
    return false;
  }

  std::string Conninfo;
  PGconn* Conn = nullptr;
  bool Stalled = false;  // the last statement was given up after its time
};

}  // namespace

std::string ServerAddressProblem(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (options != nullptr) {
    PQconninfoFree(options);
    return {};
  }
  // libpq's message may quote the text around the fault, a password among it: only a key it
  // names as unknown is said.
  std::string key;
  const std::string message = error != nullptr ? error : "";
  PQfreemem(error);
  for (const char* head : {"invalid connection option \"", "invalid URI query parameter: \""}) {
    if (message.rfind(head, 0) != 0) continue;
    const std::size_t start = std::strlen(head);
    key = message.substr(start, message.find('"', start) - start);
  }
  return "the server address cannot be read" + (key.empty() ? "" : " (no such key: " + key + ")");
}

std::unique_ptr<RecordStore> PostgresRecord(const std::string& conninfo) {
  return std::make_unique<PostgresStore>(conninfo);
}

bool RecordAvailable() {
  return true;
}
