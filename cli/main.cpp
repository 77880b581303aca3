#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/ReadTarget.h"
#include "cli/StationRun.h"
#include "link/UartConfig.h"
#include "platform/Console.h"
#include "version/KelvarinVersion.h"

namespace {

int UsageError(const std::string& why) {
  std::fprintf(stderr, "kelvarin-cli: %s\nTry 'kelvarin-cli --help'.\n", why.c_str());
  return ExitStatus::Usage;
}

std::atomic<bool> StopRequested{false};

}  // namespace

int main(int argc, char** argv) {
  ShowUtf8OnConsole();
  const ParseResult parsed = ParseArguments(ProgramArguments(argc, argv));
  const CliOptions& options = parsed.Options;
  if (!parsed.Error.empty()) return UsageError(parsed.Error);
  if (options.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return ExitStatus::Ok;
  }
  if (options.Version) {
    std::printf("kelvarin-cli %s\n", KELVARIN_VERSION);
    return ExitStatus::Ok;
  }

  const std::string configPath = options.ConfigGiven ? options.ConfigFile : "config.cfg";
  std::string configLine;
  const bool configReadable = ReadConfigFile(configPath, configLine);
  if (options.ConfigGiven && !configReadable)
    return UsageError("can't read the settings file " + configPath);
  const PortPlan plan = PlanPorts(options, configReadable, configLine);
  if (!plan.Error.empty()) return UsageError(plan.Error);

  std::shared_ptr<const UploadImage> image;
  if (options.Cmd == Command::Upload) {
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
  return RunStation(options, plan.Requests, image, IsTerminal(ConsoleStream::Out), StopRequested,
                    stdout, stderr);
}
