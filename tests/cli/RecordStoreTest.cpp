#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "production/BoxRecord.h"
#include "production/Json.h"
#include "production/RecordStore.h"

namespace {

BoxRecord Box(const std::string& id, const std::string& station, long long pid,
              const std::string& result, const std::string& started = "2026-12-08T09:00:00.000Z") {
  BoxRecord r;
  r.Id = id;
  r.Station = station;
  r.Port = "ttyUSB" + id;
  r.Started = started;
  r.Result = result;
  r.Pid = pid;
  if (result != "running") r.Ended = "2026-12-08T09:01:00.000Z";
  return r;
}

class LocalRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvarin-record-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Dir = pattern;
    Store = SqliteRecord(Dir + "/record.sqlite");
    std::string why;
    ASSERT_TRUE(Store->Open(why)) << why;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::vector<BoxRecord> All(RecordFilter filter = {}) {
    std::vector<BoxRecord> rows;
    std::string why;
    EXPECT_TRUE(Store->Rows(filter, true, rows, why)) << why;
    return rows;
  }
  int Waiting() {
    std::vector<BoxRecord> rows;
    std::string why;
    EXPECT_TRUE(Store->Unforwarded(rows, why)) << why;
    return static_cast<int>(rows.size());
  }
  std::string Dir;
  std::unique_ptr<LocalRecordStore> Store;
  std::string Why;
};

// What the station relies on when the server is away: a kept row waits until the server has its
// latest state, and an old copy never puts a finished box back to running.
TEST_F(LocalRecord, KeptRowsWaitForTheServerAndNeverGoBack) {
  BoxRecord box = Box("1", "s1", 100, "running");
  ASSERT_TRUE(Store->Keep(box, Why)) << Why;
  const BoxRecord started = box;
  box.Result = "ok";
  box.Ended = "2026-12-08T09:01:00.000Z";
  box.Steps = {{"upload fw.bin", "ok", "", 1.5}, {"reboot", "ok", "", 0.2}};
  ASSERT_TRUE(Store->Keep(box, Why)) << Why;
  EXPECT_EQ(Waiting(), 1);
  // The server took the running copy only: the finished one still has to go.
  ASSERT_TRUE(Store->MarkForwarded(started, Why)) << Why;
  EXPECT_EQ(Waiting(), 1);
  ASSERT_TRUE(Store->MarkForwarded(box, Why)) << Why;
  EXPECT_EQ(Waiting(), 0);
  ASSERT_TRUE(Store->Put(started, Why)) << Why;
  const std::vector<BoxRecord> rows = All();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Result, "ok");
  ASSERT_EQ(rows[0].Steps.size(), 2u);
  EXPECT_EQ(rows[0].Steps[1].Name, "reboot");
}

// Only this station's rows of processes that are gone become interrupted: a clone of its PC
// shares the host name but not the id, and a process id alive now may be another process than
// the one that wrote the row. One kept for the server still goes to it.
TEST_F(LocalRecord, InterruptedAreTheDeadProcessesOfThisStationAlone) {
  const auto row = [](const std::string& id, const std::string& station,
                      const std::string& stationId, long long pid, const std::string& start,
                      const std::string& result = "running") {
    BoxRecord r = Box(id, station, pid, result);
    r.StationId = stationId;
    r.ProcessStart = start;
    return r;
  };
  BoxRecord kept = row("dead-kept", "host", "me", 111, "t111");
  kept.Steps = {{"erase", "ok", "", 1.5}, {"upload", "running", "", 0}};
  ASSERT_TRUE(Store->Keep(kept, Why));
  const struct {
    BoxRecord Row;
    const char* Then;
  } cases[] = {
      {row("dead-sent", "host", "me", 112, "t112"), "interrupted"},
      {row("alive", "host", "me", 200, "t200"), "running"},
      {row("pid-reused", "host", "me", 200, "t-before"), "interrupted"},
      {row("clone", "host", "a-clone", 113, "t113"), "running"},
      {row("renamed", "line-3a", "me", 114, "t114"), "interrupted"},
      {row("first-schema", "host", "", 115, ""), "interrupted"},
      {row("first-schema-elsewhere", "other-host", "", 116, ""), "running"},
      {row("done", "host", "me", 117, "t117", "ok"), "ok"},
  };
  for (const auto& c : cases) ASSERT_TRUE(Store->Put(c.Row, Why)) << Why;
  const int marked = Store->MarkInterrupted(
      {"me", "host"},
      [](long long pid, const std::string& start) {
        return pid == 200 && (start == "t200" || start.empty());
      },
      Why);
  EXPECT_EQ(marked, 5);
  for (const BoxRecord& r : All()) {
    SCOPED_TRACE(r.Id);
    std::string then = "interrupted";
    for (const auto& c : cases)
      if (c.Row.Id == r.Id) then = c.Then;
    EXPECT_EQ(r.Result, then);
    if (then == "interrupted") {
      EXPECT_EQ(r.Status, 130);
    }
  }
  std::vector<BoxRecord> waiting;
  ASSERT_TRUE(Store->Unforwarded(waiting, Why));
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].Id, "dead-kept");
  EXPECT_EQ(waiting[0].Result, "interrupted");
  // Its steps go to the server with it, as far as they went.
  ASSERT_EQ(waiting[0].Steps.size(), 2u);
  EXPECT_EQ(waiting[0].Steps[0].Name, "erase");
  EXPECT_EQ(waiting[0].Steps[1].Result, "running");
}

