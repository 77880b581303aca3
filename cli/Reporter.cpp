#include "cli/Reporter.h"

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
      return "bad image or field";
    case ExitStatus::PortFailed:
      return "port failed";
    case ExitStatus::NoLoader:
      return "no loader";
    case ExitStatus::LinkFailed:
      return "time-out or port lost";
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

bool Control(unsigned code) {
  return (code < 0x20 && code != '\t') || (code >= 0x7F && code < 0xA0);
}

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    const auto b = static_cast<unsigned char>(c);
    // C1 characters are two bytes in UTF-8, C2 80 to C2 9F.
    const bool c1 =
        b == 0xC2 && i + 1 < utf8.size() && Control(static_cast<unsigned char>(utf8[i + 1]));
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F || c1) {
      out += Format("\\u%04x", c1 ? static_cast<unsigned char>(utf8[++i]) : b);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string TerminalText(const std::string& latin1) {
  std::string out;
  for (const char c : latin1) {
    const auto b = static_cast<unsigned char>(c);
    if (Control(b)) {
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
    if (b == 0xC2 && i + 1 < utf8.size() && Control(static_cast<unsigned char>(utf8[i + 1]))) {
      out += Format("\\xc2\\x%02x", static_cast<unsigned char>(utf8[++i]));
    } else if (b < 0x80 && Control(b)) {
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

std::string ProgressLine(const JobView& job) {
  std::string line = job.Port + "  ";
  if (job.State != JobState::Working || job.BytesTotal == 0) return line + StateWord(job.State);
  const std::uint64_t done = job.BytesDone;
  const std::uint64_t total = job.BytesTotal;
  const double rate = job.Seconds > 0 ? static_cast<double>(done) / job.Seconds : 0;
  line += Format("%3d%%  %s / %s  %s/s", static_cast<int>(done * 100 / total),
                 FormatBytes(done).c_str(), FormatBytes(total).c_str(),
                 FormatBytes(static_cast<std::uint64_t>(rate)).c_str());
  if (rate > 0 && done < total)
    line += "  " + ClockText(static_cast<double>(total - done) / rate) + " left";
  return line;
}

Reporter::Reporter(OutputMode mode, bool severalPorts, bool repeat, std::FILE* out, std::FILE* err)
    : Mode(mode), Several(severalPorts), Repeat(repeat), Out(out), Err(err) {}

std::string Reporter::Prefix(const JobView& job) const {
  return Several ? job.Port + ": " : std::string();
}

void Reporter::Emit(std::FILE* stream, const std::string& text) {
  bool& failed = stream == Out ? OutFailed : ErrFailed;
  if (failed) return;
  // A reader that stopped early (head, grep -m1) makes the write fail; the jobs are not its.
  if (std::fputs(text.c_str(), stream) < 0 || std::fflush(stream) != 0) failed = true;
}

void Reporter::ClearBlock() {
  if (BlockLines == 0) return;
  Emit(Out, Format("\033[%dA\r\033[J", BlockLines));
  BlockLines = 0;
}

void Reporter::DrawBlock() {
  ClearBlock();
  std::string block;
  for (const JobView& job : Jobs) {
    block += TerminalSystemText(ProgressLine(job)) + "\033[K\n";
    ++BlockLines;
  }
  Emit(Out, block);
}

void Reporter::Printed() {
  if (Mode == OutputMode::Terminal && !Jobs.empty()) DrawBlock();
}

void Reporter::LogLine(const JobView& job, const std::string& line, bool systemText) {
  if (Mode == OutputMode::Terminal) ClearBlock();
  Emit(Err, Prefix(job) + (systemText ? TerminalSystemText(line) : TerminalText(line)) + "\n");
  Printed();
}

void Reporter::BoxLine(const JobView& job, const std::string& line) {
  if (Mode == OutputMode::Json) {
    Emit(Out, "{\"port\": " + JsonString(job.Port) +
                  ", \"event\": \"line\", \"text\": " + JsonString(Latin1ToUtf8(line)) + "}\n");
    return;
  }
  if (Mode == OutputMode::Terminal) ClearBlock();
  Emit(Out, Prefix(job) + TerminalText(line) + "\n");
  Printed();
}

void Reporter::Answer(const JobView& job, const std::string& event,
                      const std::vector<std::pair<std::string, std::string>>& fields) {
  if (Mode == OutputMode::Json) {
    std::string line =
        "{\"port\": " + JsonString(job.Port) + ", \"event\": " + JsonString(event) + ", ";
    std::string members;
    for (std::size_t i = 0; i < fields.size(); ++i)
      members += (i ? ", " : "") + JsonString(fields[i].first) + ": " +
                 JsonString(Latin1ToUtf8(fields[i].second));
    line += event == "config" ? "\"fields\": {" + members + "}}" : members + "}";
    Emit(Out, line + "\n");
    return;
  }
  if (Mode == OutputMode::Terminal) ClearBlock();
  std::string lines;
  for (const auto& [name, text] : fields) {
    if (event == "config")
      lines += Prefix(job) + name + " = " + TerminalText(text) + "\n";
    else
      lines += Prefix(job) + TerminalText(text) + "\n";
  }
  Emit(Out, lines);
  Printed();
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
        "\"result\": " + JsonString(ResultName(r.Status)) +
        ", \"why\": " + JsonString(Latin1ToUtf8(r.Why)) +
        Format(", \"bytes\": %" PRIu64 ", \"seconds\": %.2f", r.BytesDone, r.Seconds);
    if (!r.File.empty()) line += ", \"file\": " + JsonString(r.File);
    Emit(Out, line + "}\n");
    return;
  }
  // The table at the end holds one run's boxes; a station reports each box as it goes.
  if (Mode == OutputMode::Terminal && !Repeat) return;
  if (Mode == OutputMode::Terminal) ClearBlock();
  Emit(Out,
       r.Port + Format(" box %d: %s%s", r.Box, ResultName(r.Status), r.Why.empty() ? "" : " - ") +
           TerminalText(r.Why) +
           Format(", %" PRIu64 " bytes, %.1f s, status %d\n", r.BytesDone, r.Seconds, r.Status));
  Printed();
}

void Reporter::Tick(const std::vector<JobView>& jobs, TimePoint now) {
  Jobs = jobs;
  if (Mode == OutputMode::Terminal && now - LastDraw >= std::chrono::milliseconds(200)) {
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
  else
    Emit(Out, ProgressLine(job) + "\n");
}

void Reporter::Finish(const std::vector<JobView>& jobs, bool interrupted) {
  if (Mode == OutputMode::Terminal) {
    ClearBlock();
    Jobs.clear();
    if (!Repeat && !Rows.empty()) {
      std::string table = Format("%-24s %-22s %12s %9s\n", "port", "result", "bytes", "seconds");
      for (const JobView& row : Rows)
        table += Format("%-24s %-22s %12" PRIu64 " %9.1f\n", row.Port.c_str(),
                        ResultName(row.Status), row.BytesDone, row.Seconds);
      Emit(Out, table);
    }
  }
  if (!Repeat && !interrupted) return;
  for (const JobView& job : jobs) {
    if (Mode == OutputMode::Json)
      Emit(Out, "{\"port\": " + JsonString(job.Port) +
                    Format(", \"event\": \"summary\", \"done\": %d, \"failed\": %d}\n",
                           job.BoxesDone, job.BoxesFailed));
    else if (Repeat)
      Emit(Out, job.Port + Format(": %d boxes done, %d failed\n", job.BoxesDone, job.BoxesFailed));
  }
}
