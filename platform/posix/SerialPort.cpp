#include "platform/SerialPort.h"

// termios2 (any baud rate) lives in the kernel's own headers, which clash with glibc's
// <termios.h>; this file therefore talks to the terminal through ioctl alone.
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/PortScan.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr SteadyClock::time_point NoDeadline = SteadyClock::time_point::max();

SteadyClock::time_point DeadlineAfter(int timeoutMs) {
  return SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}

// What poll() takes: -1 waits without a deadline.
int MsLeft(SteadyClock::time_point deadline) {
  if (deadline == NoDeadline) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

// Raw, and no flow control of either kind: the box's cable has three wires, so a port left
// with RTS/CTS by another program would hold every write, and XON/XOFF bytes are data here.
// Modem settings stay as the port reports them.
void MakeRaw(termios2& tio) {
  tio.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

// Bytes arrive in bursts from USB adapters; asking for low latency shortens the wait for
// each burst. Many drivers (and pseudo-terminals) do not know the request, which is fine.
// True when this turned it on, so that it can be turned off again at close.
bool TryLowLatency(int fd, bool on) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
  if (((serial.flags & ASYNC_LOW_LATENCY) != 0) == on) return false;
  serial.flags ^= ASYNC_LOW_LATENCY;
  return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

// The node's own name under /dev, whatever name or link it was opened by.
std::string NodeName(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  char link[PATH_MAX];
  const std::string sys = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                          std::to_string(minor(st.st_rdev));
  const ssize_t n = ::readlink(sys.c_str(), link, sizeof link - 1);
  if (n <= 0) return {};
  link[n] = '\0';
  const char* slash = std::strrchr(link, '/');
  return slash ? slash + 1 : link;
}

// Joining the device's group helps only where that group may read and write it (dialout for a
// serial port; not tty, which may only write to another user's terminal) and the user is not in
// it already.
std::string PermissionDenied(const std::string& path) {
  const std::string denied = "permission denied";
  struct stat device {};
  if (path.empty() || ::stat(path.c_str(), &device) != 0) return denied;
  if ((device.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return denied;
  if (device.st_gid == ::getegid()) return denied;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  if (std::find(groups.begin(), groups.begin() + std::max(count, 0), device.st_gid) !=
      groups.begin() + std::max(count, 0))
    return denied;
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(4096);
  if (::getgrgid_r(device.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr)
    return denied;
  return denied + " (the user must be in the " + found->gr_name + " group)";
}

// path: the device, for what permission it lacks.
std::string OpenErrorText(int error, const std::string& path = {}) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "no such device";
    case EBUSY:
    case EWOULDBLOCK:
      return "in use by another program";
    case EACCES:
    case EPERM:
      return PermissionDenied(path);
    case ENOTTY:
      return "not a serial port";
    default:
      return std::strerror(error);
  }
}

// Waits until fd is ready for events, the deadline passes or wakeFd is signalled (Close()).
// Ok when the caller should try its call again, TimedOut once the deadline has passed,
// otherwise why the call cannot go on.
IoStatus WaitReady(int fd, int wakeFd, short events, SteadyClock::time_point deadline) {
  const int left = MsLeft(deadline);
  if (left == 0) return IoStatus::TimedOut;
  pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
  const int ready = ::poll(fds, 2, left);
  // A signal, or a wait that ended on the millisecond: the caller tries again and asks anew.
  if (ready < 0) return errno == EINTR ? IoStatus::Ok : IoStatus::Failed;
  if (ready == 0) return IoStatus::Ok;
  if (fds[1].revents & POLLIN) return IoStatus::Aborted;
  if (fds[0].revents & POLLNVAL) return IoStatus::Failed;
  // What can still be read or written goes first; the hang-up shows on the next call.
  if (!(fds[0].revents & events) && (fds[0].revents & (POLLHUP | POLLERR))) return IoStatus::HungUp;
  return IoStatus::Ok;
}

}  // namespace

struct SerialPort::System {
  std::atomic<int> Fd{-1};
  int WakeFd = -1;  // eventfd that Close() signals to abort a poll in progress
  bool HaveFound = false;
  termios2 Found{};
  bool MadeLowLatency = false;  // the driver keeps it after close (an FTDI's 1 ms timer)
  // The USB adapter the port was last opened on, and the name it was opened by.
  std::string AdapterName;
  std::string Adapter;
};

const char* const SerialPort::NamingHint =
    "COM1 to COM8, a path (any name with a /), or else a name under /dev/";

SerialPort::SerialPort() : Sys(std::make_unique<System>()) {}

SerialPort::~SerialPort() {
  Close();
}

std::string SerialPort::DevicePath(const std::string& name) {
  if (name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '8')
    return "/dev/ttyS" + std::string(1, static_cast<char>(name[3] - 1));
  // ./box is the link in the current folder, as a shell would take it.
  if (name.find('/') != std::string::npos) return name;
  return "/dev/" + name;
}

std::string SerialPort::LastingName(const std::string& name) {
  const std::filesystem::path device(DevicePath(name));
  if (device.is_absolute()) return device.string();
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(device, error);
  return error ? device.string() : whole.lexically_normal().string();
}

bool SerialPort::OpenExclusive(const std::string& name) {
  const auto held = Gate.Hold();
  if (IsOpen() || Gate.Closing()) return false;

  const std::string path = DevicePath(name);
  std::string followed;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == ENOENT || errno == ENODEV || errno == ENXIO) &&
      name == Sys->AdapterName) {
    // The adapter this name stood for may be back under another node (the kernel gives a
    // new number while a program still holds the old node): the same adapter, so the same
    // port, as a by-id name would follow it.
    const int gone = errno;
    const std::string moved = FindUsbAdapter(Sys->Adapter);
    errno = gone;
    if (!moved.empty()) fd = ::open(moved.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) followed = moved;
  }
  if (fd < 0) {
    // COM3 or ttyUSB0 says nothing of where it was looked for.
    const int failed = errno;
    Error = (path == name ? "" : path + ": ") + OpenErrorText(failed, path);
    return false;
  }
  // The lock stops a second copy of this program, root too; TIOCEXCL keeps other programs
  // out. The lock comes first: the tty's exclusive flag outlives our descriptor while another
  // program holds the port, so it is set only once the port is ours.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    Error = OpenErrorText(EBUSY);
    CloseQuietly(fd);
    return false;
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  termios2 tio{};
  if (wake < 0 || ::ioctl(fd, TCGETS2, &tio) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    Error = OpenErrorText(errno);
    CloseQuietly(wake);
    CloseQuietly(fd);
    return false;
  }
  // Past this point a failure hands the port back as it was found, neither exclusive nor raw.
  const termios2 found = tio;
  MakeRaw(tio);
  if (::ioctl(fd, TCSETS2, &tio) != 0) {
    Error = OpenErrorText(errno);
    ::ioctl(fd, TCSETS2, &found);
    ::ioctl(fd, TIOCNXCL);
    CloseQuietly(wake);
    CloseQuietly(fd);
    return false;
  }
  const bool lowLatency = TryLowLatency(fd, true);
  Sys->WakeFd = wake;
  Sys->Found = found;
  Sys->HaveFound = true;
  Sys->MadeLowLatency = lowLatency;
  Sys->AdapterName = name;
  // An adapter that is the only one of its kind now may be followed when it comes back: it is
  // ours only while no other adapter says the same of itself.
  const std::string node = NodeName(fd);
  Sys->Adapter = node.empty() ? std::string() : FollowableUsbAdapter(node);
  Followed = followed;
  Error.clear();
  Sys->Fd.store(fd);
  return true;
}

