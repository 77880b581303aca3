#include <cstring>

#include "bench/BenchSupport.h"

// How close a flash read-back comes to the line rate. The box answers each 4096-byte request
// with 8204 bytes of hexadecimal text, and only one request is ever out, so every block costs
// its line time plus the turn: from the block's last byte reaching the program to the next
// request leaving it. Both are taken at the relay that paces the line, so the program is not
// disturbed by the measuring. With an adapter's latency the box's bytes reach the program that
// much later; one request in flight then allows about line / (line + latency).
//
// usage: bench_readback_efficiency [--quick]
//   --quick  fewer blocks, no targets

namespace {

using namespace bench;

constexpr int kBitsPerChar = 10;
constexpr std::size_t kReadBlock = 4096;
constexpr std::size_t kReplyBytes = 4 + 2 * kReadBlock + 8;  // word, hex text, CRC

struct Run {
  int baud;
  int latencyMs;
  int blocks;
  double target;  // 0: not judged
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

void Measure(const Run& run, bool judge) {
  const std::string name =
      std::to_string(run.baud) + " baud, " + std::to_string(run.latencyMs) + " ms adapter latency";
  boxsim::BoxSim box;
  if (!box.Start()) {
    std::printf("read-back %s: cannot start the box  TARGET MISSED\n", name.c_str());
    return;
  }
  ThrottledLine line;
  if (!line.Start(box.DevicePath(), run.baud, kBitsPerChar, run.latencyMs)) {
    std::printf("read-back %s: cannot set up the line  TARGET MISSED\n", name.c_str());
    return;
  }
  Program program;
  program.Main().show();
  if (!program.Connect(line.DevicePath(), run.baud)) {
    std::printf("read-back %s: no handshake  TARGET MISSED\n", name.c_str());
    return;
  }
  RunEventLoopFor(300);
  line.ClearCrossings();

  const std::uint32_t size = static_cast<std::uint32_t>(run.blocks * kReadBlock);
  const std::string file = program.Path("flashdata.bin");
  std::remove(file.c_str());
  QWidget& dialog = program.All().Form_EraseFlash;
  dialog.findChild<QLineEdit*>("Edt_StartAddr")->setText("0");
  dialog.findChild<QLineEdit*>("Edt_Offset")->setText(QString::number(size, 16));
  dialog.findChild<QPushButton*>("Btn_ReadFlash")->click();
  const double lineSeconds =
      static_cast<double>(run.blocks * kReplyBytes) * kBitsPerChar / run.baud;
  // Looked at rarely, so that the looking costs the program nothing worth counting.
  const bool ended = WaitFor(
      [&] { return program.Main().core().Progress().What == Core::WorkProgress::Job::None; },
      static_cast<int>(lineSeconds * 3000) + 20000, 50);
  const auto flash = box.Flash();
  const auto got = ReadWholeFile(file);
  if (!ended || !got || got->size() != size ||
      !std::equal(got->begin(), got->end(), flash.begin())) {
    std::printf("read-back %s: %s  TARGET MISSED\n", name.c_str(),
                !ended ? "never ended" : "flashdata.bin is not the box's flash");
    return;
  }

  // Requests are the program's only bytes on the line; everything else is the box's text.
  // Besides its line time and the adapter's latency a block takes: its request on the line and
  // the box's answer, pauses in the box's text, the relay's own lateness in handing the last
  // bytes on, and the program's turn.
  using Ms = std::chrono::duration<double, std::milli>;
  std::vector<ThrottledLine::Clock::time_point> requests;
  std::vector<double> turnsMs;
  std::vector<double> answersMs;  // from a request's last byte reaching the box to its answer
  const auto requestLine = std::chrono::duration<double>(16.0 * kBitsPerChar / run.baud);
  const Ms byteTime(1000.0 * kBitsPerChar / run.baud);
  bool answerDue = false;
  ThrottledLine::Clock::time_point lastToTool{};
  ThrottledLine::Clock::time_point firstRequest{};
  ThrottledLine::Clock::time_point lineFree{};  // when the box's bytes taken so far have crossed
  double askedMs = 0, pausesMs = 0, lateMs = 0, lastLateMs = 0;
  std::size_t hexBytes = 0;
  for (const ThrottledLine::Crossing& c : line.Crossings()) {
    if (c.toTool) {
      if (requests.empty()) continue;
      if (answerDue) {
        answersMs.push_back(Ms(c.taken - requests.back() - requestLine).count());
        askedMs += Ms(c.taken - requests.back()).count();
        lineFree = c.taken;
      }
      pausesMs += std::max(Ms(c.taken - lineFree).count(), 0.0);
      lineFree = std::max(lineFree, c.taken) +
                 std::chrono::duration_cast<ThrottledLine::Clock::duration>(byteTime * c.bytes);
      lastLateMs = Ms(c.at - lineFree).count() - run.latencyMs;
      answerDue = false;
      lastToTool = c.at;
      hexBytes += c.bytes;
      continue;
    }
    if (requests.empty()) firstRequest = c.at;
    if (!requests.empty() && lastToTool > requests.back()) {
      turnsMs.push_back(Ms(c.at - lastToTool).count());
      lateMs += lastLateMs;
    }
    requests.push_back(c.at);
    answerDue = true;
  }
  lateMs += lastLateMs;
  const double measured = Seconds(lastToTool - firstRequest);
  const double ideal = static_cast<double>(hexBytes) * kBitsPerChar / run.baud;
  const double efficiency = measured > 0 ? ideal / measured : 0;
  const double turn = Median(turnsMs);
  const bool judged = judge && run.target > 0;
  std::printf("read-back efficiency %s: %.3f (ideal %.2f s, measured %.2f s; %d blocks)%s\n",
              name.c_str(), efficiency, ideal, measured, run.blocks,
              judged ? TargetNote(efficiency >= run.target).c_str() : "");
  std::printf(
      "  turn from a block's last byte to the next request: median %.2f ms, 90%% %.2f ms, "
      "longest %.2f ms (%zu turns)%s\n",
      turn, Percentile(turnsMs, 0.9), Percentile(turnsMs, 1.0), turnsMs.size(),
      judge ? TargetNote(turn <= 1.5).c_str() : "");
  std::printf(
      "  the box's answer, from a request's last byte to its reply's first: median %.2f ms\n",
      Median(answersMs));
  const double blocks = std::max<double>(1, static_cast<double>(requests.size()));
  double turnsSum = 0;
  for (double t : turnsMs) turnsSum += t;
  std::printf(
      "  a block beyond its line time and latency, mean: request and answer %.3f ms, pauses in "
      "the box's text %.3f ms, the relay's lateness %.3f ms, the program's turn %.3f ms\n",
      askedMs / blocks, pausesMs / blocks, lateMs / blocks,
      turnsMs.empty() ? 0 : turnsSum / static_cast<double>(turnsMs.size()));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else {
      std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
      return 2;
    }
  }
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);
  // Each 921600 run is 64 blocks, as the turn was first measured; at 115200 a block takes 0.7 s on
  // the line, and 16 of them tell the turn as well.
  const int fast = quick ? 8 : 64;
  const int slow = quick ? 4 : 16;
  const std::vector<Run> runs = {{115200, 0, slow, 0},
                                 {115200, 16, slow, 0},
                                 {921600, 0, fast, 0.975},
                                 {921600, 16, fast, 0.84}};
  for (const Run& run : runs) Measure(run, !quick);
  return 0;
}
