#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/PortJob.h"

enum class OutputMode { Terminal, Plain, Json };

// Texts of the output, apart from the streams so that tests can read them.
std::string JsonString(const std::string& utf8);
std::string FormatBytes(std::uint64_t bytes);
// "PORT  42%  440.0 KiB / 1.0 MiB  90.1 KiB/s  0:07 left", or the phase the port is in.
std::string ProgressLine(const PortJob& job, double seconds);

// Prints what the jobs report: log lines to standard error (prefixed by the port when there are
// several), everything else to standard output as the mode wants it.
class Reporter : public JobOutput {
 public:
  Reporter(OutputMode mode, bool severalPorts, bool repeat, std::FILE* out, std::FILE* err);

  void LogLine(const PortJob& job, const std::string& line, bool systemText = false) override;
  void BoxLine(const PortJob& job, const std::string& line) override;
  void Answer(const PortJob& job, const std::string& event,
              const std::vector<std::pair<std::string, std::string>>& fields) override;
  void StateChanged(const PortJob& job) override;
  void BoxDone(const PortJob& job, const BoxResult& result) override;
  void ProgressMade(const PortJob& job) override;

  // Called every round of the main loop: progress on the terminal or as lines.
  void Tick(const std::vector<const PortJob*>& jobs, PortJob::TimePoint now);
  // The summary at the end: a table of the boxes, and the counts of a station.
  void Finish(const std::vector<const PortJob*>& jobs, bool interrupted);

 private:
  struct Row {
    std::string Port;
    BoxResult Result;
  };
  std::string Prefix(const PortJob& job) const;
  void ClearBlock();
  void DrawBlock(PortJob::TimePoint now);
  void Printed();

  OutputMode Mode;
  bool Several;
  bool Repeat;
  std::FILE* Out;
  std::FILE* Err;
  std::vector<const PortJob*> Jobs;
  std::vector<Row> Rows;
  int BlockLines = 0;
  PortJob::TimePoint LastDraw{};
};
