#include "cli/PortJob.h"

#include <algorithm>
#include <random>
#include <system_error>

#include "cli/ReadTarget.h"
#include "dlcfg/DlCfgRecord.h"
#include "platform/Files.h"
#include "service/FlashReadback.h"
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

// The status words that settle each command: its success word (none for Run App, which only
// answers when it fails), its failure word and the failure's text.
struct Settles {
  Command Cmd;
  std::uint32_t Good;
  std::uint32_t Bad;
  const char* Failure;
};
constexpr Settles SettlingWords[] = {
    {Command::VerifyBoot, Reply::VerifyBootOk, Reply::VerifyBootFail, "Verify boot code fail"},
    {Command::VerifyApp, Reply::VerifyAppOk, Reply::VerifyAppFail, "Verify App fail"},
    {Command::RunApp, 0, Reply::RunAppFail, "Run App fail"},
    {Command::ConfigSet, Reply::SetDlCfgOk, Reply::SetDlCfgFail, "Set DL CFG Fail"},
    {Command::ConfigDefault, Reply::SetDefaultOk, Reply::SetDefaultFail, "Set default CFG fail"},
    {Command::Tune, Reply::TuneOk, Reply::TuneFail, "Tune test fail"},
    {Command::Erase, Reply::EraseOk, Reply::EraseFail, "ERASE fail"},
};

PortJob::Event Settled(int status, std::string why = {}) {
  return {Kind::Settled, status, std::move(why)};
}

}  // namespace

