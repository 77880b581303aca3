#include "cli/PortJob.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <system_error>

#include "cli/Latin1.h"
#include "cli/PortList.h"
#include "cli/ReadTarget.h"
#include "dlcfg/DlCfgRecord.h"
#include "platform/Files.h"
#include "platform/Station.h"
#include "service/FlashReadback.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

namespace {

using std::chrono::duration;
using std::chrono::milliseconds;
using Kind = PortJob::Event::Kind;

// The box served counts as gone once its answers to the sync word have stopped this long.
constexpr milliseconds GoneAfter{2000};
// How long the box's lines are printed after send, and how long run-app waits for a refusal.
constexpr milliseconds ListenAfterSend{1000};
constexpr milliseconds ReopenEvery{300};
// Progress is shown at least this often while bytes move, and whenever a block is through.
constexpr milliseconds ProgressEvery{500};

bool Commanded(Command c) {
  return c != Command::Monitor && c != Command::Send;
}

std::filesystem::path MakeReadFolder(const std::string& file) {
  const std::filesystem::path target = SystemPath(file);
  std::random_device random;
  const std::filesystem::path parent =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // Next to the file, so that the finished read moves into place in one rename.
  return parent / (".kelvarin-read-" + std::to_string(random()));
}

// The size of the pieces the work's bytes move in: a block of the upload or of the read.
std::uint64_t BlockBytes(Command c) {
  return c == Command::Upload ? CodeUpload::BlockSize : FlashReadback::BlockMax;
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

// Where a verify's read-back differs from the image: the first offset and how many bytes.
// False when either cannot be read whole.
bool Compare(const std::filesystem::path& readBack, const UploadImage& image, std::uint64_t& first,
             std::uint64_t& differing) {
  std::FILE* flash = OpenFile(SystemName(readBack), "rb");
  if (flash == nullptr) return false;
  differing = 0;
  std::vector<std::uint8_t> a(64 * 1024), b(a.size());
  bool whole = true;
  for (std::uint64_t at = 0; at < image.Stamp.Size && whole;) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(a.size(), image.Stamp.Size - at));
    whole = std::fread(a.data(), 1, n, flash) == n && ReadAt(image.File.get(), at, b.data(), n);
    for (std::size_t i = 0; whole && i < n; ++i) {
      if (a[i] == b[i]) continue;
      if (differing++ == 0) first = at + i;
    }
    at += n;
  }
  std::fclose(flash);
  return whole;
}

PortJob::Event Settled(int status, std::string why = {}) {
  return {Kind::Settled, status, std::move(why)};
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
  Engine->Shutdown();
  DiscardReadFolder();
}

