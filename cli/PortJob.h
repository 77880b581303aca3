#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "dlcfg/DlCfgView.h"
#include "engine/Core.h"
#include "link/Screen.h"
#include "platform/Clock.h"
#include "platform/ProtocolThread.h"

class PortJob;

// How one box went.
struct BoxResult {
  int Number = 0;  // counted from 1 on this port
  int Status = ExitStatus::Ok;
  std::string Why;  // the line that decided a failure
  std::uint64_t Bytes = 0;
  double Seconds = 0;
};

// Where a port's job reports: the program prints, tests record.
class JobOutput {
 public:
  virtual ~JobOutput() = default;
  // A line of the log: the engine's and the box's, Latin-1.
  // systemText: the line is the system's text (a file name), not the box's Latin-1.
  virtual void LogLine(const PortJob& job, const std::string& line, bool systemText = false) = 0;
  // A line the box printed, when printing the box's lines is the command's work (send, monitor).
  virtual void BoxLine(const PortJob& job, const std::string& line) = 0;
  // The command's answer: the loader version, the configuration's fields; Latin-1 texts.
  virtual void Answer(const PortJob& job, const std::string& event,
                      const std::vector<std::pair<std::string, std::string>>& fields) = 0;
  virtual void StateChanged(const PortJob& job) = 0;
  // Another block is through.
  virtual void ProgressMade(const PortJob& job) = 0;
  virtual void BoxDone(const PortJob& job, const BoxResult& result) = 0;
};

// One port's work: opens the port, syncs, runs the command, closes, and with --repeat serves
// box after box. Runs on the protocol thread only; Tick moves it on in time.
class PortJob : public Screen, public DlCfgView {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  enum class Phase {
    Opening,
    Syncing,  // sending the sync word until the loader answers
    Working,
    AwaitGone,  // --repeat: the box served still answers the sync word
    AwaitBox,   // --repeat: waiting for the next box to answer
    Reopening,  // --repeat: the port vanished; waiting for it to come back
    Done
  };

  PortJob(const CliOptions& options, const PortRequest& request, JobOutput& output, Clock& clock,
          ProtocolThread& thread, std::string readFile);
  ~PortJob() override;

  void Start(TimePoint now);
  void Tick(TimePoint now);
  // Stops at once: closes the port, drops a read in progress.
  void Interrupt();

  bool Finished() const { return State == Phase::Done; }
  Phase CurrentPhase() const { return State; }
  const std::string& Port() const { return Request.Name; }
  // The highest status of the boxes served (130 once interrupted).
  int Status() const { return WorstStatus; }
  int BoxesDone() const { return Done; }
  int BoxesFailed() const { return Failed; }
  std::uint64_t BytesDone() const { return Bytes; }
  std::uint64_t BytesTotal() const { return Total; }
  double WorkSeconds(TimePoint now) const;
  const std::string& ReadFile() const { return ReadTarget; }

  // Screen
  void AppendLog(const std::string& line) override;
  void AppendSystemLog(const std::string& line) override;
  void ShowMessage(const std::string& text) override;
  void SetCmdControls(bool) override {}
  void SetCaption(Caption which, const std::string& text) override;
  std::string GetCaption(Caption which) override;
  void ClearCommandEntry() override {}
  void Notify(const Notice& notice) override;
  // DlCfgView
  bool ShowDLCfgRecord(const std::uint8_t* record) override;

 private:
  void Enter(Phase phase);
  void StartWork(TimePoint now);
  void FinishBox(int status, const std::string& why);
  void UpdateProgress();
  void EndOfRead(bool complete);
  void DiscardReadFolder();
  bool Quiet() const;

  const CliOptions& Options;
  PortRequest Request;
  JobOutput& Out;
  std::string ReadTarget;
  std::filesystem::path ReadFolder;
  std::unique_ptr<Core> Engine;

  Phase State = Phase::Opening;
  TimePoint Now{};
  TimePoint PhaseStart{};
  TimePoint LastActivity{};
  TimePoint LastAnswer{};
  TimePoint WorkStart{};
  TimePoint WorkEnd{};
  bool WorkEnded = false;
  bool Interrupted = false;

  // What the engine told during the current step; looked at by Tick.
  bool LoaderAnswered = false;
  bool PortLostNow = false;
  bool ClosingOurselves = false;
  int Outcome = -1;  // the box's verdict once known
  std::string OutcomeWhy;
  std::uint64_t WriteNumber = 0;  // reboot, run-app, send: the message that has to go out
  bool Written = false;
  TimePoint WrittenAt{};
  bool WantRecordForSet = false;

  std::string UploadCaption = "Upload Code";
  std::string LastMessage;
  int InEngineCall = 0;

  std::uint64_t Bytes = 0;
  std::uint64_t Total = 0;
  int BoxNumber = 0;
  int Done = 0;
  int Failed = 0;
  int WorstStatus = ExitStatus::Ok;
};

const char* PhaseName(PortJob::Phase phase);
