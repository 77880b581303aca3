#include "boxsim/BoxSim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

namespace boxsim {

namespace {

// Console text is answered once the tool has been quiet this long; a command that stays
// incomplete this long is taken as text.
constexpr int kTextGapMs = 50;
constexpr int kPartialCommandMs = 1000;
// Sync words already on their way when the box answered are swallowed, not answered again.
constexpr int kSyncEchoMs = 250;

constexpr std::uint8_t kSyncNumber = Cmd::Number(Cmd::Sync);

// Each message the box knows: its command number, its whole length and what it asks for.
struct KnownCommand {
  std::uint8_t number;
  long length;
  BoxCommand command;
};
constexpr KnownCommand kKnownCommands[] = {
    {Cmd::Number(Cmd::GetDlCfg), 4, BoxCommand::GetConfig},
    {Cmd::Number(Cmd::SetDlCfg), 105, BoxCommand::SetConfig},  // word, record, trailing zero
    {Cmd::Number(Cmd::EraseFlash), 16, BoxCommand::Erase},
    {Cmd::Number(Cmd::VerifyBoot), 4, BoxCommand::VerifyBoot},
    {Cmd::Number(Cmd::VerifyApp), 4, BoxCommand::VerifyApp},
    {Cmd::Number(Cmd::TuneTest), 13, BoxCommand::Tune},
    {Cmd::Number(Cmd::RebootStb), 4, BoxCommand::Reboot},
    {Cmd::Number(Cmd::SetDefaultDlCfg), 4, BoxCommand::DefaultConfig},
    {Cmd::Number(Cmd::LoaderVersion), 4, BoxCommand::LoaderVersion},
    {Cmd::Number(Cmd::RunApp), 4, BoxCommand::RunApp},
    {Cmd::Number(Cmd::Upload), 12, BoxCommand::Upload},
    {Cmd::Number(Cmd::ReadFlash), 16, BoxCommand::ReadFlash},
    {kSyncNumber, 5, BoxCommand::Sync},
};

std::optional<KnownCommand> FindCommand(std::uint8_t n) {
  for (const KnownCommand& known : kKnownCommands)
    if (known.number == n) return known;
  // A command of one word that the loader's table has: its status words answer it.
  for (const LoaderCommand& row : LoaderCommands())
    if (row.OneWord && Cmd::Number(row.Word) == n) return KnownCommand{n, 4, BoxCommand::OtherWord};
  return std::nullopt;
}

// -1: not a command word, 0: too few bytes to tell, otherwise the message's length.
long CommandLength(const std::uint8_t* p, std::size_t avail) {
  if (avail < 2) return 0;
  const std::optional<KnownCommand> known = FindCommand(p[1]);
  if (!known) return -1;
  if (avail < 3) return 0;
  if (p[2] != 0x32) return -1;
  if (avail < 4) return 0;
  if (p[3] != static_cast<std::uint8_t>(3 * p[1] - 2)) return -1;
  return known->length;
}

bool CrcHolds(const std::uint8_t* data, std::uint32_t n) {
  return CalcCrc(data, n) == GetLe32(data + n);
}

std::string Printable(const std::string& text) {
  std::string out;
  char hex[8];
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

const char* FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::BadCrc:
      return "bad crc";
    case FaultKind::DropByte:
      return "dropped byte";
    case FaultKind::FlipBit:
      return "flipped bit";
    case FaultKind::Duplicate:
      return "duplicate";
    case FaultKind::GarbageBefore:
      return "garbage";
    case FaultKind::PauseInside:
      return "pause";
    case FaultKind::Silence:
      return "silence";
  }
  return "fault";
}

std::string Format(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

bool AnswersCommand(std::uint32_t word) {
  return FindCommand(Cmd::Number(word)).has_value();
}

const char* OutcomeName(UploadOutcome outcome) {
  switch (outcome) {
    case UploadOutcome::None:
      return "none";
    case UploadOutcome::InProgress:
      return "in progress";
    case UploadOutcome::Accepted:
      return "accepted";
    case UploadOutcome::Refused:
      return "refused";
    case UploadOutcome::Stopped:
      return "stopped";
    case UploadOutcome::Abandoned:
      return "abandoned";
  }
  return "?";
}

void BoxSim::Pacer::Reset(int baud, int bitsPerChar) {
  rate = (baud > 0) ? static_cast<double>(baud) / std::max(1, bitsPerChar) : 0;
  credit = 0;
  last = Clock::now();
}

std::size_t BoxSim::Pacer::Allow(std::size_t wanted) {
  if (rate <= 0) return wanted;
  const Clock::time_point now = Clock::now();
  credit += std::chrono::duration<double>(now - last).count() * rate;
  last = now;
  // A 20 ms allowance: enough to keep up with poll wake-ups, too little to drain a full pty.
  // On a slow line that is less than a byte; two bytes keep a late wake-up from being lost
  // for good, so that the box keeps the line's pace through a long stream as a UART does.
  credit = std::min(credit, std::max(2.0, rate * 0.02));
  // Bytes move in pieces of a couple of milliseconds of line time, as a UART's buffer would
  // hand them on; a byte or two per call would cost more than the line itself.
  if (credit < std::min(Chunk(), static_cast<double>(wanted))) return 0;
  return std::min(wanted, static_cast<std::size_t>(credit));
}

double BoxSim::Pacer::Chunk() const {
  return std::max(1.0, rate * 0.002);
}

int BoxSim::Pacer::MsUntilByte() const {
  if (rate <= 0) return 0;
  const double have = credit + std::chrono::duration<double>(Clock::now() - last).count() * rate;
  if (have >= Chunk()) return 0;
  return std::max(1, static_cast<int>(std::ceil((Chunk() - have) / rate * 1000)));
}

BoxSim::BoxSim(BoxOptions options)
    : Options(std::move(options)),
      CfgRecord(SatelliteRecord()),
      FlashImage(PatternFlash(1u << 20)),
      ThrottleBaud(Options.baud),
      ThrottleBits(10) {  // a start bit, 8 data bits, a stop bit
  if (Options.blockSize == 0) Options.blockSize = kBlockSize;
  CalcCrc(nullptr, 0);  // builds the table before two threads could race to do it
}

BoxSim::~BoxSim() {
  Stop();
  UnlockLink();
  if (WakeFd >= 0) close(WakeFd);
}

bool BoxSim::Start() {
  if (Loader.joinable()) return true;
  Problem.clear();
  if (!LockLink()) return false;
  if (!OpenPty()) {
    if (Problem.empty())
      Problem = std::string("can't create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  if (!MakeLink()) {
    ClosePty();
    return false;
  }
  {
    std::lock_guard lock(Mutex);
    Stopping = false;
  }
  LoaderStarts();
  Loader = std::thread([this] { Run(); });
  return true;
}

void BoxSim::Stop() {
  if (Loader.joinable()) {
    {
      std::lock_guard lock(Mutex);
      Stopping = true;
    }
    Wake();
    Loader.join();
  }
  RemoveLink();
  ClosePty();
}

void BoxSim::PullPlug() {
  Stop();
  Event("plug pulled");
}

void BoxSim::TakeBoxAway() {
  {
    std::lock_guard lock(Mutex);
    BoxAway = true;
  }
  Event("box taken away");
}

void BoxSim::BringNewBox() {
  {
    std::lock_guard lock(Mutex);
    BoxAway = false;
    NewBox = true;
  }
  Wake();
  Event("new box");
}

bool BoxSim::PlugIn() {
  if (!Start()) return false;
  Event("plugged in: " + DevicePath());
  return true;
}

std::string BoxSim::DevicePath() const {
  std::lock_guard lock(Mutex);
  return Device;
}

bool OpenRawPty(int& master, int& slave, std::string& name) {
  char path[PATH_MAX] = {};
  if (openpty(&master, &slave, path, nullptr, nullptr) != 0) return false;
  for (int fd : {master, slave}) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd, TCSANOW, &tio);
    }
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  name = path;
  return true;
}

bool BoxSim::OpenPty() {
  if (WakeFd < 0) WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (WakeFd < 0) return false;
  if (!Options.devicePath.empty()) return OpenDevice();
  int master = -1;
  int slave = -1;
  std::string name;
  if (!OpenRawPty(master, slave, name)) return false;
  MasterFd = master;
  SlaveFd = slave;
  std::lock_guard lock(Mutex);
  Device = name;
  return true;
}

// Another program made this line and holds its other end: there is no slave to keep, and
// the line is made raw so that nothing echoes or translates on the way.
bool BoxSim::OpenDevice() {
  const int fd = open(Options.devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Problem = "can't open " + Options.devicePath + ": " + std::strerror(errno);
    return false;
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    Problem = "can't open " + Options.devicePath + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &tio);
  MasterFd = fd;
  SlaveFd = -1;
  std::lock_guard lock(Mutex);
  Device = Options.devicePath;
  return true;
}

void BoxSim::ClosePty() {
  if (MasterFd >= 0) close(MasterFd);
  if (SlaveFd >= 0) close(SlaveFd);
  MasterFd = SlaveFd = -1;
}

// One box to a link: a second box would point the link at its own pseudo-terminal, and a tool
// talking to the first would find itself on another box at its next connect. The holder binds
// a socket of the abstract namespace named after the link: no file to leave behind, and it is
// gone with the process however that ends. Whoever is refused asks it for its process.
bool BoxSim::LockLink() {
  const std::string& link = Options.linkPath;
  if (link.empty() || LinkLockFd >= 0) return true;
  // The same link by any spelling: the folder as the system resolves it, then the name.
  const std::size_t slash = link.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : link.substr(0, slash);
  char resolved[PATH_MAX];
  std::string canonical = realpath(folder.c_str(), resolved) ? resolved : folder;
  canonical += "/" + link.substr(slash == std::string::npos ? 0 : slash + 1);
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: any path fits in a socket's name
  for (unsigned char c : canonical) hash = (hash ^ c) * 1099511628211ull;
  char name[64];
  const int length = std::snprintf(name, sizeof name, "kelvarin-boxsim-link-%016llx",
                                   static_cast<unsigned long long>(hash));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name, static_cast<std::size_t>(length));  // abstract: \0 first
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  const auto* any = reinterpret_cast<const sockaddr*>(&address);

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && bind(fd, any, size) == 0 && listen(fd, 4) == 0) {
    LinkLockFd = fd;
    return true;
  }
  const int error = errno;
  if (fd >= 0) close(fd);
  if (error != EADDRINUSE) {
    Problem = "can't hold the link " + link + ": " + std::strerror(error);
    return false;
  }
  std::string holder;
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ucred peer{};
  socklen_t peerSize = sizeof peer;
  if (probe >= 0 && connect(probe, any, size) == 0 &&
      getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0 && peer.pid > 0)
    holder = " (process " + std::to_string(peer.pid) + ")";
  if (probe >= 0) close(probe);
  Problem = "the link " + link + " is held by another simulated box" + holder;
  return false;
}

