#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/CliOptions.h"
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
  const ParseResult parsed = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
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

  if (options.Cmd == Command::Upload) {
    std::error_code error;
    const auto status = std::filesystem::status(options.Image, error);
    std::FILE* image = std::fopen(options.Image.c_str(), "rb");
    const bool readable = image != nullptr && std::filesystem::is_regular_file(status);
    const std::string why = image == nullptr ? std::strerror(errno) : "not a regular file";
    if (image != nullptr) std::fclose(image);
    if (!readable) {
      std::fprintf(stderr, "kelvarin-cli: open file error: %s: %s\n", options.Image.c_str(),
                   why.c_str());
      return ExitStatus::Usage;
    }
  }

  WatchStopRequests([] {
    StopRequested = true;
    NudgeStation();
  });
  return RunStation(options, plan.Requests, IsTerminal(ConsoleStream::Out), StopRequested, stdout,
                    stderr);
}