bool SerialPort::IsOpen() const {
  return Sys->Fd.load() >= 0;
}

bool SerialPort::GetSettings(LineSettings& settings) {
  if (Gate.Enter() != IoStatus::Ok) return false;
  termios2 tio{};
  bool ok = ::ioctl(Sys->Fd.load(), TCGETS2, &tio) == 0;
  if (ok) {
    settings.BaudRate = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
      case CS5:
        settings.DataBits = 5;
        break;
      case CS6:
        settings.DataBits = 6;
        break;
      case CS7:
        settings.DataBits = 7;
        break;
      default:
        settings.DataBits = 8;
        break;
    }
    if (!(tio.c_cflag & PARENB))
      settings.ParityMode = Parity::None;
    else
      settings.ParityMode = (tio.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    settings.Stop = (tio.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
  }
  Gate.Leave();
  return ok;
}

bool SerialPort::SetSettings(const LineSettings& settings) {
  Error = RefusedSettings(settings);
  if (!Error.empty()) return false;
  if (Gate.Enter() != IoStatus::Ok) {
    Error = "the port is not open";
    return false;
  }
  const int fd = Sys->Fd.load();
  termios2 tio{};
  bool ok = ::ioctl(fd, TCGETS2, &tio) == 0;
  if (ok) {
    // BOTHER in both directions: the speed is the plain number, not one of the B constants.
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = settings.BaudRate;
    tio.c_ispeed = settings.BaudRate;

    static constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag &= ~CSIZE;
    tio.c_cflag |= Sizes[settings.DataBits - 5];

    // The line has no flow control, whatever another program set meanwhile.
    tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);

    // Stick parity would turn even/odd into space/mark.
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    if (settings.ParityMode == Parity::Even) tio.c_cflag |= PARENB;
    if (settings.ParityMode == Parity::Odd) tio.c_cflag |= PARENB | PARODD;

    if (settings.Stop == StopBits::Two)
      tio.c_cflag |= CSTOPB;
    else
      tio.c_cflag &= ~CSTOPB;
    ok = ::ioctl(fd, TCSETS2, &tio) == 0;
  }
  if (!ok) Error = std::string("the driver refused the settings: ") + std::strerror(errno);
  // The driver has the last word on the speed: what it reports now is what the line runs at.
  termios2 running{};
  if (ok && ::ioctl(fd, TCGETS2, &running) == 0) {
    Error = SpeedNotTaken(settings.BaudRate, running.c_ospeed);
    ok = Error.empty();
  }
  Gate.Leave();
  return ok;
}

