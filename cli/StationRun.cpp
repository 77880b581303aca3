#include "cli/StationRun.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

#include "cli/PortJob.h"
#include "cli/Reporter.h"
#include "link/UartConfig.h"
#include "platform/PortScan.h"
#include "platform/ProtocolThread.h"
#include "platform/SerialPort.h"
#include "platform/Station.h"

namespace {

// The loop of the station running now. A stop request nudges it from another thread, so it is
// looked at and let go under a lock: the loop cannot end while a nudge is on its way.
std::mutex RunningLock;
RunLoop* Running = nullptr;

}  // namespace

PortPlan PlanPorts(const CliOptions& options, bool configReadable, const std::string& configLine) {
  PortPlan plan;
  UartConfig config;
  config.BaudRate = 115200;
  config.DataBits = 8;
  config.ParityIndex = 0;
  config.StopBitIndex = 0;
  if (configReadable) config = ParseConfigLine(configLine, config);
  std::vector<std::string> names = options.Ports;
  if (names.empty()) {
    if (!configReadable || config.PortName.empty()) {
      plan.Error = "no port: give --port, or a config.cfg that names one";
      return plan;
    }
    names.push_back(config.PortName);
  }
  for (const std::string& name : names) {
    for (const PortRequest& earlier : plan.Requests) {
      if (earlier.Name == name) {
        plan.Error = "port given twice: " + name;
        return plan;
      }
    }
    UartConfig line = config;
    line.PortName = name;
    if (options.Baud) line.BaudRate = *options.Baud;
    plan.Requests.push_back(RequestOf(line));
  }
  return plan;
}

std::string ReadFileFor(const std::string& file, const std::string& port, bool several) {
  if (!several) return file;
  const std::size_t slash = port.find_last_of("/\\");
  return file + "." + (slash == std::string::npos ? port : port.substr(slash + 1));
}

void NudgeStation() {
  std::lock_guard lock(RunningLock);
  if (Running != nullptr) Running->Nudge();
}

std::string AdapterOf(const std::string& port, const std::vector<ListedPort>& listed) {
  const std::string device = SerialPort::DevicePath(port);
  for (const ListedPort& one : listed)
    if (one.Path == device || one.ById == port) return one.ById;
  return {};
}

int RunStation(const CliOptions& options, const std::vector<PortRequest>& requests,
               const std::vector<StepImage>& images, Recorder* recorder, int columns,
               std::atomic<bool>& stop, std::FILE* out, std::FILE* err, Notes* notes) {
  const bool several = requests.size() > 1;
  const OutputMode mode = options.Json  ? OutputMode::Json
                          : columns > 0 ? OutputMode::Terminal
                                        : OutputMode::Plain;
  // One box's answer on standard output says how it went; several ports, a station or a
  // command without an answer get the boxes' results.
  const bool summary = several || options.Repeat || !Answers(options.Cmd);
  Reporter reporter(mode, options.Level, several, options.Repeat, summary, out, err,
                    static_cast<std::size_t>(std::max(columns, 0)));
  SystemClock clock;
  // One protocol thread for every port: the routines are short, and one thread keeps all
  // output in order without locks.
  RunLoop loop;
  {
    std::lock_guard lock(RunningLock);
    Running = &loop;
  }
  // The operator's lines: the desk outlives the jobs that ask it.
  InputLines input;
  LabelDesk labels(
      input, [&reporter](const std::string& text) { reporter.Ask(text); },
      [&reporter] { reporter.Answered(); });
  std::vector<std::unique_ptr<PortJob>> jobs;
  // The machine's ports are looked at once, not once a port.
  const std::vector<ListedPort> listed =
      recorder != nullptr ? ListSerialPorts() : std::vector<ListedPort>{};
  for (const PortRequest& request : requests) {
    jobs.push_back(std::make_unique<PortJob>(options, request, reporter, clock, loop,
                                             ReadFileFor(options.OutFile, request.Name, several),
                                             images, recorder));
    jobs.back()->Adapter = AdapterOf(request.Name, listed);
    jobs.back()->Labels = &labels;
  }
  for (auto& job : jobs) job->Start(std::chrono::steady_clock::now());

  const auto views = [&] {
    std::vector<JobView> all;
    for (const auto& job : jobs) all.push_back(job->View());
    return all;
  };
  const auto allDone = [&] {
    return std::all_of(jobs.begin(), jobs.end(), [](const auto& job) { return job->Finished(); });
  };
  // A job with events waiting is looked at once the routine that raised them has run.
  const auto eventsWaiting = [&] {
    return std::any_of(jobs.begin(), jobs.end(),
                       [](const auto& job) { return job->EventsWaiting(); });
  };
  while (!stop && !allDone()) {
    loop.RunUntil([&] { return stop.load() || eventsWaiting(); }, std::chrono::milliseconds(50));
    const auto now = std::chrono::steady_clock::now();
    labels.Poll();
    for (auto& job : jobs) job->Tick(now);
    if (notes != nullptr)
      for (const std::string& note : notes->Take()) reporter.Note(note);
    reporter.Tick(views(), now);
  }
  const bool interrupted = stop;
  if (interrupted)
    for (auto& job : jobs) job->Interrupt();
  reporter.Finish(views(), interrupted);
  int status = ExitStatus::Ok;
  for (const auto& job : jobs) status = std::max(status, job->Status());
  // Ends the workers before the loop they post to goes away.
  jobs.clear();
  {
    std::lock_guard lock(RunningLock);
    Running = nullptr;
  }
  return status;
}