void BoxSim::UnlockLink() {
  if (LinkLockFd < 0) return;
  close(LinkLockFd);
  LinkLockFd = -1;
}

bool BoxSim::MakeLink() {
  const std::string& link = Options.linkPath;
  if (link.empty()) return true;
  struct stat st {};
  // Never clobber a real file that happens to sit at the link's path.
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    Problem = "can't make the link " + link + ": a file that is not a link is in the way";
    return false;
  }
  const std::string temp = link + ".new" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(DevicePath().c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
    Problem = "can't make the link " + link + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// A device that goes takes its link with it, as udev does with /dev/serial/by-id. A link left
// behind would point at the next pseudo-terminal to get the freed number: another program's.
void BoxSim::RemoveLink() {
  const std::string& link = Options.linkPath;
  if (link.empty()) return;
  char target[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return;
  target[n] = '\0';
  if (DevicePath() == target) unlink(link.c_str());
}

void BoxSim::DrainWake() {
  std::uint64_t count;
  [[maybe_unused]] const ssize_t n = read(WakeFd, &count, sizeof count);
}

void BoxSim::Wake() {
  if (WakeFd < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(WakeFd, &one, sizeof one);
}

void BoxSim::Post(Request request) {
  {
    std::lock_guard lock(Mutex);
    Requests.push_back(std::move(request));
    ++RequestsPosted;
  }
  Wake();
}

void BoxSim::SetAnswer(BoxCommand command, Answer answer) {
  std::lock_guard lock(Mutex);
  Answers[static_cast<int>(command)] = answer;
}

Answer BoxSim::AnswerFor(BoxCommand command) const {
  std::lock_guard lock(Mutex);
  return Answers[static_cast<int>(command)];
}

void BoxSim::SetLoaderVersion(std::uint8_t major, std::uint8_t minor) {
  std::lock_guard lock(Mutex);
  VersionMajor = major;
  VersionMinor = minor;
}

void BoxSim::SetConfigRecord(const Record& record) {
  std::lock_guard lock(Mutex);
  CfgRecord = record;
}

Record BoxSim::ConfigRecord() const {
  std::lock_guard lock(Mutex);
  return CfgRecord;
}

Bytes BoxSim::Flash() const {
  std::lock_guard lock(Mutex);
  return FlashImage;
}

void BoxSim::SetThrottle(int baud, int bitsPerChar) {
  {
    std::lock_guard lock(Mutex);
    ThrottleBaud = baud;
    ThrottleBits = bitsPerChar;
    ThrottleChanged = true;
  }
  Wake();
}

void BoxSim::SetBlockOrder(BlockOrder order) {
  std::lock_guard lock(Mutex);
  Order = order;
}

void BoxSim::SetBlockRequests(std::vector<int> blocks) {
  std::lock_guard lock(Mutex);
  CustomRequests = std::move(blocks);
}

void BoxSim::SetBlockWait(int ms, int retries) {
  std::lock_guard lock(Mutex);
  BlockWaitMs = std::max(1, ms);
  BlockRetries = std::max(0, retries);
}

void BoxSim::ExpireBlockWait() {
  {
    std::lock_guard lock(Mutex);
    BlockWaitExpired = true;
  }
  Wake();
}

void BoxSim::SetExpectedImage(Bytes image) {
  std::lock_guard lock(Mutex);
  ExpectedImage = std::move(image);
}

Bytes BoxSim::UploadedImage() const {
  std::lock_guard lock(Mutex);
  return Image;
}

void BoxSim::SetUploadAddress(std::uint32_t address) {
  std::lock_guard lock(Mutex);
  UploadAddress = address;
}

void BoxSim::SetAppSeconds(int seconds) {
  std::lock_guard lock(Mutex);
  AppSeconds = seconds;
}

void BoxSim::PowerCycle() {
  {
    std::lock_guard lock(Mutex);
    PowerCycled = true;
  }
  Wake();
}

UploadOutcome BoxSim::LastUploadOutcome() const {
  std::lock_guard lock(Mutex);
  return Outcome;
}

std::uint32_t BoxSim::LastUploadSize() const {
  std::lock_guard lock(Mutex);
  return ImageSize;
}

void BoxSim::SetStopSyncFlood(int everyMs) {
  {
    std::lock_guard lock(Mutex);
    FloodEveryMs = std::max(0, everyMs);
  }
  Wake();
}

void BoxSim::SetOkAfterBlocks(int blocks) {
  std::lock_guard lock(Mutex);
  OkAfterBlocks = blocks;
}

void BoxSim::SetRequestNoise(Bytes noise, int pauseMs) {
  std::lock_guard lock(Mutex);
  RequestNoise = std::move(noise);
  RequestNoisePauseMs = std::max(0, pauseMs);
}

void BoxSim::SetGreeting(std::string line) {
  std::lock_guard lock(Mutex);
  Greeting = std::move(line);
}

void BoxSim::SetDoubledWords(std::vector<std::uint32_t> words) {
  std::lock_guard lock(Mutex);
  DoubledWords = std::move(words);
}

void BoxSim::InjectFault(const Fault& fault) {
  std::lock_guard lock(Mutex);
  Faults.push_back({fault, FramesSent, FlashReplies});
}

void BoxSim::ClearFaults() {
  std::lock_guard lock(Mutex);
  Faults.clear();
  Silent = false;
}

void BoxSim::PrintLines(std::vector<std::string> lines) {
  Request r;
  r.kind = RequestKind::Lines;
  r.lines = std::move(lines);
  Post(std::move(r));
}

void BoxSim::Flood(std::size_t bytes) {
  Request r;
  r.kind = RequestKind::Flood;
  r.count = bytes;
  Post(std::move(r));
}

Bytes BoxSim::Received() const {
  std::lock_guard lock(Mutex);
  return ReceivedLog;
}

std::vector<Message> BoxSim::Messages() const {
  std::lock_guard lock(Mutex);
  return MessageLog;
}

std::vector<std::string> BoxSim::Events() const {
  std::lock_guard lock(Mutex);
  return EventLog;
}

int BoxSim::SyncWordsSeen() const {
  std::lock_guard lock(Mutex);
  return SyncSeen;
}

void BoxSim::ClearLogs() {
  std::lock_guard lock(Mutex);
  ReceivedLog.clear();
  MessageLog.clear();
  EventLog.clear();
  SyncSeen = 0;
}

bool BoxSim::WaitForEvent(const std::string& text, int timeoutMs) const {
  std::unique_lock lock(Mutex);
  std::size_t checked = 0;
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (; checked < EventLog.size(); ++checked)
      if (EventLog[checked].find(text) != std::string::npos) return true;
    return false;
  });
}

bool BoxSim::WaitOutputDone(int timeoutMs) const {
  std::unique_lock lock(Mutex);
  const std::uint64_t target = RequestsPosted;
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return RequestsDone >= target; });
}

