#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Where a port's job stands.
enum class JobState {
  Opening,
  Syncing,  // sending the sync word until the loader answers
  Working,
  AwaitGone,  // --repeat: the box served still answers the sync word
  AwaitBox,   // --repeat: waiting for the next box to answer
  Reopening,  // --repeat: the port vanished; waiting for it to come back
  Done
};

// The word the output uses for a state: "syncing", "waiting for a box".
const char* StateWord(JobState state);

// What the output sees of a port's job: a copy taken when it is handed over, so that the
// output needs nothing of the job itself.
struct JobView {
  std::string Port;
  JobState State = JobState::Opening;
  int Box = 0;        // the box at work or last served, counted from 1 on this port
  std::string Label;  // the box's label, once the operator gave it
  std::uint64_t BytesDone = 0;
  std::uint64_t BytesTotal = 0;
  bool Receiving = false;  // the bytes come in (a read), rather than go out
  bool Worked = false;     // the box's work began (it answered the sync word)
  double Seconds = 0;      // of that box's work
  // The box's whole work: every step's bytes on the line, and the time from its first step.
  std::uint64_t BoxBytes = 0;
  double BoxSeconds = 0;
  double Waited = 0;  // in the state the job is in now, when that is a wait
  // The most the line can carry, in bytes a second, from its baud rate and frame.
  double LineBytesPerSecond = 0;
  // How the last box served went: its status and the line that decided a failure (text of
  // the system: UTF-8).
  int Status = 0;
  std::string Why;
  bool Answered = false;  // the box's result is already on standard output (verify)
  std::string File;       // read: the file the box's bytes went to
  int BoxesDone = 0;
  int BoxesFailed = 0;
};

// Where a port's job reports: the program prints, tests record.
class JobOutput {
 public:
  virtual ~JobOutput() = default;
  // A line of the log: the engine's and the box's, Latin-1.
  // systemText: the line is the system's text (a file name), not the box's Latin-1.
  virtual void LogLine(const JobView& job, const std::string& line, bool systemText = false) = 0;
  // A line the box printed, when printing the box's lines is the command's work (send, monitor).
  virtual void BoxLine(const JobView& job, const std::string& line) = 0;
  // The command's answer: the loader version ("version"), the configuration's fields
  // ("config"), one field's text ("field"); Latin-1 texts.
  virtual void Answer(const JobView& job, const std::string& event,
                      const std::vector<std::pair<std::string, std::string>>& fields) = 0;
  // verify's answer: the flash holds the image (differing 0), or where it first differs
  // (an offset in the image) and in how many bytes.
  virtual void Verified(const JobView& job, std::uint64_t first, std::uint64_t differing,
                        std::uint32_t start) = 0;
  virtual void StateChanged(const JobView& job) = 0;
  // Another block is through.
  virtual void ProgressMade(const JobView& job) = 0;
  // A box is done: Status and Why of the view are its result.
  virtual void BoxDone(const JobView& job) = 0;
};
