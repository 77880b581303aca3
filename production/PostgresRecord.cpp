#include <libpq-fe.h>

#include <cstdlib>

#include "production/RecordSchema.h"
#include "production/RecordStore.h"

namespace {

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
    // A server that does not answer must not hold the line up for long; one that stops answering
    // mid-write is given up within seconds too (keep-alives, and a limit on unacknowledged data).
    // The operator's own settings come last and win.
    const char* keys[] = {"connect_timeout",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "tcp_user_timeout",
                          "application_name",
                          "dbname",
                          nullptr};
    const char* values[] = {"5", "5", "2", "3", "10000", "kelvarin-cli", Conninfo.c_str(), nullptr};
    Conn = PQconnectdbParams(keys, values, 1);
    if (PQstatus(Conn) != CONNECTION_OK) return Failed(why);
    // A role that may write rows but not change the schema works once the schema exists.
    Result exists(PQexec(Conn, "SELECT MAX(version) FROM kelvarin_schema"));
    if (exists.Ok() && PQntuples(exists.R) > 0 && !PQgetisnull(exists.R, 0, 0)) {
      why = SchemaTooNew(std::atoi(PQgetvalue(exists.R, 0, 0)));
      if (!why.empty()) why = Name() + ": " + why;
      return why.empty();
    }
    Result created(PQexec(Conn, RecordSchemaSql().c_str()));
    return created.Ok() || Failed(why);
  }

  bool Put(const BoxRecord& r, std::string& why) override {
    const bool wasUp = Reachable();
    if (PutOnce(r, why)) return true;
    // A server restarted since the last row: the connection is found broken only now, and a
    // fresh one is worth one more try. A server that could not be reached just now is not
    // waited for twice.
    if (!wasUp || PQstatus(Conn) != CONNECTION_BAD) return false;
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
                            pid.c_str()};
    Result put(PQexecParams(
        Conn,
        "INSERT INTO boxes VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14,"
        " $15, $16, $17, $18) ON CONFLICT (id) DO UPDATE SET ended = $6, result = $7,"
        " status = $8, why = $9, loader_version = $10, hardware_model = $11,"
        " hardware_version = $12, oui = $13, image = $14, image_size = $15, image_sha256 = $16,"
        " bytes = $17 WHERE boxes.result = 'running'",
        18, nullptr, values, nullptr, nullptr, 0));
    if (!put.Ok()) return Abort(why);
    // A box's steps only grow: each is written over itself, so that a role that may insert and
    // update rows, but delete none, will do.
    for (std::size_t n = 0; n < r.Steps.size(); ++n) {
      const StepRecord& s = r.Steps[n];
      const std::string number = std::to_string(n), seconds = std::to_string(s.Seconds);
      const char* step[] = {r.Id.c_str(),     number.c_str(), s.Name.c_str(),
                            s.Result.c_str(), s.Why.c_str(),  seconds.c_str()};
      Result added(PQexecParams(Conn,
                                "INSERT INTO steps VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT"
                                " (box_id, n) DO UPDATE SET step = $3, result = $4, why = $5,"
                                " seconds = $6",
                                6, nullptr, step, nullptr, nullptr, 0));
      if (!added.Ok()) return Abort(why);
    }
    return Exec("COMMIT", why);
  }

  int MarkInterrupted(const std::string& station, const std::function<bool(long long)>& alive,
                      std::string& why) override {
    // Without their steps: a row is written over its steps, which it leaves as they are.
    std::vector<BoxRecord> rows;
    if (!Select(RecordFilter{}, false, rows, why, station)) return -1;
    int marked = 0;
    for (BoxRecord& r : rows) {
      if (alive(r.Pid)) continue;
      MarkStationStopped(r);
      if (!Put(r, why)) return -1;
      ++marked;
    }
    return marked;
  }

  bool Rows(const RecordFilter& filter, bool withSteps, std::vector<BoxRecord>& rows,
            std::string& why) override {
    return Select(filter, withSteps, rows, why, {});
  }

  std::string Name() const override {
    // The server as the operator knows it, never a password that may stand in the text.
    PQconninfoOption* options = PQconninfoParse(Conninfo.c_str(), nullptr);
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
  // runningOf: only the rows left running by this station.
  bool Select(const RecordFilter& filter, bool withSteps, std::vector<BoxRecord>& rows,
              std::string& why, const std::string& runningOf) {
    if (!Connected(why)) return false;
    const std::string failed = filter.FailedOnly ? "1" : "0";
    const char* values[] = {filter.Since.c_str(), filter.Port.c_str(), failed.c_str(),
                            runningOf.c_str()};
    const std::string sql =
        std::string("SELECT ") + BoxColumns +
        " FROM boxes WHERE started >= $1 AND ($2 = '' OR port = $2) AND ($3 = '0' OR result IN"
        " ('failed', 'interrupted')) AND ($4 = '' OR (station = $4 AND result = 'running'))"
        " ORDER BY started, id";
    Result q(PQexecParams(Conn, sql.c_str(), 4, nullptr, values, nullptr, nullptr, 0));
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
      rows.push_back(std::move(r));
    }
    if (!withSteps) return true;
    for (std::size_t k = static_cast<std::size_t>(first); k < rows.size(); ++k) {
      const char* id[] = {rows[k].Id.c_str()};
      Result s(PQexecParams(Conn,
                            "SELECT step, result, why, seconds FROM steps WHERE box_id = $1"
                            " ORDER BY n",
                            1, nullptr, id, nullptr, nullptr, 0));
      if (!s.Ok()) return Failed(why);
      for (int t = 0; t < PQntuples(s.R); ++t)
        rows[k].Steps.push_back({PQgetvalue(s.R, t, 0), PQgetvalue(s.R, t, 1),
                                 PQgetvalue(s.R, t, 2), std::atof(PQgetvalue(s.R, t, 3))});
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
    return r.Ok() || Abort(why);
  }
  bool Abort(std::string& why) {
    Failed(why);
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
};

}  // namespace

std::unique_ptr<RecordStore> PostgresRecord(const std::string& conninfo) {
  return std::make_unique<PostgresStore>(conninfo);
}

bool RecordAvailable() {
  return true;
}
