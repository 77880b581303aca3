#include "platform/SerialPort.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/TransferEnd.h"
#include "platform/win32/SystemText.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr SteadyClock::time_point NoDeadline = SteadyClock::time_point::max();

// As the waits take it: -1 is INFINITE.
int MsLeft(SteadyClock::time_point deadline) {
  if (deadline == NoDeadline) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7ffffffe ? 0x7ffffffe : static_cast<int>(left);
}

std::string OpenErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      return "no such device";
    // Windows shares no COM port: a port someone else holds answers "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return "in use by another program";
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_ACCESS_DISABLED_BY_POLICY:
      return "permission denied";
    default:
      return SystemText(error);
  }
}

// How a call that failed on a port that was open reads to the protocol: a USB adapter pulled
// out answers with one of these.
IoStatus FailureOf(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
      return IoStatus::HungUp;
    default:
      return IoStatus::Failed;
  }
}

// An overlapped call with an event of its own, whose wait the abort event can end.
struct OverlappedCall {
  explicit OverlappedCall(HANDLE abort) : Abort(abort) {
    Overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~OverlappedCall() {
    if (Overlapped.hEvent) ::CloseHandle(Overlapped.hEvent);
  }
  OverlappedCall(const OverlappedCall&) = delete;
  OverlappedCall& operator=(const OverlappedCall&) = delete;

  // Ok when the call completed, Aborted when Close() ended the wait, else TimedOut.
  IoStatus Wait(int waitMs) {
    HANDLE waits[2] = {Overlapped.hEvent, Abort};
    const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(waitMs));
    if (woke == WAIT_OBJECT_0) return IoStatus::Ok;
    return woke == WAIT_OBJECT_0 + 1 ? IoStatus::Aborted : IoStatus::TimedOut;
  }

  OVERLAPPED Overlapped{};
  HANDLE Abort;
  DWORD Error = 0;
};

// One overlapped transfer: starts it, waits for it, the time-out or the abort event, and
// takes back a transfer it had to cancel so that its buffer is free again.
struct Transfer : OverlappedCall {
  using OverlappedCall::OverlappedCall;

  // Ok with Count moved (possibly 0), TimedOut or Aborted with what moved before the wait ended,
  // or the failure and its system error in Error.
  IoResult Run(HANDLE port, bool reading, void* buffer, DWORD n, int waitMs) {
    if (!Overlapped.hEvent) return {IoStatus::Failed, 0};
    ::ResetEvent(Overlapped.hEvent);
    Overlapped.Internal = Overlapped.InternalHigh = 0;
    Overlapped.Offset = Overlapped.OffsetHigh = 0;
    DWORD moved = 0;
    const BOOL done = reading ? ::ReadFile(port, buffer, n, nullptr, &Overlapped)
                              : ::WriteFile(port, buffer, n, nullptr, &Overlapped);
    if (!done && ::GetLastError() != ERROR_IO_PENDING) {
      Error = ::GetLastError();
      return {FailureOf(Error), 0};
    }
    IoStatus ended = IoStatus::Ok;
    if (!done) {
      ended = Wait(waitMs);
      if (ended != IoStatus::Ok) ::CancelIoEx(port, &Overlapped);
    }
    // After a cancel this waits for the driver to let go of the buffer.
    const bool completed = ::GetOverlappedResult(port, &Overlapped, &moved, TRUE);
    if (!completed) {
      Error = ::GetLastError();
      if (Error != ERROR_OPERATION_ABORTED) return {FailureOf(Error), moved};
      if (ended == IoStatus::Ok) ended = IoStatus::Aborted;  // cancelled by someone else
    }
    return {TransferEnd(ended, completed, moved, n), moved};
  }
};

// A wait for the "character received" event, ended by its time-out or the abort event.
struct CommWait : OverlappedCall {
  using OverlappedCall::OverlappedCall;

  // False when the wait could not be armed (Error says why).
  bool Start(HANDLE port) {
    if (!Overlapped.hEvent) return false;
    ::ResetEvent(Overlapped.hEvent);
    Events = 0;
    Pending = !::WaitCommEvent(port, &Events, &Overlapped);
    if (Pending && ::GetLastError() != ERROR_IO_PENDING) {
      Error = ::GetLastError();
      Pending = false;
      return false;
    }
    return true;
  }

