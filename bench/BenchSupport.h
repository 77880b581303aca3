#pragma once

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "boxsim/BoxSim.h"
#include "qt/MessageBox.h"
#include "qt/Windows.h"
#include "tests/qt/Controls.h"

// What the benchmarks share: a working folder, the program's windows, a simulated box (in this
// process, or in a child process when the figures must be the tool's alone), the GUI thread's
// stall meter and the process's memory and CPU figures.
namespace bench {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlock = boxsim::kBlockSize;

// Without a display the program still runs, on the offscreen platform.
inline void UseOffscreenWithoutDisplay() {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

inline std::string TargetNote(bool met) {
  return met ? "" : "  TARGET MISSED";
}

inline double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The image's byte at a position; the same everywhere, so a file can be written in pieces.
inline std::uint8_t ImageByte(std::uint64_t at, unsigned seed) {
  std::uint64_t x = (at + 1) * 0x9E3779B97F4A7C15ull ^ (std::uint64_t{seed} << 32);
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  return static_cast<std::uint8_t>(x);
}

// Written in small pieces so that the benchmark itself never holds the image.
inline bool WriteImageFile(const std::string& path, std::uint64_t size, unsigned seed) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::uint8_t piece[65536];
  bool ok = true;
  for (std::uint64_t at = 0; at < size && ok;) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof piece, size - at));
    for (std::size_t i = 0; i < n; ++i) piece[i] = ImageByte(at + i, seed);
    ok = std::fwrite(piece, 1, n, f) == n;
    at += n;
  }
  return std::fclose(f) == 0 && ok;
}

inline std::optional<Bytes> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A field of /proc/self/status (in KiB for sizes), -1 when absent.
inline long StatusKiB(const char* field, const std::string& file = "/proc/self/status") {
  std::ifstream in(file);
  std::string line;
  const std::size_t len = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, len, field) == 0 && line.size() > len && line[len] == ':')
      return std::strtol(line.c_str() + len + 1, nullptr, 10);
  return -1;
}

inline double MiB(long kib) {
  return static_cast<double>(kib) / 1024.0;
}

// Sets the peak resident size back to the current one; false where the kernel won't.
inline bool ResetPeakRss() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return false;
  const bool wrote = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && wrote;
}

// Samples the resident size from its own thread, for kernels whose peak can't be reset.
class RssSampler {
 public:
  explicit RssSampler(int everyMs = 2) {
    Thread = std::thread([this, everyMs] {
      while (!Done.load()) {
        const long rss = StatusKiB("VmRSS");
        if (rss > Peak.load()) Peak.store(rss);
        std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
      }
    });
  }
  ~RssSampler() { Stop(); }
  long Stop() {
    Done.store(true);
    if (Thread.joinable()) Thread.join();
    return Peak.load();
  }

 private:
  std::atomic<bool> Done{false};
  std::atomic<long> Peak{0};
  std::thread Thread;
};

inline double CpuSecondsOfProcess() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return secs(use.ru_utime) + secs(use.ru_stime);
}

// Every thread of the process with the CPU seconds it used and how often it has gone to sleep,
// for telling where time went.
struct ThreadUse {
  double cpuSeconds = 0;
  long wakeUps = 0;  // voluntary context switches
};
inline std::vector<std::pair<std::string, ThreadUse>> CpuSecondsPerThread() {
  std::vector<std::pair<std::string, ThreadUse>> threads;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  const QStringList tids = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& tid : tids) {
    std::ifstream in("/proc/self/task/" + tid.toStdString() + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t open = stat.find('(');
    const std::size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stoul(field);
      if (i == 15) stime = std::stoul(field);
    }
    ThreadUse use;
    use.cpuSeconds = static_cast<double>(utime + stime) / tick;
    use.wakeUps =
        StatusKiB("voluntary_ctxt_switches", "/proc/self/task/" + tid.toStdString() + "/status");
    threads.emplace_back(stat.substr(open + 1, close - open - 1) + " " + tid.toStdString(), use);
  }
  return threads;
}

