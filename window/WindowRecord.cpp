#include "window/WindowRecord.h"

#include <algorithm>

#include "platform/Files.h"
#include "platform/SerialPort.h"
#include "production/RecordStore.h"

namespace {

constexpr int StatusOk = 0;
constexpr int StatusFailed = 1;
constexpr int StatusInterrupted = 130;

// What the window says of an event in a message box or the log: a failed step's reason.
class LastWords : public EventText {
 public:
  std::string Said;
  // The first thing said is the outcome; advice may follow.
  void Line(const std::string& text, bool) override {
    if (Said.empty()) Said = text;
  }
  void Message(const std::string& text) override {
    if (Said.empty()) Said = text;
  }
};

std::string WordsOf(const EngineEvent& event) {
  LastWords words;
  RenderEvent(event, words);
  return words.Said;
}

// Run-app and Reboot have no answer: they are done once they go out.
bool DoneWhenSent(const LoaderCommand& command) {
  return !command.WaitsForAnswer && command.OkReply == 0 && command.FailReply == 0;
}

}  // namespace

void WindowRecord::Opened() {
  Open = true;
  Restarting = false;
  Written = false;
  StepCount = 0;
  LastTries.clear();
  Steps.clear();
  Box = BoxRecord{};
  Box.Station = Me.Name;
  Box.StationId = Me.Id;
  Box.Port = Port;
  Box.Label = PendingLabel;
  Box.Started = UtcNow();
  Box.Pid = Me.Pid;
  Box.ProcessStart = Me.ProcessStart;
  // Unique across stations and windows: the server keeps one row per id.
  Box.Id = Me.Id + "/" + std::to_string(Me.Pid) + "/" + Port + "/" + std::to_string(++Boxes) + "/" +
           Box.Started;
}

void WindowRecord::Write(BoxRecord row) {
  if (Put) Put(std::move(row));
}

void WindowRecord::SetLabel(std::string label) {
  PendingLabel = std::move(label);
  // While the box restarts, a label scanned is the next box's: one may be put on the line now.
  if (!Open || Restarting || Box.Label == PendingLabel) return;
  Box.Label = PendingLabel;
  if (!Written) return;
  BoxRecord row = Box;
  row.FirstStep = StepCount;
  Write(std::move(row));
}

void WindowRecord::BeginStep(const LoaderCommand* command, std::string text) {
  if (!Open) Opened();
  if (!Written) {
    Written = true;
    Write(Box);
  }
  Steps.push_back({command, std::move(text), std::chrono::steady_clock::now()});
}

void WindowRecord::Begin(const LoaderCommand& command, std::string text) {
  BeginStep(&command, std::move(text));
  if (DoneWhenSent(command)) EndStep(Steps.end() - 1, true, {});
}

std::deque<WindowRecord::Pending>::iterator WindowRecord::Find(const LoaderCommand* command,
                                                               bool upload) {
  return std::find_if(Steps.begin(), Steps.end(), [&](const Pending& p) {
    if (command != nullptr) return p.Command == command;
    return p.Command == nullptr && (p.Text.rfind("upload ", 0) == 0) == upload;
  });
}

std::deque<WindowRecord::Pending>::iterator WindowRecord::FindNamed(const char* command) {
  const LoaderCommand* known = LoaderCommandNamed(command);
  return known == nullptr ? Steps.end() : Find(known, false);
}

void WindowRecord::EndStep(std::deque<Pending>::iterator step, bool ok, const std::string& why) {
  StepRecord ended{
      step->Text, ok ? "ok" : "failed", ok ? std::string() : why,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - step->Start).count()};
  // Uploads are one step whatever their image: the box holds the last one it took.
  const std::string kind = step->Command == nullptr && step->Text.rfind("upload ", 0) == 0
                               ? std::string("upload")
                               : step->Text;
  const auto tried = std::find_if(LastTries.begin(), LastTries.end(),
                                  [&](const Try& t) { return t.Kind == kind; });
  Try last{kind, step->Text, ok ? std::string() : why.empty() ? "failed" : why};
  if (tried == LastTries.end())
    LastTries.push_back(std::move(last));
  else
    *tried = std::move(last);
  Steps.erase(step);
  BoxRecord row = Box;
  row.FirstStep = StepCount++;
  row.Steps = {std::move(ended)};
  Write(std::move(row));
}

void WindowRecord::EndBox(const std::string& why, bool interrupted) {
  if (!Open) return;
  interrupted = interrupted && !Steps.empty();
  while (!Steps.empty()) EndStep(Steps.begin(), false, why);
  Open = false;
  Answered = false;
  if (!Written) return;
  const auto failed =
      std::find_if(LastTries.begin(), LastTries.end(), [](const Try& t) { return !t.Why.empty(); });
  Box.Ended = UtcNow();
  Box.Result = interrupted ? "interrupted" : failed != LastTries.end() ? "failed" : "ok";
  Box.Status = interrupted                 ? StatusInterrupted
               : failed != LastTries.end() ? StatusFailed
                                           : StatusOk;
  if (failed != LastTries.end()) Box.Why = failed->Step + ": " + failed->Why;
  BoxRecord row = Box;
  row.FirstStep = StepCount;
  Write(std::move(row));
  Written = false;
  // The label field lets the box's label go; one typed since for the next box stays.
  if (PendingLabel != Box.Label) return;
  PendingLabel.clear();
  if (BoxEnded) BoxEnded();
}

void WindowRecord::Closing() {
  EndBox("the window was closed", true);
}

