#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "boxsim/BoxFrames.h"

namespace boxsim {

// Everything the loader answers; each has an answer mode.
enum class BoxCommand {
  Sync,
  LoaderVersion,
  VerifyBoot,
  VerifyApp,
  RunApp,
  Reboot,
  GetConfig,
  SetConfig,
  DefaultConfig,
  Tune,
  Erase,
  ReadFlash,
  Upload,
  OtherWord  // any other command of one word of the loader's table, answered by its words
};
inline constexpr int kBoxCommandCount = static_cast<int>(BoxCommand::OtherWord) + 1;

// Whether the box answers this command word at all.
bool AnswersCommand(std::uint32_t word);

// Good and Bad pick the success or failure answer. Where a command has no failure word, Bad
// means a reply whose CRC does not hold (loader version, configuration record) or is the same
// as Good (sync, reboot). Never keeps quiet.
enum class Answer { Good, Bad, Never };

enum class BlockOrder {
  InSequence,   // 0, 1, ..., C-1
  WithRepeats,  // every block asked for twice in a row
  Backwards,    // C-1, ..., 0
  StopHalfway   // the first half, then the box stops asking and never answers
};

enum class UploadOutcome {
  None,
  InProgress,
  Accepted,
  Refused,
  Stopped,   // the box stopped on purpose (stop halfway, or told never to answer)
  Abandoned  // the tool did not deliver a block after the retries; the image was refused
};

// The largest flash the box grows to, to hold an image uploaded high up.
inline constexpr std::size_t kFlashLimit = 64u << 20;

// The bytes in each block the box asks for, but the last.
inline constexpr std::uint32_t kBlockSize = 0x1FFFC;

// A pseudo-terminal in raw mode, both ends closed on exec, the master side non-blocking; name
// is the slave's path.
bool OpenRawPty(int& master, int& slave, std::string& name);

struct BoxOptions {
  std::string linkPath;  // optional symlink to the device
  // A terminal to play the box on instead of a new pseudo-terminal: the far end of a line that
  // something else made, such as a virtual machine's serial port.
  std::string devicePath;
  int baud = 0;  // 0 runs the line as fast as the pty goes
  std::uint32_t blockSize = kBlockSize;
};

enum class MessageKind { Command, Text, Block };

// One message of the tool as the box took it apart.
struct Message {
  MessageKind kind = MessageKind::Command;
  std::uint32_t word = 0;  // commands: the word, most significant byte first
  int block = -1;          // blocks: the block number answered
  Bytes bytes;             // commands: the whole message; text: the bytes; blocks: not kept
};

// The box's boot loader at the far end of a pseudo-terminal. The loader runs on its own thread
// on the master side; tests and the program talk to it through the methods below, from any
// thread.
class BoxSim {
 public:
  explicit BoxSim(BoxOptions options = {});
  ~BoxSim();
  BoxSim(const BoxSim&) = delete;
  BoxSim& operator=(const BoxSim&) = delete;

  // Opens the pty (and the link) and starts the loader. False when the pty or link failed, or
  // when another box holds the link; StartProblem then tells why.
  bool Start();
  const std::string& StartProblem() const { return Problem; }
  void Stop();
  std::string DevicePath() const;
  const std::string& LinkPath() const { return Options.linkPath; }

  // Pulling the plug closes the master side: the tool sees a hang-up. Plugging in makes a new
  // pty, points the link at it and starts a loader that waits for the sync word.
  void PullPlug();
  bool PlugIn();
  // Taking the box away leaves the port in place: nothing answers, whatever the tool sends.
  // A box brought back is a new one: its loader waits for the sync word.
  void TakeBoxAway();
  void BringNewBox();

  void SetAnswer(BoxCommand command, Answer answer);
  void SetLoaderVersion(std::uint8_t major, std::uint8_t minor);
  void SetConfigRecord(const Record& record);  // kept as given, seal and all
  Record ConfigRecord() const;
  Bytes Flash() const;
  void SetThrottle(int baud, int bitsPerChar = 10);

