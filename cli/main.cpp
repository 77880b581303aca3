#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/JobFile.h"
#include "cli/PortJob.h"
#include "cli/PortList.h"
#include "cli/ReadTarget.h"
#include "cli/StationRun.h"
#include "link/UartConfig.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/PortScan.h"
#include "platform/Station.h"
#include "production/RecordFollow.h"
#include "production/RecordStore.h"
#include "production/Recorder.h"
#include "production/Sha256.h"
#include "version/KelvarinVersion.h"

namespace {

// A command line that asks for something wrong: the help is where to look.
int UsageError(const std::string& why) {
  std::fprintf(stderr, "kelvarin-cli: %s\nTry 'kelvarin-cli --help'.\n", why.c_str());
  return ExitStatus::Usage;
}

// A right command line that cannot be carried out as it stands: a file, the record, a job.
int Refuse(const std::string& why) {
  std::fprintf(stderr, "kelvarin-cli: %s\n", why.c_str());
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

std::string RecordPlace(const CliOptions& options) {
  return options.RecordWhere.empty() ? DefaultRecordFile() : options.RecordWhere;
}

// A server's address that cannot be read is refused before anything is done, in words that
// never quote it: it may hold a password.
std::string RecordPlaceProblem(const std::string& where) {
  if (!NamesServer(where)) return {};
  const std::string problem = ServerAddressProblem(where);
  return problem.empty() ? problem : "--record: " + problem;
}

// A record is kept unless turned off, or when this build or this user has no place for it.
bool WillRecord(const CliOptions& options) {
  if (options.NoRecord) return false;
  if (!options.RecordWhere.empty()) return true;
  return RecordAvailable() && !DefaultRecordFile().empty();
}

std::string RowText(const BoxRecord& row, const CliOptions& options) {
  if (options.Json) return RowJson(row) + "\n";
  if (options.Csv) return RowCsv(row) + "\n";
  return row.Started + "  " + row.Port + (row.Label.empty() ? "" : "  " + row.Label) + "  " +
         row.Result + (row.Image.empty() ? "" : "  " + row.Image) +
         (row.Why.empty() ? "" : "  " + row.Why) + "\n";
}

// Each box as it ends, until the operator stops it: a record that cannot be read now (a server
// restarting) is said once and tried again.
int FollowRecord(const CliOptions& options, std::unique_ptr<RecordStore> store,
                 const RecordFilter& filter) {
  WatchStopRequests([] { StopRequested = true; });
  KeepRunningWhenOutputCloses();
  const std::string name = store->Name();
  RecordFollow follow(std::move(store), filter);
  const bool quiet = options.Level == Verbosity::Quiet;
  if (!quiet) std::fprintf(stderr, "kelvarin-cli: following %s; Ctrl+C ends\n", name.c_str());
  if (options.Csv) std::printf("%s\n", CsvHeader().c_str());
  std::fflush(stdout);
  std::string down;
  while (!StopRequested) {
    std::vector<BoxRecord> ended;
    std::string why;
    const bool read = follow.Next(ended, why);
    if (!read && why != down && !quiet)
      std::fprintf(stderr, "kelvarin-cli: record: %s; trying again\n", why.c_str());
    if (read && !down.empty() && !quiet)
      std::fprintf(stderr, "kelvarin-cli: record: %s can be read again\n", name.c_str());
    down = read ? std::string() : why;
    for (const BoxRecord& row : ended) std::fputs(RowText(row, options).c_str(), stdout);
    // A reader that has gone (a pipe closed) ends the follow.
    if (std::fflush(stdout) != 0) return ExitStatus::Ok;
    // The file's commits and the server's notices are looked at often enough to be shown within
    // a second; a record that cannot be read now is tried again less often.
    const auto pause = read ? std::chrono::milliseconds(200) : std::chrono::milliseconds(2000);
    for (auto waited = std::chrono::milliseconds(0); waited < pause && !StopRequested;
         waited += std::chrono::milliseconds(50))
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ExitStatus::Ok;
}

int PrintRecord(const CliOptions& options) {
  const std::string where = RecordPlace(options);
  if (where.empty()) return UsageError("no record: give --record");
  if (const std::string problem = RecordPlaceProblem(where); !problem.empty())
    return Refuse(problem);
  // Reading makes nothing: a mistyped name is no empty record.
  std::error_code error;
  if (!NamesServer(where) && !std::filesystem::exists(where, error))
    return Refuse("no record at " + where);
  std::unique_ptr<RecordStore> store;
  if (NamesServer(where))
    store = PostgresRecord(where);
  else
    store = SqliteRecord(where);
  std::string why;
  RecordFilter filter;
  filter.Since = options.Since;
  // Rows name the port as it was opened; those of an earlier kelvarin-cli as it was typed.
  if (!options.Ports.empty()) {
    filter.Port = RecordedPort(options.Ports.front());
    filter.PortAsTyped = options.Ports.front();
  }
  filter.FailedOnly = options.FailedOnly;
  filter.Label = options.Label;
  if (options.Follow) return FollowRecord(options, std::move(store), filter);
  std::vector<BoxRecord> rows;
  if (!store->Open(why) || !store->Rows(filter, !options.Summary, rows, why)) {
    std::fprintf(stderr, "kelvarin-cli: can't read the record: %s\n", why.c_str());
    return ExitStatus::Usage;
  }
  std::string text;
  if (options.Summary) {
    text = SummaryText(rows);
  } else {
    if (options.Csv) text = CsvHeader() + "\n";
    for (const BoxRecord& row : rows) text += RowText(row, options);
  }
  std::fputs(text.c_str(), stdout);
  return ExitStatus::Ok;
}

}  // namespace

int main(int argc, char** argv) {
  ShowUtf8OnConsole();
  const ParseResult parsed = ParseArguments(ProgramArguments(argc, argv));
  CliOptions options = parsed.Options;
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
  if (options.Cmd == Command::Record) return PrintRecord(options);
  const bool recording = WillRecord(options);
  if (const std::string problem = recording ? RecordPlaceProblem(RecordPlace(options)) : "";
      !problem.empty())
    return Refuse(problem);
  if (options.Cmd == Command::Job) {
    const std::string why = LoadJob(options.JobFile, options);
    if (!why.empty()) return Refuse("bad job: " + why);
    if (recording) AskVersionFirst(options);
  }

  const std::string configPath = options.ConfigGiven ? options.ConfigFile : "config.cfg";
  std::string configLine;
  const bool configReadable = ReadConfigFile(configPath, configLine);
  if (options.ConfigGiven && !configReadable)
    return Refuse("can't read the settings file " + configPath);
  const PortPlan plan = PlanPorts(options, configReadable, configLine);
  if (!plan.Error.empty()) return UsageError(plan.Error);

  // Every image is taken once for every port and box, and once for every step that names it: a
  // file replaced or deleted later changes nothing, and one written to is noticed before a block
  // of it goes out.
  std::vector<StepImage> images;
  std::map<std::string, std::size_t> firstStep;  // an image's name: the step that took it
  for (const CliOptions* step : StepsOf(options)) {
    StepImage taken;
    if (step->Cmd == Command::Upload || step->Cmd == Command::Verify) {
      std::string why;
      const auto [first, isFirst] = firstStep.try_emplace(step->Image, images.size());
      if (isFirst)
        taken.Image = OpenUploadImage(step->Image, why);
      else
        taken = images[first->second];
      // A job's step is named by its line.
      const std::string where = step->StepLine > 0 ? "bad job: " + options.JobFile + ":" +
                                                         std::to_string(step->StepLine) + ": "
                                                   : std::string();
      if (taken.Image == nullptr)
        return Refuse(where + "open file error: " + step->Image + ": " + why);
      if (taken.Image->Stamp.Size == 0) return Refuse(where + "empty image: " + step->Image);
      if (step->Cmd == Command::Verify && step->Start + taken.Image->Stamp.Size > 0x100000000ull)
        return Refuse(where +
                      "the image from START reaches past the last flash address: " + step->Image);
      if (recording && taken.Sha256.empty())
        taken.Sha256 = Sha256OfFile(taken.Image->File.get(), taken.Image->Stamp.Size);
    }
    images.push_back(std::move(taken));
  }
  if (options.Cmd == Command::Read) {
    // Whatever keeps the read from being written is found before anything is sent.
    const bool several = plan.Requests.size() > 1;
    for (const PortRequest& request : plan.Requests) {
      std::string file = ReadFileFor(options.OutFile, request.Name, several);
      if (options.Repeat) file = BoxFileName(file, 1);
      const std::string why = ReadTargetProblem(file);
      if (!why.empty()) return Refuse("can't write " + file + ": " + why);
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
  Notes notes;
  std::unique_ptr<Recorder> recorder;
  if (recording) {
    recorder = std::make_unique<Recorder>(
        RecordPlace(options), DefaultRecordFile(), options.StationName,
        [&notes](const std::string& text) { notes.Add("kelvarin-cli: " + text); });
    recorder->Start();
  }
  const int status = RunStation(options, plan.Requests, images, recorder.get(), columns,
                                StopRequested, stdout, stderr, &notes);
  if (recorder) {
    recorder->Finish();
    // What the record said at the end, and what it leaves for later: the output is gone by now.
    const bool quiet = options.Level == Verbosity::Quiet;
    for (const std::string& note : notes.Take())
      if (!quiet) std::fprintf(stderr, "%s\n", note.c_str());
    if (const int waiting = recorder->RowsWaiting(); waiting > 0 && !quiet)
      std::fprintf(stderr, "kelvarin-cli: record: %d %s for the server in %s\n", waiting,
                   waiting == 1 ? "row waits" : "rows wait", recorder->LocalFile().c_str());
  }
  return status;
}