// A box's real end, arriving after its row was marked interrupted (kept while the server was
// away), is what the record keeps; nothing puts a finished row back.
TEST_F(LocalRecord, ARealEndOutweighsAnInterruptedMark) {
  BoxRecord box = Box("1", "s", 100, "running");
  ASSERT_TRUE(Store->Put(box, Why));
  BoxRecord marked = box;
  marked.Ended = "2026-12-08T10:00:00.000Z";
  marked.Result = "interrupted";
  ASSERT_TRUE(Store->Put(marked, Why));
  BoxRecord ok = box;
  ok.Ended = "2026-12-08T09:01:00.000Z";
  ok.Result = "ok";
  ASSERT_TRUE(Store->Put(ok, Why));
  ASSERT_TRUE(Store->Put(marked, Why));
  ASSERT_TRUE(Store->Put(box, Why));
  ASSERT_EQ(All().size(), 1u);
  EXPECT_EQ(All()[0].Result, "ok");
}

// Each step is written once, as it ends: a row that carries only its newest step leaves the
// steps before it in place, and a row read back names each step's place.
TEST_F(LocalRecord, StepsAreWrittenOnceEach) {
  BoxRecord box = Box("1", "s", 100, "running");
  for (std::size_t n = 0; n < 5; ++n) {
    BoxRecord step = box;
    step.FirstStep = n;
    step.Steps = {{"step " + std::to_string(n), "ok", "", 0.1}};
    ASSERT_TRUE(Store->Put(step, Why)) << Why;
  }
  ASSERT_TRUE(Store->Put(box, Why));  // the end: no steps
  std::vector<BoxRecord> rows = All();
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].Steps.size(), 5u);
  for (std::size_t n = 0; n < 5; ++n) {
    EXPECT_EQ(rows[0].Steps[n].Name, "step " + std::to_string(n));
    EXPECT_EQ(rows[0].Steps[n].N, static_cast<long long>(n));
  }
  // Kept with a gap (step 1 went to the server, 3 did not exist): read back and written again,
  // each step lands where it was.
  BoxRecord kept = Box("2", "s", 100, "running");
  kept.Steps = {{"a", "ok", "", 0, 0}, {"c", "ok", "", 0, 2}};
  ASSERT_TRUE(Store->Keep(kept, Why));
  std::vector<BoxRecord> waiting;
  ASSERT_TRUE(Store->Unforwarded(waiting, Why));
  ASSERT_EQ(waiting.size(), 1u);
  ASSERT_EQ(waiting[0].Steps.size(), 2u);
  EXPECT_EQ(waiting[0].StepPlace(1), 2);
}

// A record made by a newer kelvarin-cli is not written by this one: its rows would miss what the
// newer one keeps.
TEST_F(LocalRecord, ARecordOfANewerSchemaIsLeftAlone) {
  const std::string file = Dir + "/record.sqlite";
  ASSERT_EQ(std::system(("sqlite3 " + file + " 'UPDATE kelvarin_schema SET version = 9'").c_str()),
            0);
  std::string why;
  EXPECT_FALSE(SqliteRecord(file)->Open(why));
  EXPECT_NE(why.find("schema is version 9, newer than the 3"), std::string::npos) << why;
}

