#include "cli/PortJob.h"

#include <random>
#include <system_error>

#include "dlcfg/DlCfgRecord.h"
#include "wire/Words.h"

namespace {

using std::chrono::duration;
using std::chrono::milliseconds;

// The box served counts as gone once its answers to the sync word have stopped this long.
constexpr milliseconds GoneAfter{2000};
// How long the box's lines are printed after send, and how long run-app waits for a refusal.
constexpr milliseconds ListenAfterSend{1000};
constexpr milliseconds ReopenEvery{300};

bool Commanded(Command c) {
  return c != Command::Monitor && c != Command::Send;
}

std::filesystem::path MakeReadFolder(const std::string& file) {
  const std::filesystem::path target(file);
  std::random_device random;
  const std::filesystem::path parent =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // Next to the file, so that the finished read moves into place in one rename.
  return parent / (".kelvarin-read-" + std::to_string(random()));
}

}  // namespace

const char* PhaseName(PortJob::Phase phase) {
  switch (phase) {
    case PortJob::Phase::Opening:
      return "opening";
    case PortJob::Phase::Syncing:
      return "syncing";
    case PortJob::Phase::Working:
      return "working";
    case PortJob::Phase::AwaitGone:
      return "waiting for the box to go";
    case PortJob::Phase::AwaitBox:
      return "waiting for a box";
    case PortJob::Phase::Reopening:
      return "waiting for the port";
    case PortJob::Phase::Done:
      return "done";
  }
  return "";
}

PortJob::PortJob(const CliOptions& options, const PortRequest& request, JobOutput& output,
                 Clock& clock, ProtocolThread& thread, std::string readFile)
    : Options(options), Request(request), Out(output), ReadTarget(std::move(readFile)) {
  if (Options.Cmd == Command::Read) ReadFolder = MakeReadFolder(ReadTarget);
  Engine = std::make_unique<Core>(
      *this, clock, ReadFolder.empty() ? std::string(".") : ReadFolder.string(), thread);
  Engine->SetReplyWaitSecs(Options.TimeoutSecs);
  Engine->SetDlCfgView(this);
}

PortJob::~PortJob() {
  Engine->Shutdown();
  DiscardReadFolder();
}

double PortJob::WorkSeconds(TimePoint now) const {
  if (WorkStart == TimePoint{}) return 0;
  return duration<double>((WorkEnded ? WorkEnd : now) - WorkStart).count();
}

bool PortJob::Quiet() const {
  // A station that watches a served box or a missing port would otherwise log every answer
  // to the sync word and every failed open.
  return State == Phase::AwaitGone || State == Phase::Reopening;
}

void PortJob::Enter(Phase phase) {
  State = phase;
  PhaseStart = Now;
  Out.StateChanged(*this);
}

void PortJob::Start(TimePoint now) {
  Now = now;
  Engine->StartWorkers();
  Enter(Phase::Opening);
  if (Engine->OpenPort(Request)) {
    LoaderAnswered = false;
    Enter(Phase::Syncing);
  } else {
    BoxNumber = 1;
    FinishBox(ExitStatus::PortFailed, LastMessage);
  }
}

void PortJob::Interrupt() {
  if (State == Phase::Done) return;
  Interrupted = true;
  ClosingOurselves = true;
  ++InEngineCall;
  Engine->ClosePort();
  --InEngineCall;
  ClosingOurselves = false;
  DiscardReadFolder();
  if (State == Phase::Working || State == Phase::Syncing) {
    if (!WorkEnded) {
      WorkEnded = true;
      WorkEnd = Now;
    }
    BoxResult r{BoxNumber == 0 ? 1 : BoxNumber, ExitStatus::Interrupted, "interrupted", Bytes,
                WorkSeconds(Now)};
    Out.BoxDone(*this, r);
  }
  WorstStatus = ExitStatus::Interrupted;
  Enter(Phase::Done);
}

