#pragma once

#include <cassert>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/EngineEvents.h"
#include "link/ReplyTimeout.h"
#include "link/UartConfig.h"
#include "link/UartRxThread.h"
#include "link/UartState.h"
#include "link/UartTxThread.h"
#include "platform/Clock.h"
#include "platform/Port.h"
#include "platform/ProtocolThread.h"
#include "platform/Worker.h"
#include "replies/CodeUpload.h"
#include "replies/UartDataHandler.h"
#include "service/FlashReadback.h"

// The protocol engine: the port, the three workers and the protocol objects of one line, wired
// together. Plain C++; a front end gives it a screen, a clock and the thread its routines run
// on, and calls its operations. Everything but the constructor and Shutdown runs on that thread,
// which debug builds check.
class Core {
 public:
  // On the machine's serial port, which the Core owns.
  Core(EventSink& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread);
  // On the given line, borrowed: it must outlive the Core.
  Core(EventSink& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread,
       Port& port);
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // Starts the workers; the receiver waits until a port is open.
  void StartWorkers();
  // Aborts a read or write in progress, closes the port and ends the workers: nothing of the
  // engine runs afterwards, and no write can hold this up for its time-out. Refused (false,
  // nothing done) from inside a routine the workers handed over: they could never be joined.
  bool Shutdown();

  // Connect: opens the port exclusively and sets it up. A failure shows "Can't open NAME" or
  // "Can't set NAME" and logs the reason; success logs "Com port set up ok" and starts the
  // sync word.
  bool OpenPort(const PortRequest& request);
  // The log line that told why the last OpenPort failed ("Can't open NAME: why"); empty after
  // one that succeeded.
  const std::string& PortFailure() const { return OpenFailure; }
  // Disconnect: stops the workers' hand-overs, closes the port, logs "RS232 Disconnect".
  void ClosePort();
  bool Connected() const {
    OnProtocolThread();
    return Uart.UartConnected;
  }
  const std::string& OpenPortName() const {
    OnProtocolThread();
    return PortName;
  }
  // The line settings of the open port, as applied at Connect.
  const LineSettings& PortSettings() const {
    OnProtocolThread();
    return Uart.Settings;
  }
  // A command waits for the box's answer (the reply time-out is armed).
  bool AwaitingReply() const {
    OnProtocolThread();
    return Timeout.Armed();
  }
  // Whole seconds the awaited answer still has before "Timeout!!" (0 when none is awaited).
  int ReplySecondsLeft() const {
    OnProtocolThread();
    return Timeout.SecondsLeft();
  }
  // Gives up waiting for an answer without a "Timeout!!": the front end has settled the
  // command by itself.
  void CancelReplyWait();
  // Every answer armed from now on is awaited this long (0: the loader's own 20 s).
  void SetReplyWaitSecs(int seconds) {
    OnProtocolThread();
    Timeout.OverrideWaitSecs(seconds);
  }

  // The send operation of command buttons and the console: reverses the first four bytes (or
  // as many as there are), queues the bytes up to the first zero, stops the sync word, arms the
  // 20 s timeout and logs "Cmd > %x". False, with nothing else changed, when the ring refuses.
  bool SendCmd(const std::uint8_t* bytes, int length);
  bool SendCmdWord(std::uint32_t word);
  // A loader command of one word, awaited or not as the loader's table says.
  bool SendLoaderCommand(std::uint32_t word);
  // "Reboot STB": queued without a timeout; the sync word resumes. False when refused.
  bool RebootStb();
  // "Loader Version": the answer starts a fresh line.
  bool LoaderVersion();
  bool GetDlCfg();
  // "Set Config" with the 100 bytes of a record; the answer is awaited even when the ring
  // refuses, so that the technician gets "Timeout!!" rather than controls that never return.
  void SetDlCfg(const std::uint8_t* record);
  bool SetDefaultDlCfg();
  void TuneTest(std::uint32_t frequencyKHz, std::uint32_t bandwidth);
  // A range of no bytes, or one that runs past 0xFFFFFFFF, is refused with a message saying
  // what the size may be, and nothing goes out.
  bool EraseFlash(std::uint32_t start, std::uint32_t size);
  bool ReadFlash(std::uint32_t start, std::uint32_t size);
  // Forgets the text line received so far, so that it is not glued to the next answer.
  void DropPartialLine();
  // Sends the sync word again until the loader answers: how a station sees whether the box
  // it has served is still there.
  void ResumeSync();

  // Uploads the image at path (a file name of the system), as "Upload Code" with that file.
  // False when nothing went out (no port, an image that cannot be read, a full ring).
  bool StartUpload(const std::string& path);
  // The same with an image opened once for many uploads (see OpenUploadImage), named name; one
  // written to since it was opened is not sent ("UploadImageChanged").
  bool StartUpload(std::shared_ptr<const UploadImage> image, const std::string& name);
  // Bytes of the last upload's image that went out on the line, also once it has ended.
  std::uint64_t UploadBytesSent() const { return Upload.BytesSent(); }
  // Ends the upload under way at once ("Upload stopped"); false when none was.
  bool StopUpload();

  // Messages are numbered as they are queued; LastQueued is the number of the last one, and
  // Written(n) tells that message n has left the ring for the port (or was dropped).
  std::uint64_t LastQueued() const {
    OnProtocolThread();
    return Tx.LastQueued();
  }
  bool Written(std::uint64_t message) const {
    OnProtocolThread();
    return !Tx.StillQueued(message);
  }
  // Whether message n has gone out on the line: the port drained after the bytes' line time.
  // Lost when the port did not take it all, would not drain, or was closed before.
  using MessageProgress = UartTxThread::Progress;
  MessageProgress Whereabouts(std::uint64_t message) const {
    OnProtocolThread();
    return Tx.Whereabouts(message);
  }

  // What an upload or a flash read-back has done so far.
  struct WorkProgress {
    enum class Job { None, Upload, FlashRead } What = Job::None;
    std::uint64_t Done = 0;  // upload: bytes gone out on the line; read-back: bytes arrived
    std::uint64_t Total = 0;
  };
  WorkProgress Progress() const;
  // Ends an upload or a flash read-back at once ("Upload stopped", "Read flash stopped:
  // flashdata.bin left unchanged"). False when neither was under way.
  bool StopWork();

 private:
  Core(EventSink& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread,
       std::unique_ptr<Port> owned, Port* borrowed);

  void SuspendWorkers();
  void ResumeWorkers();
  void PortLost(const std::string& why);
  // The message just queued carried this command word: its status word settles it.
  void AwaitAnswer(std::uint32_t word);
  // The thread rule: protocol state is touched on the protocol thread alone.
  void OnProtocolThread() const {
    assert(Thread.IsCurrent() && "an operation of Core called off its protocol thread");
  }
  // lostWhy: why the port went away without a Disconnect, for the PortClosed notice.
  void CloseLine(const std::string& lostWhy);

  std::unique_ptr<Port> OwnedPort;
  Port& Line;
  EventSink& Out;
  Clock& Time;
  ProtocolThread& Thread;
  int ClockWatch = 0;  // wakes the transmit worker when the clock is set
  UartState Uart;
  ReplyTimeout Timeout;
  UartTxThread Tx;
  FlashReadback Flash;
  UartDataHandler DataHandler;
  UartRxThread Rx;
  CodeUpload Upload;
  std::string PortName;
  std::string OpenFailure;
  Worker DataHandlerThread;
  Worker TxThread;
  Worker RxThread;
};
