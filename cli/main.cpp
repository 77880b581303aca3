#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/PortList.h"
#include "cli/ReadTarget.h"
#include "cli/StationRun.h"
#include "link/UartConfig.h"
#include "platform/Console.h"
#include "platform/PortScan.h"
#include "version/KelvarinVersion.h"

namespace {

int UsageError(const std::string& why) {
  std::fprintf(stderr, "kelvarin-cli: %s\nTry 'kelvarin-cli --help'.\n", why.c_str());
  return ExitStatus::Usage;
}

std::atomic<bool> StopRequested{false};

int ListPorts(const CliOptions& options) {
  // Tests point the program at a made-up machine: a folder with dev/, sys/ and proc/.
  const char* root = std::getenv("KELVARIN_DEVICE_ROOT");
  const std::vector<ListedPort> ports = ListSerialPorts(root && *root ? root : "/");
  std::fputs(PortListText(ports, options.Json).c_str(), stdout);
  if (ports.empty() && options.Level != Verbosity::Quiet)
    std::fputs("no serial port found\n", stderr);
  return ExitStatus::Ok;
}

}  // namespace

int main(int argc, char** argv) {
  ShowUtf8OnConsole();
  const ParseResult parsed = ParseArguments(ProgramArguments(argc, argv));
  const CliOptions& options = parsed.Options;
  if (!parsed.Error.empty()) return UsageError(parsed.Error);
  if (options.Cmd == Command::Help) {
    std::fputs(HelpText(options.HelpTopic).c_str(), stdout);
    return ExitStatus::Ok;
  }
  if (options.Version) {
    std::printf("kelvarin-cli %s\n", KELVARIN_VERSION);
    return ExitStatus::Ok;
  }
  if (options.Cmd == Command::Ports) return ListPorts(options);

  const std::string configPath = options.ConfigGiven ? options.ConfigFile : "config.cfg";
  std::string configLine;
  const bool configReadable = ReadConfigFile(configPath, configLine);
  if (options.ConfigGiven && !configReadable)
    return UsageError("can't read the settings file " + configPath);
  const PortPlan plan = PlanPorts(options, configReadable, configLine);
  if (!plan.Error.empty()) return UsageError(plan.Error);

  std::shared_ptr<const UploadImage> image;
  if (options.Cmd == Command::Upload || options.Cmd == Command::Verify) {
    // Taken once for every port and box: a file replaced or deleted later changes nothing, and
    // one written to is noticed before a block of it goes out.
    std::string why;
    image = OpenUploadImage(options.Image, why);
    if (image == nullptr) {
      std::fprintf(stderr, "kelvarin-cli: open file error: %s: %s\n", options.Image.c_str(),
                   why.c_str());
      return ExitStatus::Usage;
    }
    if (image->Stamp.Size == 0) {
      std::fprintf(stderr, "kelvarin-cli: empty image: %s\n", options.Image.c_str());
      return ExitStatus::Usage;
    }
    if (options.Cmd == Command::Verify && options.Start + image->Stamp.Size > 0x100000000ull)
      return UsageError("the image from START reaches past the last flash address: " +
                        options.Image);
  }
  if (options.Cmd == Command::Read) {
    // Whatever keeps the read from being written is found before anything is sent.
    const bool several = plan.Requests.size() > 1;
    for (const PortRequest& request : plan.Requests) {
      std::string file = ReadFileFor(options.OutFile, request.Name, several);
      if (options.Repeat) file = BoxFileName(file, 1);
      const std::string why = ReadTargetProblem(file);
      if (!why.empty()) {
        std::fprintf(stderr, "kelvarin-cli: can't write %s: %s\n", file.c_str(), why.c_str());
        return ExitStatus::Usage;
      }
    }
  }

  KeepRunningWhenOutputCloses();
  WatchStopRequests([] {
    // A second request is an operator who will not wait for the ports to be put back.
    if (StopRequested.exchange(true)) std::_Exit(ExitStatus::Interrupted);
    NudgeStation();
  });
  // A terminal that does not tell its width is taken to have the usual 80 columns.
  const int columns =
      IsTerminal(ConsoleStream::Err)
          ? (TerminalColumns(ConsoleStream::Err) > 0 ? TerminalColumns(ConsoleStream::Err) : 80)
          : 0;
  return RunStation(options, plan.Requests, image, columns, StopRequested, stdout, stderr);
}
