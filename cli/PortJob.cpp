#include "cli/PortJob.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <system_error>

#include "cli/Latin1.h"
#include "cli/PortJobParts.h"
#include "cli/PortList.h"
#include "cli/ReadTarget.h"
#include "dlcfg/DlCfgRecord.h"
#include "platform/Files.h"
#include "platform/Station.h"
#include "service/FlashReadback.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

// The job's states and how a box moves through them.

using namespace portjob;
using std::chrono::duration;
using std::chrono::milliseconds;

namespace {

// The box served counts as gone once its answers to the sync word have stopped this long.
constexpr milliseconds GoneAfter{2000};
// How long the box's lines are printed after send, and how long run-app waits for a refusal.
constexpr milliseconds ListenAfterSend{1000};
constexpr milliseconds ReopenEvery{300};

bool Commanded(Command c) {
  return c != Command::Monitor && c != Command::Send && c != Command::Label;
}

std::filesystem::path MakeReadFolder(const std::string& file) {
  const std::filesystem::path target = SystemPath(file);
  std::random_device random;
  const std::filesystem::path parent =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // Next to the file, so that the finished read moves into place in one rename.
  return parent / (".kelvarin-read-" + std::to_string(random()));
}

// What a line at these settings carries at most: a start bit, the data bits, a parity bit
// and the stop bits for every byte.
double LineBytesPerSecond(const PortRequest& request) {
  LineSettings settings;
  settings.DataBits = request.DataBits;
  settings.ParityMode = request.ParityMode.value_or(Parity::None);
  settings.Stop = request.Stop.value_or(StopBits::One);
  return request.BaudRate > 0 ? static_cast<double>(request.BaudRate) / BitsPerCharacter(settings)
                              : 0;
}

}  // namespace

PortJob::PortJob(const CliOptions& options, const PortRequest& request, JobOutput& output,
                 Clock& clock, ProtocolThread& thread, std::string readFile,
                 std::vector<StepImage> images, Recorder* recorder)
    : Options(options),
      Request(request),
      Out(output),
      Steps(StepsOf(options)),
      Images(std::move(images)),
      Record(recorder),
      ReadBase(std::move(readFile)) {
  Images.resize(Steps.size());
  // The boxes' files of a station sit beside the name given; a single read's file is the one
  // a link leads to. What verify reads back is compared and gone: it goes where such files go.
  if (std::any_of(Steps.begin(), Steps.end(),
                  [](const CliOptions* step) { return step->Cmd == Command::Verify; })) {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    ReadFolder = MakeReadFolder(SystemName((error ? "." : temp) / "kelvarin-verify"));
  } else if (Step().Cmd == Command::Read) {
    ReadFolder = MakeReadFolder(Options.Repeat ? ReadBase : FileBehindLinks(ReadBase));
  }
  Engine = std::make_unique<Core>(
      *this, clock, ReadFolder.empty() ? std::string(".") : SystemName(ReadFolder), thread);
  Engine->SetReplyWaitSecs(Options.TimeoutSecs);
}

PortJob::~PortJob() {
  if (Labels != nullptr) Labels->Withdraw(this);
  Engine->Shutdown();
  DiscardReadFolder();
}

JobView PortJob::View() const {
  JobView v;
  v.Port = Request.Name;
  v.Label = Box.Label;
  v.State = State;
  v.Box = BoxNumber;
  v.BytesDone = Bytes;
  v.BytesTotal = Total;
  v.Receiving = ReadsFlash();
  v.Worked = WorkStart != TimePoint{};
  v.Seconds = WorkSeconds();
  v.BoxBytes = BoxBytes;
  if (BoxStart != TimePoint{})
    v.BoxSeconds = duration<double>((WorkEnded ? WorkEnd : Now) - BoxStart).count();
  if (State != JobState::Working && State != JobState::Done)
    v.Waited = duration<double>(Now - StateSince).count();
  v.LineBytesPerSecond = LineBytesPerSecond(Request);
  v.Status = LastStatus;
  v.Why = LastWhy;
  v.Answered = Answered;
  if (Step().Cmd == Command::Read && LastStatus == ExitStatus::Ok) v.File = ReadName;
  v.BoxesDone = Done;
  v.BoxesFailed = Failed;
  return v;
}

double PortJob::WorkSeconds() const {
  if (WorkStart == TimePoint{}) return 0;
  return duration<double>((WorkEnded ? WorkEnd : Now) - WorkStart).count();
}

bool PortJob::Quiet() const {
  // A station that watches a served box or a missing port would otherwise log every answer
  // to the sync word and every failed open.
  return State == JobState::AwaitGone || State == JobState::Reopening;
}

bool PortJob::LoaderAnswerWaiting() const {
  return std::any_of(Pending.begin(), Pending.end(),
                     [](const Event& e) { return e.What == Kind::LoaderAnswered; });
}

void PortJob::Start(TimePoint now) {
  Now = now;
  Engine->StartWorkers();
  Enter(JobState::Opening);
  Handle({Kind::Started});
}