  void SetBlockOrder(BlockOrder order);
  // An explicit list of block numbers to ask for, used instead of the order; empty clears it.
  void SetBlockRequests(std::vector<int> blocks);
  // How long the box waits for a block (since the last byte) before asking again, and how
  // often it asks again before it refuses the image.
  void SetBlockWait(int ms, int retries);
  // Ends the wait for the current block at once, as if its time had run out: the box asks
  // again, or gives up when no retries are left.
  void ExpireBlockWait();
  // When set, a block whose bytes differ from this image is refused even if its CRC holds.
  void SetExpectedImage(Bytes image);
  Bytes UploadedImage() const;
  // Where an accepted image is written into the flash (0 unless set), as a real loader keeps
  // what it took, so that upload, verify and read back agree. A flash too small for it grows.
  void SetUploadAddress(std::uint32_t address);
  // After run-app the application runs and the loader answers nothing, not even the sync word;
  // after this many seconds (0: never) the box returns to its loader, as a watchdog would.
  void SetAppSeconds(int seconds);
  // Power off and on: whatever ran, the loader starts again and waits for the sync word; the
  // flash and the configuration record are kept.
  void PowerCycle();
  UploadOutcome LastUploadOutcome() const;
  std::uint32_t LastUploadSize() const;

  // Ways a box misbehaves for long, not just once:
  // the stop-sync word every everyMs milliseconds whatever else goes on (0: no more);
  void SetStopSyncFlood(int everyMs);
  // the upload reported OK once this many blocks have come, without asking for the rest
  // (-1: only once every block has come);
  void SetOkAfterBlocks(int blocks);
  // before every block request these bytes, then a pause of pauseMs: line noise that may
  // begin like a frame (empty: none);
  void SetRequestNoise(Bytes noise, int pauseMs);
  // a line printed each time the box answers the sync word, any bytes in it, escape sequences
  // and zero bytes too (empty: none).
  void SetGreeting(std::string line);
  // every status word among these sent twice, the copy right behind it, as a line can carry it
  // (empty: none).
  void SetDoubledWords(std::vector<std::uint32_t> words);

  void InjectFault(const Fault& fault);
  void ClearFaults();  // also ends a silence

  // Output on request; it goes out in order, after what the loader is writing now.
  void PrintLines(std::vector<std::string> lines);  // each gets a carriage return
  void Flood(std::size_t bytes);                    // console lines, exactly this many bytes

  Bytes Received() const;  // the last ReceiveLogLimit bytes the tool sent
  std::vector<Message> Messages() const;
  std::vector<std::string> Events() const;
  int SyncWordsSeen() const;
  void ClearLogs();
  // Blocks until an event line that contains text has been logged.
  bool WaitForEvent(const std::string& text, int timeoutMs) const;
  // Blocks until the output asked for so far has gone to the pty.
  bool WaitOutputDone(int timeoutMs) const;
  // Called on the loader thread for every event line, outside the box's lock.
  void SetEventSink(std::function<void(const std::string&)> sink);

  static constexpr std::size_t kReceiveLogLimit = 1u << 20;
  static constexpr std::size_t kMessageLogLimit = 20000;
  static constexpr std::uint32_t kMaxImageSize = 64u << 20;

 private:
  using Clock = std::chrono::steady_clock;
  enum class Phase { AwaitSync, Ready, Uploading, AppRunning };
  enum class RequestKind { Lines, Flood };
  struct Request {
    RequestKind kind = RequestKind::Lines;
    std::vector<std::string> lines;
    std::size_t count = 0;
  };
  struct ArmedFault {
    Fault fault;
    std::uint64_t frameBase;
    std::uint64_t flashBase;
  };
  struct FrameInfo {
    int block = -1;
    bool flashReply = false;
  };
  // Paces bytes to a line rate; a short burst allowance keeps the pty from draining idle.
  struct Pacer {
    double rate = 0;  // bytes per second, 0 unpaced
    double credit = 0;
    Clock::time_point last{};
    void Reset(int baud, int bitsPerChar);
    std::size_t Allow(std::size_t wanted);
    int MsUntilByte() const;
    double Chunk() const;
  };

