#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/JobView.h"

enum class OutputMode { Terminal, Plain, Json };

// Texts of the output, apart from the streams so that tests can read them.
// A JSON string of UTF-8 text; control characters (C0, DEL, C1) as \u escapes.
std::string JsonString(const std::string& utf8);
// The box's Latin-1 text for a terminal, in UTF-8: control characters other than tab shown as
// \xNN, so that the box (or noise on the line) cannot move, clear, retitle or remap it.
std::string TerminalText(const std::string& latin1);
// The same for text of the system (a file name, UTF-8).
std::string TerminalSystemText(const std::string& utf8);
std::string FormatBytes(std::uint64_t bytes);
// "PORT  42%  440.0 KiB / 1.0 MiB  90.1 KiB/s  0:07 left", or the state the port is in.
std::string ProgressLine(const JobView& job);

// Prints what the jobs report: log lines to standard error (prefixed by the port when there are
// several), everything else to standard output as the mode wants it. A stream whose reader has
// gone is written no more; the work goes on.
class Reporter : public JobOutput {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  Reporter(OutputMode mode, bool severalPorts, bool repeat, std::FILE* out, std::FILE* err);

  void LogLine(const JobView& job, const std::string& line, bool systemText = false) override;
  void BoxLine(const JobView& job, const std::string& line) override;
  void Answer(const JobView& job, const std::string& event,
              const std::vector<std::pair<std::string, std::string>>& fields) override;
  void StateChanged(const JobView& job) override;
  void BoxDone(const JobView& job) override;
  void ProgressMade(const JobView& job) override;

  // Called every round of the main loop: progress on the terminal or as lines.
  void Tick(const std::vector<JobView>& jobs, TimePoint now);
  // The summary at the end: a table of the boxes, and the counts of a station.
  void Finish(const std::vector<JobView>& jobs, bool interrupted);

 private:
  std::string Prefix(const JobView& job) const;
  // Writes text to the stream at once, unless that stream has failed before.
  void Emit(std::FILE* stream, const std::string& text);
  void ClearBlock();
  void DrawBlock();
  void Printed();

  OutputMode Mode;
  bool Several;
  bool Repeat;
  std::FILE* Out;
  std::FILE* Err;
  bool OutFailed = false;
  bool ErrFailed = false;
  std::vector<JobView> Jobs;
  std::vector<JobView> Rows;  // every box done, as it ended
  int BlockLines = 0;
  TimePoint LastDraw{};
};
