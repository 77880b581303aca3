#include "cli/Reporter.h"

#include <algorithm>
#include <cinttypes>

#include "cli/CliOptions.h"
#include "cli/Latin1.h"

namespace {

const char* ResultName(int status) {
  switch (status) {
    case ExitStatus::Ok:
      return "ok";
    case ExitStatus::BoxFailed:
      return "failed";
    case ExitStatus::Usage:
      return "bad image, field or file";
    case ExitStatus::PortFailed:
      return "port failed";
    case ExitStatus::NoLoader:
      return "no loader";
    case ExitStatus::LinkFailed:
      return "time-out or port lost";
    case ExitStatus::NotWritten:
      return "read kept, file not written";
    case ExitStatus::Interrupted:
      return "interrupted";
  }
  return "?";
}

std::string ClockText(double seconds) {
  const auto s = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

std::string Format(const char* format, auto... args) {
  char text[512];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

std::string TerminalText(const std::string& latin1) {
  std::string out;
  for (const char c : latin1) {
    const auto b = static_cast<unsigned char>(c);
    if (ControlCode(b)) {
      out += Format("\\x%02x", b);
    } else if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::string TerminalSystemText(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b == 0xC2 && i + 1 < utf8.size() && ControlCode(static_cast<unsigned char>(utf8[i + 1]))) {
      out += Format("\\xc2\\x%02x", static_cast<unsigned char>(utf8[++i]));
    } else if (b < 0x80 && ControlCode(b)) {
      out += Format("\\x%02x", b);
    } else {
      out += utf8[i];
    }
  }
  return out;
}

std::string FormatBytes(std::uint64_t bytes) {
  if (bytes < 1024) return Format("%" PRIu64 " B", bytes);
  if (bytes < 1024 * 1024) return Format("%.1f KiB", static_cast<double>(bytes) / 1024);
  return Format("%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
}

namespace {

// Columns a UTF-8 text takes on a terminal: one a character.
std::size_t ColumnsOf(const std::string& utf8) {
  std::size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string PadTo(std::string text, std::size_t columns) {
  const std::size_t has = ColumnsOf(text);
  if (has < columns) text.append(columns - has, ' ');
  return text;
}

// A long port name keeps its end, which tells ttyUSB3 from ttyUSB4 and by-id names apart.
std::string KeepTail(const std::string& utf8, std::size_t columns) {
  if (columns == 0 || ColumnsOf(utf8) <= columns) return utf8;
  std::size_t skip = ColumnsOf(utf8) - (columns - 1);
  std::size_t at = 0;
  while (skip > 0 || (at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80)) {
    if ((static_cast<unsigned char>(utf8[at]) & 0xC0) != 0x80) --skip;
    ++at;
  }
  return "\xE2\x80\xA6" + utf8.substr(at);
}

const char* WaitWord(JobState state) {
  switch (state) {
    case JobState::Syncing:
      return "waiting for loader";
    case JobState::AwaitGone:
      return "waiting for the box to go";
    case JobState::AwaitBox:
      return "waiting for a box";
    case JobState::Reopening:
      return "waiting for the port";
    default:
      return StateWord(state);
  }
}

}  // namespace

std::string FitColumns(const std::string& utf8, std::size_t columns) {
  if (ColumnsOf(utf8) <= columns) return utf8;
  std::string out;
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const bool starts = (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
    if (starts && ++n == columns) break;
    out += utf8[i];
  }
  return out + "\xE2\x80\xA6";
}

std::string ProgressLine(const JobView& job, std::size_t width) {
  std::string line = PadTo(job.Port, width) + "  ";
  switch (job.State) {
    case JobState::Working:
      break;
    case JobState::Done:
      return line + ResultName(job.Status) + (job.Why.empty() ? "" : ": " + job.Why);
    case JobState::Opening:
      return line + StateWord(job.State);
    default:
      return line + Format("%s %.0f s", WaitWord(job.State), job.Waited);
  }
  if (job.BytesTotal == 0) return line + Format("working %.0f s", job.Seconds);
  const std::uint64_t done = job.BytesDone;
  const std::uint64_t total = job.BytesTotal;
  // Bytes handed to the driver run ahead of the line by what its buffers hold: the rate
  // shown is never more than the line can carry.
  double rate = job.Seconds > 0 ? static_cast<double>(done) / job.Seconds : 0;
  if (job.LineBytesPerSecond > 0) rate = std::min(rate, job.LineBytesPerSecond);
  line += Format("%3d%% %s  %s / %s", static_cast<int>(done * 100 / total),
                 job.Receiving ? "received" : "sent", FormatBytes(done).c_str(),
                 FormatBytes(total).c_str());
  // Under a tenth of a second there is nothing measured to tell, only the line's own rate.
  if (job.Seconds < 0.1) return line;
  line += "  " + FormatBytes(static_cast<std::uint64_t>(rate)) + "/s";
  if (rate > 0 && done < total)
    line += "  " + ClockText(static_cast<double>(total - done) / rate) + " left";
  return line;
}

std::string BoxResultLine(const JobView& job) {
  std::string line = job.Port + Format(" box %d", job.Box) +
                     (job.Label.empty() ? "" : " (" + job.Label + ")") + ": " +
                     ResultName(job.Status);
  // A box whose work never began has no bytes and no time of its own to tell; one that did
  // tells all of its steps'.
  if (job.Worked) {
    if (job.BytesTotal > 0 || job.BoxBytes > 0) line += Format(", %" PRIu64 " bytes", job.BoxBytes);
    line += Format(", %.1f s", job.BoxSeconds);
  }
  line += Format(", status %d", job.Status);
  // Which step failed, and why, stands on the box's line wherever it goes.
  if (job.Status != ExitStatus::Ok && job.Status != ExitStatus::Interrupted && !job.Why.empty())
    line += ": " + job.Why;
  return line;
}

std::string SummaryTable(const std::vector<JobView>& rows) {
  std::size_t portWidth = 4;
  std::size_t resultWidth = 6;
  bool anyWhy = false;
  for (const JobView& row : rows) {
    portWidth = std::max(portWidth, ColumnsOf(TerminalSystemText(row.Port)));
    resultWidth = std::max(resultWidth, std::string(ResultName(row.Status)).size());
    anyWhy |= !row.Why.empty();
  }
  const auto line = [&](const std::string& port, const std::string& result,
                        const std::string& bytes, const std::string& seconds,
                        const std::string& why) {
    std::string text = PadTo(port, portWidth) + "  " + PadTo(result, resultWidth) +
                       Format("  %12s  %7s", bytes.c_str(), seconds.c_str());
    if (anyWhy && !why.empty()) text += "  " + why;
    return text + "\n";
  };
  std::string table = line("port", "result", "bytes", "seconds", anyWhy ? "why" : "");
  for (const JobView& row : rows)
    table +=
        line(TerminalSystemText(row.Port), ResultName(row.Status), Format("%" PRIu64, row.BoxBytes),
             row.Worked ? Format("%.1f", row.BoxSeconds) : "-", TerminalSystemText(row.Why));
  return table;
}

Reporter::Reporter(OutputMode mode, Verbosity level, bool severalPorts, bool repeat, bool summary,
                   std::FILE* out, std::FILE* err, std::size_t columns)
    : Mode(mode),
      Level(level),
      Several(severalPorts),
      Repeat(repeat),
      Summary(summary),
      Out(out),
      Err(err),
      Columns(columns),
      Writer(out, err) {}

std::string Reporter::Prefix(const JobView& job) const {
  return Several ? job.Port + ": " : std::string();
}

void Reporter::Emit(std::FILE* stream, const std::string& text) {
  Writer.Write(stream, text);
}

void Reporter::EmitResult(const std::string& text) {
  if (Mode == OutputMode::Terminal) ClearBlock();
  Emit(Out, text);
  Printed();
}

void Reporter::EmitNote(const std::string& text) {
  if (Mode == OutputMode::Terminal) ClearBlock();
  Emit(Err, text);
  Printed();
}

std::string Reporter::TakeBlock() {
  if (BlockLines == 0) return {};
  const std::string clear = Format("\033[%dA\r\033[J", BlockLines);
  BlockLines = 0;
  return clear;
}

void Reporter::ClearBlock() {
  const std::string clear = TakeBlock();
  if (!clear.empty()) Emit(Err, clear);
}

void Reporter::DrawBlock() {
  if (Level == Verbosity::Quiet) {
    ClearBlock();
    return;
  }
  const std::string clear = TakeBlock();
  std::size_t width = 0;
  for (const JobView& job : Jobs) width = std::max(width, ColumnsOf(job.Port));
  if (Columns > 0) width = std::min(width, std::max<std::size_t>(16, Columns / 2));
  std::string block;
  for (JobView job : Jobs) {
    job.Port = KeepTail(job.Port, width);
    std::string line = TerminalSystemText(ProgressLine(job, width));
    // A line longer than the terminal would take two rows, and the block would not be
    // cleared whole.
    if (Columns > 1) line = FitColumns(line, Columns - 1);
    block += line + "\033[K\n";
    ++BlockLines;
  }
  Writer.WriteProgress(Err, clear, block);
}

void Reporter::Printed() {
  if (Mode == OutputMode::Terminal && !Jobs.empty()) DrawBlock();
}

bool Reporter::Logged(const JobView& job, const std::string& line) const {
  return std::find(RecentLog.begin(), RecentLog.end(), std::pair(job.Port, line)) !=
         RecentLog.end();
}

void Reporter::LogLine(const JobView& job, const std::string& line, bool systemText) {
  if (Level != Verbosity::Verbose) return;
  RecentLog.emplace_back(job.Port, systemText ? line : Latin1ToUtf8(line));
  if (RecentLog.size() > 16) RecentLog.erase(RecentLog.begin());
  EmitNote(Prefix(job) + (systemText ? TerminalSystemText(line) : TerminalText(line)) + "\n");
}

void Reporter::BoxLine(const JobView& job, const std::string& line) {
  if (Mode == OutputMode::Json) {
    Emit(Out, "{\"port\": " + JsonString(job.Port) +
                  ", \"event\": \"line\", \"text\": " + JsonString(Latin1ToUtf8(line)) + "}\n");
    return;
  }
  EmitResult(Prefix(job) + TerminalText(line) + "\n");
}

void Reporter::Answer(const JobView& job, const std::string& event,
                      const std::vector<std::pair<std::string, std::string>>& fields) {
  const bool record = event == "config" || event == "field";
  if (Mode == OutputMode::Json) {
    std::string line = "{\"port\": " + JsonString(job.Port) +
                       ", \"event\": " + JsonString(record ? "config" : event) + ", ";
    std::string members;
    for (std::size_t i = 0; i < fields.size(); ++i)
      members += (i ? ", " : "") + JsonString(fields[i].first) + ": " +
                 JsonString(Latin1ToUtf8(fields[i].second));
    line += record ? "\"fields\": {" + members + "}}" : members + "}";
    Emit(Out, line + "\n");
    return;
  }
  std::string lines;
  for (const auto& [name, text] : fields) {
    if (event == "config")
      lines += Prefix(job) + name + " = " + TerminalText(text) + "\n";
    else
      lines += Prefix(job) + TerminalText(text) + "\n";
  }
  EmitResult(lines);
}

void Reporter::Verified(const JobView& job, std::uint64_t first, std::uint64_t differing,
                        std::uint32_t start) {
  if (Mode == OutputMode::Json) {
    std::string line = "{\"port\": " + JsonString(job.Port) +
                       Format(", \"event\": \"verify\", \"same\": %s, \"differing\": %" PRIu64,
                              differing == 0 ? "true" : "false", differing);
    if (differing > 0)
      line += Format(", \"first\": %" PRIu64 ", \"address\": %" PRIu64, first, start + first);
    Emit(Out, line + "}\n");
    return;
  }
  if (differing == 0) {
    EmitResult(Prefix(job) + "same\n");
    return;
  }
  EmitResult(Prefix(job) + Format("differ at 0x%" PRIX64 " (flash 0x%" PRIX64 "): %" PRIu64
                                  " of %" PRIu64 " bytes\n",
                                  first, start + first, differing, job.BytesTotal));
}

void Reporter::StateChanged(const JobView& job) {
  if (Mode == OutputMode::Json)
    Emit(Out, "{\"port\": " + JsonString(job.Port) +
                  ", \"event\": \"state\", \"state\": " + JsonString(StateWord(job.State)) + "}\n");
}

void Reporter::BoxDone(const JobView& r) {
  Rows.push_back(r);
  if (Mode == OutputMode::Json) {
    std::string line =
        "{\"port\": " + JsonString(r.Port) +
        Format(", \"event\": \"done\", \"box\": %d, \"status\": %d, ", r.Box, r.Status) +
        "\"result\": " + JsonString(ResultName(r.Status)) + ", \"why\": " + JsonString(r.Why) +
        Format(", \"bytes\": %" PRIu64 ", \"seconds\": %.2f", r.BoxBytes, r.BoxSeconds);
    if (!r.File.empty()) line += ", \"file\": " + JsonString(r.File);
    if (!r.Label.empty()) line += ", \"label\": " + JsonString(r.Label);
    Emit(Out, line + "}\n");
  }
  // The table at the end holds one run's boxes; a station reports each box as it goes, on a
  // line that says why it failed.
  const bool boxLine = Mode != OutputMode::Json && Level != Verbosity::Quiet && Summary &&
                       (Mode != OutputMode::Terminal || Repeat);
  // Otherwise why a box failed is told once, whatever else is shown: unless the log has just
  // said it, or the answer on standard output did.
  const bool failed = r.Status != ExitStatus::Ok && r.Status != ExitStatus::Interrupted;
  const std::string why = r.Why.empty() ? ResultName(r.Status) : r.Why;
  if (failed && !r.Answered && !Logged(r, why) && !(boxLine && !r.Why.empty()))
    EmitNote(Prefix(r) + TerminalSystemText(why) + "\n");
  if (boxLine) EmitNote(TerminalSystemText(BoxResultLine(r)) + "\n");
}

void Reporter::Note(const std::string& text) {
  if (Level != Verbosity::Quiet) EmitNote(TerminalSystemText(text) + "\n");
}

void Reporter::Ask(const std::string& text) {
  EmitNote(TerminalSystemText(text) + "\n");
  Asking = true;
}

void Reporter::Tick(const std::vector<JobView>& jobs, TimePoint now) {
  Jobs = jobs;
  if (Mode == OutputMode::Terminal && !Asking && now - LastDraw >= std::chrono::milliseconds(200)) {
    DrawBlock();
    LastDraw = now;
  }
}

void Reporter::ProgressMade(const JobView& job) {
  if (Mode == OutputMode::Terminal || job.BytesTotal == 0) return;
  if (Mode == OutputMode::Json)
    Emit(Out,
         "{\"port\": " + JsonString(job.Port) +
             Format(", \"event\": \"progress\", \"bytes\": %" PRIu64 ", \"total\": %" PRIu64 "}\n",
                    job.BytesDone, job.BytesTotal));
  else if (Level != Verbosity::Quiet)
    Writer.WriteProgress(Err, {}, TerminalSystemText(ProgressLine(job)) + "\n", job.Port);
}

void Reporter::Finish(const std::vector<JobView>& jobs, bool interrupted) {
  if (Mode == OutputMode::Terminal) {
    ClearBlock();
    Jobs.clear();
    if (!Repeat && Summary && Level != Verbosity::Quiet && !Rows.empty())
      Emit(Err, SummaryTable(Rows));
  }
  if (!Repeat && !interrupted) return;
  for (const JobView& job : jobs) {
    if (Mode == OutputMode::Json)
      Emit(Out, "{\"port\": " + JsonString(job.Port) +
                    Format(", \"event\": \"summary\", \"done\": %d, \"failed\": %d}\n",
                           job.BoxesDone, job.BoxesFailed));
    else if (Repeat && Level != Verbosity::Quiet)
      Emit(Err,
           TerminalSystemText(job.Port) + Format(": %d box%s done, %d failed\n", job.BoxesDone,
                                                 job.BoxesDone == 1 ? "" : "es", job.BoxesFailed));
  }
}
