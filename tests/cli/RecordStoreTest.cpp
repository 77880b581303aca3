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

// Only this station's rows of processes that are gone become interrupted; one kept for the
// server still goes to it.
TEST_F(LocalRecord, InterruptedAreTheDeadProcessesOfThisStationAlone) {
  BoxRecord kept = Box("dead-kept", "s1", 111, "running");
  kept.Steps = {{"erase", "ok", "", 1.5}, {"upload", "running", "", 0}};
  ASSERT_TRUE(Store->Keep(kept, Why));
  ASSERT_TRUE(Store->Put(Box("dead-sent", "s1", 112, "running"), Why));
  ASSERT_TRUE(Store->Put(Box("alive", "s1", 200, "running"), Why));
  ASSERT_TRUE(Store->Put(Box("other", "s2", 113, "running"), Why));
  ASSERT_TRUE(Store->Put(Box("done", "s1", 114, "ok"), Why));
  const int marked = Store->MarkInterrupted(
      "s1", [](long long pid) { return pid == 200; }, Why);
  EXPECT_EQ(marked, 2);
  for (const BoxRecord& r : All()) {
    SCOPED_TRACE(r.Id);
    const bool dead = r.Id == "dead-kept" || r.Id == "dead-sent";
    EXPECT_EQ(r.Result, dead ? "interrupted" : r.Id == "done" ? "ok" : "running");
    if (dead) {
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

// A record made by a newer kelvarin-cli is not written by this one: its rows would miss what the
// newer one keeps.
TEST_F(LocalRecord, ARecordOfANewerSchemaIsLeftAlone) {
  const std::string file = Dir + "/record.sqlite";
  ASSERT_EQ(std::system(("sqlite3 " + file + " 'UPDATE kelvarin_schema SET version = 2'").c_str()),
            0);
  std::string why;
  EXPECT_FALSE(SqliteRecord(file)->Open(why));
  EXPECT_NE(why.find("schema is version 2, newer than the 1"), std::string::npos) << why;
}

TEST_F(LocalRecord, FiltersAndSummary) {
  ASSERT_TRUE(Store->Put(Box("1", "s", 1, "ok", "2026-12-08T08:10:00.000Z"), Why));
  BoxRecord failed = Box("2", "s", 1, "failed", "2026-12-08T09:20:00.000Z");
  failed.Why = "Timeout!!, twice \"really\"";
  ASSERT_TRUE(Store->Put(failed, Why));
  ASSERT_TRUE(Store->Put(Box("3", "s", 1, "interrupted", "2026-12-08T09:30:00.000Z"), Why));
  EXPECT_EQ(All().size(), 3u);
  EXPECT_EQ(All({"2026-12-08T09", "", false}).size(), 2u);
  EXPECT_EQ(All({"", "ttyUSB2", false}).size(), 1u);
  EXPECT_EQ(All({"", "", true}).size(), 2u);
  const std::string summary = SummaryText(All());
  EXPECT_NE(summary.find("boxes: 3, ok: 1, yield: 33.3%"), std::string::npos) << summary;
  EXPECT_NE(summary.find("2026-12-08 09:00  2 boxes, 0 ok"), std::string::npos) << summary;
  EXPECT_NE(RowCsv(failed).find(",\"Timeout!!, twice \"\"really\"\"\","), std::string::npos)
      << RowCsv(failed);
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