// A file of an older schema, as versions 1 and 2 wrote it, is brought up to date in place:
// every row stays, and new rows go in beside them.
TEST(RecordUpgrade, AnOlderSchemaFileKeepsEveryRow) {
  for (const int from : {1, 2}) {
    SCOPED_TRACE(from);
    char pattern[] = "/tmp/kelvarin-record-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string file = std::string(pattern) + "/record.sqlite";
    const std::string old =
        "CREATE TABLE kelvarin_schema (version INTEGER NOT NULL); INSERT INTO kelvarin_schema"
        " VALUES (" +
        std::to_string(from) +
        "); CREATE TABLE boxes (id TEXT PRIMARY KEY, station"
        " TEXT NOT NULL, port TEXT NOT NULL, adapter TEXT NOT NULL, started TEXT NOT NULL, ended"
        " TEXT NOT NULL, result TEXT NOT NULL, status INTEGER NOT NULL, why TEXT NOT NULL,"
        " loader_version TEXT NOT NULL, hardware_model TEXT NOT NULL, hardware_version TEXT NOT"
        " NULL, oui TEXT NOT NULL, image TEXT NOT NULL, image_size BIGINT NOT NULL, image_sha256"
        " TEXT NOT NULL, bytes BIGINT NOT NULL, pid BIGINT NOT NULL, " +
        std::string(from >= 2 ? "station_id TEXT NOT NULL DEFAULT '', process_start TEXT NOT"
                                " NULL DEFAULT '', "
                              : "") +
        "forwarded INTEGER NOT NULL DEFAULT 1); CREATE TABLE steps (box_id TEXT NOT NULL"
        " REFERENCES boxes (id) ON DELETE CASCADE, n INTEGER NOT NULL, step TEXT NOT NULL, result"
        " TEXT NOT NULL, why TEXT NOT NULL, seconds DOUBLE PRECISION NOT NULL, PRIMARY KEY"
        " (box_id, n)); INSERT INTO boxes (id, station, port, adapter, started, ended, result,"
        " status, why, loader_version, hardware_model, hardware_version, oui, image, image_size,"
        " image_sha256, bytes, pid) VALUES ('old', 'host', 'ttyUSB0', '',"
        " '2026-12-01T08:00:00.000Z', '2026-12-01T08:01:00.000Z', 'ok', 0, '', '5.6', 'M', 'V',"
        " 'O', 'fw.bin', 10, 'abc', 10, 42); INSERT INTO steps VALUES ('old', 0, 'upload"
        " fw.bin', 'ok', '', 1.0);";
    ASSERT_EQ(std::system(("sqlite3 " + file + " \"" + old + "\"").c_str()), 0);
    const auto store = SqliteRecord(file);
    std::string why;
    ASSERT_TRUE(store->Open(why)) << why;
    BoxRecord next = Box("new", "host", 43, "ok", "2026-12-09T08:00:00.000Z");
    next.StationId = "me";
    next.Label = "5A17-004211";
    next.Steps = {{"erase 0 1000", "ok", "", 0.5}};
    ASSERT_TRUE(store->Put(next, why)) << why;
    std::vector<BoxRecord> rows;
    ASSERT_TRUE(store->Rows({}, true, rows, why)) << why;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Id, "old");
    EXPECT_EQ(rows[0].ImageSha256, "abc");
    ASSERT_EQ(rows[0].Steps.size(), 1u);
    EXPECT_EQ(rows[0].Steps[0].Name, "upload fw.bin");
    EXPECT_EQ(rows[1].StationId, "me");
    EXPECT_EQ(rows[0].Label, "");
    RecordFilter byLabel;
    byLabel.Label = "5A17-004211";
    rows.clear();
    ASSERT_TRUE(store->Rows(byLabel, false, rows, why)) << why;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Id, "new");
    FILE* version =
        popen(("sqlite3 " + file + " 'SELECT version FROM kelvarin_schema'").c_str(), "r");
    char text[16] = {};
    ASSERT_NE(std::fgets(text, sizeof text, version), nullptr);
    pclose(version);
    EXPECT_EQ(std::string(text), "3\n");
    std::filesystem::remove_all(pattern);
  }
}