void BoxSim::SetEventSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(Mutex);
  Sink = std::move(sink);
}

void BoxSim::Event(const std::string& line) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard lock(Mutex);
    EventLog.push_back(line);
    sink = Sink;
  }
  Changed.notify_all();
  if (sink) sink(line);
}

void BoxSim::LogMessage(Message message) {
  std::lock_guard lock(Mutex);
  if (MessageLog.size() >= 2 * kMessageLogLimit)
    MessageLog.erase(MessageLog.begin(),
                     MessageLog.begin() + static_cast<std::ptrdiff_t>(kMessageLogLimit));
  MessageLog.push_back(std::move(message));
}

std::uint32_t BoxSim::BlockLength(int block) const {
  const std::uint64_t start = std::uint64_t(block) * Options.blockSize;
  if (block < 0 || start >= ImageSize) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(Options.blockSize, ImageSize - start));
}

void BoxSim::RefreshPacers() {
  int baud;
  int bits;
  {
    std::lock_guard lock(Mutex);
    if (!ThrottleChanged) return;
    ThrottleChanged = false;
    baud = ThrottleBaud;
    bits = ThrottleBits;
  }
  ReadPacer.Reset(baud, bits);
  WritePacer.Reset(baud, bits);
}

void BoxSim::Run() {
  {
    std::lock_guard lock(Mutex);
    ThrottleChanged = true;
  }
  for (;;) {
    if (StopRequested()) break;
    RefreshPacers();
    ServeRequests();
    HandleTimeouts();
    if (!Backlog.empty()) {
      In.insert(In.end(), Backlog.begin(), Backlog.end());
      Backlog.clear();
      Parse();
      continue;
    }
    // One look at the pacer decides both whether to read and how long to wait: looked at
    // twice, the second look could find the pace over and leave the wait to the next deadline,
    // with the line unread meanwhile.
    const int pace = ReadPacer.MsUntilByte();
    pollfd fds[2] = {{WakeFd, POLLIN, 0},
                     {MasterFd, static_cast<short>(pace == 0 ? POLLIN : 0), 0}};
    // A write or pause above may have taken the wake-up of a stop: looked at last thing, a stop
    // is either seen here or wakes the poll below.
    if (StopRequested()) break;
    const int ready = poll(fds, 2, NextTimeoutMs(pace));
    if (ready < 0) {
      if (errno != EINTR) PauseMs(10);
      continue;
    }
    if (fds[0].revents & POLLIN) DrainWake();
    bool away = false;
    {
      std::lock_guard lock(Mutex);
      away = BoxAway;
      if (NewBox) {
        NewBox = false;
        LoaderStarts();
      }
    }
    if (fds[1].revents & POLLIN) {
      if (ReadInput(In)) {
        if (away)
          In.clear();
        else
          Parse();
      }
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      PauseMs(20);  // the box holds the slave, so this is a passing state, not one to spin on
    }
  }
}