void PortJob::StartWork(TimePoint now) {
  ++BoxNumber;
  Outcome = -1;
  OutcomeWhy.clear();
  Written = false;
  Bytes = 0;
  Total = 0;
  WorkStart = now;
  WorkEnded = false;
  LastActivity = now;
  Enter(Phase::Working);
  ++InEngineCall;
  bool sent = true;
  switch (Options.Cmd) {
    case Command::Upload: {
      std::error_code error;
      const auto size = std::filesystem::file_size(Options.Image, error);
      Total = error ? 0 : size;
      sent = Engine->StartUpload(Options.Image);
      if (!sent) Outcome = ExitStatus::Usage;
      break;
    }
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
      Engine->EraseFlash(Options.Start, Options.Size);
      break;
    case Command::Read: {
      Total = Options.Size;
      std::error_code error;
      std::filesystem::create_directories(ReadFolder, error);
      if (error) {
        --InEngineCall;
        FinishBox(ExitStatus::Usage, "Can't create " + ReadFolder.string());
        return;
      }
      Engine->ReadFlash(static_cast<std::int32_t>(Options.Start), Options.Size);
      break;
    }
    case Command::Monitor:
      break;
  }
  --InEngineCall;
  if (!sent && Outcome < 0) {
    Outcome = ExitStatus::LinkFailed;
    OutcomeWhy = LastMessage;
  }
}

void PortJob::FinishBox(int status, const std::string& why) {
  if (!WorkEnded) {
    WorkEnded = true;
    WorkEnd = Now;
  }
  Engine->CancelReplyWait();
  WantRecordForSet = false;
  if (Options.Cmd == Command::Read) DiscardReadFolder();
  BoxResult r{BoxNumber, status, why, Bytes, WorkSeconds(Now)};
  if (status == ExitStatus::Ok)
    ++Done;
  else
    ++Failed;
  WorstStatus = std::max(WorstStatus, status);
  Out.BoxDone(*this, r);
  // A port that cannot be opened at all, or an image that cannot be read, is no box's fault:
  // no later box would fare better.
  const bool fatal = status == ExitStatus::PortFailed || status == ExitStatus::Usage;
  if (status == ExitStatus::NoLoader) Out.LogLine(*this, why);
  if (!Options.Repeat || fatal) {
    ClosingOurselves = true;
    ++InEngineCall;
    Engine->ClosePort();
    --InEngineCall;
    ClosingOurselves = false;
    Enter(Phase::Done);
    return;
  }
  if (!Engine->Connected()) {
    Enter(Phase::Reopening);
    return;
  }
  LastAnswer = Now;
  Engine->ResumeSync();
  Enter(Phase::AwaitGone);
}

void PortJob::UpdateProgress() {
  const Core::WorkProgress p = Engine->Progress();
  if (p.What == Core::WorkProgress::Job::None || p.Total == 0) return;
  Total = p.Total;
  Bytes = std::max(Bytes, p.Done);
}

