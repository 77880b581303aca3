#include "window/StatusText.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

char ParityLetter(Parity p) {
  return p == Parity::Even ? 'E' : p == Parity::Odd ? 'O' : 'N';
}

// Rounded half away from zero first, as the window has always shown it ("11.3" for 11.25),
// which printf alone would not do.
std::string Format(const char* format, double value, int decimals) {
  const double scale = decimals == 0 ? 1 : 10;
  char text[32];
  std::snprintf(text, sizeof text, format, std::floor(value * scale + 0.5) / scale);
  return text;
}

}  // namespace

std::string StateWord(const Core& engine, bool commandsEnabled) {
  if (!engine.Connected()) return "Offline";
  if (engine.AwaitingReply() || engine.Progress().What != Core::WorkProgress::Job::None)
    return "Busy";
  return commandsEnabled ? "Ready" : "Waiting for loader";
}

std::string PortText(const std::string& name, const LineSettings& s) {
  return name + " " + std::to_string(s.BaudRate) + " " + std::to_string(s.DataBits) +
         ParityLetter(s.ParityMode) + (s.Stop == StopBits::Two ? "2" : "1");
}

std::string WaitText(const Core& engine) {
  const Core::WorkProgress job = engine.Progress();
  // Once an upload or a read-back moves, its progress says more.
  const bool moving = job.What != Core::WorkProgress::Job::None && job.Done > 0;
  if (!engine.AwaitingReply() || moving) return {};
  return "waiting for the box's answer, " + std::to_string(engine.ReplySecondsLeft()) + " s";
}

std::string RateText(double bytesPerSecond, std::uint64_t bytesLeft) {
  const std::string rate = bytesPerSecond >= 1024 * 1024
                               ? Format("%.1f MiB/s", bytesPerSecond / (1024 * 1024), 1)
                           : bytesPerSecond >= 1024 ? Format("%.1f KiB/s", bytesPerSecond / 1024, 1)
                                                    : Format("%.0f B/s", bytesPerSecond, 0);
  if (bytesPerSecond <= 0) return rate;
  const auto secs =
      static_cast<std::uint64_t>(static_cast<double>(bytesLeft) / bytesPerSecond + 0.5);
  char left[48];
  if (secs >= 3600)
    std::snprintf(left, sizeof left, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(secs / 3600),
                  static_cast<unsigned long long>(secs / 60 % 60),
                  static_cast<unsigned long long>(secs % 60));
  else
    std::snprintf(left, sizeof left, "%llu:%02llu", static_cast<unsigned long long>(secs / 60),
                  static_cast<unsigned long long>(secs % 60));
  return rate + ", " + left + " left";
}

void RateMeter::Add(std::int64_t ms, std::uint64_t done) {
  if (!Samples.empty() && done < Samples.back().second) Samples.clear();  // a new transfer
  Samples.emplace_back(ms, done);
  while (Samples.size() > 2 && ms - Samples.front().first > WindowMs) Samples.pop_front();
}

std::optional<double> RateMeter::PerSecond() const {
  if (Samples.empty()) return std::nullopt;
  const std::int64_t span = Samples.back().first - Samples.front().first;
  if (span < ShortestMs) return std::nullopt;
  return static_cast<double>(Samples.back().second - Samples.front().second) * 1000.0 /
         static_cast<double>(span);
}

MovingStatus MovingStatusOf(const Core& engine, RateMeter& meter) {
  MovingStatus status;
  status.Wait = WaitText(engine);
  const Core::WorkProgress job = engine.Progress();
  if (job.What == Core::WorkProgress::Job::None || job.Total == 0) {
    meter.Clear();
    return status;
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  meter.Add(ms, job.Done);
  status.Percent = static_cast<int>(job.Done * 100 / job.Total);
  if (const std::optional<double> perSecond = meter.PerSecond())
    status.Rate = RateText(*perSecond, job.Total - std::min(job.Done, job.Total));
  return status;
}