bool BoxSim::ReadInput(Bytes& into) {
  std::uint8_t buffer[4096];
  const std::size_t allowed = ReadPacer.Allow(sizeof buffer);
  if (allowed == 0) return false;
  const ssize_t n = read(MasterFd, buffer, allowed);
  if (n <= 0) return false;
  ReadPacer.credit -= static_cast<double>(n);
  into.insert(into.end(), buffer, buffer + n);
  LastInput = Clock::now();
  if (State == Phase::Uploading)
    BlockDeadline = LastInput + std::chrono::milliseconds(BlockWaitNow);
  std::lock_guard lock(Mutex);
  ReceivedLog.insert(ReceivedLog.end(), buffer, buffer + n);
  if (ReceivedLog.size() > 2 * kReceiveLogLimit)
    ReceivedLog.erase(ReceivedLog.begin(),
                      ReceivedLog.end() - static_cast<std::ptrdiff_t>(kReceiveLogLimit));
  return true;
}

int BoxSim::NextTimeoutMs(int pace) const {
  const Clock::time_point now = Clock::now();
  long best = -1;
  auto consider = [&](Clock::time_point when) {
    const long ms =
        std::max<long>(0, std::chrono::ceil<std::chrono::milliseconds>(when - now).count());
    if (best < 0 || ms < best) best = ms;
  };
  if (State == Phase::Uploading) consider(BlockDeadline);
  if (NextFlood != Clock::time_point{}) consider(NextFlood);
  if (State == Phase::AppRunning && AppUntil != Clock::time_point{}) consider(AppUntil);
  if (!TextPending.empty()) consider(LastInput + std::chrono::milliseconds(kTextGapMs));
  if (!In.empty() && State != Phase::Uploading)
    consider(LastInput + std::chrono::milliseconds(kPartialCommandMs));
  if (pace > 0 && (best < 0 || pace < best)) best = pace;
  return static_cast<int>(std::min<long>(best, INT_MAX));
}