void PortJob::Tick(TimePoint now) {
  Now = now;
  switch (State) {
    case Phase::Opening:
    case Phase::Done:
      return;
    case Phase::Reopening:
      if (now - PhaseStart < ReopenEvery) return;
      PhaseStart = now;
      if (Engine->OpenPort(Request)) {
        LoaderAnswered = false;
        PortLostNow = false;
        Enter(Phase::AwaitBox);
      }
      return;
    case Phase::Syncing:
    case Phase::AwaitBox:
      if (PortLostNow) {
        PortLostNow = false;
        if (State == Phase::AwaitBox) {
          Enter(Phase::Reopening);
        } else {
          BoxNumber = std::max(BoxNumber, 1);
          FinishBox(ExitStatus::LinkFailed, LastMessage);
        }
        return;
      }
      if (LoaderAnswered) {
        LoaderAnswered = false;
        StartWork(now);
        return;
      }
      if (State == Phase::Syncing && !Options.Repeat && Options.WaitSecs > 0 &&
          now - PhaseStart > duration<double>(Options.WaitSecs)) {
        BoxNumber = 1;
        FinishBox(ExitStatus::NoLoader, "no answer from the loader");
      }
      return;
    case Phase::AwaitGone:
      if (PortLostNow) {
        PortLostNow = false;
        Enter(Phase::Reopening);
        return;
      }
      if (LoaderAnswered) {
        LoaderAnswered = false;
        LastAnswer = now;
        Engine->ResumeSync();
      }
      if (now - LastAnswer > GoneAfter) {
        Out.LogLine(*this, "box gone");
        Enter(Phase::AwaitBox);
      }
      return;
    case Phase::Working:
      break;
  }

  // Bytes still going out count as life: a long block on a slow line is no time-out.
  const std::uint64_t before = Bytes;
  UpdateProgress();
  if (Bytes != before) LastActivity = now;
  if (PortLostNow) {
    PortLostNow = false;
    FinishBox(ExitStatus::LinkFailed, LastMessage.empty() ? "port lost" : LastMessage);
    return;
  }
  if (Outcome >= 0) {
    FinishBox(Outcome, OutcomeWhy);
    return;
  }
  if (WriteNumber != 0 && !Written && Engine->Written(WriteNumber)) {
    Written = true;
    WrittenAt = now;
  }
  switch (Options.Cmd) {
    case Command::Reboot:
      if (Written) FinishBox(ExitStatus::Ok, "");
      return;
    case Command::RunApp:
    case Command::Send:
      if (Written && now - WrittenAt >= ListenAfterSend) FinishBox(ExitStatus::Ok, "");
      return;
    case Command::Monitor:
      return;
    default:
      break;
  }
  // The engine watches most replies itself; this also covers the words it does not watch
  // (tune, erase, the upload's verdict after the last block).
  if (Commanded(Options.Cmd) &&
      now - LastActivity > std::chrono::seconds(Options.TimeoutSecs) + milliseconds(1000)) {
    Out.LogLine(*this, "Timeout!!");
    FinishBox(ExitStatus::LinkFailed, "Timeout!!");
  }
}

void PortJob::AppendSystemLog(const std::string& line) {
  LastActivity = Now = std::chrono::steady_clock::now();
  if (!Quiet()) Out.LogLine(*this, line, true);
}

void PortJob::AppendLog(const std::string& line) {
  LastActivity = Now = std::chrono::steady_clock::now();
  if (Quiet()) return;
  const std::uint64_t before = Bytes;
  UpdateProgress();
  if (Bytes != before && State == Phase::Working) Out.ProgressMade(*this);
  const bool boxWork = Options.Cmd == Command::Send || Options.Cmd == Command::Monitor;
  // The box may print before the next tick has begun the work the loader's answer allows.
  const bool working = State == Phase::Working || LoaderAnswered;
  if (boxWork && working && InEngineCall == 0)
    Out.BoxLine(*this, line);
  else
    Out.LogLine(*this, line);
}