  // Ok when a byte arrived, TimedOut, Aborted, or Failed with Error.
  IoStatus Finish(HANDLE port, int waitMs) {
    if (!Pending) return IoStatus::Ok;
    const IoStatus waited = Wait(waitMs);
    if (waited == IoStatus::Ok) return Collect(port) ? IoStatus::Ok : IoStatus::Failed;
    Cancel(port);
    return waited;
  }

  void Cancel(HANDLE port) {
    if (!Pending) return;
    ::CancelIoEx(port, &Overlapped);
    Collect(port);
  }

  DWORD Events = 0;
  bool Pending = false;

 private:
  bool Collect(HANDLE port) {
    DWORD ignored = 0;
    Pending = false;
    if (::GetOverlappedResult(port, &Overlapped, &ignored, TRUE)) return true;
    Error = ::GetLastError();
    return false;
  }
};

}  // namespace

struct SerialPort::System {
  std::atomic<HANDLE> Handle{nullptr};
  HANDLE AbortEvent = nullptr;  // set by Close() to end a wait in progress
  bool HaveFound = false;
  DCB FoundSettings{};
  COMMTIMEOUTS FoundTimeouts{};
};

const char* const SerialPort::NamingHint = "COMn: COM1, COM2, ..., COM10 and above";

SerialPort::SerialPort() : Sys(std::make_unique<System>()) {}

SerialPort::~SerialPort() {
  Close();
}

std::string SerialPort::DevicePath(const std::string& name) {
  if (name.rfind("\\\\.\\", 0) == 0) return name;
  return "\\\\.\\" + name;
}

std::string SerialPort::LastingName(const std::string& name) {
  std::string lasting = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
  for (char& c : lasting)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return lasting;
}

bool SerialPort::OpenExclusive(const std::string& name) {
  const auto held = Gate.Hold();
  if (IsOpen() || Gate.Closing()) return false;

  const std::string path = DevicePath(name);
  // Share mode 0: nobody else gets the port while we hold it.
  HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    Error = OpenErrorText(::GetLastError());
    return false;
  }
  struct {
    DCB Settings{};
    COMMTIMEOUTS Timeouts{};
  } found;
  found.Settings.DCBlength = sizeof(DCB);
  if (!::GetCommState(port, &found.Settings) || !::GetCommTimeouts(port, &found.Timeouts)) {
    Error = "not a serial port";
    ::CloseHandle(port);
    return false;
  }
  // From here on giving up hands the port back as it was found.
  const auto giveUp = [&](const std::string& why) {
    Error = why;
    ::SetCommState(port, &found.Settings);
    ::SetCommTimeouts(port, &found.Timeouts);
    ::CloseHandle(port);
    return false;
  };

  // Binary, 8 data bits, no parity, no flow control of any kind, DTR and RTS on; the speed
  // stays until SetSettings says otherwise.
  DCB dcb = found.Settings;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!::SetCommState(port, &dcb))
    return giveUp("the driver refused the settings: " + SystemText(::GetLastError()));

  // A read returns at once with what is buffered, possibly nothing; waiting for the first byte
  // is a wait for the "character received" event, which Close() can end. (The driver's own
  // "first byte or time-out" mode is not honoured everywhere: wine waits for a full buffer.)
  // Writes never time out in the driver: the caller's time-out is a wait on the overlapped call.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (!::SetCommTimeouts(port, &timeouts))
    return giveUp("the driver refused the time-outs: " + SystemText(::GetLastError()));
  if (!::SetCommMask(port, EV_RXCHAR))
    return giveUp("the driver refused the event mask: " + SystemText(::GetLastError()));

  HANDLE abort = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!abort) return giveUp(SystemText(::GetLastError()));
  ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);

  Sys->AbortEvent = abort;
  Sys->FoundSettings = found.Settings;
  Sys->FoundTimeouts = found.Timeouts;
  Sys->HaveFound = true;
  Error.clear();
  Sys->Handle.store(port);
  return true;
}