JobView PortJob::View() const {
  JobView v;
  v.Port = Request.Name;
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

void PortJob::StartStep() {
  ++StepSerial;
  StepStart = Now;
  Written = false;
  WriteNumber = 0;
  Bytes = 0;
  Total = 0;
  ShownBytes = 0;
  ShownAt = Now;
  WorkStart = Now;
  WorkEnded = false;
  Answered = false;
  AnsweredAt = Now;
  if (Step().Cmd == Command::Read)
    ReadName = Options.Repeat ? BoxFileName(ReadBase, BoxNumber) : ReadBase;
  Enter(JobState::Working);
  ++InEngineCall;
  bool sent = true;
  switch (Step().Cmd) {
    case Command::Upload:
      Total = Image()->Stamp.Size;
      sent = Engine->StartUpload(Image(), Step().Image);
      break;
    case Command::Version:
      sent = Engine->LoaderVersion();
      break;
    case Command::LoaderWord:
      sent = Engine->SendLoaderCommand(Step().Loader->Word);
      break;
    case Command::RunApp:
      sent = Engine->SendLoaderCommand(Cmd::RunApp);
      WriteNumber = Engine->LastQueued();
      break;
    case Command::Reboot:
      sent = Engine->RebootStb();
      WriteNumber = Engine->LastQueued();
      break;
    case Command::Send:
      sent = Engine->SendCmd(reinterpret_cast<const std::uint8_t*>(Step().Text.data()),
                             static_cast<int>(Step().Text.size()));
      WriteNumber = Engine->LastQueued();
      break;
    case Command::ConfigGet:
      sent = Engine->GetDlCfg();
      break;
    case Command::ConfigSet:
      WantRecordForSet = true;
      sent = Engine->GetDlCfg();
      break;
    case Command::ConfigDefault:
      sent = Engine->SetDefaultDlCfg();
      break;
    case Command::Tune:
      Engine->TuneTest(Step().FrequencyKHz, Step().Bandwidth);
      break;
    case Command::Erase:
      sent = Engine->EraseFlash(Step().Start, Step().Size);
      break;
    case Command::Read:
    case Command::Verify: {
      Total = Step().Cmd == Command::Read ? Step().Size : Image()->Stamp.Size;
      std::error_code error;
      std::filesystem::create_directory(ReadFolder, error);
      if (error) {
        --InEngineCall;
        FinishBox(ExitStatus::Usage, "Can't write " +
                                         (ReadName.empty() ? SystemName(ReadFolder) : ReadName) +
                                         ": " + error.message());
        return;
      }
      sent = Engine->ReadFlash(Step().Start, static_cast<std::uint32_t>(Total));
      break;
    }
    case Command::Ports:
    case Command::Help:
    case Command::Monitor:
    case Command::Job:
    case Command::Record:
      break;
  }
  --InEngineCall;
  if (!sent) Raise(Settled(ExitStatus::LinkFailed, LastMessage));
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

void PortJob::TrackProgress() {
  std::uint64_t done = 0;
  if (Step().Cmd == Command::Upload) {
    done = Engine->UploadBytesSent();
  } else {
    const Core::WorkProgress p = Engine->Progress();
    if (p.What != Core::WorkProgress::Job::FlashRead || p.Total == 0) return;
    Total = p.Total;
    done = p.Done;
  }
  // Bytes moving are the command's own answer going on: a long block on a slow line is no
  // time-out.
  if (done > Bytes) {
    Bytes = done;
    AnsweredAt = Now;
  }
}

void PortJob::ShowProgress() {
  if (Bytes == ShownBytes || Total == 0) return;
  const std::uint64_t block = BlockBytes(Step().Cmd);
  const bool blockThrough = Bytes / block != ShownBytes / block || Bytes == Total;
  if (!blockThrough && Now - ShownAt < ProgressEvery) return;
  ShownBytes = Bytes;
  ShownAt = Now;
  Out.ProgressMade(View());
}

namespace {

// What the engine's words say of one event, gathered so that the job can route each line.
class GatheredText : public EventText {
 public:
  struct Said {
    std::string Text;
    bool SystemText = false;
    bool Message = false;
  };
  std::vector<Said> All;

  void Line(const std::string& text, bool systemText) override {
    All.push_back({text, systemText, false});
  }
  // All of the line, a zero byte too: the output shows what cannot be printed as escapes.
  void Box(const std::string& line) override {
    All.push_back({!line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line});
  }
  void Message(const std::string& text) override { All.push_back({text, false, true}); }
};

}  // namespace

void PortJob::On(const EngineEvent& event) {
  Now = std::chrono::steady_clock::now();
  // Shown first: what the engine said before an event was acted on is no answer to the work.
  Show(event);
  React(event);
}

void PortJob::Show(const EngineEvent& event) {
  EngineEvent shown = event;
  // The read-back writes flashdata.bin (and its part file) in a folder of its own beside the
  // read's file; what the operator knows is the file.
  if (Step().Cmd == Command::Read && !ReadName.empty()) {
    // A kept read names the file that could not be replaced: that one is the read folder's.
    if (auto* e = std::get_if<ev::FlashReadEnded>(&shown)) {
      e->FileName = ReadName;
      if (e->Outcome != ev::ReadOutcome::Kept) e->File = ReadName;
    }
    if (auto* e = std::get_if<ev::Refused>(&shown);
        e != nullptr &&
        (e->What == ev::Refusal::PartFileNotCreated || e->What == ev::Refusal::PartFileNotWritten))
      e->Detail = ReadName;
  }
  GatheredText text;
  RenderEvent(shown, text);
  if (const auto* e = std::get_if<ev::CommandSettled>(&event);
      e != nullptr && e->Command->OutcomeIsRecordStatus && !e->Command->InLog)
    text.Line(e->Ok() ? e->Command->OkText : e->Command->FailText, false);
  // The engine counts the image handed to the line, which runs up to a block ahead of the
  // bytes sent that the progress counts.
  const bool queuedBlock =
      Step().Cmd == Command::Upload && std::holds_alternative<ev::BlockServed>(event);
  // The window's message box over the log line that told why: the log has said it.
  const bool messageSaid = std::holds_alternative<ev::PortOpenFailed>(event);
  const bool boxWork = Step().Cmd == Command::Send || Step().Cmd == Command::Monitor;
  for (const GatheredText::Said& said : text.All) {
    if (said.Message) {
      LastMessage = said.Text;
      // Fixed words, or a file or port name: text of the system either way.
      if (!messageSaid && !Quiet()) Out.LogLine(View(), said.Text, true);
    } else if (said.SystemText) {
      // A reopen that found its adapter under another node says so, however quiet the wait.
      const bool followed = std::holds_alternative<ev::PortOpened>(event);
      if (!Quiet() || (State == JobState::Reopening && followed))
        Out.LogLine(View(), said.Text, true);
    } else if (!Quiet()) {
      // The box may print before the next tick has begun the work the loader's answer allows.
      const bool working = State == JobState::Working || LoaderAnswerWaiting();
      if (boxWork && working && InEngineCall == 0)
        Out.BoxLine(View(), said.Text);
      else
        Out.LogLine(View(), queuedBlock ? said.Text + " (queued)" : said.Text);
    }
  }
}

std::string PortJob::LostWhy(const Event& e) const {
  if (!e.Why.empty()) return e.Why;
  return LastMessage.empty() ? "port lost" : LastMessage;
}

void PortJob::React(const EngineEvent& event) {
  if (std::holds_alternative<ev::LoaderAnswered>(event)) {
    Raise({Kind::LoaderAnswered});
    return;
  }
  if (const auto* e = std::get_if<ev::PortClosed>(&event)) {
    if (e->WasOpen && !ClosingOurselves) Raise({Kind::PortLost, ExitStatus::Ok, e->LostWhy});
    return;
  }
  // Anything else can only settle the command at work; an answer that comes before it has
  // begun answers nothing of it.
  if (State != JobState::Working) return;
  const Command c = Step().Cmd;
  if (std::holds_alternative<ev::ReplyTimedOut>(event)) {
    Raise(Settled(ExitStatus::LinkFailed, "Timeout!!"));
  } else if (const auto* e = std::get_if<ev::UploadEnded>(&event); e && c == Command::Upload) {
    switch (e->Outcome) {
      case ev::UploadOutcome::Accepted:
        Raise(Settled(ExitStatus::Ok));
        break;
      case ev::UploadOutcome::AcceptedEarly:
        Raise(Settled(ExitStatus::BoxFailed, e->Why));
        break;
      case ev::UploadOutcome::Refused:
        Raise(Settled(ExitStatus::BoxFailed, "Upload fail"));
        break;
      case ev::UploadOutcome::ImageChanged:
        Raise(Settled(ExitStatus::Usage, e->Why + ": " + Step().Image));
        break;
      case ev::UploadOutcome::AcceptedIdle:
      case ev::UploadOutcome::Stopped:
        break;
    }
  } else if (const auto* e = std::get_if<ev::LoaderVersion>(&event); e && c == Command::Version) {
    Box.LoaderVersion = std::to_string(e->Major) + "." + std::to_string(e->Minor);
    Event settled = Settled(ExitStatus::Ok);
    settled.Text = std::to_string(e->Major) + "." + std::to_string(e->Minor);
    Raise(std::move(settled));
  } else if (const auto* e = std::get_if<ev::FlashReadEnded>(&event);
             e && (c == Command::Read || c == Command::Verify)) {
    const bool arrived =
        e->Outcome == ev::ReadOutcome::Complete || e->Outcome == ev::ReadOutcome::Kept;
    Event ended{Kind::ReadEnded, arrived ? ExitStatus::Ok : ExitStatus::BoxFailed};
    if (e->Outcome == ev::ReadOutcome::Kept) ended.Text = e->KeptIn;
    Raise(std::move(ended));
  } else if (const auto* e = std::get_if<ev::RecordArrived>(&event)) {
    Raise({Kind::RecordArrived, ExitStatus::Ok, {}, {}, {e->Record.begin(), e->Record.end()}});
  } else if (const auto* e = std::get_if<ev::CommandSettled>(&event);
             e && e->Command == Step().Loader) {
    Raise(e->Ok() ? Settled(ExitStatus::Ok) : Settled(ExitStatus::BoxFailed, e->Command->FailText));
  }
}

void PortJob::RecordArrived(const std::vector<std::uint8_t>& record) {
  const DeliveryLayout layout = LayoutOfDeliveryType(record[DlCfgDeliveryTypeOffset]);
  std::vector<std::pair<std::string, std::string>> fields;
  DlCfgTexts texts;
  for (const DlCfgField& field : DlCfgFields()) {
    if (field.Layout != DeliveryLayout::Common && field.Layout != layout) continue;
    const std::string text = FieldText(field, record.data());
    fields.emplace_back(field.Field, text);
    texts[field.Field] = text;
  }
  // What the box says of itself goes into its record.
  Box.HardwareModel = Latin1ToUtf8(texts["HardwareModel"]);
  Box.HardwareVersion = Latin1ToUtf8(texts["HardwareVersion"]);
  Box.Oui = Latin1ToUtf8(texts["OUI"]);
  if (Step().Cmd == Command::ConfigGet && !Step().Field.empty()) {
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [&](const auto& f) { return f.first == Step().Field; });
    if (field == fields.end()) {
      FinishBox(ExitStatus::Usage, Step().Field + " is not a field of this box's delivery type");
      return;
    }
    Answered = true;
    Out.Answer(View(), "field", {*field});
    FinishBox(ExitStatus::Ok, "");
    return;
  }
  if (Step().Cmd == Command::ConfigGet) {
    Answered = true;
    Out.Answer(View(), "config", fields);
    FinishBox(ExitStatus::Ok, "");
    return;
  }
  if (Step().Cmd != Command::ConfigSet || !WantRecordForSet) return;
  WantRecordForSet = false;
  AnsweredAt = Now;
  for (const auto& [name, text] : Step().Changes) {
    if (texts.find(name) == texts.end()) {
      FinishBox(ExitStatus::Usage, name + " is not a field of this box's delivery type");
      return;
    }
    texts[name] = text;
  }
  std::uint8_t packed[DlCfgRecordSize];
  const std::string problem = PackRecord(texts, record.data(), packed);
  if (!problem.empty()) {
    FinishBox(ExitStatus::Usage, problem);
    return;
  }
  ++InEngineCall;
  Engine->SetDlCfg(packed);
  --InEngineCall;
}

void PortJob::EndOfRead(const std::filesystem::path& read) {
  if (read.empty()) {
    FinishBox(ExitStatus::BoxFailed, "Read flash fail");
    return;
  }
  if (Step().Cmd == Command::Verify) {
    EndOfVerify(read);
    return;
  }
  // Written through a link to the file it leads to, as writing to the name would.
  const std::string file = FileBehindLinks(ReadName);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(SystemPath(file), error);
  std::string why;
  if (file.empty())
    why = "a link that leads nowhere";
  else if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    why = "not a regular file";
  else
    MoveOnto(SystemName(read), file, why);
  Bytes = Total;
  if (!why.empty()) {
    // Every block arrived and passed its check: the bytes are kept, whatever the name refuses;
    // where no name beside it takes them, under a name of their own in the read folder, which
    // then stays (and which the station's next box does not write over).
    std::string kept = KeepBeside(SystemName(read), file.empty() ? ReadName : file);
    if (kept == SystemName(read)) kept = KeepBeside(kept, SystemName(ReadFolder / "flashdata.bin"));
    if (SystemPath(kept).parent_path() == ReadFolder) KeptInReadFolder = true;
    FinishBox(ExitStatus::NotWritten,
              "Can't write " + ReadName + " (" + why + "): the read is kept in " + kept);
    return;
  }
  Out.LogLine(View(), "Read written to " + ReadName, true);
  FinishBox(ExitStatus::Ok, "");
}

void PortJob::EndOfVerify(const std::filesystem::path& read) {
  std::uint64_t first = 0;
  std::uint64_t differing = 0;
  if (!Compare(read, *Image(), first, differing)) {
    FinishBox(ExitStatus::Usage, "can no longer read " + Step().Image);
    return;
  }
  Bytes = Total;
  Answered = true;
  Out.Verified(View(), first, differing, Step().Start);
  if (differing == 0)
    FinishBox(ExitStatus::Ok, "");
  else
    FinishBox(ExitStatus::BoxFailed, "the flash differs from " + Step().Image);
}

void PortJob::DiscardReadFolder() {
  if (ReadFolder.empty()) return;
  std::error_code error;
  if (!KeptInReadFolder) {
    std::filesystem::remove_all(ReadFolder, error);
    return;
  }
  // A complete read that no other name would take is in there.
  for (const char* name : {"flashdata.bin", "flashdata.bin.part"})
    std::filesystem::remove(ReadFolder / name, error);
}

bool PortJob::Recorded() const {
  if (Record == nullptr) return false;
  switch (Options.Cmd) {
    case Command::Job:
    case Command::Upload:
    case Command::Verify:
    case Command::ConfigSet:
    case Command::Erase:
    case Command::Read:
      return true;
    default:
      return false;
  }
}

void PortJob::BeginRecord() {
  if (!Recorded()) return;
  const Recorder::Identity& me = Record->Self();
  Box = BoxRecord{};
  BoxSteps = 0;
  Box.Station = me.Name;
  Box.StationId = me.Id;
  Box.Port = RecordedPort(Request.Name);
  Box.Adapter = Adapter;
  Box.Started = UtcNow();
  Box.Pid = me.Pid;
  Box.ProcessStart = me.ProcessStart;
  // Unique across stations and their runs: the server keeps one row per id.
  Box.Id = me.Id + "/" + std::to_string(Box.Pid) + "/" + Request.Name + "/" +
           std::to_string(BoxNumber) + "/" + Box.Started;
  for (std::size_t k = 0; k < Steps.size(); ++k) {
    if (Images[k].Image == nullptr || !Box.Image.empty()) continue;
    Box.Image = Steps[k]->Image;
    Box.ImageSize = Images[k].Image->Stamp.Size;
    Box.ImageSha256 = Images[k].Sha256;
  }
  Record->Put(Box);
}

void PortJob::EndStep(int status, const std::string& why) {
  // A step that never began (its loader did not come back) sent nothing.
  const bool began = State == JobState::Working;
  if (began) BoxBytes += Bytes;
  if (!Recorded() || Box.Started.empty()) return;
  // Each step's end is on record at once, and once: a station killed later still shows how far
  // it got, and a job of thousands of steps writes each of them once.
  BoxRecord ended = Box;
  ended.FirstStep = BoxSteps++;
  ended.Steps = {{Step().StepText, status == ExitStatus::Ok ? "ok" : "failed",
                  status == ExitStatus::Ok ? std::string() : why,
                  began ? duration<double>(Now - StepStart).count() : 0.0}};
  Record->Put(std::move(ended));
}

void PortJob::EndRecord(const std::string& result, int status, const std::string& why) {
  if (!Recorded() || Box.Started.empty()) return;
  Box.Ended = UtcNow();
  Box.Result = result;
  Box.Status = status;
  Box.Why = status == ExitStatus::Ok ? std::string() : why;
  Box.Bytes = BoxBytes;
  Record->Put(Box);
  Box.Started.clear();
}
