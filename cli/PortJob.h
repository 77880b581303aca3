#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/JobView.h"
#include "cli/LabelDesk.h"
#include "engine/Core.h"
#include "link/EngineEvents.h"
#include "platform/Clock.h"
#include "platform/ProtocolThread.h"
#include "production/BoxRecord.h"
#include "production/Recorder.h"
#include "replies/CodeUpload.h"

// The image a step uploads or compares, opened once for every box, and its digest.
struct StepImage {
  std::shared_ptr<const UploadImage> Image;
  std::string Sha256;
};

// One port's work: opens the port, syncs, runs the command, closes, and with --repeat serves
// box after box. A state machine: the engine's reports and the clock become events, and
// Handle moves the job from state to state. Runs on the protocol thread only.
class PortJob : public EventSink {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  struct Event {
    enum class Kind {
      Started,         // the program begins the job
      LoaderAnswered,  // the loader answered the sync word
      PortLost,        // the port went away without the job closing it: Why
      Settled,         // the command's outcome is known: Status, Why; Text for the version
      RecordArrived,   // the box's configuration record: Record
      ReadEnded,       // the flash read-back ended: Status Ok when the file is complete,
                       // Text: where it is when not under its own name
      Written,         // the message the command had to get out has gone out on the line
      TimePasses,      // the clock moved on: deadlines are looked at
      Interrupted,     // the operator stopped the program
    };
    Kind What;
    int Status = ExitStatus::Ok;
    std::string Why{};
    std::string Text{};
    std::vector<std::uint8_t> Record{};
    // Raised: the step at work then (see StepSerial); 0 for what happens now.
    std::uint64_t ForStep = 0;
  };

  // readFile: where a read's bytes go (with --repeat, each box's file is named after it);
  // image: the image of an upload, opened once for every box.
  // images: one a step (a job's steps, else the command), null for a step without one.
  // recorder: where the record of every box goes; null for none.
  PortJob(const CliOptions& options, const PortRequest& request, JobOutput& output, Clock& clock,
          ProtocolThread& thread, std::string readFile, std::vector<StepImage> images = {},
          Recorder* recorder = nullptr);
  ~PortJob() override;

  void Start(TimePoint now);
  // Handles what the engine reported since the last call, then lets time pass.
  void Tick(TimePoint now);
  // Stops at once: closes the port, drops a read in progress.
  void Interrupt();
  // Events wait to be handled: the program should tick soon.
  bool EventsWaiting() const { return !Pending.empty(); }

  bool Finished() const { return State == JobState::Done; }
  // The highest status of the boxes served (130 once interrupted).
  int Status() const { return WorstStatus; }
  JobView View() const;

  // EventSink
  void On(const EngineEvent& event) override;

 private:
  // The transition function: every change of state happens here.
  void Handle(const Event& event);
  void HandleWork(const Event& event);
  void Raise(Event event) {
    event.ForStep = StepSerial;
    Pending.push_back(std::move(event));
  }
  bool LoaderAnswerWaiting() const;

  void Enter(JobState state);
  // The step at work: the command, or the job's step.
  const CliOptions& Step() const { return *Steps[StepIndex]; }
  const std::shared_ptr<const UploadImage>& Image() const { return Images[StepIndex].Image; }
  void StartStep();
  // The record of the box at work: its start, each step's end, its end.
  bool Recorded() const;
  void BeginRecord();
  void EndStep(int status, const std::string& why);
  void EndRecord(const std::string& result, int status, const std::string& why);
  void OpenPort();
  void StartWork();
  void FinishBox(int status, const std::string& why);
  void EndInterrupted();
  void ClosePort();
  void TrackProgress();
  void ShowProgress();
  void RecordArrived(const std::vector<std::uint8_t>& record);
  void LabelGiven(std::uint64_t step, const std::string& label);
  // read: where the complete read-back is; empty when the box failed the read.
  void EndOfRead(const std::filesystem::path& read);
  void EndOfVerify(const std::filesystem::path& read);
  // Why the port went away: the engine's word, else the last message.
  std::string LostWhy(const Event& e) const;
  bool ReadsFlash() const { return Step().Cmd == Command::Read || Step().Cmd == Command::Verify; }
  void DiscardReadFolder();
  bool KeptInReadFolder = false;  // a complete read that could be moved nowhere else is there
  // What the engine's event means for the job, and what of it the output shows.
  void React(const EngineEvent& event);
  void Show(const EngineEvent& event);
  double WorkSeconds() const;
  bool Quiet() const;

  const CliOptions& Options;
  PortRequest Request;
  JobOutput& Out;
  std::vector<const CliOptions*> Steps;
  std::size_t StepIndex = 0;
  // Counts the steps begun: what the engine reported for one step settles no later one, however
  // late it is handled.
  std::uint64_t StepSerial = 0;
  std::vector<StepImage> Images;
  Recorder* Record;
  BoxRecord Box;  // without its steps: each goes to the record once, as it ends
  std::size_t BoxSteps = 0;
  std::uint64_t BoxBytes = 0;  // the bytes of the box's steps that have ended, on the line
  TimePoint BoxStart{};
  TimePoint StepStart{};
  bool ContinuingBox = false;  // the loader's answer lets the box's next step begin

 public:
  // The port's adapter, as the record names it.
  std::string Adapter;
  // Where a label step asks the operator; null: nobody is asked, the box has none.
  LabelDesk* Labels = nullptr;

 private:
  std::string ReadBase;  // read: the file as given for this port
  std::string ReadName;  // read: this box's file
  std::filesystem::path ReadFolder;
  std::unique_ptr<Core> Engine;

  JobState State = JobState::Opening;
  std::deque<Event> Pending;
  TimePoint Now{};
  TimePoint StateSince{};
  // When the command went out or its own answer last moved on (a block asked for and going
  // out, flash data coming in): the reply time-out counts from here, whatever else the box says.
  TimePoint AnsweredAt{};
  std::uint64_t ShownBytes = 0;  // the progress last shown, and when
  TimePoint ShownAt{};
  TimePoint LastAnswer{};  // AwaitGone: when the served box last answered the sync word
  TimePoint WorkStart{};
  TimePoint WorkEnd{};
  bool WorkEnded = false;

  bool ClosingOurselves = false;
  std::uint64_t WriteNumber = 0;  // reboot, run-app, send: the message that has to go out
  bool Written = false;
  TimePoint WrittenAt{};
  bool WantRecordForSet = false;

  std::string LastMessage;
  bool Answered = false;
  int InEngineCall = 0;

  std::uint64_t Bytes = 0;
  std::uint64_t Total = 0;
  int BoxNumber = 0;
  int LastStatus = ExitStatus::Ok;
  std::string LastWhy;
  int Done = 0;
  int Failed = 0;
  int WorstStatus = ExitStatus::Ok;
};