void PortJob::Tick(TimePoint now) {
  Now = now;
  if (State == JobState::Working) {
    TrackProgress();
    ShowProgress();
  }
  while (!Pending.empty()) {
    const Event event = std::move(Pending.front());
    Pending.pop_front();
    Handle(event);
  }
  if (State == JobState::Working && WriteNumber != 0 && !Written) {
    // Only bytes that have left the port count as sent: the port's buffer would be thrown away
    // when it closes.
    const Core::MessageProgress where = Engine->Whereabouts(WriteNumber);
    if (where == Core::MessageProgress::OnLine)
      Handle({Kind::Written});
    else if (where == Core::MessageProgress::Lost)
      Handle(Settled(ExitStatus::LinkFailed,
                     LastMessage.empty() ? "the command did not go out on the line" : LastMessage));
  }
  Handle({Kind::TimePasses});
}

void PortJob::Interrupt() {
  Handle({Kind::Interrupted});
}

void PortJob::Handle(const Event& e) {
  if (e.What == Kind::Interrupted) {
    if (State != JobState::Done) EndInterrupted();
    return;
  }
  switch (State) {
    case JobState::Opening:
      if (e.What == Kind::Started) OpenPort();
      return;
    case JobState::Syncing:
      if (e.What == Kind::LoaderAnswered && ContinuingBox) {
        ContinuingBox = false;
        StartStep();
      } else if (e.What == Kind::LoaderAnswered) {
        StartWork();
      } else if (e.What == Kind::PortLost) {
        BoxNumber = std::max(BoxNumber, 1);
        FinishBox(ExitStatus::LinkFailed, LostWhy(e));
      } else if (e.What == Kind::TimePasses) {
        // A box whose loader does not come back ends its job; whatever answers later is
        // another box, and starts a job of its own. A first box is waited for as --wait says
        // (for ever with --repeat).
        const double limit = ContinuingBox
                                 ? (Options.WaitSecs > 0 ? Options.WaitSecs : Options.TimeoutSecs)
                             : !Options.Repeat ? Options.WaitSecs
                                               : 0;
        if (limit <= 0 || Now - StateSince <= duration<double>(limit)) return;
        if (!ContinuingBox) BoxNumber = 1;
        char why[96];
        std::snprintf(why, sizeof why, "no answer from the loader within %g s", limit);
        FinishBox(ExitStatus::NoLoader, why);
      }
      return;
    case JobState::AwaitBox:
      if (e.What == Kind::LoaderAnswered)
        StartWork();
      else if (e.What == Kind::PortLost)
        Enter(JobState::Reopening);
      return;
    case JobState::AwaitGone:
      if (e.What == Kind::LoaderAnswered) {
        LastAnswer = Now;
        Engine->ResumeSync();
      } else if (e.What == Kind::PortLost) {
        Enter(JobState::Reopening);
      } else if (e.What == Kind::TimePasses && Now - LastAnswer > GoneAfter) {
        Out.LogLine(View(), "box gone");
        Enter(JobState::AwaitBox);
      }
      return;
    case JobState::Reopening:
      if (e.What != Kind::TimePasses || Now - StateSince < ReopenEvery) return;
      StateSince = Now;
      if (Engine->OpenPort(Request)) {
        Pending.clear();  // whatever was reported before belongs to the port that went
        Enter(JobState::AwaitBox);
      }
      return;
    case JobState::Working:
      HandleWork(e);
      return;
    case JobState::Done:
      return;
  }
}

void PortJob::HandleWork(const Event& e) {
  if (e.ForStep != 0 && e.ForStep != StepSerial && e.What != Kind::PortLost) return;
  switch (e.What) {
    case Kind::PortLost:
      FinishBox(ExitStatus::LinkFailed, LostWhy(e));
      return;
    case Kind::Settled:
      if (Step().Cmd == Command::Version && e.Status == ExitStatus::Ok && !Step().ForTheRecord)
        Out.Answer(View(), "version", {{"version", e.Text}});
      FinishBox(e.Status, e.Why);
      return;
    case Kind::RecordArrived:
      RecordArrived(e.Record);
      return;
    case Kind::ReadEnded:
      if (e.Status != ExitStatus::Ok)
        EndOfRead({});
      else
        EndOfRead(e.Text.empty() ? ReadFolder / "flashdata.bin" : SystemPath(e.Text));
      return;
    case Kind::Written:
      Written = true;
      WrittenAt = Now;
      if (Step().Cmd == Command::Reboot) FinishBox(ExitStatus::Ok, "");
      return;
    case Kind::TimePasses:
      break;
    default:
      return;
  }
  if ((Step().Cmd == Command::RunApp || Step().Cmd == Command::Send) && Written &&
      Now - WrittenAt >= ListenAfterSend) {
    FinishBox(ExitStatus::Ok, "");
    return;
  }
  // The engine watches most replies itself, but any status word ends its wait, the loader's
  // answer to the sync word too; this also covers the words it does not watch (tune, erase,
  // the upload's verdict after the last block).
  const bool waitsForAnswer =
      Commanded(Step().Cmd) && Step().Cmd != Command::Reboot && Step().Cmd != Command::RunApp;
  if (waitsForAnswer &&
      Now - AnsweredAt > std::chrono::seconds(Options.TimeoutSecs) + milliseconds(1000))
    FinishBox(ExitStatus::LinkFailed, "Timeout!!");
}

