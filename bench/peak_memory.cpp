#include "bench/BenchSupport.h"

// The program's memory during the upload of a large image, against its memory when idle after
// connecting: only the block being answered should be held, never the image. The box runs in a
// child process, so its copy of the image is not counted.
//
// usage: bench_peak_memory [MiB]   (16 by default)

int main(int argc, char** argv) {
  using namespace bench;
  long mib = 16;
  if (argc > 1) mib = std::atol(argv[1]);
  if (argc > 2 || mib <= 0 || mib > 60) {
    std::fprintf(stderr, "usage: %s [MiB, 1 to 60]\n", argv[0]);
    return 2;
  }
  RemoteBox box;
  if (!box.Start()) {
    std::printf("peak memory: cannot start the box  TARGET MISSED\n");
    return 0;
  }
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);
  Program program;
  if (!program.Connect(box.Device)) {
    std::printf("peak memory: no handshake  TARGET MISSED\n");
    return 0;
  }
  const std::string path = program.Path("image.bin");
  const std::uint64_t size = static_cast<std::uint64_t>(mib) << 20;
  if (!WriteImageFile(path, size, 3) || !box.Expect(path)) {
    std::printf("peak memory: cannot write the image\n");
    return 0;
  }
  // Idle: connected, the log drawn, nothing moving.
  RunEventLoopFor(1000);
  const long idle = StatusKiB("VmRSS");

  const bool peakReset = ResetPeakRss();
  RssSampler sampler;
  LogReader reader(program.Log());
  reader.SkipToEnd();
  const auto start = std::chrono::steady_clock::now();
  program.StartUpload(path);
  const Program::Ending ending = program.WaitForUploadEnd(reader, 300000, false);
  const double took = Seconds(std::chrono::steady_clock::now() - start);
  const long sampled = sampler.Stop();
  const long hwm = peakReset ? StatusKiB("VmHWM") : -1;
  const long peak = std::max(hwm, sampled);

  std::string why;
  const bool good = ending == Program::Ending::Complete && box.LastUploadGood(&why);
  std::printf("upload of %ld MiB: %s in %.1f s%s\n", mib,
              good ? "complete, byte for byte" : ("FAILED (" + why + ")").c_str(), took,
              TargetNote(good).c_str());
  std::printf("memory idle after connecting: %.1f MiB\n", MiB(idle));
  std::printf("peak memory during the upload: %.1f MiB (%s), %+.1f MiB over idle%s\n", MiB(peak),
              peakReset ? "VmHWM since reset, and sampled every 2 ms" : "sampled every 2 ms",
              MiB(peak - idle), TargetNote(peak <= idle + 4 * 1024).c_str());
  return 0;
}
