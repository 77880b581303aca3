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

#include "boxsim/BoxSim.h"
#include "boxsim/BoxSimParts.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

// The box's end of the line: the pseudo-terminal or device, its link, the pace of its bytes,
// the loop that reads and writes them.
namespace boxsim {

using namespace parts;

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
