#include <algorithm>
#include <cstdio>
#include <random>
#include <system_error>

#include "cli/Latin1.h"
#include "cli/PortJob.h"
#include "cli/PortJobParts.h"
#include "cli/PortList.h"
#include "cli/ReadTarget.h"
#include "dlcfg/DlCfgRecord.h"
#include "platform/Files.h"
#include "platform/Station.h"
#include "service/FlashReadback.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

// What the engine says, shown to the operator and read for the job's verdicts.

using namespace portjob;
using std::chrono::duration;
using std::chrono::milliseconds;

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
