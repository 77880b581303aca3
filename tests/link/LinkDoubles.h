#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/UartRxThread.h"
#include "platform/Port.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/HexText.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes WireWord(std::uint32_t word) {
  Bytes out(4);
  PutCommandWord(out.data(), word);
  return out;
}

// A payload frame as the box sends it: the word, then the payload and its CRC (least
// significant byte first) as capital hexadecimal text.
inline Bytes PayloadFrame(std::uint32_t word, const Bytes& payload) {
  Bytes decoded = payload;
  decoded.resize(payload.size() + 4);
  PutLe32(decoded.data() + payload.size(),
          CalcCrc(payload.data(), static_cast<std::uint32_t>(payload.size())));
  std::string hex(decoded.size() * 2, '\0');
  BytesToHexText(decoded.data(), static_cast<int>(decoded.size()), hex.data());
  Bytes frame(4 + hex.size());
  PutCommandWord(frame.data(), word);
  std::copy(hex.begin(), hex.end(), frame.begin() + 4);
  return frame;
}

struct SinkItem {
  ItemKind Kind;
  Bytes Data;
};

class RecordingSink : public ReplySink {
 public:
  bool AddReplyItem(const std::uint8_t* data, int length, ItemKind kind) override {
    Items.push_back({kind, Bytes(data, data + length)});
    return true;
  }
  void HandleReplyWord(std::uint32_t word) override { Words.push_back(word); }

  std::vector<SinkItem> Items;
  std::vector<std::uint32_t> Words;
};

class FakeFlash : public FlashBlockSource {
 public:
  std::uint32_t ExpectedFlashBlockLen() const override { return BlockLen; }
  void FlashReadCrcFailed() override { ++CrcFailures; }
  void FlashBlockReceived() override { ++BlocksReceived; }

  std::uint32_t BlockLen = 0;
  int CrcFailures = 0;
  int BlocksReceived = 0;
};

// A port shared by a worker thread and the test: reads wait for their time-out like a real
// line, and a hang-up or failures can be switched on.
class ThreadedPort : public Port {
 public:
  bool GetSettings(LineSettings&) override { return true; }
  bool SetSettings(const LineSettings&) override { return true; }

  IoResult Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) override {
    std::unique_lock lock(Mutex);
    ++Reads;
    if (!Open) return {IoStatus::NotOpen, 0};
    if (HangUp) return {IoStatus::HungUp, 0};
    if (Fail) return {IoStatus::Failed, 0};
    Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [&] { return !Incoming.empty() || !Open; });
    if (!Open) return {IoStatus::Aborted, 0};
    std::size_t n = 0;
    while (n < max && !Incoming.empty()) {
      buffer[n++] = Incoming.front();
      Incoming.pop_front();
    }
    return {n ? IoStatus::Ok : IoStatus::TimedOut, n};
  }

  IoResult Write(const std::uint8_t* data, std::size_t n, int timeoutMs) override {
    std::lock_guard lock(Mutex);
    if (!Open) return {IoStatus::NotOpen, 0};
    Writes.emplace_back(data, data + n);
    WriteTimes.push_back(std::chrono::steady_clock::now());
    if (Writes.size() == 1) FirstWriteTimeoutMs = timeoutMs;
    return {IoStatus::Ok, n};
  }

  void Purge() override {}
  void Close() override {
    {
      std::lock_guard lock(Mutex);
      Open = false;
    }
    Changed.notify_all();
  }

  void Say(const Bytes& bytes) {
    {
      std::lock_guard lock(Mutex);
      Incoming.insert(Incoming.end(), bytes.begin(), bytes.end());
    }
    Changed.notify_all();
  }
  template <typename T>
  T Get(T ThreadedPort::*field) const {
    std::lock_guard lock(Mutex);
    return this->*field;
  }
  void SetHangUp() {
    std::lock_guard lock(Mutex);
    HangUp = true;
  }
  // The device is back and opened again: a fresh line.
  void Reopen() {
    std::lock_guard lock(Mutex);
    Open = true;
    HangUp = false;
    Fail = false;
  }
  void SetFail() {
    std::lock_guard lock(Mutex);
    Fail = true;
  }

  mutable std::mutex Mutex;
  std::condition_variable Changed;
  bool Open = true;
  bool HangUp = false;
  bool Fail = false;
  int Reads = 0;
  int FirstWriteTimeoutMs = 0;
  std::deque<std::uint8_t> Incoming;
  std::vector<Bytes> Writes;
  std::vector<std::chrono::steady_clock::time_point> WriteTimes;
};
