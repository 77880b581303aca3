#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Port.h"

// A line in memory, safe to share between the engine's workers and the test: what the box says
// waits to be read, what the tool writes is kept. Reads wait as a port's do, until bytes come,
// their time-out passes or Close() is called.
class FakePort : public Port {
 public:
  using Bytes = std::vector<std::uint8_t>;

  bool OpenExclusive(const std::string& name) override;
  const std::string& LastError() const override { return Error; }
  bool GetSettings(LineSettings& settings) override;
  bool SetSettings(const LineSettings& settings) override;
  IoResult Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) override;
  IoResult Write(const std::uint8_t* data, std::size_t n, int timeoutMs) override;
  // Both directions: what the box said before is gone.
  void Purge() override;
  void Close() override;

  // The box's side of the line.
  void Say(const Bytes& bytes);
  // The bytes written since the last call, as one stream.
  Bytes TakeWritten();
  // The reader has taken everything said and come back for more twice since: the bytes have
  // been handed on between those two reads.
  bool Heard() const;

  // What happens to the next open: refused with this reason (empty: it opens).
  void RefuseOpen(std::string why);
  // The device goes away: reads report the hang-up until the port is opened again.
  void HangUp();
  // Every read fails until the port is opened again.
  void FailReads();
  // Writes stop once this many more bytes have gone out, as on a line that has stalled, until
  // ReleaseWrites() or Close().
  void HoldWritesAfter(std::size_t bytes);
  void ReleaseWrites();
  // A write waits at the hold.
  bool WriterHeld() const;

  bool IsOpen() const;
  std::string OpenedName() const;
  // Each write as it was made, when, and the time-out it was given.
  std::vector<Bytes> Writes() const;
  std::vector<std::chrono::steady_clock::time_point> WriteTimes() const;
  int FirstWriteTimeoutMs() const;
  int ReadCalls() const;

 private:
  mutable std::mutex Mutex;
  std::condition_variable Changed;
  bool Open = false;
  bool HungUp = false;
  bool ReadsFail = false;
  std::string Refusal;
  std::string Error;
  std::string Name;
  LineSettings Settings;
  std::deque<std::uint8_t> Incoming;
  int ReadsSinceHeard = 0;
  int Reads = 0;
  std::vector<Bytes> WriteLog;
  std::vector<std::chrono::steady_clock::time_point> WriteAt;
  int FirstTimeoutMs = 0;
  std::size_t WrittenTotal = 0;
  std::size_t Taken = 0;  // bytes of the write log that TakeWritten has handed out
  bool Holding = false;
  std::size_t HoldAt = 0;
  bool Held = false;
};
