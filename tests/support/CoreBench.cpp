#include "tests/support/CoreBench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "link/UartTxThread.h"
#include "platform/Files.h"
#include "tests/support/LoopWait.h"
#include "wire/Words.h"

CoreBench::CoreBench(Begin begin, const std::string& folder)
    : core(screen, clock, folder.empty() ? dir.Path() : folder, loop, port) {
  core.StartWorkers();
  if (begin == Begin::Offline || !Connect()) return;
  LoaderReady();
  screen.Clear();
}

bool CoreBench::Until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return WaitFor(loop, done, limit);
}

void CoreBench::RunFor(std::chrono::milliseconds time) {
  loop.RunFor(time);
}

bool CoreBench::Connect() {
  PortRequest request;
  request.Name = "COM3";
  const bool connected = core.OpenPort(request);
  EXPECT_TRUE(connected) << (screen.Messages.empty() ? "" : screen.Messages.back());
  return connected;
}

void CoreBench::LoaderReady() {
  port.Say(WireWord(Reply::LoaderReady));
  EXPECT_TRUE(Until([&] { return screen.Logged("Stop send sync byte"); }));
  Sent();
}

void CoreBench::Settle() {
  // The carriage return first ends whatever the line holds, so that the mark is a line of its
  // own; what it ends must be nothing but what a payload frame may leave behind, its last two
  // characters.
  const std::string mark = "-- settled " + std::to_string(++Marks) + " --";
  port.Say(TextLine("") + TextLine(mark));
  const auto shown = [&] { return std::find(screen.Log.begin(), screen.Log.end(), mark); };
  if (!Until([&] { return shown() != screen.Log.end(); })) {
    ADD_FAILURE() << "the box's line \"" << mark << "\" never showed";
    return;
  }
  auto line = shown();
  if (line == screen.Log.begin()) {
    ADD_FAILURE() << "the line ended before the mark is missing";
    return;
  }
  const std::string& ended = *(line - 1);
  EXPECT_TRUE(ended.size() <= 2 &&
              std::all_of(ended.begin(), ended.end(),
                          [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
      << "settled in the middle of a line: \"" << ended << "\"";
  screen.Log.erase(line - 1, line + 1);
}

Bytes CoreBench::Sent() {
  EXPECT_TRUE(Until([&] { return core.Written(core.LastQueued()); }))
      << "the transmit ring did not empty";
  return port.TakeWritten();
}

Bytes CoreBench::SentAtLeast(std::size_t n) {
  Bytes sent;
  EXPECT_TRUE(Until([&] {
    sent = sent + port.TakeWritten();
    return sent.size() >= n;
  })) << sent.size()
      << " of " << n << " bytes went out";
  return sent;
}

void CoreBench::FillRing() {
  port.HoldWritesAfter(0);
  for (int i = 0; i < UartTxThread::SlotCount - 1; ++i) core.EraseFlash(0x10000, 0x1000);
  screen.Clear();
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(SystemPath(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(SystemPath(path), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}