void BoxSim::HandleTimeouts() {
  const Clock::time_point now = Clock::now();
  bool expired;
  int floodMs;
  bool away;
  bool powerCycled;
  {
    std::lock_guard lock(Mutex);
    expired = BlockWaitExpired;
    BlockWaitExpired = false;
    floodMs = FloodEveryMs;
    away = BoxAway;
    powerCycled = PowerCycled;
    PowerCycled = false;
  }
  if (powerCycled) BackToLoader("power cycle");
  if (State == Phase::AppRunning && AppUntil != Clock::time_point{} && now >= AppUntil)
    BackToLoader("the application ended");
  if (floodMs == 0) {
    NextFlood = {};
  } else if (NextFlood == Clock::time_point{}) {
    NextFlood = now + std::chrono::milliseconds(floodMs);
  } else if (now >= NextFlood) {
    NextFlood = now + std::chrono::milliseconds(floodMs);
    // Written as it is, not as a frame: the faults aimed at frames keep their count.
    const Bytes word = StatusFrame(Reply::LoaderReady);
    if (!away) WriteAll(word.data(), word.size());
  }
  if (State == Phase::Uploading) {
    if (now < BlockDeadline && !expired) return;
    const std::size_t had = In.size();
    In.clear();
    if (ExpectLen == 0) {
      if (had) Event(Format("block %d: %zu unexpected bytes dropped", CurrentBlock, had));
      RequestNextBlock();
    } else if (RetriesLeft > 0) {
      --RetriesLeft;
      Event(Format("block %d: timed out after %zu of %zu bytes, asking again", CurrentBlock, had,
                   ExpectLen));
      SendBlockRequest();
    } else {
      FinishUpload(UploadOutcome::Abandoned, Format("block %d never came", CurrentBlock));
    }
    return;
  }
  if (!TextPending.empty() && now - LastInput >= std::chrono::milliseconds(kTextGapMs)) FlushText();
  if (!In.empty() && now - LastInput >= std::chrono::milliseconds(kPartialCommandMs)) {
    Event("incomplete command taken as text: " + HexBytes(In.data(), In.size()));
    TextPending.append(In.begin(), In.end());
    In.clear();
    FlushText();
  }
}

void BoxSim::Parse() {
  std::size_t pos = 0;
  while (pos < In.size()) {
    if (State == Phase::Uploading) {
      if (ExpectLen == 0 || In.size() - pos < ExpectLen) break;
      const std::size_t len = ExpectLen;
      HandleBlock(&In[pos], len);
      pos += len;
      continue;
    }
    const std::uint8_t* p = &In[pos];
    const std::size_t avail = In.size() - pos;
    if (p[0] == 0xAA) {
      const long len = CommandLength(p, avail);
      if (len == 0) break;
      if (len > 0) {
        if (avail < static_cast<std::size_t>(len)) break;
        HandleCommand(p, static_cast<std::size_t>(len));
        pos += static_cast<std::size_t>(len);
        continue;
      }
    }
    // Console text runs up to the next possible command word or the end of a line.
    std::size_t end = pos;
    while (end < In.size() && (end == pos || In[end] != 0xAA)) {
      if (In[end++] == 0x0D) break;
    }
    TextPending.append(In.begin() + static_cast<std::ptrdiff_t>(pos),
                       In.begin() + static_cast<std::ptrdiff_t>(end));
    pos = end;
    if (TextPending.back() == '\r' || TextPending.size() >= 1024) FlushText();
  }
  In.erase(In.begin(), In.begin() + static_cast<std::ptrdiff_t>(pos));
}

void BoxSim::FlushText() {
  std::string text;
  text.swap(TextPending);
  if (text.empty()) return;
  if (State != Phase::Ready) {
    Event("text ignored: \"" + Printable(text) + "\"");
    return;
  }
  LogMessage({MessageKind::Text, 0, -1, Bytes(text.begin(), text.end())});
  Event("text \"" + Printable(text) + "\" -> Unknown command");
  SendText("Unknown command");
}