  bool OpenPty();
  bool OpenDevice();
  void ClosePty();
  bool LockLink();
  void UnlockLink();
  bool MakeLink();
  void RemoveLink();
  void Wake();
  void DrainWake();
  void Post(Request request);
  void Run();
  void RefreshPacers();
  bool ReadInput(Bytes& into);
  void Parse();
  void HandleTimeouts();
  // pace: milliseconds until the read pacer lets bytes in (0: now).
  int NextTimeoutMs(int pace) const;
  void HandleCommand(const std::uint8_t* msg, std::size_t len);
  void HandleSync();
  void HandleUploadCommand(const std::uint8_t* msg);
  void HandleBlock(const std::uint8_t* data, std::size_t len);
  void RequestNextBlock();
  // Reports the upload OK when told to before every block has come; true when it did.
  bool OkEarly();
  void SendBlockRequest();
  // The loader's state as it starts: waiting for the sync word, nothing half taken.
  void LoaderStarts();
  // The loader starts again (a power cycle, the application's time over) and says so.
  void BackToLoader(const std::string& why);
  void FinishUpload(UploadOutcome outcome, const std::string& why);
  void FlushText();
  void ServeRequests();
  void SendFrame(const Bytes& frame) { SendFrame(frame, FrameInfo{}); }
  void SendFrame(const Bytes& frame, FrameInfo info);
  void SendText(const std::string& line);
  bool SendConsole(const std::string& text);
  bool StopRequested() const;
  bool WriteAll(const std::uint8_t* data, std::size_t n);
  bool PauseMs(int ms);
  // PauseMs that goes on reading the tool's bytes (into Backlog) as they come.
  bool PauseTakingInput(int ms);
  void Event(const std::string& line);
  void LogMessage(Message message);
  Answer AnswerFor(BoxCommand command) const;
  std::uint32_t BlockLength(int block) const;

  BoxOptions Options;
  std::string Problem;
  // Held from the first start to the end: while it is, no other box takes the link over.
  int LinkLockFd = -1;

  mutable std::mutex Mutex;
  mutable std::condition_variable Changed;

  // Guarded by Mutex.
  std::string Device;
  Answer Answers[kBoxCommandCount]{};
  std::uint8_t VersionMajor = 5;
  std::uint8_t VersionMinor = 6;
  Record CfgRecord;
  Bytes FlashImage;
  int ThrottleBaud;
  int ThrottleBits;
  bool ThrottleChanged = true;
  BlockOrder Order = BlockOrder::InSequence;
  std::vector<int> CustomRequests;
  int BlockWaitMs = 2000;
  int BlockRetries = 3;
  bool BlockWaitExpired = false;
  Bytes ExpectedImage;
  Bytes Image;
  UploadOutcome Outcome = UploadOutcome::None;
  std::uint32_t ImageSize = 0;
  std::vector<ArmedFault> Faults;
  bool Silent = false;
  int FloodEveryMs = 0;
  int OkAfterBlocks = -1;
  Bytes RequestNoise;
  int RequestNoisePauseMs = 0;
  std::string Greeting;
  std::vector<std::uint32_t> DoubledWords;
  std::uint64_t FramesSent = 0;
  std::uint64_t FlashReplies = 0;
  std::vector<Request> Requests;
  std::uint64_t RequestsPosted = 0;
  std::uint64_t RequestsDone = 0;
  Bytes ReceivedLog;
  std::vector<Message> MessageLog;
  std::vector<std::string> EventLog;
  int SyncSeen = 0;
  std::function<void(const std::string&)> Sink;

  // Owned by the loader thread while it runs.
  int MasterFd = -1;
  int SlaveFd = -1;  // held so the pty lives while the tool has it closed
  int WakeFd = -1;
  std::thread Loader;
  bool Stopping = false;            // guarded by Mutex
  bool BoxAway = false;             // guarded by Mutex
  bool NewBox = false;              // guarded by Mutex: the loader thread starts afresh
  bool PowerCycled = false;         // guarded by Mutex
  std::uint32_t UploadAddress = 0;  // guarded by Mutex
  int AppSeconds = 0;               // guarded by Mutex
  Clock::time_point AppUntil{};     // the application hands back to the loader then (if set)
  Phase State = Phase::AwaitSync;
  Bytes In;
  Bytes Backlog;  // read while a write waited for room; parsed after it
  std::string TextPending;
  Clock::time_point LastInput{};
  bool SyncAnswered = false;
  Clock::time_point SyncAnsweredAt{};
  Pacer ReadPacer;
  Pacer WritePacer;
  std::vector<int> BlockPlan;
  bool StopsHalfway = false;
  std::size_t PlanIndex = 0;
  int CurrentBlock = -1;
  std::size_t ExpectLen = 0;
  int RetriesLeft = 0;
  Clock::time_point BlockDeadline{};
  int BlockWaitNow = 2000;
  std::vector<bool> BlocksGot;
  int BlocksTaken = 0;  // blocks of this upload that came whole
  Clock::time_point NextFlood{};
};

const char* OutcomeName(UploadOutcome outcome);

}  // namespace boxsim
