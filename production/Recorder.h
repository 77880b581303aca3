#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Station.h"
#include "production/RecordStore.h"

// Writes the record of boxes on a thread of its own, so that a slow disk or server never holds
// the line up. With a server, rows it cannot take are kept in the local file and forwarded
// when it can (at the next start and while running), each once: the server keeps one row per
// box id. Problems are said once, not per box.
// The record's file when none is named: the user's data folder's record.sqlite ("" where there
// is none).
std::string DefaultRecordFile();

class Recorder {
 public:
  // Who writes the rows: the station's name, the id that tells it from clones of its PC, and
  // this process.
  struct Identity {
    std::string Name;
    std::string Id;
    long long Pid = 0;
    std::string ProcessStart;
  };

  // where: a file, or a server (NamesServer); local: the file that keeps rows for a server,
  // beside which the station's id is kept. station: the station's name (empty: the host name).
  // say: how the recorder tells the operator something, from its own thread.
  Recorder(std::string where, std::string local, std::string station,
           std::function<void(const std::string&)> say);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Opens the stores, marks the rows of this station's dead processes "interrupted" and
  // forwards what waits; then writes rows as they come.
  void Start();
  // Queued; written in order.
  void Put(BoxRecord row);
  // The same, with the SHA-256 of the file row.Image names read on the writer's thread: a
  // window that hands over an image's path never waits for its digest.
  void PutHashingImage(BoxRecord row);
  // Writes whatever is queued (and tries the server once more), then ends the thread.
  void Finish();
  // After Finish: the rows that still wait in the local file for the server.
  int RowsWaiting() const { return KeptSinceDown; }
  const std::string& LocalFile() const { return LocalPath; }
  const Identity& Self() const { return Me; }

  static constexpr std::chrono::seconds RetryEvery{5};

 private:
  void Run();
  // Opens the local file when it is not open yet (it may be busy, or its disk full, for a while);
  // marks what this station's dead processes left running in it when it opens.
  bool LocalReady(std::string& why);
  void Write(const BoxRecord& row);
  // Opens the server again; when it answers, marks what this station's dead processes left
  // running there and forwards what the local file kept. False when it does not answer.
  bool Reconnect(std::string& why);
  void Forward();
  void SayOnce(bool& said, const std::string& text);
  void SayServerDown(const std::string& why);
  static bool Alive(long long pid, const std::string& start);

  std::string Where;
  std::string LocalPath;
  std::function<void(const std::string&)> Say;
  std::unique_ptr<RecordStore> Server;  // null when the record is a file
  std::unique_ptr<LocalRecordStore> Local;
  bool LocalOk = false;
  bool ServerOk = false;
  bool SaidServerDown = false;
  bool SaidLocalDown = false;
  bool SaidRefused = false;
  Identity Me;
  int KeptSinceDown = 0;
  std::chrono::steady_clock::time_point LastTry{};

  std::mutex Mutex;
  std::condition_variable Changed;
  struct Queued {
    BoxRecord Row;
    bool HashImage = false;
  };
  void HashImage(BoxRecord& row);
  std::deque<Queued> Queue;
  // The digests of the images of the boxes at work, by box id and image.
  struct Digest {
    std::uint64_t Size = 0;
    std::string Sha256;
  };
  std::map<std::string, Digest> Digests;
  bool Finishing = false;
  std::thread Thread;
};