void BoxSim::HandleCommand(const std::uint8_t* msg, std::size_t len) {
  const std::uint32_t word = GetBe32(msg);
  LogMessage({MessageKind::Command, word, -1, Bytes(msg, msg + len)});
  const std::uint8_t n = msg[1];
  if (n == kSyncNumber) {
    HandleSync();
    return;
  }
  if (State == Phase::AwaitSync ||
      (State == Phase::AppRunning && n != Cmd::Number(Cmd::RebootStb))) {
    Event("ignored " + HexBytes(msg, 4) +
          (State == Phase::AwaitSync ? " before sync" : " while the application runs"));
    return;
  }
  // Only messages that CommandLength knew come here.
  const BoxCommand command = FindCommand(n)->command;
  const Answer answer = AnswerFor(command);
  // The status words of a command that has them, as the tool's table of loader commands says.
  const LoaderCommand* words = nullptr;
  for (const LoaderCommand& row : LoaderCommands())
    if (Cmd::Number(row.Word) == n) words = &row;
  // ok: whether the box did what it was asked, as it then answers unless told never to.
  auto replyAs = [&](const std::string& what, bool ok) {
    if (answer == Answer::Never) {
      Event(what + " -> no answer");
      return;
    }
    Event(what + (ok ? " -> ok" : " -> fail"));
    SendFrame(StatusFrame(ok ? words->OkReply : words->FailReply));
  };
  auto reply = [&](const char* what) { replyAs(what, answer == Answer::Good); };

  switch (command) {
    case BoxCommand::VerifyBoot:
      reply("verify boot");
      return;
    case BoxCommand::VerifyApp:
      reply("verify app");
      return;
    case BoxCommand::LoaderVersion: {
      std::uint8_t version[2];
      {
        std::lock_guard lock(Mutex);
        version[0] = VersionMajor;
        version[1] = VersionMinor;
      }
      if (answer == Answer::Never) {
        Event("loader version -> no answer");
        return;
      }
      const Bytes frame = PayloadFrame(Reply::LoaderVersion, version, 2);
      Event(Format("loader version -> %d.%d%s", version[0], version[1],
                   answer == Answer::Bad ? " (bad crc)" : ""));
      SendFrame(answer == Answer::Good ? frame : Spoiled(frame));
      return;
    }
    case BoxCommand::RunApp:
      if (answer == Answer::Good) {
        int seconds;
        {
          std::lock_guard lock(Mutex);
          seconds = AppSeconds;
        }
        // As on a real box: the application has the line now, and the loader is gone until a
        // reboot, a power cycle or (with a time set) the application's end.
        Event("run app -> started: the loader answers nothing but reboot until " +
              (seconds > 0 ? Format("the application ends in %d s", seconds)
                           : std::string("a power cycle (SIGUSR1)")));
        SendText("Starting application...");
        State = Phase::AppRunning;
        AppUntil = seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point{};
      } else {
        reply("run app");
      }
      return;
    case BoxCommand::Reboot:
      Event("reboot -> waiting for sync");
      if (answer != Answer::Never) {
        SendText("");
        SendText("Rebooting...");
        SendText("Boot loader ready, waiting for sync");
      }
      State = Phase::AwaitSync;
      SyncAnswered = false;
      return;
    case BoxCommand::GetConfig: {
      if (answer == Answer::Never) {
        Event("get config -> no answer");
        return;
      }
      const Record record = ConfigRecord();
      // The record's own last four bytes are the frame's CRC: it goes out exactly as held.
      const Bytes frame = HexFrame(Reply::DlCfgRecord, record.data(), record.size());
      Event(Format("get config -> record, delivery type %d%s", record[88],
                   answer == Answer::Bad ? " (bad crc)" : ""));
      SendFrame(answer == Answer::Good ? frame : Spoiled(frame));
      return;
    }
    case BoxCommand::SetConfig: {
      Record record;
      std::copy(msg + 4, msg + 104, record.begin());
      const bool sealed = RecordSealed(record);
      const bool terminated = msg[104] == 0;
      if (answer == Answer::Good && sealed && terminated) {
        SetConfigRecord(record);
        reply("set config");
        return;
      }
      if (answer != Answer::Never) {
        Event(std::string("set config -> refused") + (!sealed ? " (crc fail)" : "") +
              (!terminated ? " (no trailing zero)" : ""));
        SendFrame(StatusFrame(Reply::SetDlCfgFail));
      } else {
        Event("set config -> no answer");
      }
      return;
    }
    case BoxCommand::DefaultConfig:
      if (answer == Answer::Good) SetConfigRecord(DefaultRecord());
      reply("default config");
      return;
    case BoxCommand::Tune: {
      const bool ok = CrcHolds(msg + 4, 5);
      const std::string what = Format("tune %u kHz bandwidth %u%s", GetLe32(msg + 4),
                                      unsigned{msg[8]}, ok ? "" : " (crc fail)");
      replyAs(what, ok && answer == Answer::Good);
      return;
    }
    case BoxCommand::Erase: {
      const std::uint32_t start = GetLe32(msg + 4);
      const std::uint32_t size = GetLe32(msg + 8);
      const bool crcOk = CrcHolds(msg + 4, 8);
      bool ok = false;
      if (crcOk && answer == Answer::Good) {
        std::lock_guard lock(Mutex);
        if (std::uint64_t{start} + size <= FlashImage.size()) {
          std::fill_n(FlashImage.begin() + start, size, 0xFF);
          ok = true;
        }
      }
      const std::string what = Format("erase 0x%X+0x%X%s", start, size, crcOk ? "" : " (crc fail)");
      replyAs(what, ok);
      return;
    }
    case BoxCommand::ReadFlash: {
      const std::uint32_t address = GetLe32(msg + 4);
      const std::uint32_t length = GetLe32(msg + 8);
      const bool crcOk = CrcHolds(msg + 4, 8);
      const std::string what =
          Format("read 0x%X+%u%s", address, length, crcOk ? "" : " (crc fail)");
      if (answer == Answer::Never) {
        Event(what + " -> no answer");
        return;
      }
      Bytes data;
      if (crcOk && answer == Answer::Good && length >= 1 && length <= 4096) {
        std::lock_guard lock(Mutex);
        if (std::uint64_t{address} + length <= FlashImage.size())
          data.assign(FlashImage.begin() + address, FlashImage.begin() + address + length);
      }
      if (data.empty()) {
        Event(what + " -> fail");
        SendFrame(StatusFrame(Reply::ReadFlashFail));
        return;
      }
      Event(what + " -> data");
      FrameInfo info;
      info.flashReply = true;
      SendFrame(PayloadFrame(Reply::FlashData, data), info);
      return;
    }
    case BoxCommand::Upload:
      HandleUploadCommand(msg);
      return;
    case BoxCommand::OtherWord:
      reply(words->CliName);
      return;
    case BoxCommand::Sync:
      return;
  }
}

void BoxSim::HandleSync() {
  {
    std::lock_guard lock(Mutex);
    ++SyncSeen;
  }
  if (AnswerFor(BoxCommand::Sync) == Answer::Never || State == Phase::AppRunning) return;
  const Clock::time_point now = Clock::now();
  if (SyncAnswered && now - SyncAnsweredAt < std::chrono::milliseconds(kSyncEchoMs)) return;
  SyncAnswered = true;
  SyncAnsweredAt = now;
  State = Phase::Ready;
  Event("sync -> stop-sync");
  SendFrame(StatusFrame(Reply::LoaderReady));
  std::string greeting;
  {
    std::lock_guard lock(Mutex);
    greeting = Greeting;
  }
  if (!greeting.empty()) SendText(greeting);
}

void BoxSim::HandleUploadCommand(const std::uint8_t* msg) {
  const std::uint32_t size = GetLe32(msg + 4);
  const bool crcOk = CrcHolds(msg + 4, 4);
  std::vector<int> plan;
  BlockOrder order;
  {
    std::lock_guard lock(Mutex);
    ImageSize = size;
    Image.clear();
    Outcome = UploadOutcome::InProgress;
    plan = CustomRequests;
    order = Order;
    BlockWaitNow = BlockWaitMs;
  }
  State = Phase::Uploading;
  if (!crcOk) {
    FinishUpload(UploadOutcome::Refused, "size crc fail");
    return;
  }
  if (size > kMaxImageSize) {
    FinishUpload(UploadOutcome::Refused, "too large");
    return;
  }
  {
    std::lock_guard lock(Mutex);
    Image.assign(size, 0);
  }
  const int count =
      static_cast<int>((std::uint64_t{size} + Options.blockSize - 1) / Options.blockSize);
  BlocksGot.assign(static_cast<std::size_t>(count), false);
  StopsHalfway = false;
  if (plan.empty()) {
    switch (order) {
      case BlockOrder::InSequence:
        for (int k = 0; k < count; ++k) plan.push_back(k);
        break;
      case BlockOrder::WithRepeats:
        for (int k = 0; k < count; ++k) plan.insert(plan.end(), {k, k});
        break;
      case BlockOrder::Backwards:
        for (int k = count - 1; k >= 0; --k) plan.push_back(k);
        break;
      case BlockOrder::StopHalfway:
        for (int k = 0; k < (count + 1) / 2; ++k) plan.push_back(k);
        StopsHalfway = true;
        break;
    }
    // Even an empty image gets its block 0 asked for: the loader does not special-case it.
    if (plan.empty()) plan.push_back(0);
  }
  BlockPlan = std::move(plan);
  PlanIndex = 0;
  BlocksTaken = 0;
  Event(Format("upload %u bytes: %d blocks", size, count));
  if (OkEarly()) return;
  RequestNextBlock();
}