bool SerialPort::IsOpen() const {
  return Sys->Handle.load() != nullptr;
}

bool SerialPort::GetSettings(LineSettings& settings) {
  if (Gate.Enter() != IoStatus::Ok) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const bool ok = ::GetCommState(Sys->Handle.load(), &dcb);
  if (ok) {
    settings.BaudRate = dcb.BaudRate;
    settings.DataBits = dcb.ByteSize;
    settings.ParityMode = dcb.Parity == EVENPARITY  ? Parity::Even
                          : dcb.Parity == ODDPARITY ? Parity::Odd
                                                    : Parity::None;
    settings.Stop = dcb.StopBits == TWOSTOPBITS ? StopBits::Two : StopBits::One;
  }
  Gate.Leave();
  return ok;
}

bool SerialPort::SetSettings(const LineSettings& settings) {
  Error = RefusedSettings(settings);
  if (!Error.empty()) return false;
  if (Gate.Enter() != IoStatus::Ok) {
    Error = "the port is not open";
    return false;
  }
  HANDLE port = Sys->Handle.load();
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool ok = ::GetCommState(port, &dcb);
  if (ok) {
    dcb.BaudRate = settings.BaudRate;
    dcb.ByteSize = static_cast<BYTE>(settings.DataBits);
    dcb.Parity = settings.ParityMode == Parity::Even  ? EVENPARITY
                 : settings.ParityMode == Parity::Odd ? ODDPARITY
                                                      : NOPARITY;
    dcb.fParity = settings.ParityMode != Parity::None;
    dcb.StopBits = settings.Stop == StopBits::Two ? TWOSTOPBITS : ONESTOPBIT;
    ok = ::SetCommState(port, &dcb);
  }
  if (!ok) Error = "the driver refused the settings: " + SystemText(::GetLastError());
  // The driver has the last word on the speed: what it reports now is what the line runs at.
  DCB running{};
  running.DCBlength = sizeof running;
  if (ok && ::GetCommState(port, &running)) {
    Error = SpeedNotTaken(settings.BaudRate, running.BaudRate);
    ok = Error.empty();
  }
  Gate.Leave();
  return ok;
}

IoResult SerialPort::Read(std::uint8_t* buffer, std::size_t max, int timeoutMs) {
  const IoStatus entered = Gate.Enter();
  if (entered != IoStatus::Ok) return {entered, 0};
  if (max == 0) {
    Gate.Leave();
    return {IoStatus::Ok, 0};
  }
  const auto deadline =
      timeoutMs == NoTimeout
          ? NoDeadline
          : SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(max, 1 << 30));
  HANDLE port = Sys->Handle.load();
  Transfer read(Sys->AbortEvent);
  CommWait arrival(Sys->AbortEvent);
  IoResult result{IoStatus::TimedOut, 0};
  for (;;) {
    if (Gate.Closing()) {
      result.Status = IoStatus::Aborted;
      break;
    }
    // Takes what is buffered without waiting.
    result = read.Run(port, true, buffer, ask, MsLeft(deadline));
    if (result.Count > 0) {
      result.Status = IoStatus::Ok;
      break;
    }
    if (result.Status != IoStatus::Ok && result.Status != IoStatus::Aborted) break;
    if (Gate.Closing()) {
      result.Status = IoStatus::Aborted;
      break;
    }
    if (MsLeft(deadline) == 0) {
      result.Status = IoStatus::TimedOut;
      break;
    }
    // Nothing there: wait for a byte. A byte that came between the read and the start of the
    // wait is caught by reading once more while the wait is armed.
    if (!arrival.Start(port)) {
      result.Status = FailureOf(arrival.Error);
      break;
    }
    result = read.Run(port, true, buffer, ask, MsLeft(deadline));
    if (result.Count > 0) {
      arrival.Cancel(port);
      result.Status = IoStatus::Ok;
      break;
    }
    const IoStatus waited = arrival.Finish(port, MsLeft(deadline));
    if (waited == IoStatus::Ok) continue;  // a byte arrived: read it
    result = {waited == IoStatus::TimedOut || Gate.Closing() ? waited : FailureOf(arrival.Error),
              0};
    if (Gate.Closing()) result.Status = IoStatus::Aborted;
    break;
  }
  Gate.Leave();
  return result;
}