TEST_F(LocalRecord, FiltersAndSummary) {
  ASSERT_TRUE(Store->Put(Box("1", "s", 1, "ok", "2026-12-08T08:10:00.000Z"), Why));
  BoxRecord failed = Box("2", "s", 1, "failed", "2026-12-08T09:20:00.000Z");
  failed.Why = "Timeout!!, twice \"really\"";
  ASSERT_TRUE(Store->Put(failed, Why));
  ASSERT_TRUE(Store->Put(Box("3", "s", 1, "interrupted", "2026-12-08T09:30:00.000Z"), Why));
  EXPECT_EQ(All().size(), 3u);
  RecordFilter since, port, failedOnly;
  since.Since = "2026-12-08T09";
  port.Port = "ttyUSB2";
  failedOnly.FailedOnly = true;
  EXPECT_EQ(All(since).size(), 2u);
  EXPECT_EQ(All(port).size(), 1u);
  EXPECT_EQ(All(failedOnly).size(), 2u);
  const std::string summary = SummaryText(All());
  EXPECT_NE(summary.find("boxes: 3, ok: 1, yield: 33.3%"), std::string::npos) << summary;
  EXPECT_NE(summary.find("2026-12-08 09:00  2 boxes, 0 ok"), std::string::npos) << summary;
  EXPECT_NE(RowCsv(failed).find(",\"Timeout!!, twice \"\"really\"\"\","), std::string::npos)
      << RowCsv(failed);
  // What a spreadsheet would run as a formula is text there.
  BoxRecord formula = failed;
  formula.Image = "=HYPERLINK(\"http://x\")";
  formula.Why = "-2+3";
  formula.Station = "@sum";
  const std::string csv = RowCsv(formula);
  EXPECT_EQ(csv.rfind("'@sum,", 0), 0u) << csv;
  EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << csv;
  EXPECT_NE(csv.find(",'-2+3,"), std::string::npos) << csv;
}

// The record's text is UTF-8 whatever the names were: a byte that is no part of a character
// shows as \xNN, what is UTF-8 stays as it is.
TEST(RecordText, NamesThatAreNotUtf8StayRecognisable) {
  const struct {
    std::string Given, Kept;
  } cases[] = {
      {"fw.bin", "fw.bin"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xA6", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xA6"},
      {"fw\xE9.bin", "fw\\xE9.bin"},                 // Latin-1
      {"\xC3", "\\xC3"},                             // cut short
      {"\xC0\xAF", "\\xC0\\xAF"},                    // overlong
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
      {"\xFF\xFEok", "\\xFF\\xFEok"},
  };
  for (const auto& c : cases) EXPECT_EQ(ValidUtf8(c.Given), c.Kept) << c.Given;
  EXPECT_EQ(JsonString("a\xE9\"\n"), "\"a\\\\xE9\\\"\\u000a\"");
}

// A server that takes connections and never says a word: every attempt costs a whole
// connection time-out, so a station must not make two where one has just failed.
class SilentServer {
 public:
  SilentServer() {
    Listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(Listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(Listener, 8) != 0 ||
        getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    Port = ntohs(address.sin_port);
    Taker = std::thread([this] {
      for (int fd; (fd = accept(Listener, nullptr, nullptr)) >= 0;) {
        Held.push_back(fd);
        ++Connections;
      }
    });
  }
  ~SilentServer() {
    shutdown(Listener, SHUT_RDWR);
    if (Taker.joinable()) Taker.join();
    close(Listener);
    for (int fd : Held) close(fd);
  }
  std::string Conninfo() const {
    return "host=127.0.0.1 port=" + std::to_string(Port) +
           " dbname=line user=station connect_timeout=2 sslmode=disable gssencmode=disable";
  }
  int Listener = -1;
  int Port = 0;
  std::atomic<int> Connections{0};

 private:
  std::thread Taker;
  std::vector<int> Held;
};

TEST(ServerRecord, AServerThatDoesNotAnswerIsWaitedForOnceACall) {
  SilentServer server;
  ASSERT_NE(server.Port, 0);
  const auto store = PostgresRecord(server.Conninfo());
  std::string why;
  EXPECT_FALSE(store->Open(why));
  EXPECT_EQ(server.Connections, 1);
  EXPECT_FALSE(store->Put(Box("1", "s", 1, "ok"), why));
  EXPECT_EQ(server.Connections, 2);
  EXPECT_FALSE(store->Reachable());
}

}  // namespace