void BoxSim::RequestNextBlock() {
  if (PlanIndex < BlockPlan.size()) {
    CurrentBlock = BlockPlan[PlanIndex++];
    std::lock_guard lock(Mutex);
    RetriesLeft = BlockRetries;
  } else {
    if (StopsHalfway) {
      FinishUpload(UploadOutcome::Stopped, "stopped asking halfway");
      return;
    }
    if (ImageSize == 0) {
      FinishUpload(UploadOutcome::Refused, "empty image");
      return;
    }
    if (std::find(BlocksGot.begin(), BlocksGot.end(), false) != BlocksGot.end()) {
      FinishUpload(UploadOutcome::Refused, "blocks missing");
      return;
    }
    const Answer answer = AnswerFor(BoxCommand::Upload);
    if (answer == Answer::Never)
      FinishUpload(UploadOutcome::Stopped, "no answer");
    else if (answer == Answer::Bad)
      FinishUpload(UploadOutcome::Refused, "told to refuse");
    else
      FinishUpload(UploadOutcome::Accepted, "");
    return;
  }
  SendBlockRequest();
}

bool BoxSim::OkEarly() {
  int after;
  {
    std::lock_guard lock(Mutex);
    after = OkAfterBlocks;
  }
  if (after < 0 || BlocksTaken < after) return false;
  FinishUpload(UploadOutcome::Accepted, Format("reported OK after %d blocks", BlocksTaken));
  return true;
}

void BoxSim::SendBlockRequest() {
  Bytes noise;
  int pauseMs;
  {
    std::lock_guard lock(Mutex);
    noise = RequestNoise;
    pauseMs = RequestNoisePauseMs;
  }
  if (!noise.empty()) {
    Event("noise before the request: " + HexBytes(noise.data(), noise.size()));
    if (!WriteAll(noise.data(), noise.size()) || !PauseMs(pauseMs)) return;
  }
  const std::uint32_t length = BlockLength(CurrentBlock);
  ExpectLen = length ? length + 4 : 0;
  std::uint8_t number[2];
  PutLe16(number, static_cast<std::uint16_t>(CurrentBlock));
  Event(Format("block %d requested (%u bytes)", CurrentBlock, length));
  FrameInfo info;
  info.block = CurrentBlock;
  SendFrame(PayloadFrame(Reply::DownloadRequest, number, 2), info);
  BlockDeadline = Clock::now() + std::chrono::milliseconds(BlockWaitNow);
}

void BoxSim::HandleBlock(const std::uint8_t* data, std::size_t len) {
  const std::uint32_t length = static_cast<std::uint32_t>(len - 4);
  const int block = CurrentBlock;
  LogMessage({MessageKind::Block, 0, block, {}});
  if (!CrcHolds(data, length)) {
    Event(Format("block %d: crc fail", block));
    FinishUpload(UploadOutcome::Refused, Format("bad block %d", block));
    return;
  }
  const std::size_t offset = std::size_t(block) * Options.blockSize;
  bool differs;
  {
    std::lock_guard lock(Mutex);
    differs = !ExpectedImage.empty() &&
              (ExpectedImage.size() < offset + length ||
               !std::equal(data, data + length, ExpectedImage.begin() + offset));
    if (!differs) std::copy(data, data + length, Image.begin() + offset);
  }
  if (differs) {
    Event(Format("block %d: differs from the expected image", block));
    FinishUpload(UploadOutcome::Refused, Format("block %d differs", block));
    return;
  }
  BlocksGot[static_cast<std::size_t>(block)] = true;
  ++BlocksTaken;
  Event(Format("block %d: ok", block));
  if (OkEarly()) return;
  RequestNextBlock();
}

void BoxSim::LoaderStarts() {
  State = Phase::AwaitSync;
  SyncAnswered = false;
  AppUntil = {};
  In.clear();
  TextPending.clear();
  ExpectLen = 0;
  CurrentBlock = -1;
}

void BoxSim::BackToLoader(const std::string& why) {
  if (State == Phase::Uploading) FinishUpload(UploadOutcome::Stopped, why);
  LoaderStarts();
  Event(why + " -> loader waits for sync");
  SendText("Boot loader ready, waiting for sync");
}

void BoxSim::FinishUpload(UploadOutcome outcome, const std::string& why) {
  State = Phase::Ready;
  ExpectLen = 0;
  CurrentBlock = -1;
  std::uint32_t size;
  bool kept = false;
  {
    std::lock_guard lock(Mutex);
    Outcome = outcome;
    size = ImageSize;
    // Every block came and the box took it: the image is in the flash now. One reported OK
    // early never came whole, and is not.
    // A flash grows to hold it, up to a size a real box could have.
    const std::size_t end = std::size_t{UploadAddress} + Image.size();
    kept =
        outcome == UploadOutcome::Accepted && why.empty() && !Image.empty() && end <= kFlashLimit;
    if (kept) {
      if (FlashImage.size() < end) FlashImage.resize(end, 0xFF);
      std::copy(Image.begin(), Image.end(), FlashImage.begin() + UploadAddress);
    }
  }
  if (outcome == UploadOutcome::Accepted && why.empty() && !kept)
    Event(Format("upload: an image that ends past 0x%zX is not kept in the flash", kFlashLimit));
  Event(Format("upload %u bytes: %s", size, OutcomeName(outcome)) +
        (why.empty() ? "" : " (" + why + ")"));
  if (outcome == UploadOutcome::Accepted) {
    SendFrame(StatusFrame(Reply::UploadAccepted));
  } else if ((outcome == UploadOutcome::Refused || outcome == UploadOutcome::Abandoned) &&
             AnswerFor(BoxCommand::Upload) != Answer::Never) {
    SendFrame(StatusFrame(Reply::UploadRefused));
  }
}