// Runs the event loop until pred holds or the time is up; pred is looked at every pollMs.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs, int pollMs = 2) {
  if (pred()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setTimerType(Qt::PreciseTimer);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (pred()) loop.quit();
  });
  poll.start(pollMs);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  return pred();
}

// Lets the event loop run for a while with nothing polling.
inline void RunEventLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

// A timer on the GUI thread that fires every 5 ms; the longest gap between two firings is how
// long the window could not have answered the user.
class StallMeter {
 public:
  StallMeter() {
    Timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      const auto now = std::chrono::steady_clock::now();
      const auto gap = now - Last;
      if (gap > Longest) Longest = gap;
      Last = now;
    });
  }
  void Start() {
    Longest = {};
    Last = std::chrono::steady_clock::now();
    Timer.start(5);
  }
  void Stop() { Timer.stop(); }
  double LongestMs() const { return Seconds(Longest) * 1000.0; }

 private:
  QTimer Timer;
  std::chrono::steady_clock::time_point Last{};
  std::chrono::steady_clock::duration Longest{};
};

// Follows the log as it grows without reading it whole again.
class LogReader {
 public:
  explicit LogReader(QPlainTextEdit& log) : Log(log) {}
  // Calls see for every line added since the last call.
  void ReadNew(const std::function<void(const QString&)>& see) {
    QTextDocument* doc = Log.document();
    const int count = doc->blockCount();
    if (count < Next) Next = 0;  // the log was cleared
    for (QTextBlock block = doc->findBlockByNumber(Next); block.isValid(); block = block.next())
      see(block.text());
    Next = count;
  }
  void SkipToEnd() { Next = Log.document()->blockCount(); }

 private:
  QPlainTextEdit& Log;
  int Next = 0;
};

// A serial line of a given baud rate between the tool and the box: a pseudo-terminal for the
// tool on one side, the box's device on the other, and a relay that carries bytes across as the
// line would, in both directions. Each direction keeps the time its line is busy until: bytes
// start crossing when they are there and the line is free, each takes its bit time, and a
// pause on the line is never made up by a burst. Bytes are moved in pieces of a couple of
// milliseconds of line time, each handed on when its last byte has crossed. An adapter's
// latency holds what the box says for that long more, as a USB adapter's latency timer does at
// the end of a burst. Every crossing is logged with its time.
class ThrottledLine {
 public:
  using Clock = std::chrono::steady_clock;

  // Bytes that reached the tool (toTool) or left it for the box. What reached the tool was
  // taken from the box at taken.
  struct Crossing {
    Clock::time_point at;
    std::size_t bytes;
    bool toTool;
    Clock::time_point taken;
  };

  ThrottledLine() = default;
  ThrottledLine(const ThrottledLine&) = delete;
  ThrottledLine& operator=(const ThrottledLine&) = delete;
  ~ThrottledLine() { Stop(); }

