#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/JobView.h"

enum class OutputMode { Terminal, Plain, Json };

// Texts of the output, apart from the streams so that tests can read them.
std::string JsonString(const std::string& utf8);
std::string FormatBytes(std::uint64_t bytes);
// "PORT  42%  440.0 KiB / 1.0 MiB  90.1 KiB/s  0:07 left", or the state the port is in.
std::string ProgressLine(const JobView& job);

// Prints what the jobs report: log lines to standard error (prefixed by the port when there are
// several), everything else to standard output as the mode wants it.
class Reporter : public JobOutput {
 public:
  Reporter(OutputMode mode, bool severalPorts, bool repeat, std::FILE* out, std::FILE* err);

  using TimePoint = std::chrono::steady_clock::time_point;

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
  void ClearBlock();
  void DrawBlock(TimePoint now);
  void Printed();

  OutputMode Mode;
  bool Several;
  bool Repeat;
  std::FILE* Out;
  std::FILE* Err;
  std::vector<JobView> Jobs;
  std::vector<JobView> Rows;  // every box done, as it ended
  int BlockLines = 0;
  TimePoint LastDraw{};
};