void BoxSim::ServeRequests() {
  std::vector<Request> batch;
  {
    std::lock_guard lock(Mutex);
    batch.swap(Requests);
  }
  if (batch.empty()) return;
  for (const Request& r : batch) {
    switch (r.kind) {
      case RequestKind::Lines:
        for (const std::string& line : r.lines) SendText(line);
        break;
      case RequestKind::Flood: {
        std::string chunk;
        std::size_t left = r.count;
        for (std::size_t line = 0; left > 0; ++line) {
          std::string text =
              Format("flood line %08zu: the quick brown fox jumps over the lazy dog", line);
          if (text.size() + 1 > left) text.resize(left - 1);
          text += '\r';
          left -= text.size();
          chunk += text;
          if (chunk.size() >= 4096 || left == 0) {
            if (!SendConsole(chunk)) break;
            chunk.clear();
          }
        }
        break;
      }
    }
  }
  {
    std::lock_guard lock(Mutex);
    RequestsDone += batch.size();
  }
  Changed.notify_all();
}

void BoxSim::SendFrame(const Bytes& frame, FrameInfo info) {
  std::vector<Segment> segments{{frame, 0}};
  std::string faultName;
  {
    std::lock_guard lock(Mutex);
    if (Silent) return;
    if (frame.size() == 4 && std::find(DoubledWords.begin(), DoubledWords.end(),
                                       GetBe32(frame.data())) != DoubledWords.end()) {
      Fault doubled;
      doubled.kind = FaultKind::Duplicate;
      segments = ApplyFault(frame, doubled);
      faultName = FaultName(FaultKind::Duplicate);
    }
    for (auto it = Faults.begin(); it != Faults.end(); ++it) {
      const Fault& f = it->fault;
      const bool hit =
          (f.target == FaultTarget::Frame &&
           FramesSent == it->frameBase + std::uint64_t(f.which)) ||
          (f.target == FaultTarget::BlockRequest && info.block >= 0 && info.block == f.which) ||
          (f.target == FaultTarget::FlashReply && info.flashReply &&
           FlashReplies == it->flashBase + std::uint64_t(f.which));
      if (!hit) continue;
      segments = ApplyFault(frame, f);
      faultName = FaultName(f.kind);
      if (f.kind == FaultKind::Silence) Silent = true;
      Faults.erase(it);
      break;
    }
    ++FramesSent;
    if (info.flashReply) ++FlashReplies;
  }
  if (!faultName.empty()) Event("fault: " + faultName + " on " + HexBytes(frame.data(), 4));
  for (const Segment& segment : segments) {
    if (!WriteAll(segment.bytes.data(), segment.bytes.size())) return;
    if (segment.pauseAfterMs > 0 && !PauseMs(segment.pauseAfterMs)) return;
  }
}

void BoxSim::SendText(const std::string& line) {
  SendConsole(line + '\r');
}

bool BoxSim::SendConsole(const std::string& text) {
  {
    std::lock_guard lock(Mutex);
    if (Silent) return false;
  }
  return WriteAll(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool BoxSim::StopRequested() const {
  std::lock_guard lock(Mutex);
  return Stopping;
}

bool BoxSim::WriteAll(const std::uint8_t* data, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    if (StopRequested()) return false;
    const std::size_t allowed = WritePacer.Allow(n - done);
    if (allowed == 0) {
      if (!PauseTakingInput(WritePacer.MsUntilByte())) return false;
      continue;
    }
    const ssize_t written = write(MasterFd, data + done, allowed);
    if (written > 0) {
      WritePacer.credit -= static_cast<double>(written);
      done += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    // The pty is full: wait for room, and keep taking what the tool sends so neither side
    // ends up waiting on the other.
    const int pace = ReadPacer.MsUntilByte();
    pollfd fds[2] = {{WakeFd, POLLIN, 0},
                     {MasterFd, static_cast<short>(POLLOUT | (pace == 0 ? POLLIN : 0)), 0}};
    if (poll(fds, 2, pace == 0 ? 100 : pace) <= 0) continue;
    if (fds[0].revents & POLLIN) DrainWake();
    if (fds[1].revents & POLLIN) ReadInput(Backlog);
  }
  return true;
}

bool BoxSim::PauseTakingInput(int ms) {
  // A UART receives while it sends: the tool's bytes keep coming in at the line's pace, to be
  // parsed once this write is done.
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (StopRequested()) return false;
    const long left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return true;
    const int pace = ReadPacer.MsUntilByte();
    pollfd fds[2] = {{WakeFd, POLLIN, 0},
                     {MasterFd, static_cast<short>(pace == 0 ? POLLIN : 0), 0}};
    const int wait = static_cast<int>(pace == 0 ? left : std::min<long>(left, pace));
    if (poll(fds, 2, wait) <= 0) continue;
    if (fds[0].revents & POLLIN) DrainWake();
    if (fds[1].revents & POLLIN) ReadInput(Backlog);
  }
}

bool BoxSim::PauseMs(int ms) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (StopRequested()) return false;
    const long left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return true;
    pollfd fd{WakeFd, POLLIN, 0};
    // Requests posted meanwhile stay queued for the main loop, which looks at them every turn.
    if (poll(&fd, 1, static_cast<int>(left)) > 0 && (fd.revents & POLLIN)) DrainWake();
  }
}

}  // namespace boxsim