IoResult SerialPort::Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) {
  IoStatus entered = Gate.Enter();
  if (entered != IoStatus::Ok) return {entered, 0};
  const int fd = Sys->Fd.load();
  const auto deadline = timeoutMs == NoTimeout ? NoDeadline : DeadlineAfter(timeoutMs);
  IoResult result{IoStatus::TimedOut, 0};
  if (max == 0) {
    result.Status = IoStatus::Ok;
    Gate.Leave();
    return result;
  }
  for (;;) {
    if (Gate.Closing()) {
      result.Status = IoStatus::Aborted;
      break;
    }
    ssize_t got = ::read(fd, buffer, max);
    if (got > 0) {
      result = {IoStatus::Ok, static_cast<std::size_t>(got)};
      break;
    }
    if (got == 0 || errno == EIO) {
      // End of file on a terminal: the line was hung up.
      result.Status = IoStatus::HungUp;
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      result.Status = IoStatus::Failed;
      break;
    }
    const IoStatus waited = WaitReady(fd, Sys->WakeFd, POLLIN, deadline);
    if (waited == IoStatus::Ok) continue;
    result.Status = waited;
    break;
  }
  Gate.Leave();
  return result;
}

IoResult SerialPort::Write(const std::uint8_t* data, std::size_t n, int timeoutMs) {
  IoStatus entered = Gate.Enter();
  if (entered != IoStatus::Ok) return {entered, 0};
  const int fd = Sys->Fd.load();
  const auto deadline = DeadlineAfter(timeoutMs);
  IoResult result{IoStatus::Ok, 0};
  while (result.Count < n) {
    if (Gate.Closing()) {
      result.Status = IoStatus::Aborted;
      break;
    }
    ssize_t put = ::write(fd, data + result.Count, n - result.Count);
    if (put > 0) {
      result.Count += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EIO) {
      result.Status = IoStatus::HungUp;
      break;
    }
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      result.Status = IoStatus::Failed;
      break;
    }
    const IoStatus waited = WaitReady(fd, Sys->WakeFd, POLLOUT, deadline);
    if (waited == IoStatus::Ok) continue;
    result.Status = waited;
    break;
  }
  Gate.Leave();
  return result;
}

IoResult SerialPort::Drain(int timeoutMs) {
  const IoStatus entered = Gate.Enter();
  if (entered != IoStatus::Ok) return {entered, 0};
  const int fd = Sys->Fd.load();
  const auto deadline = DeadlineAfter(timeoutMs);
  // tcdrain would do, but nothing could cut it short: the queue is looked at instead, with a
  // wait between looks that Close() ends, as long as the queued bytes need on the line.
  termios2 tio{};
  const long long baud = ::ioctl(fd, TCGETS2, &tio) == 0 && tio.c_ospeed > 0 ? tio.c_ospeed : 9600;
  IoResult result{IoStatus::Ok, 0};
  for (;;) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0) {
      // A tty that cannot say what it holds has been hung up (EIO) or has gone: what was
      // written is not known to have left it.
      result.Status =
          errno == EIO || errno == ENXIO || errno == ENODEV ? IoStatus::HungUp : IoStatus::Failed;
      break;
    }
    if (queued <= 0) break;
    const int left = MsLeft(deadline);
    if (left == 0) {
      result.Status = IoStatus::TimedOut;
      break;
    }
    const long long lineMs = QueuedLineMs(queued, baud);
    const int waitMs = left < 0 ? static_cast<int>(std::min<long long>(lineMs, INT_MAX))
                                : static_cast<int>(std::min<long long>(lineMs, left));
    pollfd wake{Sys->WakeFd, POLLIN, 0};
    if (::poll(&wake, 1, waitMs) > 0 || Gate.Closing()) {
      result.Status = IoStatus::Aborted;
      break;
    }
  }
  Gate.Leave();
  return result;
}

void SerialPort::Purge() {
  if (Gate.Enter() != IoStatus::Ok) return;
  ::ioctl(Sys->Fd.load(), TCFLSH, TCIOFLUSH);
  Gate.Leave();
}

void SerialPort::Close() {
  Gate.Close(
      [this] {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t signalled = ::write(Sys->WakeFd, &one, sizeof one);
      },
      [this] { Release(); });
}

void SerialPort::Release() {
  const int fd = Sys->Fd.exchange(-1);
  // Output still queued (a far end that stopped reading, a held-off line) would keep close()
  // waiting for the driver's drain time-out on the GUI thread.
  ::ioctl(fd, TCFLSH, TCOFLUSH);
  if (Sys->HaveFound) ::ioctl(fd, TCSETS2, &Sys->Found);
  Sys->HaveFound = false;
  if (Sys->MadeLowLatency) TryLowLatency(fd, false);
  Sys->MadeLowLatency = false;
  ::ioctl(fd, TIOCNXCL);
  CloseQuietly(fd);  // also drops the flock
  CloseQuietly(Sys->WakeFd);
  Sys->WakeFd = -1;
}