IoResult SerialPort::Write(const std::uint8_t* data, std::size_t n, int timeoutMs) {
  const IoStatus entered = Gate.Enter();
  if (entered != IoStatus::Ok) return {entered, 0};
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  Transfer transfer(Sys->AbortEvent);
  IoResult result{IoStatus::Ok, 0};
  while (result.Count < n) {
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n - result.Count, 1 << 30));
    // The driver reports a write done once its bytes left the buffer it was given.
    IoResult part =
        transfer.Run(Sys->Handle.load(), false, const_cast<std::uint8_t*>(data + result.Count), ask,
                     MsLeft(deadline));
    result.Count += part.Count;
    if (Gate.Closing()) {
      result.Status = IoStatus::Aborted;
      break;
    }
    if (part.Status == IoStatus::Ok && result.Count < n && MsLeft(deadline) == 0)
      part.Status = IoStatus::TimedOut;
    if (part.Status != IoStatus::Ok && part.Status != IoStatus::Aborted) {
      result.Status = part.Status;
      break;
    }
    if (part.Status == IoStatus::Aborted && MsLeft(deadline) == 0) {
      result.Status = IoStatus::TimedOut;
      break;
    }
  }
  Gate.Leave();
  return result;
}

IoResult SerialPort::Drain(int timeoutMs) {
  const IoStatus entered = Gate.Enter();
  if (entered != IoStatus::Ok) return {entered, 0};
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  // FlushFileBuffers would do, but nothing could cut it short: the driver's output queue is
  // looked at instead, with a wait between looks that Close() ends, as long as the queued bytes
  // need on the line.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const long long baud =
      ::GetCommState(Sys->Handle.load(), &dcb) && dcb.BaudRate > 0 ? dcb.BaudRate : 9600;
  IoResult result{IoStatus::Ok, 0};
  for (;;) {
    DWORD errors = 0;
    COMSTAT stat{};
    // A driver that cannot say what it holds has lost its device (a pulled adapter): what was
    // written is not known to have left it.
    if (!::ClearCommError(Sys->Handle.load(), &errors, &stat)) {
      result.Status = IoStatus::HungUp;
      break;
    }
    if (stat.cbOutQue == 0) break;
    const int left = MsLeft(deadline);
    if (left == 0) {
      result.Status = IoStatus::TimedOut;
      break;
    }
    const long long lineMs = QueuedLineMs(stat.cbOutQue, baud);
    const auto waitMs = static_cast<DWORD>(std::min<long long>(lineMs, left));
    if (::WaitForSingleObject(Sys->AbortEvent, waitMs) == WAIT_OBJECT_0 || Gate.Closing()) {
      result.Status = IoStatus::Aborted;
      break;
    }
  }
  Gate.Leave();
  return result;
}

void SerialPort::Purge() {
  if (Gate.Enter() != IoStatus::Ok) return;
  // Clears both directions' buffers without failing a call that waits in another thread.
  ::PurgeComm(Sys->Handle.load(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  Gate.Leave();
}

void SerialPort::Close() {
  Gate.Close(
      [this] {
        ::SetEvent(Sys->AbortEvent);
        ::CancelIoEx(Sys->Handle.load(), nullptr);
      },
      [this] { Release(); });
}

void SerialPort::Release() {
  HANDLE port = Sys->Handle.exchange(nullptr);
  // Output still queued (a far end that holds the line) would otherwise keep CloseHandle
  // waiting for the driver to drain it.
  ::PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
  if (Sys->HaveFound) {
    ::SetCommState(port, &Sys->FoundSettings);
    ::SetCommTimeouts(port, &Sys->FoundTimeouts);
  }
  Sys->HaveFound = false;
  ::CloseHandle(port);
  ::CloseHandle(Sys->AbortEvent);
  Sys->AbortEvent = nullptr;
}
