#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

enum class Parity { None, Even, Odd };
enum class StopBits { One, Two };

struct LineSettings {
  std::uint32_t BaudRate = 115200;
  int DataBits = 8;
  Parity ParityMode = Parity::None;
  StopBits Stop = StopBits::One;
};

// The settings dialog's lists and config.cfg number the choices in this order: parity none,
// even, odd; one stop bit, two. Any other index: nullopt, and the port keeps what it has.
inline std::optional<Parity> ParityOfIndex(int index) {
  static constexpr Parity Parities[] = {Parity::None, Parity::Even, Parity::Odd};
  if (index < 0 || index >= 3) return std::nullopt;
  return Parities[index];
}
inline std::optional<StopBits> StopBitsOfIndex(int index) {
  if (index < 0 || index >= 2) return std::nullopt;
  return index == 0 ? StopBits::One : StopBits::Two;
}

// The bits one character takes on the line: the start bit, the data bits, a parity bit and the
// stop bits.
inline int BitsPerCharacter(const LineSettings& settings) {
  return 1 + std::clamp(settings.DataBits, 5, 8) + (settings.ParityMode == Parity::None ? 0 : 1) +
         (settings.Stop == StopBits::Two ? 2 : 1);
}

// Why no driver would take these settings, in a technician's words; empty when they may go.
// Checked before the driver is asked, since a pseudo-terminal takes anything.
inline std::string RefusedSettings(const LineSettings& settings) {
  if (settings.BaudRate == 0) return "baud rate 0 is not a speed";
  if (settings.DataBits < 5 || settings.DataBits > 8)
    return std::to_string(settings.DataBits) + " data bits: only 5 to 8 are possible";
  return {};
}

// Why a port that its driver, asked for `asked` baud, reports running at `running` cannot
// carry the line; empty when it can. A driver may take a speed it cannot do without a word
// (the 8250 above its clock's limit keeps the speed it had), and some report the speed their
// divider really gives: within 2% the two ends still read each other's bytes.
inline std::string SpeedNotTaken(std::uint32_t asked, std::uint32_t running) {
  const std::uint64_t off = running > asked ? running - asked : asked - running;
  if (off * 50 <= asked) return {};
  return "the driver runs it at " + std::to_string(running) + " baud, not " + std::to_string(asked);
}

enum class IoStatus {
  Ok,        // Count bytes moved
  TimedOut,  // nothing (read) or not everything (write) within the time-out
  Aborted,   // Close() was called while the call waited
  NotOpen,
  HungUp,  // the device went away (adapter pulled, far end of a pty closed)
  Failed,
};

struct IoResult {
  IoStatus Status = IoStatus::Failed;
  std::size_t Count = 0;
};

// A serial line as the protocol sees it. Read and Write may be called from a worker
// thread while the GUI thread calls Close(): Close aborts them and waits for them to leave.
class Port {
 public:
  virtual ~Port() = default;
  // Opens the line by the name the technician gave, keeping every other program out. False
  // leaves the port closed (or open as it was, when it already was).
  virtual bool OpenExclusive(const std::string& name) = 0;
  // Why the last OpenExclusive or SetSettings failed, in words a technician can act on.
  virtual const std::string& LastError() const = 0;
  // The device the last OpenExclusive reached instead of the name's own node, when the adapter
  // the name stood for came back under another; empty when it opened the name itself.
  virtual const std::string& FollowedTo() const {
    static const std::string none;
    return none;
  }
  virtual bool GetSettings(LineSettings& settings) = 0;
  virtual bool SetSettings(const LineSettings& settings) = 0;
  // Returns as soon as at least one byte is there (up to max), or after timeoutMs of silence;
  // with NoTimeout only when a byte comes, the line fails or Close() is called.
  virtual IoResult Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) = 0;
  static constexpr int NoTimeout = -1;
  // Writes all n bytes or reports why not; Count tells how many went out.
  virtual IoResult Write(const std::uint8_t* data, std::size_t n, int timeoutMs) = 0;
  // Waits until what was written has left the port for the line (the system's output queue
  // is empty), at most timeoutMs: Ok, TimedOut, Aborted by Close(), NotOpen, HungUp when the
  // port can no longer tell (the device went away). Ok at once where the system has nothing to
  // tell, as for a pseudo-terminal: the caller allows for the line time.
  virtual IoResult Drain(int timeoutMs) {
    (void)timeoutMs;
    return {IoStatus::Ok, 0};
  }
  virtual void Purge() = 0;
  virtual void Close() = 0;
};

// How long a drain waits before it looks at the output queue again: the time the queued bytes
// need on the line at eleven bits a byte at the most (start, eight data bits, parity, stop).
inline long long QueuedLineMs(long long queuedBytes, long long baud) {
  const long long ms = queuedBytes * 11 * 1000 / (baud > 0 ? baud : 1);
  return ms > 1 ? ms : 1;
}