void PortJob::Enter(JobState state) {
  // A box that is no longer at work wants no label.
  if (Labels != nullptr && state != JobState::Working) Labels->Withdraw(this);
  State = state;
  StateSince = Now;
  Out.StateChanged(View());
}

void PortJob::OpenPort() {
  if (Engine->OpenPort(Request)) {
    Enter(JobState::Syncing);
  } else {
    BoxNumber = 1;
    FinishBox(ExitStatus::PortFailed, Engine->PortFailure());
  }
}

void PortJob::ClosePort() {
  ClosingOurselves = true;
  ++InEngineCall;
  Engine->ClosePort();
  --InEngineCall;
  ClosingOurselves = false;
}

void PortJob::EndInterrupted() {
  if (State == JobState::Working) TrackProgress();
  ClosePort();
  if (State == JobState::Working && Step().Cmd == Command::Upload)
    Bytes = Engine->UploadBytesSent();
  DiscardReadFolder();
  // A station stopped while it waits for its next box leaves no box half done: its status is
  // that of the boxes it served.
  const bool boxAtWork =
      State == JobState::Working ||
      (State == JobState::Syncing && (ContinuingBox || !Options.Repeat || BoxNumber > 0));
  if (boxAtWork) {
    if (!WorkEnded) {
      WorkEnded = true;
      WorkEnd = Now;
    }
    BoxNumber = std::max(BoxNumber, 1);
    LastStatus = ExitStatus::Interrupted;
    LastWhy = "interrupted";
    if (State == JobState::Working) EndStep(ExitStatus::Interrupted, LastWhy);
    EndRecord("interrupted", ExitStatus::Interrupted, LastWhy);
    Out.BoxDone(View());
  }
  if (boxAtWork || !Options.Repeat) WorstStatus = ExitStatus::Interrupted;
  Enter(JobState::Done);
}

void PortJob::StartWork() {
  ++BoxNumber;
  StepIndex = 0;
  BoxBytes = 0;
  BoxStart = Now;
  BeginRecord();
  StartStep();
}

void PortJob::FinishBox(int status, const std::string& why) {
  // The bytes that went out, whatever the verdict: an upload's count stays once it has ended.
  // An upload the box took has had every byte, whatever the count of bytes drained so far says.
  if (State == JobState::Working && Step().Cmd == Command::Upload)
    Bytes = status == ExitStatus::Ok ? Total : Engine->UploadBytesSent();
  // A transfer's last progress says what it came to: every byte, when every byte went.
  if (State == JobState::Working && Total > 0 && Bytes >= Total && ShownBytes != Bytes) {
    ShownBytes = Bytes;
    ShownAt = Now;
    Out.ProgressMade(View());
  }
  const bool stepEnded = State == JobState::Working || ContinuingBox;
  if (stepEnded) EndStep(status, why);
  if (stepEnded && status == ExitStatus::Ok && StepIndex + 1 < Steps.size()) {
    Engine->CancelReplyWait();
    WantRecordForSet = false;
    ++StepIndex;
    // After a reboot or the application's start the loader has to answer again.
    const Command last = Steps[StepIndex - 1]->Cmd;
    if (last == Command::Reboot || last == Command::RunApp) {
      ContinuingBox = true;
      Engine->ResumeSync();
      Enter(JobState::Syncing);
      return;
    }
    StartStep();
    return;
  }
  ContinuingBox = false;
  if (!WorkEnded) {
    WorkEnded = true;
    WorkEnd = Now;
  }
  Engine->CancelReplyWait();
  WantRecordForSet = false;
  if (ReadsFlash()) DiscardReadFolder();
  if (status == ExitStatus::Ok)
    ++Done;
  else
    ++Failed;
  WorstStatus = std::max(WorstStatus, status);
  LastStatus = status;
  // Which step of a job failed is part of why.
  LastWhy = Step().StepLine > 0 && status != ExitStatus::Ok && stepEnded
                ? "line " + std::to_string(Step().StepLine) + " (" + Step().StepText + "): " + why
                : why;
  EndRecord(status == ExitStatus::Ok ? "ok" : "failed", status, LastWhy);
  Out.BoxDone(View());
  // A port that cannot be opened at all, or an image that cannot be read, is no box's fault:
  // no later box would fare better.
  const bool fatal = status == ExitStatus::PortFailed || status == ExitStatus::Usage;
  if (!Options.Repeat || fatal) {
    ClosePort();
    Enter(JobState::Done);
    return;
  }
  if (!Engine->Connected()) {
    Enter(JobState::Reopening);
    return;
  }
  LastAnswer = Now;
  Engine->ResumeSync();
  Enter(JobState::AwaitGone);
}
