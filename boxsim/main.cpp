#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BoxSim.h"
#include "KelvarinVersion.h"

namespace {

void Usage(FILE* out) {
  std::fputs("usage: kelvarin-boxsim [--link PATH] [--baud N] [--help] [--version]\n", out);
}

}  // namespace

int main(int argc, char** argv) {
  boxsim::BoxOptions options;
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
    std::fprintf(stderr, "kelvarin-boxsim: can't create the pseudo-terminal%s%s: %s\n",
                 options.linkPath.empty() ? "" : " or the link ", options.linkPath.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::printf("device: %s\n", box.DevicePath().c_str());
  if (!options.linkPath.empty()) std::printf("link: %s\n", options.linkPath.c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&signals, &received);
  box.Stop();
  return 0;
}
