#include "cli/JobFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

bool JobLineWords(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (const char c : line) {
    if (quote != 0) {
      if (c == quote)
        quote = 0;
      else
        word += c;
      continue;
    }
    if (c == '#') break;
    if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quote != 0) return false;
  if (inWord) words.push_back(word);
  return true;
}

namespace {

// A line of the file, at most limit bytes of it; false at the end of the file. cut: the line
// went on past limit (the rest of it is not read).
bool ReadLine(std::istream& in, std::string& line, std::size_t limit, bool& cut) {
  line.clear();
  cut = false;
  for (int c; (c = in.get()) != std::char_traits<char>::eof();) {
    if (c == '\n') return true;
    if (line.size() == limit) {
      cut = true;
      return true;
    }
    line += static_cast<char>(c);
  }
  return !line.empty();
}

}  // namespace

std::string LoadJob(const std::string& path, CliOptions& job) {
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  const auto cannot = [&] {
    return path + ": can't read the job file" +
           (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
  };
  if (!file) return cannot();
  job.Steps.clear();
  std::string line;
  int number = 0;
  bool cut = false;
  while (ReadLine(file, line, JobLineMax, cut)) {
    ++number;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    // A file that is no job (an image given by mistake) is not read whole, nor a name cut at
    // a zero byte taken for the one written.
    if (cut) return where + "a line longer than " + std::to_string(JobLineMax) + " bytes";
    if (line.find('\0') != std::string::npos) return where + "a zero byte in the line";
    std::vector<std::string> words;
    if (!JobLineWords(line, words)) return where + "a quote is not closed";
    if (words.empty()) continue;
    CliOptions step;
    const std::string why = ParseJobStep(words, step);
    if (!why.empty()) return where + why;
    step.StepLine = number;
    job.Steps.push_back(std::move(step));
  }
  if (file.bad()) return cannot();
  if (job.Steps.empty()) return path + ": the job has no steps";
  return {};
}

void AskVersionFirst(CliOptions& job) {
  const bool asks = std::any_of(job.Steps.begin(), job.Steps.end(), [](const CliOptions& step) {
    return step.Cmd == Command::Version;
  });
  if (asks) return;
  CliOptions version;
  ParseJobStep({"version"}, version);
  version.ForTheRecord = true;
  job.Steps.insert(job.Steps.begin(), std::move(version));
}
