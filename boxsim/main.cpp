#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "boxsim/BoxSim.h"
#include "version/KelvarinVersion.h"

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage: kelvarin-boxsim [--link PATH] [--baud N] [--save-flash FILE]\n"
      "                       [--save-upload FILE]\n"
      "       kelvarin-boxsim --help | --version\n"
      "Plays a set-top box's boot loader on a pseudo-terminal, for trying kelvarin and\n"
      "kelvarin-cli without hardware. Prints the device (and the link), then logs what\n"
      "the box receives and answers on standard error until SIGINT or SIGTERM.\n"
      "\n"
      "  --link PATH         also make a symbolic link at PATH to the device; a link\n"
      "                      that another kelvarin-boxsim holds is refused\n"
      "  --baud N            pace the line to N baud both ways (0: as fast as it goes)\n"
      "  --save-flash FILE   write the box's flash as it starts (what a read is served\n"
      "                      from)\n"
      "  --save-upload FILE  write the last uploaded image when the box is stopped\n"
      "  -h, --help          print this help and exit\n"
      "  --version           print the version and exit\n",
      out);
}

bool Save(const std::string& path, const boxsim::Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  boxsim::BoxOptions options;
  std::string flashFile;
  std::string uploadFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--link" && i + 1 < argc) {
      options.linkPath = argv[++i];
    } else if (arg == "--baud" && i + 1 < argc) {
      char* end = nullptr;
      const long baud = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || baud < 0 || baud > 100000000) {
        std::fprintf(stderr, "kelvarin-boxsim: bad baud rate %s\n", argv[i]);
        return 2;
      }
      options.baud = static_cast<int>(baud);
    } else if (arg == "--save-flash" && i + 1 < argc) {
      flashFile = argv[++i];
    } else if (arg == "--save-upload" && i + 1 < argc) {
      uploadFile = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("kelvarin-boxsim %s\n", KELVARIN_VERSION);
      return 0;
    } else {
      Usage(stderr);
      return 2;
    }
  }

  // The loader thread inherits this mask, so the signals reach sigwait below and nowhere else.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  boxsim::BoxSim box(options);
  box.SetEventSink([](const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  });
  if (!box.Start()) {
    std::fprintf(stderr, "kelvarin-boxsim: %s\n", box.StartProblem().c_str());
    return 1;
  }
  if (!flashFile.empty() && !Save(flashFile, box.Flash())) {
    std::fprintf(stderr, "kelvarin-boxsim: can't write %s\n", flashFile.c_str());
    return 1;
  }
  std::printf("device: %s\n", box.DevicePath().c_str());
  if (!options.linkPath.empty()) std::printf("link: %s\n", options.linkPath.c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&signals, &received);
  box.Stop();
  if (!uploadFile.empty() && !Save(uploadFile, box.UploadedImage())) {
    std::fprintf(stderr, "kelvarin-boxsim: can't write %s\n", uploadFile.c_str());
    return 1;
  }
  return 0;
}
