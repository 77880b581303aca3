#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/Port.h"
#include "wire/LoaderCommands.h"

inline constexpr const char* UploadStoppedAdvice =
    "The box may still be waiting for the rest of the block: restart it before the next upload";

// What the engine tells its front ends: what happened, with its data. A front end decides what
// to show; RenderEvent gives the message log's words for it. Text from the box is Latin-1, one
// byte per character; file and port names are text of the system.
namespace ev {

// The port is open and set up as the driver runs it. FollowedTo: the node a USB adapter was
// found under when it came back elsewhere (empty when it is where it was).
struct PortOpened {
  std::string Name{};
  LineSettings Settings{};
  std::string FollowedTo{};
};

// The open failed (SettingsRefused false) or the driver refused the settings: Why in the
// system's words.
struct PortOpenFailed {
  std::string Name{};
  std::string Why{};
  bool SettingsRefused = false;
};

// The port went away under the engine. DroppedMessages: queued for it, never sent.
struct PortLost {
  std::string Why{};
  int DroppedMessages = 0;
};

// The line is closed, or a close found nothing open (WasOpen false). LostWhy: empty for a
// Disconnect or shut-down.
struct PortClosed {
  bool WasOpen = false;
  bool LineClosed = false;  // the port itself was still open and has been closed now
  std::string LostWhy{};
};

// A command went out to the ring: its first bytes as on the line (up to four), and the length
// of the whole message where that is worth telling (0: not told).
struct CommandSent {
  std::vector<std::uint8_t> Head{};
  int Length = 0;
};

// The box restarts: commands wait until its loader answers the sync word again.
struct AwaitingLoader {};

// An answer is awaited (Armed) or no longer.
struct ReplyWait {
  bool Armed = false;
};

struct ReplyTimedOut {};
struct LoaderAnswered {};

struct LoaderVersion {
  int Major = 0;
  int Minor = 0;
};

// The box's status word settled one of the loader's commands.
struct CommandSettled {
  const LoaderCommand* Command = nullptr;
  std::uint32_t Word = 0;
  bool Ok() const { return Word != Command->FailReply; }
};

// A command's status word that answers nothing sent: its command was not out, had been settled
// already (a copy on the line), or began to go out only after the word came in. It settles
// nothing.
struct UnexpectedAnswer {
  const LoaderCommand* Command = nullptr;
  std::uint32_t Word = 0;
};

// Any status word the receiver recognised, whether or not it settled a command.
struct StatusWord {
  std::uint32_t Word = 0;
};

// The box's download configuration record, its 100 bytes as they came.
struct RecordArrived {
  std::array<std::uint8_t, 100> Record{};
};

// A line of the box's text as it came, with its carriage return, if any; a zero byte in it is
// the box's own.
struct BoxText {
  std::string Line{};
};

// The line's pass ended inside a reply frame whose word was known.
struct ReplyCutShort {};
// A reply frame's CRC did not match (Word: the reply's word).
struct ReplyCrcFailed {
  std::uint32_t Word = 0;
};

// Upload: the image is announced (Size bytes), or a block went to the ring.
struct UploadStarted {
  std::string Image{};
  std::uint32_t Size = 0;
};
struct BlockServed {
  int Block = 0;
  std::uint32_t Bytes = 0;
  std::uint64_t Through = 0;  // the image's bytes up to the end of this block
  std::uint32_t ImageSize = 0;
};
// A download request that was not answered, and why.
struct RequestIgnored {
  enum class Reason { NoImage, PastEnd, StillBeingSent } Why;
  int Block = 0;
};

enum class UploadOutcome {
  Accepted,       // the box said OK and had every block
  AcceptedEarly,  // the box said OK before it had every block: Why
  AcceptedIdle,   // an OK word with no upload under way
  Refused,        // the box said it failed
  Stopped,        // by the technician; ImageOut: every block had gone out
  ImageChanged,   // the image was written to since it was opened: Why
};
struct UploadEnded {
  UploadOutcome Outcome = UploadOutcome::Accepted;
  std::string Image{};
  std::string Why{};
  bool ImageOut = false;
};

// Flash read-back: a request for the next block (BytesLeft still to ask for), a block whose CRC
// matched, the box's refusal, and the end.
struct FlashReadAsks {
  std::uint32_t BytesLeft = 0;
};
struct FlashBlockChecked {};
struct FlashReadRefused {};

enum class ReadOutcome {
  Complete,    // File holds the read
  Failed,      // File is left as it was
  NotWritten,  // every byte arrived but could not be written whole: File left as it was
  Kept,        // every byte arrived, File could not be replaced (Why): they are in KeptIn
};
struct FlashReadEnded {
  ReadOutcome Outcome = ReadOutcome::Complete;
  std::string File{};      // the file's path
  std::string FileName{};  // what the log calls it
  std::string KeptIn{};
  std::string Why{};
};

// Something asked of the engine was not done, and why.
enum class Refusal {
  NotConnected,        // a message for a port that is not open
  UploadNotConnected,  // an upload with no port open
  TooLong,             // a message longer than a ring slot
  TxQueueFull,
  RxQueueFull,
  WriteFailed,         // the port did not take a whole message
  ImageUnreadable,     // Detail: the image's name
  BlockUnreadable,     // the image no longer holds the block asked for
  PartFileNotCreated,  // Detail: the file's path
  PartFileNotWritten,  // Detail: the file's path
  InputRefused,        // a typed value out of range; Detail: what the field takes
};
struct Refused {
  Refusal What = Refusal::NotConnected;
  std::string Detail{};
};

}  // namespace ev

using EngineEvent =
    std::variant<ev::PortOpened, ev::PortOpenFailed, ev::PortLost, ev::PortClosed, ev::CommandSent,
                 ev::AwaitingLoader, ev::ReplyWait, ev::ReplyTimedOut, ev::LoaderAnswered,
                 ev::LoaderVersion, ev::CommandSettled, ev::UnexpectedAnswer, ev::StatusWord,
                 ev::RecordArrived, ev::BoxText, ev::ReplyCutShort, ev::ReplyCrcFailed,
                 ev::UploadStarted, ev::BlockServed, ev::RequestIgnored, ev::UploadEnded,
                 ev::FlashReadAsks, ev::FlashBlockChecked, ev::FlashReadRefused, ev::FlashReadEnded,
                 ev::Refused>;

// Where the engine's events go: the window, the command line, a test's recorder. Called on
// the protocol thread; a front end may block in it (a modal message box).
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void On(const EngineEvent& event) = 0;
};

// What an event says in the message log and in a message box.
class EventText {
 public:
  virtual ~EventText() = default;
  // A log line of the box's coding (one byte per character) or, when systemText, of the
  // system's (a file or port name in it).
  virtual void Line(const std::string& text, bool systemText) = 0;
  // A line of the box's text as it came (see ev::BoxText). The log shows it as far as the first
  // zero, where a line of text ends, without the carriage return; a front end may show more.
  virtual void Box(const std::string& line) { Line(BoxLineShown(line), false); }
  // What the window shows in a modal box.
  virtual void Message(const std::string& text) = 0;

  static std::string BoxLineShown(const std::string& line);
};

// The message log's lines and the message box of one event, in the order the window shows
// them: the same words whatever front end asks.
void RenderEvent(const EngineEvent& event, EventText& out);
