#include "production/Recorder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/Files.h"
#include "platform/Station.h"
#include "production/Sha256.h"

namespace {

std::string RandomId() {
  std::random_device random;
  std::string id;
  char hex[9];
  for (int i = 0; i < 4; ++i) {
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
    id += hex;
  }
  return id;
}

std::string ReadId(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string id;
  std::getline(in, id);
  return id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos
             ? id
             : std::string();
}

// The station's id, made on its first run and kept in folder: PCs cloned from one image share
// their host name, often their machine id too, but not this. A folder that cannot keep it gives
// an id for this run alone.
std::string StationIdIn(const std::string& folder) {
  if (folder.empty()) return RandomId();
  const std::filesystem::path dir = SystemPath(folder);
  const std::filesystem::path file = dir / "station-id";
  if (std::string id = ReadId(file); !id.empty()) return id;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  // Written aside and linked into place, so that two first runs at once agree on one.
  const std::string id = RandomId();
  const std::filesystem::path aside = dir / ("station-id." + id);
  std::ofstream(aside) << id << "\n";
  std::filesystem::create_hard_link(aside, file, error);
  std::filesystem::remove(aside, error);
  const std::string kept = ReadId(file);
  return kept.empty() ? id : kept;
}

}  // namespace

std::string DefaultRecordFile() {
  const std::string folder = ProgramDataFolder();
  return folder.empty() ? folder : SystemName(SystemPath(folder) / "record.sqlite");
}

Recorder::Recorder(std::string where, std::string local, std::string station,
                   std::function<void(const std::string&)> say)
    : Where(std::move(where)), LocalPath(std::move(local)), Say(std::move(say)) {
  const std::string beside = !LocalPath.empty() ? LocalPath : NamesServer(Where) ? "" : Where;
  Me.Name = station.empty() ? HostName() : station;
  Me.Id =
      StationIdIn(beside.empty() ? std::string() : SystemName(SystemPath(beside).parent_path()));
  Me.Pid = ProcessId();
  Me.ProcessStart = ProcessStartOf(Me.Pid);
}

Recorder::~Recorder() {
  Finish();
}

void Recorder::Start() {
  Thread = std::thread([this] { Run(); });
}

void Recorder::Put(BoxRecord row) {
  // A name that is not UTF-8 would be refused by the server at every try, and spoil JSON.
  MakeValidUtf8(row);
  {
    std::lock_guard lock(Mutex);
    Queue.push_back({std::move(row), false});
  }
  Changed.notify_one();
}

void Recorder::PutHashingImage(BoxRecord row) {
  const bool hash = !row.Image.empty() && row.ImageSha256.empty();
  MakeValidUtf8(row);
  {
    std::lock_guard lock(Mutex);
    Queue.push_back({std::move(row), hash});
  }
  Changed.notify_one();
}

void Recorder::HashImage(BoxRecord& row) {
  // Read once a box and image, as the upload took it: a later row of the box names the same
  // digest even when the file has been rebuilt or moved away since.
  const std::string key = row.Id + '\n' + row.Image;
  auto known = Digests.find(key);
  if (known == Digests.end()) {
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(SystemPath(row.Image), error);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFile(row.Image, "rb"), std::fclose);
    const std::string digest = !error && file ? Sha256OfFile(file.get(), size) : std::string();
    if (digest.empty()) return;
    known = Digests.emplace(key, Digest{size, digest}).first;
  }
  row.ImageSize = known->second.Size;
  row.ImageSha256 = known->second.Sha256;
  // The box's last row: its digests are done with.
  if (!row.Ended.empty())
    for (auto it = Digests.begin(); it != Digests.end();)
      it = it->first.rfind(row.Id + '\n', 0) == 0 ? Digests.erase(it) : std::next(it);
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
  if (!LocalReady(why))
    SayOnce(SaidLocalDown, "record: can't write " + Local->Name() + " (" + why +
                               "): boxes are not recorded there until it can be");
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
    Queued next = std::move(Queue.front());
    Queue.pop_front();
    lock.unlock();
    if (next.HashImage) HashImage(next.Row);
    Write(next.Row);
  }
  if (Server != nullptr && !ServerOk && KeptSinceDown > 0) Reconnect(why);
  // What is left for a later run, counted as rows (a box is kept once however often written).
  std::vector<BoxRecord> kept;
  if (Server != nullptr && KeptSinceDown > 0 && LocalOk && Local->Unforwarded(kept, why))
    KeptSinceDown = static_cast<int>(kept.size());
}

bool Recorder::Alive(long long pid, const std::string& start) {
  // A row of the record's first schema knows its process by the id alone.
  return start.empty() ? ProcessAlive(pid) : ProcessStartOf(pid) == start;
}

bool Recorder::LocalReady(std::string& why) {
  if (LocalOk) return true;
  LocalOk = Local->Open(why);
  if (LocalOk) {
    Local->MarkInterrupted({Me.Id, HostName()}, Alive, why);
    if (SaidLocalDown) Say("record: " + Local->Name() + " can be written again");
    SaidLocalDown = false;
  }
  return LocalOk;
}

bool Recorder::Reconnect(std::string& why) {
  LastTry = std::chrono::steady_clock::now();
  if (!Server->Open(why)) return false;
  ServerOk = true;
  // What the local file kept goes first: a box that ended while the server was away has a real
  // end, which an "interrupted" mark must not stand in for.
  Forward();
  // Rows this station's dead processes left running there, whenever the server comes back.
  if (ServerOk) Server->MarkInterrupted({Me.Id, HostName()}, Alive, why);
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
    if (LocalReady(why) && Local->Keep(row, why)) {
      ++KeptSinceDown;
      return;
    }
  } else if (LocalReady(why) && Local->Put(row, why)) {
    return;
  }
  SayOnce(SaidLocalDown, "record: can't write " + Local->Name() + " (" + why +
                             "): boxes are not recorded there until it can be");
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
    // Kept by a kelvarin-cli that wrote names as they came: the local file knows it as it is.
    BoxRecord valid = row;
    MakeValidUtf8(valid);
    if (!Server->Put(valid, why)) {
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