  bool Start(const std::string& boxDevice, int baud, int bitsPerChar = 10, int latencyMs = 0) {
    if (!boxsim::OpenRawPty(ToolMaster, ToolSlave, Device)) return false;
    // The box made its side raw already.
    BoxSide = open(boxDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (BoxSide < 0 || pipe(StopPipe) != 0) return false;
    const double rate = static_cast<double>(baud) / std::max(1, bitsPerChar);
    Relay = std::thread([this, rate, latencyMs] { Carry(rate, latencyMs); });
    return true;
  }

  void Stop() {
    if (Relay.joinable()) {
      [[maybe_unused]] const ssize_t n = write(StopPipe[1], "x", 1);
      Relay.join();
    }
    for (int* fd : {&ToolMaster, &ToolSlave, &BoxSide, &StopPipe[0], &StopPipe[1]}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }

  // The device the tool opens.
  const std::string& DevicePath() const { return Device; }

  std::vector<Crossing> Crossings() {
    std::lock_guard lock(LogMutex);
    return Log;
  }
  void ClearCrossings() {
    std::lock_guard lock(LogMutex);
    Log.clear();
  }

 private:
  struct Piece {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    Clock::time_point taken;
  };

  struct Direction {
    int from = -1;
    int to = -1;
    bool toTool = false;
    Clock::duration latency{};
    Clock::time_point lineFree{};  // the last byte taken so far has crossed by then
    std::deque<Piece> pending;     // taken off the line, not yet handed on
    std::size_t sent = 0;          // bytes of the first piece handed on
  };

  void Note(bool toTool, std::size_t bytes, Clock::time_point taken) {
    const auto now = Clock::now();
    std::lock_guard lock(LogMutex);
    Log.push_back({now, bytes, toTool, taken});
  }

  void Carry(double rate, int latencyMs) {
    using namespace std::chrono;
    // The line's pace and the adapter's latency are the device's, exact to the microsecond; the
    // system's default slack of 50 us on every timed wait would be charged to the program.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const auto byteTime = duration_cast<Clock::duration>(duration<double>(1.0 / rate));
    // Pieces of 2 ms of line time; the next piece is taken off the far side once the line is
    // within that of being free, as a UART's buffer would take it.
    const std::size_t piece = static_cast<std::size_t>(std::max(1.0, rate * 0.002));
    const auto ahead = duration_cast<Clock::duration>(milliseconds(2));
    Direction dirs[2];
    dirs[0].from = ToolMaster;
    dirs[0].to = BoxSide;
    dirs[1].from = BoxSide;
    dirs[1].to = ToolMaster;
    dirs[1].toTool = true;
    dirs[1].latency = milliseconds(latencyMs);
    for (;;) {
      pollfd fds[5];
      nfds_t count = 0;
      fds[count++] = {StopPipe[0], POLLIN, 0};
      std::optional<Clock::time_point> wake;
      const auto wakeBy = [&](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
      int slot[2][2] = {{-1, -1}, {-1, -1}};
      Clock::time_point now = Clock::now();
      for (int i = 0; i < 2; ++i) {
        Direction& d = dirs[i];
        if (!d.pending.empty()) {
          if (d.pending.front().due <= now) {
            slot[i][1] = static_cast<int>(count);
            fds[count++] = {d.to, POLLOUT, 0};
          } else {
            wakeBy(d.pending.front().due);
          }
        }
        if (d.lineFree <= now + ahead) {
          slot[i][0] = static_cast<int>(count);
          fds[count++] = {d.from, POLLIN, 0};
        } else {
          wakeBy(d.lineFree - ahead);
        }
      }
      timespec timeout{};
      if (wake) {
        const auto left = std::max(*wake - now, Clock::duration::zero());
        timeout.tv_sec = static_cast<time_t>(duration_cast<seconds>(left).count());
        timeout.tv_nsec = static_cast<long>((left - duration_cast<seconds>(left)).count() *
                                            Clock::duration::period::num * 1000000000 /
                                            Clock::duration::period::den);
      }
      if (ppoll(fds, count, wake ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      for (int i = 0; i < 2; ++i) {
        Direction& d = dirs[i];
        if (slot[i][0] >= 0 && (fds[slot[i][0]].revents & POLLIN)) {
          std::uint8_t buffer[65536];
          const ssize_t n = read(d.from, buffer, std::min(sizeof buffer, piece));
          if (n > 0) {
            now = Clock::now();
            d.lineFree = std::max(d.lineFree, now) + byteTime * n;
            d.pending.push_back({d.lineFree + d.latency, {buffer, buffer + n}, now});
            if (!d.toTool) Note(false, static_cast<std::size_t>(n), now);
          }
        } else if (slot[i][0] >= 0 && (fds[slot[i][0]].revents & (POLLHUP | POLLERR))) {
          // The far side closed for now (the tool between two connections): look again later.
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        while (!d.pending.empty() && d.pending.front().due <= Clock::now()) {
          Piece& first = d.pending.front();
          const ssize_t n = write(d.to, first.bytes.data() + d.sent, first.bytes.size() - d.sent);
          if (n <= 0) break;
          d.sent += static_cast<std::size_t>(n);
          if (d.toTool) Note(true, static_cast<std::size_t>(n), first.taken);
          if (d.sent < first.bytes.size()) break;
          d.pending.pop_front();
          d.sent = 0;
        }
      }
    }
  }

  std::string Device;
  int ToolMaster = -1;
  int ToolSlave = -1;  // held so that the pty stays while the tool has it closed
  int BoxSide = -1;
  int StopPipe[2] = {-1, -1};
  std::thread Relay;
  std::mutex LogMutex;
  std::vector<Crossing> Log;
};

// The box in a child process, so that its memory, its copy of the image and its CPU time stay
// out of the tool's figures. Commands go over a pipe, one line each, one line back.
class RemoteBox {
 public:
  // Forks; call before the QApplication or any thread exists.
  bool Start(int baud = 0) {
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) return false;
    signal(SIGPIPE, SIG_IGN);  // a box that died shows as an empty answer instead
    std::fflush(nullptr);
    Pid = fork();
    if (Pid < 0) return false;
    if (Pid == 0) {
      close(down[1]);
      close(up[0]);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      _exit(Serve(down[0], up[1], baud));
    }
    close(down[0]);
    close(up[1]);
    ToChild = fdopen(down[1], "w");
    FromChild = fdopen(up[0], "r");
    const std::string hello = ReadLine();
    if (hello.rfind("device ", 0) != 0) return false;
    Device = hello.substr(7);
    return true;
  }

  ~RemoteBox() {
    if (Pid <= 0) return;
    if (ToChild) Ask("quit");
    if (ToChild) std::fclose(ToChild);
    if (FromChild) std::fclose(FromChild);
    int status = 0;
    waitpid(Pid, &status, 0);
  }

  // Sends one command line and returns the answer line.
  std::string Ask(const std::string& command) {
    if (ToChild == nullptr) return {};
    std::fprintf(ToChild, "%s\n", command.c_str());
    std::fflush(ToChild);
    return ReadLine();
  }

  // The box refuses blocks that differ from this file, and compares what it got with it.
  bool Expect(const std::string& path) { return Ask("expect " + path) == "ok"; }
  void ClearLogs() { Ask("clear"); }
  // Nothing answers the program, whatever it sends; a box brought back waits for the sync word.
  void TakeAway() { Ask("away"); }
  void BringBack() { Ask("back"); }
  // Bytes the box has taken off the line since its logs were cleared.
  long Received() { return std::atol(Ask("received").c_str()); }
  // "accepted" and the image equal to the expected one, byte for byte.
  bool LastUploadGood(std::string* why = nullptr) {
    const std::string answer = Ask("result");
    if (why) *why = answer;
    return answer == "accepted same";
  }

  std::string Device;

 private:
  std::string ReadLine() {
    char line[4096];
    if (FromChild == nullptr || std::fgets(line, sizeof line, FromChild) == nullptr) return {};
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }

  static int Serve(int in, int out, int baud) {
    std::FILE* commands = fdopen(in, "r");
    std::FILE* answers = fdopen(out, "w");
    boxsim::BoxOptions options;
    options.baud = baud;
    boxsim::BoxSim box(options);
    if (!box.Start()) {
      std::fprintf(answers, "fail\n");
      std::fflush(answers);
      return 1;
    }
    std::fprintf(answers, "device %s\n", box.DevicePath().c_str());
    std::fflush(answers);
    Bytes expected;
    char line[4096];
    while (std::fgets(line, sizeof line, commands) != nullptr) {
      std::string command = line;
      while (!command.empty() && command.back() == '\n') command.pop_back();
      std::string answer = "ok";
      if (command.rfind("expect ", 0) == 0) {
        const auto image = ReadWholeFile(command.substr(7));
        expected = image ? *image : Bytes{};
        box.SetExpectedImage(expected);
        box.ClearLogs();
        if (!image) answer = "no file";
      } else if (command == "clear") {
        box.ClearLogs();
      } else if (command == "received") {
        answer = std::to_string(box.Received().size());
      } else if (command == "away") {
        box.TakeBoxAway();
      } else if (command == "back") {
        box.BringNewBox();
      } else if (command == "result") {
        const Bytes got = box.UploadedImage();
        answer = std::string(boxsim::OutcomeName(box.LastUploadOutcome())) +
                 (got == expected ? " same" : " different");
      } else if (command == "quit") {
        std::fprintf(answers, "ok\n");
        std::fflush(answers);
        break;
      } else {
        answer = "unknown";
      }
      std::fprintf(answers, "%s\n", answer.c_str());
      std::fflush(answers);
    }
    box.Stop();
    return 0;
  }

  pid_t Pid = -1;
  std::FILE* ToChild = nullptr;
  std::FILE* FromChild = nullptr;
};

// The program in a temporary working folder, message boxes printed rather than shown.
class Program {
 public:
  Program() {
    char here[4096];
    if (getcwd(here, sizeof here) != nullptr) Home = here;
    if (!Dir.isValid() || chdir(Dir.path().toLocal8Bit().constData()) != 0) {
      std::fprintf(stderr, "cannot use a temporary folder\n");
      std::exit(1);
    }
    Previous = SetMessageBoxHook([this](const std::string& text) {
      // A flood of one box would bury the figures: the first few are shown, all are counted.
      if (Boxes.size() < 3) std::fprintf(stderr, "message box: %s\n", text.c_str());
      Boxes.push_back(text);
    });
    Win = std::make_unique<Windows>(nullptr, Path("config.cfg"));
  }
  ~Program() {
    Win.reset();
    SetMessageBoxHook(Previous);
    if (!Home.empty() && chdir(Home.c_str()) != 0) std::perror(Home.c_str());
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  std::string Path(const std::string& name) const {
    return (Dir.path() + "/").toStdString() + name;
  }
  Tform_main& Main() { return Win->form_main; }
  Windows& All() { return *Win; }
  QPlainTextEdit& Log() { return *Control<QPlainTextEdit>(Win->form_main, "Memo_Msg"); }

  bool LogHas(const QString& text) {
    Main().FlushLog();
    return Log().toPlainText().contains(text);
  }

  // Opens the port at the baud rate and waits for the box to answer the sync word.
  bool Connect(const std::string& device, int baud = 115200) {
    Control<QComboBox>(Win->form_uart, "Combo_port")->setEditText(QString::fromStdString(device));
    Control<QComboBox>(Win->form_uart, "Combo_BaudRate")->setEditText(QString::number(baud));
    Control<QToolButton>(Main(), "tbtn_UartConnect")->click();
    if (!Main().core().Connected()) return false;
    return WaitFor([this] { return LogHas("Stop send sync byte"); }, 10000, 10) &&
           WaitFor([this] { return Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled(); },
                   5000, 10);
  }

  // Presses "Upload Code" and picks the file.
  void StartUpload(const std::string& path) {
    Main().PickImageFile = [path] { return std::optional<std::string>(path); };
    Control<QPushButton>(Main(), "btn_UpdateCode")->click();
  }

  enum class Ending { Complete, Failed, TimedOut };
  // Waits for the upload to end; lines already in the log before reader's position don't count.
  Ending WaitForUploadEnd(LogReader& reader, int timeoutMs, bool flushEachLook) {
    std::optional<Ending> ending;
    const std::size_t boxesBefore = Boxes.size();
    WaitFor(
        [&] {
          if (flushEachLook) Main().FlushLog();
          reader.ReadNew([&](const QString& line) {
            if (line == "Upload Complete") ending = Ending::Complete;
            if (line == "Upload fail" || line.startsWith("Request data")) ending = Ending::Failed;
          });
          if (!ending && Boxes.size() > boxesBefore) ending = Ending::Failed;
          return ending.has_value();
        },
        timeoutMs);
    return ending.value_or(Ending::TimedOut);
  }

  // Restores "Upload Code" after an upload that left the caption at "Stop".
  void ReleaseUploadButton() {
    if (Control<QPushButton>(Main(), "btn_UpdateCode")->text().startsWith("Stop"))
      Control<QPushButton>(Main(), "btn_UpdateCode")->click();
  }

  // "N message boxes (first: ...)" for the boxes from index from on, empty when there were none.
  std::string BoxSummary(std::size_t from = 0) const {
    if (Boxes.size() <= from) return {};
    return std::to_string(Boxes.size() - from) + " message boxes (first: \"" + Boxes[from] + "\")";
  }

  std::vector<std::string> Boxes;

 private:
  QTemporaryDir Dir;
  std::string Home;
  MessageBoxHook Previous;
  std::unique_ptr<Windows> Win;
};

}  // namespace bench
