#include <pthread.h>

#include <cctype>
#include <cerrno>
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
      "usage: kelvarin-boxsim [--link PATH | --device PATH] [--baud N]\n"
      "                       [--save-flash FILE] [--save-upload FILE]\n"
      "                       [--flood-stop-sync MS] [--ok-after-blocks N]\n"
      "                       [--request-noise MS] [--greeting TEXT]\n"
      "                       [--upload-address HEX] [--app-seconds N]\n"
      "                       [--double WORD]...\n"
      "       kelvarin-boxsim --help | --version\n"
      "Plays a set-top box's boot loader on a pseudo-terminal, for trying kelvarin and\n"
      "kelvarin-cli without hardware. Prints the device (and the link), then logs what\n"
      "the box receives and answers on standard error until SIGINT or SIGTERM. SIGUSR1\n"
      "cycles its power: the loader starts again, the flash stays as it is.\n"
      "\n"
      "  --link PATH           also make a symbolic link at PATH to the device; a\n"
      "                        link that another kelvarin-boxsim holds is refused\n"
      "  --device PATH         play the box on that terminal (made by another\n"
      "                        program, such as a virtual machine's serial line)\n"
      "                        instead of a new pseudo-terminal\n"
      "  --baud N              pace the line to N baud both ways (0: as fast as it\n"
      "                        goes)\n"
      "  --save-flash FILE     write the box's flash as it starts (what a read is\n"
      "                        served from)\n"
      "  --save-upload FILE    write the last uploaded image when the box is stopped\n"
      "  --upload-address HEX  where an accepted image goes in the flash (default 0),\n"
      "                        so that verify and read find it there\n"
      "  --app-seconds N       after run-app the application runs and the loader\n"
      "                        answers nothing; it returns after N seconds (default:\n"
      "                        only at a reboot or a power cycle, SIGUSR1)\n"
      "A box that misbehaves:\n"
      "  --flood-stop-sync MS  send the stop-sync word every MS milliseconds,\n"
      "                        whatever goes on\n"
      "  --ok-after-blocks N   report an upload OK after N blocks, without asking\n"
      "                        for the rest\n"
      "  --request-noise MS    send noise that begins like a frame (BB 22 21 BA 31\n"
      "                        30) before every block request, then wait MS\n"
      "                        milliseconds\n"
      "  --greeting TEXT       print TEXT each time it answers the sync word; \\xNN\n"
      "                        in TEXT is the byte NN, so escape sequences and zero\n"
      "                        bytes can be sent\n"
      "  --double WORD         send the status word WORD (hexadecimal, BB12219A for\n"
      "                        ERASE OK) twice, the copy right behind it; may be\n"
      "                        given for several words\n"
      "  -h, --help            print this help and exit\n"
      "  --version             print the version and exit\n",
      out);
}

bool Number(const char* text, long low, long high, long& value, int base = 10) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, base);
  return *text != '\0' && *end == '\0' && errno == 0 && value >= low && value <= high;
}

// TEXT with each \xNN turned into the byte NN.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
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
  long floodMs = 0;
  long okAfter = -1;
  long noiseMs = -1;
  long uploadAddress = 0;
  long appSeconds = 0;
  std::string greeting;
  std::vector<std::uint32_t> doubled;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto number = [&](long low, long high, long& value, int base = 10) {
      if (Number(argv[++i], low, high, value, base)) return true;
      std::fprintf(stderr, "kelvarin-boxsim: bad %s: %s\n", arg.c_str(), argv[i]);
      return false;
    };
    if (arg == "--link" && i + 1 < argc) {
      options.linkPath = argv[++i];
    } else if (arg == "--device" && i + 1 < argc) {
      options.devicePath = argv[++i];
    } else if (arg == "--baud" && i + 1 < argc) {
      long baud = 0;
      if (!number(0, 100000000, baud)) return 2;
      options.baud = static_cast<int>(baud);
    } else if (arg == "--flood-stop-sync" && i + 1 < argc) {
      if (!number(1, 3600000, floodMs)) return 2;
    } else if (arg == "--ok-after-blocks" && i + 1 < argc) {
      if (!number(0, 100000, okAfter)) return 2;
    } else if (arg == "--request-noise" && i + 1 < argc) {
      if (!number(0, 60000, noiseMs)) return 2;
    } else if (arg == "--upload-address" && i + 1 < argc) {
      if (!number(0, 0xFFFFFFFFL, uploadAddress, 16)) return 2;
    } else if (arg == "--app-seconds" && i + 1 < argc) {
      if (!number(0, 86400, appSeconds)) return 2;
    } else if (arg == "--double" && i + 1 < argc) {
      long word = 0;
      if (!number(0xBB000000L, 0xBBFFFFFFL, word, 16)) return 2;
      doubled.push_back(static_cast<std::uint32_t>(word));
    } else if (arg == "--greeting" && i + 1 < argc) {
      greeting = Unescape(argv[++i]);
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
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  boxsim::BoxSim box(options);
  box.SetStopSyncFlood(static_cast<int>(floodMs));
  box.SetOkAfterBlocks(static_cast<int>(okAfter));
  if (noiseMs >= 0)
    box.SetRequestNoise({0xBB, 0x22, 0x21, 0xBA, 0x31, 0x30}, static_cast<int>(noiseMs));
  box.SetGreeting(greeting);
  box.SetDoubledWords(doubled);
  box.SetUploadAddress(static_cast<std::uint32_t>(uploadAddress));
  box.SetAppSeconds(static_cast<int>(appSeconds));
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
  // SIGUSR1 is the power switch: off and on again, as a technician does with a box that runs
  // its application and no longer listens to the loader protocol.
  while (sigwait(&signals, &received) == 0 && received == SIGUSR1) box.PowerCycle();
  box.Stop();
  if (!uploadFile.empty() && !Save(uploadFile, box.UploadedImage())) {
    std::fprintf(stderr, "kelvarin-boxsim: can't write %s\n", uploadFile.c_str());
    return 1;
  }
  return 0;
}
