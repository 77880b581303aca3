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

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", b);
      out += code;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string FormatBytes(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
  else if (bytes < 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
  else
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
  return text;
}

std::string ProgressLine(const JobView& job) {
  std::string line = job.Port + "  ";
  if (job.State != JobState::Working || job.BytesTotal == 0) return line + StateWord(job.State);
  const std::uint64_t done = job.BytesDone;
  const std::uint64_t total = job.BytesTotal;
  const double seconds = job.Seconds;
  char text[128];
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::snprintf(text, sizeof text, "%3d%%  %s / %s  %s/s", static_cast<int>(done * 100 / total),
                FormatBytes(done).c_str(), FormatBytes(total).c_str(),
                FormatBytes(static_cast<std::uint64_t>(rate)).c_str());
  line += text;
  if (rate > 0 && done < total)
    line += "  " + ClockText(static_cast<double>(total - done) / rate) + " left";
  return line;
}

Reporter::Reporter(OutputMode mode, bool severalPorts, bool repeat, std::FILE* out, std::FILE* err)
    : Mode(mode), Several(severalPorts), Repeat(repeat), Out(out), Err(err) {}

std::string Reporter::Prefix(const JobView& job) const {
  return Several ? job.Port + ": " : std::string();
}

void Reporter::ClearBlock() {
  if (BlockLines == 0) return;
  std::fprintf(Out, "\033[%dA\r\033[J", BlockLines);
  std::fflush(Out);
  BlockLines = 0;
}

void Reporter::DrawBlock(TimePoint now) {
  ClearBlock();
  for (const JobView& job : Jobs) {
    std::fprintf(Out, "%s\033[K\n", ProgressLine(job).c_str());
    ++BlockLines;
  }
  std::fflush(Out);
  LastDraw = now;
}

void Reporter::Printed() {
  if (Mode == OutputMode::Terminal && !Jobs.empty()) DrawBlock(std::chrono::steady_clock::now());
}

void Reporter::LogLine(const JobView& job, const std::string& line, bool systemText) {
  if (Mode == OutputMode::Terminal) ClearBlock();
  std::fprintf(Err, "%s%s\n", Prefix(job).c_str(),
               (systemText ? line : Latin1ToUtf8(line)).c_str());
  std::fflush(Err);
  Printed();
}

void Reporter::BoxLine(const JobView& job, const std::string& line) {
  if (Mode == OutputMode::Json) {
    std::fprintf(Out, "{\"port\": %s, \"event\": \"line\", \"text\": %s}\n",
                 JsonString(job.Port).c_str(), JsonString(Latin1ToUtf8(line)).c_str());
    std::fflush(Out);
    return;
  }
  if (Mode == OutputMode::Terminal) ClearBlock();
  std::fprintf(Out, "%s%s\n", Prefix(job).c_str(), Latin1ToUtf8(line).c_str());
  std::fflush(Out);
  Printed();
}

void Reporter::Answer(const JobView& job, const std::string& event,
                      const std::vector<std::pair<std::string, std::string>>& fields) {
  if (Mode == OutputMode::Json) {
    std::string line =
        "{\"port\": " + JsonString(job.Port) + ", \"event\": " + JsonString(event) + ", ";
    if (event == "config") {
      line += "\"fields\": {";
      for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i ? ", " : "") + JsonString(fields[i].first) + ": " +
                JsonString(Latin1ToUtf8(fields[i].second));
      line += "}}";
    } else {
      for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i ? ", " : "") + JsonString(fields[i].first) + ": " +
                JsonString(Latin1ToUtf8(fields[i].second));
      line += "}";
    }
    std::fprintf(Out, "%s\n", line.c_str());
    std::fflush(Out);
    return;
  }
  if (Mode == OutputMode::Terminal) ClearBlock();
  for (const auto& [name, text] : fields) {
    if (event == "config")
      std::fprintf(Out, "%s%s = %s\n", Prefix(job).c_str(), name.c_str(),
                   Latin1ToUtf8(text).c_str());
    else
      std::fprintf(Out, "%s%s\n", Prefix(job).c_str(), Latin1ToUtf8(text).c_str());
  }
  std::fflush(Out);
  Printed();
}

