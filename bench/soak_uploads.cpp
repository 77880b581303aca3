#include "bench/BenchSupport.h"

// Many uploads of a multi-block image in a row, each checked byte for byte by the box: the
// program must not drift, and its memory at the end must be no higher than after the first few
// uploads. The log is emptied after every upload, since its growth is wanted and no leak. The box
// runs in a child process so that only the program's memory is counted.
//
// usage: bench_soak_uploads [count]   (200 by default)

int main(int argc, char** argv) {
  using namespace bench;
  int count = 200;
  if (argc > 1) count = std::atoi(argv[1]);
  if (argc > 2 || count < 1) {
    std::fprintf(stderr, "usage: %s [count]\n", argv[0]);
    return 2;
  }
  constexpr int kSettled = 10;
  constexpr long kNoiseKiB = 1024;
  const std::uint64_t imageSize = 3 * kBlock + 123;

  RemoteBox box;
  if (!box.Start()) {
    std::printf("soak: cannot start the box  TARGET MISSED\n");
    return 0;
  }
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);
  Program program;
  if (!program.Connect(box.Device)) {
    std::printf("soak: no handshake  TARGET MISSED\n");
    return 0;
  }
  const std::string path = program.Path("image.bin");
  if (!WriteImageFile(path, imageSize, 5) || !box.Expect(path)) {
    std::printf("soak: cannot write the image\n");
    return 0;
  }

  int good = 0;
  long afterSettled = -1;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= count; ++i) {
    box.ClearLogs();
    program.Log().clear();
    LogReader reader(program.Log());
    program.StartUpload(path);
    const Program::Ending ending = program.WaitForUploadEnd(reader, 60000, false);
    std::string why;
    if (ending == Program::Ending::Complete && box.LastUploadGood(&why)) {
      ++good;
    } else {
      std::printf("soak: upload %d %s (box: %s)\n", i,
                  ending == Program::Ending::Complete ? "complete but wrong"
                  : ending == Program::Ending::Failed ? "failed"
                                                      : "never ended",
                  why.c_str());
    }
    program.ReleaseUploadButton();
    if (i == kSettled) afterSettled = StatusKiB("VmRSS");
  }
  const double took = Seconds(std::chrono::steady_clock::now() - start);
  program.Log().clear();
  const long atEnd = StatusKiB("VmRSS");

  std::printf(
      "soak: %d of %d uploads good, byte for byte (%llu bytes each), %.1f s (%.2f s each)%s\n",
      good, count, static_cast<unsigned long long>(imageSize), took, took / count,
      TargetNote(good == count).c_str());
  if (afterSettled >= 0) {
    std::printf("memory after upload %d: %.1f MiB; after upload %d: %.1f MiB (%+.2f MiB)%s\n",
                kSettled, MiB(afterSettled), count, MiB(atEnd), MiB(atEnd - afterSettled),
                TargetNote(atEnd <= afterSettled + kNoiseKiB).c_str());
  } else {
    std::printf("memory after upload %d: %.1f MiB (too few uploads to compare)\n", count,
                MiB(atEnd));
  }
  return 0;
}