PortJob::PortJob(const CliOptions& options, const PortRequest& request, JobOutput& output,
                 Clock& clock, ProtocolThread& thread, std::string readFile,
                 std::shared_ptr<const UploadImage> image)
    : Options(options),
      Request(request),
      Out(output),
      Image(std::move(image)),
      ReadBase(std::move(readFile)) {
  // The boxes' files of a station sit beside the name given; a single read's file is the one
  // a link leads to.
  if (Options.Cmd == Command::Read)
    ReadFolder = MakeReadFolder(Options.Repeat ? ReadBase : FileBehindLinks(ReadBase));
  Engine = std::make_unique<Core>(
      *this, clock, ReadFolder.empty() ? std::string(".") : SystemName(ReadFolder), thread);
  Engine->SetReplyWaitSecs(Options.TimeoutSecs);
  Engine->SetDlCfgView(this);
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
  v.Seconds = WorkSeconds();
  v.Status = LastStatus;
  v.Why = LastWhy;
  if (Options.Cmd == Command::Read && LastStatus == ExitStatus::Ok) v.File = ReadName;
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
      if (e.What == Kind::LoaderAnswered) {
        StartWork();
      } else if (e.What == Kind::PortLost) {
        BoxNumber = std::max(BoxNumber, 1);
        FinishBox(ExitStatus::LinkFailed, LastMessage);
      } else if (e.What == Kind::TimePasses && !Options.Repeat && Options.WaitSecs > 0 &&
                 Now - StateSince > duration<double>(Options.WaitSecs)) {
        BoxNumber = 1;
        FinishBox(ExitStatus::NoLoader, "no answer from the loader");
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
  switch (e.What) {
    case Kind::PortLost:
      FinishBox(ExitStatus::LinkFailed, LastMessage.empty() ? "port lost" : LastMessage);
      return;
    case Kind::Settled:
      if (Options.Cmd == Command::Version && e.Status == ExitStatus::Ok)
        Out.Answer(View(), "version", {{"version", e.Text}});
      FinishBox(e.Status, e.Why);
      return;
    case Kind::RecordArrived:
      RecordArrived(e.Record);
      return;
    case Kind::ReadEnded:
      EndOfRead(e.Status == ExitStatus::Ok);
      return;
    case Kind::Written:
      Written = true;
      WrittenAt = Now;
      if (Options.Cmd == Command::Reboot) FinishBox(ExitStatus::Ok, "");
      return;
    case Kind::TimePasses:
      break;
    default:
      return;
  }
  if ((Options.Cmd == Command::RunApp || Options.Cmd == Command::Send) && Written &&
      Now - WrittenAt >= ListenAfterSend) {
    FinishBox(ExitStatus::Ok, "");
    return;
  }
  // The engine watches most replies itself, but any status word ends its wait, the loader's
  // answer to the sync word too; this also covers the words it does not watch (tune, erase,
  // the upload's verdict after the last block).
  const bool waitsForAnswer =
      Commanded(Options.Cmd) && Options.Cmd != Command::Reboot && Options.Cmd != Command::RunApp;
  if (waitsForAnswer &&
      Now - AnsweredAt > std::chrono::seconds(Options.TimeoutSecs) + milliseconds(1000)) {
    Out.LogLine(View(), "Timeout!!");
    FinishBox(ExitStatus::LinkFailed, "Timeout!!");
  }
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
    FinishBox(ExitStatus::PortFailed, LastMessage);
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
  if (State == JobState::Working && Options.Cmd == Command::Upload)
    Bytes = Engine->UploadBytesSent();
  DiscardReadFolder();
  if (State == JobState::Working || State == JobState::Syncing) {
    if (!WorkEnded) {
      WorkEnded = true;
      WorkEnd = Now;
    }
    BoxNumber = std::max(BoxNumber, 1);
    LastStatus = ExitStatus::Interrupted;
    LastWhy = "interrupted";
    Out.BoxDone(View());
  }
  WorstStatus = ExitStatus::Interrupted;
  Enter(JobState::Done);
}

void PortJob::StartWork() {
  ++BoxNumber;
  Written = false;
  WriteNumber = 0;
  Bytes = 0;
  Total = 0;
  ShownBytes = 0;
  ShownAt = Now;
  WorkStart = Now;
  WorkEnded = false;
  AnsweredAt = Now;
  if (Options.Cmd == Command::Read)
    ReadName = Options.Repeat ? BoxFileName(ReadBase, BoxNumber) : ReadBase;
  Enter(JobState::Working);
  ++InEngineCall;
  bool sent = true;
  switch (Options.Cmd) {
    case Command::Upload:
      Total = Image->Stamp.Size;
      sent = Engine->StartUpload(Image, Options.Image);
      break;
    case Command::Version:
      sent = Engine->LoaderVersion();
      break;
    case Command::VerifyBoot:
      sent = Engine->SendCmdWord(Cmd::VerifyBoot);
      break;
    case Command::VerifyApp:
      sent = Engine->SendCmdWord(Cmd::VerifyApp);
      break;
    case Command::RunApp:
      sent = Engine->SendCmdWord(Cmd::RunApp);
      WriteNumber = Engine->LastQueued();
      break;
    case Command::Reboot:
      sent = Engine->RebootStb();
      WriteNumber = Engine->LastQueued();
      break;
    case Command::Send:
      sent = Engine->SendCmd(reinterpret_cast<const std::uint8_t*>(Options.Text.data()),
                             static_cast<int>(Options.Text.size()));
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
      Engine->TuneTest(Options.FrequencyKHz, Options.Bandwidth);
      break;
    case Command::Erase:
      sent = Engine->EraseFlash(Options.Start, Options.Size);
      break;
    case Command::Read: {
      Total = Options.Size;
      std::error_code error;
      std::filesystem::create_directory(ReadFolder, error);
      if (error) {
        --InEngineCall;
        const std::string why = "Can't write " + ReadName + ": " + error.message();
        Out.LogLine(View(), why, true);
        FinishBox(ExitStatus::Usage, why);
        return;
      }
      sent = Engine->ReadFlash(Options.Start, Options.Size);
      break;
    }
    case Command::Monitor:
      break;
  }
  --InEngineCall;
  if (!sent) Raise(Settled(ExitStatus::LinkFailed, LastMessage));
}

void PortJob::FinishBox(int status, const std::string& why) {
  if (!WorkEnded) {
    WorkEnded = true;
    WorkEnd = Now;
  }
  // The bytes that went out, whatever the verdict: an upload's count stays once it has ended.
  if (State == JobState::Working && Options.Cmd == Command::Upload)
    Bytes = Engine->UploadBytesSent();
  Engine->CancelReplyWait();
  WantRecordForSet = false;
  if (Options.Cmd == Command::Read) DiscardReadFolder();
  if (status == ExitStatus::Ok)
    ++Done;
  else
    ++Failed;
  WorstStatus = std::max(WorstStatus, status);
  LastStatus = status;
  LastWhy = why;
  Out.BoxDone(View());
  // A port that cannot be opened at all, or an image that cannot be read, is no box's fault:
  // no later box would fare better.
  const bool fatal = status == ExitStatus::PortFailed || status == ExitStatus::Usage;
  if (status == ExitStatus::NoLoader) Out.LogLine(View(), why);
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
  if (Options.Cmd == Command::Upload) {
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
  const std::uint64_t block = BlockBytes(Options.Cmd);
  const bool blockThrough = Bytes / block != ShownBytes / block || Bytes == Total;
  if (!blockThrough && Now - ShownAt < ProgressEvery) return;
  ShownBytes = Bytes;
  ShownAt = Now;
  Out.ProgressMade(View());
}

void PortJob::AppendSystemLog(const std::string& line) {
  Now = std::chrono::steady_clock::now();
  if (!Quiet()) Out.LogLine(View(), line, true);
}

void PortJob::AppendBoxText(const std::string& line) {
  // All of the line, a zero byte too: the output shows what cannot be printed as escapes.
  AppendLog(!line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
}

void PortJob::AppendLog(const std::string& line) {
  Now = std::chrono::steady_clock::now();
  if (Quiet()) return;
  const bool boxWork = Options.Cmd == Command::Send || Options.Cmd == Command::Monitor;
  // The box may print before the next tick has begun the work the loader's answer allows.
  const bool working = State == JobState::Working || LoaderAnswerWaiting();
  if (boxWork && working && InEngineCall == 0)
    Out.BoxLine(View(), line);
  else
    LogEngineLine(line);
}

void PortJob::ShowMessage(const std::string& text) {
  LastMessage = text;
  if (!Quiet()) LogEngineLine(text);
}

void PortJob::LogEngineLine(const std::string& line) {
  const std::string named = NamingTheReadFile(line);
  if (named == line)
    Out.LogLine(View(), line);
  else
    Out.LogLine(View(), named, true);
}

std::string PortJob::NamingTheReadFile(const std::string& line) const {
  if (Options.Cmd != Command::Read || ReadName.empty()) return line;
  // The read-back writes flashdata.bin (and its part file) in a folder of its own beside the
  // read's file; what the operator knows is the file.
  const std::string own = SystemName(ReadFolder / "flashdata.bin");
  std::string named = line;
  for (const std::string& name : {own + ".part", own, std::string("flashdata.bin")}) {
    const std::size_t at = named.find(name);
    if (at != std::string::npos) return named.replace(at, name.size(), ReadName);
  }
  return line;
}

void PortJob::SetCaption(Caption which, const std::string& text) {
  if (which == Caption::UploadButton) {
    UploadCaption = text;
    return;
  }
  if (text != "Status") AppendLog(text);
}

std::string PortJob::GetCaption(Caption which) {
  return which == Caption::UploadButton ? UploadCaption : std::string();
}

void PortJob::Notify(const Notice& notice) {
  switch (notice.Kind) {
    case EngineEvent::LoaderReady:
      Raise({Kind::LoaderAnswered});
      return;
    case EngineEvent::PortClosed:
      if (!ClosingOurselves) Raise({Kind::PortLost});
      return;
    default:
      break;
  }
  // Anything else can only settle the command at work; an answer that comes before it has
  // begun answers nothing of it.
  if (State != JobState::Working) return;
  const Command c = Options.Cmd;
  switch (notice.Kind) {
    case EngineEvent::ReplyTimedOut:
      Raise(Settled(ExitStatus::LinkFailed, "Timeout!!"));
      return;
    case EngineEvent::UploadAccepted:
      if (c == Command::Upload) Raise(Settled(ExitStatus::Ok));
      return;
    case EngineEvent::UploadRefused:
      if (c == Command::Upload)
        Raise(Settled(ExitStatus::BoxFailed, notice.Text.empty() ? "Upload fail" : notice.Text));
      return;
    case EngineEvent::UploadImageChanged:
      if (c == Command::Upload) Raise(Settled(ExitStatus::Usage, notice.Text));
      return;
    case EngineEvent::LoaderVersion:
      if (c == Command::Version) {
        Event e = Settled(ExitStatus::Ok);
        e.Text = notice.Text;
        Raise(std::move(e));
      }
      return;
    case EngineEvent::FlashReadDone:
    case EngineEvent::FlashReadFailed:
      if (c == Command::Read)
        Raise({Kind::ReadEnded,
               notice.Kind == EngineEvent::FlashReadDone ? ExitStatus::Ok : ExitStatus::BoxFailed});
      return;
    case EngineEvent::StatusWord:
      for (const Settles& entry : SettlingWords) {
        const std::uint32_t w = notice.Word;
        if (entry.Cmd == c && ((entry.Good != 0 && w == entry.Good) || w == entry.Bad))
          Raise(w == entry.Bad ? Settled(ExitStatus::BoxFailed, entry.Failure)
                               : Settled(ExitStatus::Ok));
      }
      return;
    default:
      return;
  }
}

bool PortJob::ShowDLCfgRecord(const std::uint8_t* record) {
  if (State == JobState::Working)
    Raise({Kind::RecordArrived, ExitStatus::Ok, {}, {}, {record, record + DlCfgRecordSize}});
  return true;
}

void PortJob::RecordArrived(const std::vector<std::uint8_t>& record) {
  const DeliveryLayout layout = LayoutOfDeliveryType(record[DlCfgDeliveryTypeOffset]);
  std::vector<std::pair<std::string, std::string>> fields;
  DlCfgTexts texts;
  for (const DlCfgField& field : DlCfgFields()) {
    if (field.Layout != DeliveryLayout::Common && field.Layout != layout) continue;
    const std::string text = FieldText(field, record.data());
    fields.emplace_back(std::string(field.Edit).substr(5), text);
    texts[field.Edit] = text;
  }
  if (Options.Cmd == Command::ConfigGet) {
    Out.Answer(View(), "config", fields);
    FinishBox(ExitStatus::Ok, "");
    return;
  }
  if (Options.Cmd != Command::ConfigSet || !WantRecordForSet) return;
  WantRecordForSet = false;
  AnsweredAt = Now;
  for (const auto& [name, text] : Options.Changes) {
    const std::string edit = "text_" + name;
    if (texts.find(edit) == texts.end()) {
      const std::string why = name + " is not a field of this box's delivery type";
      Out.LogLine(View(), why);
      FinishBox(ExitStatus::Usage, why);
      return;
    }
    texts[edit] = text;
  }
  std::uint8_t packed[DlCfgRecordSize];
  const std::string problem = PackRecord(texts, record.data(), packed);
  if (!problem.empty()) {
    Out.LogLine(View(), problem);
    FinishBox(ExitStatus::Usage, problem);
    return;
  }
  ++InEngineCall;
  Engine->SetDlCfg(packed);
  --InEngineCall;
}

void PortJob::EndOfRead(bool complete) {
  if (!complete) {
    FinishBox(ExitStatus::BoxFailed, "Read flash fail");
    return;
  }
  // Written through a link to the file it leads to, as writing to the name would.
  const std::string file = FileBehindLinks(ReadName);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(SystemPath(file), error);
  const bool replaceable =
      !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
  if (file.empty() || !replaceable || !MoveOnto(SystemName(ReadFolder / "flashdata.bin"), file)) {
    const std::string why = "Can't write " + ReadName;
    Out.LogLine(View(), why, true);
    FinishBox(ExitStatus::Usage, why);
    return;
  }
  Bytes = Total;
  Out.LogLine(View(), "Read written to " + ReadName, true);
  FinishBox(ExitStatus::Ok, "");
}

void PortJob::DiscardReadFolder() {
  if (ReadFolder.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(ReadFolder, error);
}