void PortJob::ShowMessage(const std::string& text) {
  LastMessage = text;
  if (!Quiet()) Out.LogLine(*this, text);
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
  LastActivity = std::chrono::steady_clock::now();
  switch (notice.Kind) {
    case EngineEvent::LoaderReady:
      LoaderAnswered = true;
      return;
    case EngineEvent::PortClosed:
      if (!ClosingOurselves) PortLostNow = true;
      return;
    case EngineEvent::ReplyTimedOut:
      if (State == Phase::Working && Outcome < 0) {
        Outcome = ExitStatus::LinkFailed;
        OutcomeWhy = "Timeout!!";
      }
      return;
    default:
      break;
  }
  if (State != Phase::Working || Outcome >= 0) return;
  auto verdict = [this](bool ok, const char* failure) {
    Outcome = ok ? ExitStatus::Ok : ExitStatus::BoxFailed;
    if (!ok) OutcomeWhy = failure;
  };
  const Command c = Options.Cmd;
  switch (notice.Kind) {
    case EngineEvent::UploadAccepted:
      if (c == Command::Upload) {
        Bytes = Total;
        verdict(true, "");
      }
      return;
    case EngineEvent::UploadRefused:
      if (c == Command::Upload) verdict(false, "Upload fail");
      return;
    case EngineEvent::LoaderVersion:
      if (c == Command::Version) {
        Out.Answer(*this, "version", {{"version", notice.Text}});
        verdict(true, "");
      }
      return;
    case EngineEvent::FlashReadDone:
      if (c == Command::Read) EndOfRead(true);
      return;
    case EngineEvent::FlashReadFailed:
      if (c == Command::Read) EndOfRead(false);
      return;
    case EngineEvent::StatusWord:
      break;
    default:
      return;
  }
  // The status words that settle each command: its success word (none for Run App, which
  // only answers when it fails), its failure word and the failure's text.
  struct Settles {
    Command Cmd;
    std::uint32_t Good;
    std::uint32_t Bad;
    const char* Failure;
  };
  static constexpr Settles Table[] = {
      {Command::VerifyBoot, Reply::VerifyBootOk, Reply::VerifyBootFail, "Verify boot code fail"},
      {Command::VerifyApp, Reply::VerifyAppOk, Reply::VerifyAppFail, "Verify App fail"},
      {Command::RunApp, 0, Reply::RunAppFail, "Run App fail"},
      {Command::ConfigSet, Reply::SetDlCfgOk, Reply::SetDlCfgFail, "Set DL CFG Fail"},
      {Command::ConfigDefault, Reply::SetDefaultOk, Reply::SetDefaultFail, "Set default CFG fail"},
      {Command::Tune, Reply::TuneOk, Reply::TuneFail, "Tune test fail"},
      {Command::Erase, Reply::EraseOk, Reply::EraseFail, "ERASE fail"},
  };
  const std::uint32_t w = notice.Word;
  for (const Settles& entry : Table)
    if (entry.Cmd == c && ((entry.Good != 0 && w == entry.Good) || w == entry.Bad))
      verdict(w != entry.Bad, entry.Failure);
}

void PortJob::EndOfRead(bool complete) {
  if (!complete) {
    Outcome = ExitStatus::BoxFailed;
    OutcomeWhy = "Read flash fail";
    return;
  }
  std::error_code error;
  std::filesystem::rename(ReadFolder / "flashdata.bin", ReadTarget, error);
  if (error) {
    Outcome = ExitStatus::Usage;
    OutcomeWhy = "Can't write " + ReadTarget + ": " + error.message();
    Out.LogLine(*this, OutcomeWhy);
    return;
  }
  Bytes = Total;
  Outcome = ExitStatus::Ok;
}

void PortJob::DiscardReadFolder() {
  if (ReadFolder.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(ReadFolder, error);
}

bool PortJob::ShowDLCfgRecord(const std::uint8_t* record) {
  if (State != Phase::Working || Outcome >= 0) return true;
  const DeliveryLayout layout = LayoutOfDeliveryType(record[DlCfgDeliveryTypeOffset]);
  std::vector<std::pair<std::string, std::string>> fields;
  DlCfgTexts texts;
  for (const DlCfgField& field : DlCfgFields()) {
    if (field.Layout != DeliveryLayout::Common && field.Layout != layout) continue;
    const std::string text = FieldText(field, record);
    fields.emplace_back(std::string(field.Edit).substr(5), text);
    texts[field.Edit] = text;
  }
  if (Options.Cmd == Command::ConfigGet) {
    Out.Answer(*this, "config", fields);
    Outcome = ExitStatus::Ok;
    return true;
  }
  if (Options.Cmd != Command::ConfigSet || !WantRecordForSet) return true;
  WantRecordForSet = false;
  for (const auto& [name, text] : Options.Changes) {
    const std::string edit = "text_" + name;
    if (texts.find(edit) == texts.end()) {
      Outcome = ExitStatus::Usage;
      OutcomeWhy = name + " is not a field of this box's delivery type";
      Out.LogLine(*this, OutcomeWhy);
      return true;
    }
    texts[edit] = text;
  }
  std::uint8_t packed[DlCfgRecordSize];
  PackRecord(texts, record, packed);
  ++InEngineCall;
  Engine->SetDlCfg(packed);
  --InEngineCall;
  return true;
}
