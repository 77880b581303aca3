#pragma once

#include <deque>
#include <vector>

#include "platform/Port.h"

// A port in memory: what the tool writes is collected, what the box "says" is queued.
class FakePort : public Port {
 public:
  bool GetSettings(LineSettings& settings) override;
  bool SetSettings(const LineSettings& settings) override;
  IoResult Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) override;
  IoResult Write(const std::uint8_t* data, std::size_t n, int timeoutMs) override;
  void Purge() override { ++Purges; }
  void Close() override { Open = false; }

  bool Open = true;
  bool FailWrites = false;
  int Purges = 0;
  LineSettings Settings;
  std::vector<std::vector<std::uint8_t>> Writes;
  std::deque<std::uint8_t> Incoming;
};
