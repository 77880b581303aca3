#include "bench/BenchSupport.h"

// The box prints a megabyte of console lines as fast as the pseudo-terminal takes them. Every
// line must reach the log, in order, and the window must keep answering meanwhile.
//
// usage: bench_console_flood [bytes]   (1000000 by default)

int main(int argc, char** argv) {
  using namespace bench;
  long long floodBytes = 1000000;
  if (argc > 1) floodBytes = std::atoll(argv[1]);
  if (argc > 2 || floodBytes <= 0 || floodBytes > (1ll << 30)) {
    std::fprintf(stderr, "usage: %s [bytes]\n", argv[0]);
    return 2;
  }
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);
  boxsim::BoxSim box;
  if (!box.Start()) {
    std::printf("console flood: cannot start the box  TARGET MISSED\n");
    return 0;
  }
  Program program;
  if (!program.Connect(box.DevicePath())) {
    std::printf("console flood: no handshake  TARGET MISSED\n");
    return 0;
  }
  RunEventLoopFor(300);
  program.Main().FlushLog();
  LogReader reader(program.Log());
  reader.SkipToEnd();

  // Each console line comes back as one log line without its carriage return.
  long long bytesSeen = 0;
  long lines = 0;
  long outOfOrder = 0;
  long strayBytes = 0;
  auto lastNew = std::chrono::steady_clock::now();
  auto see = [&](const QString& text) {
    QString line = text;
    if (line.endsWith('\r')) line.chop(1);
    // Bytes the line buffer held from before the flood end up in front of its first line.
    const qsizetype at = line.indexOf("flood line ");
    if (at > 0) {
      strayBytes += at;
      line = line.mid(at);
    }
    bytesSeen += line.size() + 1;
    if (line.startsWith("flood line ")) {
      bool isNumber = false;
      const long number = line.mid(11, 8).toLong(&isNumber);
      if (isNumber && number != lines) ++outOfOrder;
    }
    ++lines;
    lastNew = std::chrono::steady_clock::now();
  };

  const std::size_t boxesBefore = program.Boxes.size();
  StallMeter stalls;
  stalls.Start();
  const auto start = std::chrono::steady_clock::now();
  box.Flood(static_cast<std::size_t>(floodBytes));
  // Done when every byte is in the log, or when the box has printed everything and the log has
  // not grown for three seconds.
  WaitFor(
      [&] {
        reader.ReadNew(see);
        if (bytesSeen >= floodBytes) return true;
        return std::chrono::steady_clock::now() - lastNew > std::chrono::seconds(3) &&
               box.WaitOutputDone(0);
      },
      180000, 10);
  const auto end = bytesSeen >= floodBytes ? std::chrono::steady_clock::now() : lastNew;
  const double took = Seconds(end - start);
  stalls.Stop();

  if (bytesSeen == floodBytes) {
    std::printf("console flood: %lld bytes, %ld lines in the log in %.2f s (%.0f lines/s)%s\n",
                floodBytes, lines, took, lines / took,
                outOfOrder ? ", lines out of order  TARGET MISSED" : ", all in order");
  } else {
    std::printf(
        "console flood: %lld of %lld bytes (%ld lines) reached the log in %.2f s  "
        "TARGET MISSED\n",
        bytesSeen, floodBytes, lines, took);
  }
  if (program.Boxes.size() > boxesBefore)
    std::printf("console flood: %s  TARGET MISSED\n", program.BoxSummary(boxesBefore).c_str());
  if (strayBytes > 0)
    std::printf("note: %ld bytes from before the flood stood in front of its first line\n",
                strayBytes);
  const double stall = stalls.LongestMs();
  std::printf("longest GUI stall during the flood: %.0f ms%s\n", stall,
              TargetNote(stall < 100).c_str());
  return 0;
}
