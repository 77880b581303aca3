#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/JobView.h"
#include "cli/OutputWriter.h"
#include "production/Json.h"

// Terminal: standard error is a terminal, where each port has a line redrawn in place.
enum class OutputMode { Terminal, Plain, Json };

// Texts of the output, apart from the streams so that tests can read them.
// The box's Latin-1 text for a terminal, in UTF-8: control characters other than tab shown as
// \xNN, so that the box (or noise on the line) cannot move, clear, retitle or remap it.
std::string TerminalText(const std::string& latin1);
// The same for text of the system (a file name, UTF-8).
std::string TerminalSystemText(const std::string& utf8);
std::string FormatBytes(std::uint64_t bytes);
// "PORT   42% sent  440.0 KiB / 1.0 MiB  11.2 KiB/s  0:53 left", "PORT  waiting for loader
// 3 s", or how the port ended; the port's name takes width columns.
std::string ProgressLine(const JobView& job, std::size_t width = 0);
// The table of the boxes at the end: port, result, bytes, seconds, and why a box failed; the
// texts in it made safe for a terminal.
std::string SummaryTable(const std::vector<JobView>& rows);
// "/dev/ttyUSB0 box 1: ok, 300000 bytes, 26.3 s, status 0"
std::string BoxResultLine(const JobView& job);
// The text cut to columns characters (UTF-8), the last one an ellipsis when it is cut.
std::string FitColumns(const std::string& utf8, std::size_t columns);

// Prints what the jobs report. Standard output carries the results alone: the box's answers,
// or with --json every event. Standard error is for the operator: errors always, once each;
// progress and the boxes' results unless quiet; the log of the line when verbose (prefixed by
// the port when there are several). A stream whose reader has gone is written no more, and one
// that is held up (a stopped terminal) holds up nothing: the work goes on.
class Reporter : public JobOutput {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // summary: whether the boxes' results are told (a single box's answer tells it already).
  // columns: the terminal's width, 0 when unknown.
  Reporter(OutputMode mode, Verbosity level, bool severalPorts, bool repeat, bool summary,
           std::FILE* out, std::FILE* err, std::size_t columns = 0);

  void LogLine(const JobView& job, const std::string& line, bool systemText = false) override;
  void BoxLine(const JobView& job, const std::string& line) override;
  void Answer(const JobView& job, const std::string& event,
              const std::vector<std::pair<std::string, std::string>>& fields) override;
  void StateChanged(const JobView& job) override;
  void Verified(const JobView& job, std::uint64_t first, std::uint64_t differing,
                std::uint32_t start) override;
  void BoxDone(const JobView& job) override;
  void ProgressMade(const JobView& job) override;

  // A line for the operator from elsewhere in the program (text of the system), unless quiet.
  void Note(const std::string& text);
  // A question to the operator (a box's label): shown however quiet the output is. Until it is
  // answered the progress lines stay put, so that what the operator types stays in sight.
  void Ask(const std::string& text);
  void Answered() { Asking = false; }
  // Called every round of the main loop: progress on the terminal or as lines.
  void Tick(const std::vector<JobView>& jobs, TimePoint now);
  // The summary at the end: a table of the boxes, and the counts of a station.
  void Finish(const std::vector<JobView>& jobs, bool interrupted);

 private:
  std::string Prefix(const JobView& job) const;
  // Hands text to the writer for the stream: the work never waits for a stream.
  void Emit(std::FILE* stream, const std::string& text);
  // Writes to standard output, below the block of progress lines when they share the terminal.
  void EmitResult(const std::string& text);
  void EmitNote(const std::string& text);
  // What clears the block of progress lines drawn last; it counts as cleared from then on.
  std::string TakeBlock();
  void ClearBlock();
  void DrawBlock();
  void Printed();
  bool Logged(const JobView& job, const std::string& line) const;

  OutputMode Mode;
  Verbosity Level;
  bool Several;
  bool Repeat;
  bool Summary;
  std::FILE* Out;
  std::FILE* Err;
  std::size_t Columns;
  std::vector<JobView> Jobs;
  std::vector<JobView> Rows;  // every box done, as it ended
  // The last lines of the log of each port: an error it has shown is not told again.
  std::vector<std::pair<std::string, std::string>> RecentLog;
  int BlockLines = 0;
  TimePoint LastDraw{};
  bool Asking = false;  // a question waits for the operator: the progress lines stay put
  OutputWriter Writer;  // last: it writes what waits before the rest goes
};
