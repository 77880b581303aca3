#include "production/Recorder.h"

#include "platform/Station.h"

Recorder::Recorder(std::string where, std::string local,
                   std::function<void(const std::string&)> say)
    : Where(std::move(where)), LocalPath(std::move(local)), Say(std::move(say)) {}

Recorder::~Recorder() {
  Finish();
}

void Recorder::Start() {
  Thread = std::thread([this] { Run(); });
}

void Recorder::Put(BoxRecord row) {
  {
    std::lock_guard lock(Mutex);
    Queue.push_back(std::move(row));
  }
  Changed.notify_one();
}

void Recorder::Finish() {
  {
    std::lock_guard lock(Mutex);
    Finishing = true;
  }
  Changed.notify_one();
  if (Thread.joinable()) Thread.join();
}

void Recorder::SayOnce(bool& said, const std::string& text) {
  if (said) return;
  said = true;
  Say(text);
}

void Recorder::Run() {
  std::string why;
  const bool toServer = NamesServer(Where);
  Local = SqliteRecord(toServer ? LocalPath : Where);
  LocalOk = Local->Open(why);
  if (!LocalOk)
    SayOnce(SaidLocalDown, "record: can't write " + Local->Name() + " (" + why +
                               "): boxes are not recorded there");
  if (LocalOk) Local->MarkInterrupted(Station, Alive, why);
  if (toServer) {
    Server = PostgresRecord(Where);
    if (!Reconnect(why)) {
      // Rows an earlier run kept are tried while this one runs, even before it has a box. A
      // server that answered and went away has had them counted by the forward.
      std::vector<BoxRecord> kept;
      std::string ignored;
      if (KeptSinceDown == 0 && LocalOk && Local->Unforwarded(kept, ignored))
        KeptSinceDown = static_cast<int>(kept.size());
      SayServerDown(why);
    }
  }
  for (;;) {
    std::unique_lock lock(Mutex);
    // While rows wait for the server, it is tried again now and then.
    const bool retry = Server != nullptr && !ServerOk && KeptSinceDown > 0;
    if (retry)
      Changed.wait_for(lock, RetryEvery, [&] { return !Queue.empty() || Finishing; });
    else
      Changed.wait(lock, [&] { return !Queue.empty() || Finishing; });
    if (Queue.empty() && !Finishing) {
      lock.unlock();
      Reconnect(why);
      continue;
    }
    if (Queue.empty()) break;
    BoxRecord row = std::move(Queue.front());
    Queue.pop_front();
    lock.unlock();
    Write(row);
  }
  if (Server != nullptr && !ServerOk && KeptSinceDown > 0) Reconnect(why);
}

bool Recorder::Alive(long long pid) {
  return pid == ProcessId() || ProcessAlive(pid);
}

bool Recorder::Reconnect(std::string& why) {
  LastTry = std::chrono::steady_clock::now();
  if (!Server->Open(why)) return false;
  ServerOk = true;
  // Rows this station's dead processes left running there, whenever the server comes back.
  Server->MarkInterrupted(Station, Alive, why);
  Forward();
  return ServerOk;
}

void Recorder::SayServerDown(const std::string& why) {
  SayOnce(SaidServerDown, "record: " + why + "; rows are kept in " + LocalPath +
                              " and sent when the server can be reached");
}

void Recorder::Write(const BoxRecord& row) {
  std::string why;
  if (Server != nullptr) {
    if (!ServerOk && std::chrono::steady_clock::now() - LastTry >= RetryEvery) Reconnect(why);
    if (ServerOk) {
      if (Server->Put(row, why)) return;
      if (Server->Reachable()) {
        // The server is there but will not take this row: it waits in the local file, and
        // the rows after it go on.
        SayOnce(SaidRefused,
                "record: the server refused a row (" + why + "); it is kept in " + LocalPath);
      } else {
        ServerOk = false;
        LastTry = std::chrono::steady_clock::now();
        SaidServerDown = false;
        SayServerDown(why);
      }
    }
    if (LocalOk && Local->Keep(row, why)) {
      ++KeptSinceDown;
      return;
    }
  } else if (LocalOk && Local->Put(row, why)) {
    return;
  }
  SayOnce(SaidLocalDown, "record: can't write " + (LocalOk ? Local->Name() : LocalPath) + " (" +
                             why + "): boxes are not recorded there");
}

void Recorder::Forward() {
  std::string why;
  std::vector<BoxRecord> kept;
  if (!LocalOk || !Local->Unforwarded(kept, why)) {
    KeptSinceDown = 0;
    return;
  }
  int sent = 0, refused = 0;
  for (const BoxRecord& row : kept) {
    if (!Server->Put(row, why)) {
      if (!Server->Reachable()) {
        ServerOk = false;
        KeptSinceDown = static_cast<int>(kept.size()) - sent;
        SayServerDown(why);
        return;
      }
      ++refused;
      SayOnce(SaidRefused,
              "record: the server refused a row (" + why + "); it is kept in " + LocalPath);
      continue;
    }
    // Should this fail, the row goes again: the server keeps its finished rows as they are.
    Local->MarkForwarded(row, why);
    ++sent;
  }
  if (sent > 0 || SaidServerDown)
    Say("record: " + Server->Name() + " can be reached; " + std::to_string(sent) +
        (sent == 1 ? " row" : " rows") + " kept meanwhile sent");
  KeptSinceDown = refused;
  SaidServerDown = false;
}

bool NamesServer(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0 ||
         where.find('=') != std::string::npos;
}