void Reporter::StateChanged(const JobView& job) {
  if (Mode == OutputMode::Json) {
    std::fprintf(Out, "{\"port\": %s, \"event\": \"state\", \"state\": %s}\n",
                 JsonString(job.Port).c_str(), JsonString(StateWord(job.State)).c_str());
    std::fflush(Out);
  }
}

void Reporter::BoxDone(const JobView& r) {
  Rows.push_back(r);
  if (Mode == OutputMode::Json) {
    std::fprintf(Out,
                 "{\"port\": %s, \"event\": \"done\", \"box\": %d, \"status\": %d, "
                 "\"result\": %s, \"why\": %s, \"bytes\": %" PRIu64 ", \"seconds\": %.2f}\n",
                 JsonString(r.Port).c_str(), r.Box, r.Status,
                 JsonString(ResultName(r.Status)).c_str(), JsonString(Latin1ToUtf8(r.Why)).c_str(),
                 r.BytesDone, r.Seconds);
    std::fflush(Out);
    return;
  }
  // The table at the end holds one run's boxes; a station reports each box as it goes.
  if (Mode == OutputMode::Terminal && !Repeat) return;
  if (Mode == OutputMode::Terminal) ClearBlock();
  std::fprintf(Out, "%s box %d: %s%s%s, %" PRIu64 " bytes, %.1f s, status %d\n", r.Port.c_str(),
               r.Box, ResultName(r.Status), r.Why.empty() ? "" : " - ", Latin1ToUtf8(r.Why).c_str(),
               r.BytesDone, r.Seconds, r.Status);
  std::fflush(Out);
  Printed();
}

void Reporter::Tick(const std::vector<JobView>& jobs, TimePoint now) {
  Jobs = jobs;
  if (Mode == OutputMode::Terminal) {
    if (now - LastDraw >= std::chrono::milliseconds(200)) DrawBlock(now);
    return;
  }
}

void Reporter::ProgressMade(const JobView& job) {
  if (Mode == OutputMode::Terminal || job.BytesTotal == 0) return;
  if (Mode == OutputMode::Json)
    std::fprintf(Out,
                 "{\"port\": %s, \"event\": \"progress\", \"bytes\": %" PRIu64
                 ", \"total\": %" PRIu64 "}\n",
                 JsonString(job.Port).c_str(), job.BytesDone, job.BytesTotal);
  else
    std::fprintf(Out, "%s\n", ProgressLine(job).c_str());
  std::fflush(Out);
}

void Reporter::Finish(const std::vector<JobView>& jobs, bool interrupted) {
  if (Mode == OutputMode::Terminal) {
    ClearBlock();
    Jobs.clear();
    if (!Repeat && !Rows.empty()) {
      std::fprintf(Out, "%-24s %-22s %12s %9s\n", "port", "result", "bytes", "seconds");
      for (const JobView& row : Rows)
        std::fprintf(Out, "%-24s %-22s %12" PRIu64 " %9.1f\n", row.Port.c_str(),
                     ResultName(row.Status), row.BytesDone, row.Seconds);
    }
  }
  if (Repeat || interrupted) {
    for (const JobView& job : jobs) {
      if (Mode == OutputMode::Json)
        std::fprintf(Out, "{\"port\": %s, \"event\": \"summary\", \"done\": %d, \"failed\": %d}\n",
                     JsonString(job.Port).c_str(), job.BoxesDone, job.BoxesFailed);
      else if (Repeat)
        std::fprintf(Out, "%s: %d boxes done, %d failed\n", job.Port.c_str(), job.BoxesDone,
                     job.BoxesFailed);
    }
  }
  std::fflush(Out);
}
