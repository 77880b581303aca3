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
  const auto alive = [](long long pid) { return pid == ProcessId() || ProcessAlive(pid); };
  const std::string station = HostName();
  if (LocalOk) Local->MarkInterrupted(station, alive, why);
  if (toServer) {
    Server = PostgresRecord(Where);
    ServerOk = Server->Open(why);
    LastTry = std::chrono::steady_clock::now();
    if (ServerOk) {
      Server->MarkInterrupted(station, alive, why);
      Forward();
    } else {
      SayOnce(SaidServerDown, "record: " + why + "; rows are kept in " + LocalPath +
                                  " and sent when the server can be reached");
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
      Forward();
      continue;
    }
    if (Queue.empty()) break;
    BoxRecord row = std::move(Queue.front());
    Queue.pop_front();
    lock.unlock();
    Write(row);
  }
  if (Server != nullptr && !ServerOk && KeptSinceDown > 0) Forward();
}

void Recorder::Write(const BoxRecord& row) {
  std::string why;
  if (Server != nullptr) {
    if (!ServerOk && std::chrono::steady_clock::now() - LastTry >= RetryEvery) Forward();
    if (ServerOk) {
      if (Server->Put(row, why)) return;
      ServerOk = false;
      LastTry = std::chrono::steady_clock::now();
      SaidServerDown = false;
      SayOnce(SaidServerDown, "record: " + why + "; rows are kept in " + LocalPath +
                                  " and sent when the server can be reached");
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
  if (Server == nullptr || !LocalOk) return;
  std::string why;
  LastTry = std::chrono::steady_clock::now();
  if (!ServerOk) {
    ServerOk = Server->Open(why);
    if (!ServerOk) return;
  }
  std::vector<BoxRecord> kept;
  if (!Local->Unforwarded(kept, why)) return;
  int sent = 0;
  for (const BoxRecord& row : kept) {
    if (!Server->Put(row, why)) {
      ServerOk = false;
      return;
    }
    Local->MarkForwarded(row, why);
    ++sent;
  }
  if (sent > 0 || SaidServerDown)
    Say("record: " + Server->Name() + " can be reached; " + std::to_string(sent) +
        (sent == 1 ? " row" : " rows") + " kept meanwhile sent");
  KeptSinceDown = 0;
  SaidServerDown = false;
}

bool NamesServer(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0 ||
         where.find('=') != std::string::npos;
}
