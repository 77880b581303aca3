#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "engine/Core.h"

// What the window's status bar says, from the engine's state alone: each face only draws it.

// "Offline", "Waiting for loader", "Ready" or "Busy".
std::string StateWord(const Core& engine, bool commandsEnabled);
// The open port and its settings as the driver runs them: "NAME 115200 8N1". name: the port's
// name as the face shows it (a face may shorten a long one).
std::string PortText(const std::string& name, const LineSettings& settings);
// While a command waits for the box and nothing moves yet: "waiting for the box's answer, 17 s";
// empty otherwise.
std::string WaitText(const Core& engine);
// "56.3 KiB/s, 0:41 left".
std::string RateText(double bytesPerSecond, std::uint64_t bytesLeft);

// The rate of a transfer over the last few seconds, from samples of the bytes done.
class RateMeter {
 public:
  static constexpr std::int64_t WindowMs = 4000;
  // Shorter spans than this give no rate yet.
  static constexpr std::int64_t ShortestMs = 250;

  // The bytes done at a moment (milliseconds of any steady clock); fewer than before mean a new
  // transfer.
  void Add(std::int64_t ms, std::uint64_t done);
  // Bytes a second over the samples kept; nullopt while they span too short a time.
  std::optional<double> PerSecond() const;
  void Clear() { Samples.clear(); }

 private:
  std::deque<std::pair<std::int64_t, std::uint64_t>> Samples;
};

// The part of the status bar that moves by itself, and so is polled while it shows.
struct MovingStatus {
  std::string Wait;  // WaitText
  int Percent = -1;  // a transfer's; -1 while none runs
  std::string Rate;  // RateText, once the meter has a rate
  bool Moving() const { return Percent >= 0 || !Wait.empty(); }
};
// Feeds meter the transfer's bytes done (and empties it while none runs).
MovingStatus MovingStatusOf(const Core& engine, RateMeter& meter);
