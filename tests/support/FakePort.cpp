#include "tests/support/FakePort.h"

#include <utility>

bool FakePort::OpenExclusive(const std::string& name) {
  std::lock_guard lock(Mutex);
  if (Open) return false;
  if (!Refusal.empty()) {
    Error = Refusal;
    return false;
  }
  Open = true;
  HungUp = false;
  ReadsFail = false;
  Name = name;
  Error.clear();
  return true;
}

bool FakePort::GetSettings(LineSettings& settings) {
  std::lock_guard lock(Mutex);
  settings = Settings;
  return Open;
}

bool FakePort::SetSettings(const LineSettings& settings) {
  std::lock_guard lock(Mutex);
  if (!Open) return false;
  Error = RefusedSettings(settings);
  if (!Error.empty()) return false;
  Settings = settings;
  return true;
}

IoResult FakePort::Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) {
  std::unique_lock lock(Mutex);
  ++Reads;
  if (!Open) return {IoStatus::NotOpen, 0};
  if (Incoming.empty()) ++ReadsSinceHeard;
  const auto ready = [&] { return !Incoming.empty() || !Open || HungUp || ReadsFail; };
  if (timeoutMs == NoTimeout)
    Changed.wait(lock, ready);
  else
    Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  if (!Open) return {IoStatus::Aborted, 0};
  if (HungUp) return {IoStatus::HungUp, 0};
  if (ReadsFail) return {IoStatus::Failed, 0};
  std::size_t n = 0;
  while (n < max && !Incoming.empty()) {
    buffer[n++] = Incoming.front();
    Incoming.pop_front();
  }
  if (n > 0) ReadsSinceHeard = 0;
  return {n > 0 ? IoStatus::Ok : IoStatus::TimedOut, n};
}

IoResult FakePort::Write(const std::uint8_t* data, std::size_t n, int timeoutMs) {
  std::unique_lock lock(Mutex);
  if (!Open) return {IoStatus::NotOpen, 0};
  if (Holding && WrittenTotal >= HoldAt) {
    Held = true;
    Changed.notify_all();
    Changed.wait(lock, [&] { return !Holding || !Open; });
    Held = false;
    if (!Open) return {IoStatus::Aborted, 0};
  }
  if (WriteLog.empty()) FirstTimeoutMs = timeoutMs;
  WriteLog.emplace_back(data, data + n);
  WriteAt.push_back(std::chrono::steady_clock::now());
  WrittenTotal += n;
  return {IoStatus::Ok, n};
}

void FakePort::Purge() {
  std::lock_guard lock(Mutex);
  Incoming.clear();
}

void FakePort::Close() {
  {
    std::lock_guard lock(Mutex);
    Open = false;
  }
  Changed.notify_all();
}

void FakePort::Say(const Bytes& bytes) {
  {
    std::lock_guard lock(Mutex);
    Incoming.insert(Incoming.end(), bytes.begin(), bytes.end());
    ReadsSinceHeard = 0;
  }
  Changed.notify_all();
}

FakePort::Bytes FakePort::TakeWritten() {
  std::lock_guard lock(Mutex);
  Bytes stream;
  for (std::size_t i = Taken; i < WriteLog.size(); ++i)
    stream.insert(stream.end(), WriteLog[i].begin(), WriteLog[i].end());
  Taken = WriteLog.size();
  return stream;
}

bool FakePort::Heard() const {
  std::lock_guard lock(Mutex);
  return Incoming.empty() && ReadsSinceHeard >= 2;
}

void FakePort::RefuseOpen(std::string why) {
  std::lock_guard lock(Mutex);
  Refusal = std::move(why);
}

void FakePort::HangUp() {
  {
    std::lock_guard lock(Mutex);
    HungUp = true;
  }
  Changed.notify_all();
}

void FakePort::FailReads() {
  {
    std::lock_guard lock(Mutex);
    ReadsFail = true;
  }
  Changed.notify_all();
}

void FakePort::HoldWritesAfter(std::size_t bytes) {
  std::lock_guard lock(Mutex);
  Holding = true;
  HoldAt = WrittenTotal + bytes;
}

void FakePort::ReleaseWrites() {
  {
    std::lock_guard lock(Mutex);
    Holding = false;
  }
  Changed.notify_all();
}

bool FakePort::WriterHeld() const {
  std::lock_guard lock(Mutex);
  return Held;
}

bool FakePort::IsOpen() const {
  std::lock_guard lock(Mutex);
  return Open;
}

std::string FakePort::OpenedName() const {
  std::lock_guard lock(Mutex);
  return Name;
}

std::vector<FakePort::Bytes> FakePort::Writes() const {
  std::lock_guard lock(Mutex);
  return WriteLog;
}

std::vector<std::chrono::steady_clock::time_point> FakePort::WriteTimes() const {
  std::lock_guard lock(Mutex);
  return WriteAt;
}

int FakePort::FirstWriteTimeoutMs() const {
  std::lock_guard lock(Mutex);
  return FirstTimeoutMs;
}

int FakePort::ReadCalls() const {
  std::lock_guard lock(Mutex);
  return Reads;
}
