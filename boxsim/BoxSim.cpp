#include "boxsim/BoxSim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

#include "boxsim/BoxSimParts.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

// The box's life and what tests and the program set and read of it.
namespace boxsim {

using namespace parts;

const char* OutcomeName(UploadOutcome outcome) {
  switch (outcome) {
    case UploadOutcome::None:
      return "none";
    case UploadOutcome::InProgress:
      return "in progress";
    case UploadOutcome::Accepted:
      return "accepted";
    case UploadOutcome::Refused:
      return "refused";
    case UploadOutcome::Stopped:
      return "stopped";
    case UploadOutcome::Abandoned:
      return "abandoned";
  }
  return "?";
}

BoxSim::BoxSim(BoxOptions options)
    : Options(std::move(options)),
      CfgRecord(SatelliteRecord()),
      FlashImage(PatternFlash(1u << 20)),
      ThrottleBaud(Options.baud),
      ThrottleBits(10) {  // a start bit, 8 data bits, a stop bit
  if (Options.blockSize == 0) Options.blockSize = kBlockSize;
  CalcCrc(nullptr, 0);  // builds the table before two threads could race to do it
}

BoxSim::~BoxSim() {
  Stop();
  UnlockLink();
  if (WakeFd >= 0) close(WakeFd);
}

bool BoxSim::Start() {
  if (Loader.joinable()) return true;
  Problem.clear();
  if (!LockLink()) return false;
  if (!OpenPty()) {
    if (Problem.empty())
      Problem = std::string("can't create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  if (!MakeLink()) {
    ClosePty();
    return false;
  }
  {
    std::lock_guard lock(Mutex);
    Stopping = false;
  }
  LoaderStarts();
  Loader = std::thread([this] { Run(); });
  return true;
}

void BoxSim::Stop() {
  if (Loader.joinable()) {
    {
      std::lock_guard lock(Mutex);
      Stopping = true;
    }
    Wake();
    Loader.join();
  }
  RemoveLink();
  ClosePty();
}

void BoxSim::PullPlug() {
  Stop();
  Event("plug pulled");
}

void BoxSim::TakeBoxAway() {
  {
    std::lock_guard lock(Mutex);
    BoxAway = true;
  }
  Event("box taken away");
}

void BoxSim::BringNewBox() {
  {
    std::lock_guard lock(Mutex);
    BoxAway = false;
    NewBox = true;
  }
  Wake();
  Event("new box");
}

bool BoxSim::PlugIn() {
  if (!Start()) return false;
  Event("plugged in: " + DevicePath());
  return true;
}

std::string BoxSim::DevicePath() const {
  std::lock_guard lock(Mutex);
  return Device;
}

void BoxSim::Post(Request request) {
  {
    std::lock_guard lock(Mutex);
    Requests.push_back(std::move(request));
    ++RequestsPosted;
  }
  Wake();
}

void BoxSim::SetAnswer(BoxCommand command, Answer answer) {
  std::lock_guard lock(Mutex);
  Answers[static_cast<int>(command)] = answer;
}

Answer BoxSim::AnswerFor(BoxCommand command) const {
  std::lock_guard lock(Mutex);
  return Answers[static_cast<int>(command)];
}

void BoxSim::SetLoaderVersion(std::uint8_t major, std::uint8_t minor) {
  std::lock_guard lock(Mutex);
  VersionMajor = major;
  VersionMinor = minor;
}

void BoxSim::SetConfigRecord(const Record& record) {
  std::lock_guard lock(Mutex);
  CfgRecord = record;
}

Record BoxSim::ConfigRecord() const {
  std::lock_guard lock(Mutex);
  return CfgRecord;
}

Bytes BoxSim::Flash() const {
  std::lock_guard lock(Mutex);
  return FlashImage;
}

void BoxSim::SetThrottle(int baud, int bitsPerChar) {
  {
    std::lock_guard lock(Mutex);
    ThrottleBaud = baud;
    ThrottleBits = bitsPerChar;
    ThrottleChanged = true;
  }
  Wake();
}

void BoxSim::SetBlockOrder(BlockOrder order) {
  std::lock_guard lock(Mutex);
  Order = order;
}

void BoxSim::SetBlockRequests(std::vector<int> blocks) {
  std::lock_guard lock(Mutex);
  CustomRequests = std::move(blocks);
}

void BoxSim::SetBlockWait(int ms, int retries) {
  std::lock_guard lock(Mutex);
  BlockWaitMs = std::max(1, ms);
  BlockRetries = std::max(0, retries);
}

void BoxSim::ExpireBlockWait() {
  {
    std::lock_guard lock(Mutex);
    BlockWaitExpired = true;
  }
  Wake();
}

void BoxSim::SetExpectedImage(Bytes image) {
  std::lock_guard lock(Mutex);
  ExpectedImage = std::move(image);
}

Bytes BoxSim::UploadedImage() const {
  std::lock_guard lock(Mutex);
  return Image;
}

void BoxSim::SetUploadAddress(std::uint32_t address) {
  std::lock_guard lock(Mutex);
  UploadAddress = address;
}

void BoxSim::SetAppSeconds(int seconds) {
  std::lock_guard lock(Mutex);
  AppSeconds = seconds;
}

void BoxSim::PowerCycle() {
  {
    std::lock_guard lock(Mutex);
    PowerCycled = true;
  }
  Wake();
}

UploadOutcome BoxSim::LastUploadOutcome() const {
  std::lock_guard lock(Mutex);
  return Outcome;
}

std::uint32_t BoxSim::LastUploadSize() const {
  std::lock_guard lock(Mutex);
  return ImageSize;
}

void BoxSim::SetStopSyncFlood(int everyMs) {
  {
    std::lock_guard lock(Mutex);
    FloodEveryMs = std::max(0, everyMs);
  }
  Wake();
}

void BoxSim::SetOkAfterBlocks(int blocks) {
  std::lock_guard lock(Mutex);
  OkAfterBlocks = blocks;
}

void BoxSim::SetRequestNoise(Bytes noise, int pauseMs) {
  std::lock_guard lock(Mutex);
  RequestNoise = std::move(noise);
  RequestNoisePauseMs = std::max(0, pauseMs);
}

void BoxSim::SetGreeting(std::string line) {
  std::lock_guard lock(Mutex);
  Greeting = std::move(line);
}

void BoxSim::SetDoubledWords(std::vector<std::uint32_t> words) {
  std::lock_guard lock(Mutex);
  DoubledWords = std::move(words);
}

void BoxSim::InjectFault(const Fault& fault) {
  std::lock_guard lock(Mutex);
  Faults.push_back({fault, FramesSent, FlashReplies});
}

void BoxSim::ClearFaults() {
  std::lock_guard lock(Mutex);
  Faults.clear();
  Silent = false;
}

void BoxSim::PrintLines(std::vector<std::string> lines) {
  Request r;
  r.kind = RequestKind::Lines;
  r.lines = std::move(lines);
  Post(std::move(r));
}

void BoxSim::Flood(std::size_t bytes) {
  Request r;
  r.kind = RequestKind::Flood;
  r.count = bytes;
  Post(std::move(r));
}

Bytes BoxSim::Received() const {
  std::lock_guard lock(Mutex);
  return ReceivedLog;
}

std::vector<Message> BoxSim::Messages() const {
  std::lock_guard lock(Mutex);
  return MessageLog;
}

std::vector<std::string> BoxSim::Events() const {
  std::lock_guard lock(Mutex);
  return EventLog;
}

int BoxSim::SyncWordsSeen() const {
  std::lock_guard lock(Mutex);
  return SyncSeen;
}

void BoxSim::ClearLogs() {
  std::lock_guard lock(Mutex);
  ReceivedLog.clear();
  MessageLog.clear();
  EventLog.clear();
  SyncSeen = 0;
}

bool BoxSim::WaitForEvent(const std::string& text, int timeoutMs) const {
  std::unique_lock lock(Mutex);
  std::size_t checked = 0;
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (; checked < EventLog.size(); ++checked)
      if (EventLog[checked].find(text) != std::string::npos) return true;
    return false;
  });
}

bool BoxSim::WaitOutputDone(int timeoutMs) const {
  std::unique_lock lock(Mutex);
  const std::uint64_t target = RequestsPosted;
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return RequestsDone >= target; });
}

void BoxSim::SetEventSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(Mutex);
  Sink = std::move(sink);
}

void BoxSim::Event(const std::string& line) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard lock(Mutex);
    EventLog.push_back(line);
    sink = Sink;
  }
  Changed.notify_all();
  if (sink) sink(line);
}

void BoxSim::LogMessage(Message message) {
  std::lock_guard lock(Mutex);
  if (MessageLog.size() >= 2 * kMessageLogLimit)
    MessageLog.erase(MessageLog.begin(),
                     MessageLog.begin() + static_cast<std::ptrdiff_t>(kMessageLogLimit));
  MessageLog.push_back(std::move(message));
}

std::uint32_t BoxSim::BlockLength(int block) const {
  const std::uint64_t start = std::uint64_t(block) * Options.blockSize;
  if (block < 0 || start >= ImageSize) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(Options.blockSize, ImageSize - start));
}

}  // namespace boxsim
