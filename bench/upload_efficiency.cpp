#include <cstring>

#include "bench/BenchSupport.h"

// How close an upload comes to the line rate: bytes cross the line between tool and box no faster
// than the baud rate allows, so the ideal time is what the tool sent times the bits per character
// over the baud rate. Whatever the tool adds (pauses, waits, slow hand-overs) shows as a ratio
// below one. The GUI thread's longest stall is measured over the same upload.
//
// usage: bench_upload_efficiency [--quick] [--box-throttle]
//   --quick         short images, no efficiency target
//   --box-throttle  the box paces the line itself instead of a relay in front of it

namespace {

using namespace bench;

constexpr int kBitsPerChar = 10;  // 8 data bits, no parity, one stop bit, plus the start bit

struct Run {
  int baud;
  std::size_t imageSize;
  double target;  // 0: not judged
};

std::uint64_t BlockBytes(std::size_t imageSize, int block) {
  const std::uint64_t start = std::uint64_t(block) * kBlock;
  if (block < 0 || start >= imageSize) return 0;
  return std::min<std::uint64_t>(kBlock, imageSize - start) + 4;  // the block and its CRC
}

// Everything the tool put on the line since the box's logs were cleared.
std::uint64_t BytesSentByTool(const boxsim::BoxSim& box, std::size_t imageSize) {
  std::uint64_t bytes = 0;
  for (const boxsim::Message& m : box.Messages())
    bytes += m.kind == boxsim::MessageKind::Block ? BlockBytes(imageSize, m.block) : m.bytes.size();
  return bytes;
}

bool Measure(const Run& run, bool boxThrottles) {
  boxsim::BoxSim box;
  if (!box.Start()) {
    std::printf("upload efficiency %d baud: cannot start the box  TARGET MISSED\n", run.baud);
    return false;
  }
  ThrottledLine line;
  if (boxThrottles) {
    box.SetThrottle(run.baud, kBitsPerChar);
  } else if (!line.Start(box.DevicePath(), run.baud, kBitsPerChar)) {
    std::printf("upload efficiency %d baud: cannot set up the line  TARGET MISSED\n", run.baud);
    return false;
  }
  if (std::getenv("BENCH_BOX_EVENTS") != nullptr) {
    const auto t0 = std::chrono::steady_clock::now();
    box.SetEventSink([t0](const std::string& line) {
      std::fprintf(stderr, "%8.3f box: %s\n", Seconds(std::chrono::steady_clock::now() - t0),
                   line.c_str());
    });
  }
  Program program;
  // Shown, so that the status bar and its progress bar paint as they do for a technician.
  program.Main().show();
  if (!program.Connect(boxThrottles ? box.DevicePath() : line.DevicePath(), run.baud)) {
    std::printf("upload efficiency %d baud: no handshake  TARGET MISSED\n", run.baud);
    return false;
  }

  Bytes image(run.imageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = ImageByte(i, 7);
  const std::string path = program.Path("image.bin");
  if (!WriteImageFile(path, image.size(), 7)) {
    std::printf("upload efficiency %d baud: cannot write the image\n", run.baud);
    return false;
  }
  box.SetExpectedImage(image);

  // Whatever was still on its way settles first, so the clock starts on a quiet line.
  RunEventLoopFor(300);
  box.ClearLogs();
  LogReader reader(program.Log());
  program.Main().FlushLog();
  reader.SkipToEnd();

  // What the status bar showed, looked at as a technician would glance at it.
  int progressShown = -1;
  QString rateShown;
  QTimer glance;
  QObject::connect(&glance, &QTimer::timeout, [&] {
    if (!program.Main().bar_Progress->isVisible()) return;
    progressShown = std::max(progressShown, program.Main().bar_Progress->value());
    if (program.Main().lab_Rate->isVisible()) rateShown = program.Main().lab_Rate->text();
  });
  glance.start(100);
  StallMeter stalls;
  stalls.Start();
  const auto start = std::chrono::steady_clock::now();
  program.StartUpload(path);
  const double lineSeconds = static_cast<double>(run.imageSize) * kBitsPerChar / run.baud;
  const int timeoutMs = static_cast<int>(lineSeconds * 2000) + 30000;
  const Program::Ending ending = program.WaitForUploadEnd(reader, timeoutMs, true);
  const double measured = Seconds(std::chrono::steady_clock::now() - start);
  stalls.Stop();
  glance.stop();

  const bool good = ending == Program::Ending::Complete &&
                    box.LastUploadOutcome() == boxsim::UploadOutcome::Accepted &&
                    box.UploadedImage() == image;
  const std::size_t blocks = (run.imageSize + kBlock - 1) / kBlock;
  if (!good) {
    std::printf("upload at %d baud of %zu bytes: %s, box says %s  TARGET MISSED\n", run.baud,
                run.imageSize,
                ending == Program::Ending::Complete ? "complete"
                : ending == Program::Ending::Failed ? "failed"
                                                    : "never ended",
                boxsim::OutcomeName(box.LastUploadOutcome()));
    return false;
  }

  const std::uint64_t sent = BytesSentByTool(box, run.imageSize);
  const double ideal = static_cast<double>(sent) * kBitsPerChar / run.baud;
  const double ratio = ideal / measured;
  std::printf(
      "upload efficiency %d baud: %.3f (ideal %.2f s, measured %.2f s; %llu bytes, %zu "
      "blocks)%s\n",
      run.baud, ratio, ideal, measured, static_cast<unsigned long long>(sent), blocks,
      run.target > 0 ? TargetNote(ratio >= run.target).c_str() : "  (quick run, no target)");
  const double stall = stalls.LongestMs();
  std::printf(
      "longest GUI stall during the upload at %d baud, status bar and progress bar running: "
      "%.0f ms%s\n",
      run.baud, stall, TargetNote(stall < 50).c_str());
  std::printf(
      "  status bar during the upload: progress bar %s, last rate \"%s\"%s\n",
      progressShown < 0 ? "never shown" : ("up to " + std::to_string(progressShown) + "%").c_str(),
      rateShown.toStdString().c_str(), TargetNote(progressShown >= 0).c_str());
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  bool boxThrottles = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--box-throttle") == 0) {
      boxThrottles = true;
    } else {
      std::fprintf(stderr, "usage: %s [--quick] [--box-throttle]\n", argv[0]);
      return 2;
    }
  }
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);

  const std::vector<Run> runs =
      quick ? std::vector<Run>{{115200, kBlock / 8, 0}, {921600, 2 * kBlock + 100, 0}}
            : std::vector<Run>{{115200, 2 * kBlock, 0.99}, {921600, 8 * kBlock, 0.95}};
  for (const Run& run : runs) Measure(run, boxThrottles);
  return 0;
}