void WindowRecord::On(const EngineEvent& event) {
  if (const auto* e = std::get_if<ev::PortOpened>(&event)) {
    EndBox("the port was opened again", false);
    Port = SerialPort::LastingName(e->Name);
  } else if (std::holds_alternative<ev::AwaitingLoader>(event)) {
    Restarting = Open;
  } else if (std::holds_alternative<ev::LoaderAnswered>(event)) {
    // Its first answer begins the box; the next is a box restarted or another box.
    if (Open && Answered) EndBox("the box restarted", false);
    if (!Open) Opened();
    Answered = true;
  } else if (const auto* e = std::get_if<ev::LoaderVersion>(&event)) {
    Box.LoaderVersion = std::to_string(e->Major) + "." + std::to_string(e->Minor);
    if (auto step = FindNamed("version"); step != Steps.end()) EndStep(step, true, {});
  } else if (const auto* e = std::get_if<ev::CommandSettled>(&event)) {
    if (!Open) return;
    auto step = Find(e->Command, false);
    if (step == Steps.end()) {
      // A command typed as it goes on the line: it is a step all the same.
      BeginStep(e->Command, e->Command->CliName != nullptr ? e->Command->CliName : "command");
      step = Steps.end() - 1;
    }
    EndStep(step, e->Ok(), e->Ok() ? std::string() : e->Command->FailText);
  } else if (std::holds_alternative<ev::ReplyTimedOut>(event)) {
    const auto step = std::find_if(Steps.begin(), Steps.end(), [](const Pending& p) {
      return p.Command != nullptr && p.Command->WaitsForAnswer;
    });
    // A command with no word for ok (run-app) went well when no refusal came in time.
    const bool refusalOnly =
        step != Steps.end() && step->Command->OkReply == 0 && step->Command->FailReply != 0;
    if (step != Steps.end()) EndStep(step, refusalOnly, "Timeout!!");
  } else if (std::holds_alternative<ev::RecordArrived>(event)) {
    if (auto step = FindNamed("config get"); step != Steps.end()) EndStep(step, true, {});
  } else if (const auto* e = std::get_if<ev::UploadStarted>(&event)) {
    // An upload pressed before the loader answered begins the box: what it writes is its own.
    if (!Open) Opened();
    Box.Image = e->Image;
    Box.ImageSize = e->Size;
    Box.ImageSha256.clear();
    BeginStep(nullptr, "upload " + SystemName(SystemPath(e->Image).filename()));
  } else if (const auto* e = std::get_if<ev::BlockServed>(&event)) {
    Box.Bytes += e->Bytes;
  } else if (const auto* e = std::get_if<ev::UploadEnded>(&event)) {
    const auto step = Find(nullptr, true);
    if (step == Steps.end() || e->Outcome == ev::UploadOutcome::AcceptedIdle) return;
    const bool ok = e->Outcome == ev::UploadOutcome::Accepted;
    EndStep(step, ok, ok ? std::string() : WordsOf(event));
  } else if (const auto* e = std::get_if<ev::FlashReadEnded>(&event)) {
    const auto step = Find(nullptr, false);
    if (step == Steps.end()) return;
    const bool ok = e->Outcome == ev::ReadOutcome::Complete;
    EndStep(step, ok, ok ? std::string() : WordsOf(event));
  } else if (const auto* e = std::get_if<ev::PortLost>(&event)) {
    EndBox("the port was lost: " + e->Why, false);
  } else if (const auto* e = std::get_if<ev::PortClosed>(&event)) {
    EndBox(e->LostWhy.empty() ? "disconnected" : "the port was lost: " + e->LostWhy, false);
  }
}

void WindowRecord::BeginRead(std::string text) {
  BeginStep(nullptr, std::move(text));
}

WindowRecordKeeper::WindowRecordKeeper(std::string where, std::string station,
                                       std::function<void(const std::string&)> say)
    : Place(where.empty() ? DefaultRecordFile() : std::move(where)),
      Writer(Place, DefaultRecordFile(), std::move(station), std::move(say)),
      Rows(Writer.Self(), [this](BoxRecord row) { Writer.PutHashingImage(std::move(row)); }) {
  Writer.Start();
}

WindowRecordKeeper::~WindowRecordKeeper() {
  Close();
}

void WindowRecordKeeper::Close() {
  if (Closed) return;
  Closed = true;
  Rows.Closing();
  Writer.Finish();
}

bool TakeRecordOption(const std::vector<std::string>& args, std::size_t& i,
                      WindowRecordOptions& options, std::string& problem) {
  const std::string& arg = args[i];
  if (arg == "--no-record") {
    options.None = true;
    return true;
  }
  if (arg != "--record" && arg != "--station") return false;
  if (i + 1 >= args.size() || args[i + 1].empty()) {
    problem = "option '" + arg + "' needs a value";
    return true;
  }
  (arg == "--record" ? options.Where : options.Station) = args[++i];
  return true;
}

std::string RecordOptionsProblem(const WindowRecordOptions& options) {
  if (options.None && !options.Where.empty()) return "--no-record and --record do not go together";
  if (!NamesServer(options.Where)) return {};
  const std::string problem = ServerAddressProblem(options.Where);
  return problem.empty() ? problem : "--record: " + problem;
}

bool KeepsRecord(const WindowRecordOptions& options) {
  return !options.None && RecordAvailable() &&
         (!options.Where.empty() || !DefaultRecordFile().empty());
}
