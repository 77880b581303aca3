#include "engine/Core.h"

#include <algorithm>
#include <cassert>
#include <vector>

#include "dlcfg/DlCfgRecord.h"
#include "platform/SerialPort.h"
#include "service/ServiceRequests.h"
#include "wire/Bytes.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

Core::Core(EventSink& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread)
    : Core(screen, clock, workFolder, thread, std::make_unique<SerialPort>(), nullptr) {}

Core::Core(EventSink& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread,
           Port& port)
    : Core(screen, clock, workFolder, thread, nullptr, &port) {}

Core::Core(EventSink& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread,
           std::unique_ptr<Port> owned, Port* borrowed)
    : OwnedPort(std::move(owned)),
      Line(borrowed != nullptr ? *borrowed : *OwnedPort),
      Out(screen),
      Time(clock),
      Thread(thread),
      Timeout(screen, clock),
      Tx(Uart, screen, Timeout),
      Flash(screen, Tx, workFolder, &Timeout),
      DataHandler(screen, Timeout, Tx, Upload, Flash),
      Rx(Uart, screen, DataHandler, Flash),
      Upload(screen, Uart, Tx, Timeout, Rx),
      DataHandlerThread("UartDataHandler", thread),
      TxThread("UartTxThread", thread),
      RxThread("UartRxThread", thread) {
  Tx.BindToThread(thread);
  Rx.BindToThread(thread);
  DataHandler.BindToThread(thread);
  Upload.BindToThread(thread);
  Flash.BindToThread(thread);
}

Core::~Core() {
  Shutdown();
}

void Core::StartWorkers() {
  OnProtocolThread();
  DataHandler.ItemAdded = [this] { DataHandlerThread.Wake(); };
  Tx.Queued = [this] { TxThread.Wake(); };
  // The transmit worker sleeps until the reply wait can be over; a new wait, or a clock set
  // forward, may bring that moment closer.
  Timeout.WaitArmed = [this] { TxThread.Wake(); };
  ClockWatch = Time.Watch([this] { TxThread.Wake(); });
  Rx.PortLost = [this](const std::string& why) { PortLost(why); };
  DataHandlerThread.Start([this](Worker& w) { DataHandler.Execute(w); }, false);
  TxThread.Start([this](Worker& w) { Tx.Execute(w); }, false);
  RxThread.Start([this](Worker& w) { Rx.Execute(w); }, true);
}

bool Core::Shutdown() {
  // From inside a routine the workers could never be joined; that is refused, not risked.
  if (Worker::InsideRoutine()) return false;
  // Closing aborts the worker's write at once; joining first would wait out its time-out.
  Line.Close();
  RxThread.Stop();
  TxThread.Stop();
  DataHandlerThread.Stop();
  if (ClockWatch != 0) Time.Unwatch(ClockWatch);
  ClockWatch = 0;
  return true;
}

void Core::SuspendWorkers() {
  RxThread.Suspend();
  TxThread.Suspend();
  DataHandlerThread.Suspend();
}

void Core::ResumeWorkers() {
  Line.Purge();
  RxThread.Resume();
  TxThread.Resume();
  TxThread.Wake();  // running all along, it may sleep with nothing due: the sync word is
  DataHandlerThread.Resume();
}

bool Core::OpenPort(const PortRequest& request) {
  OnProtocolThread();
  if (Uart.UartConnected) return false;
  if (!Line.OpenExclusive(request.Name)) {
    OpenFailure = "Can't open " + request.Name + ": " + Line.LastError();
    Out.On(ev::PortOpenFailed{request.Name, Line.LastError()});
    return false;
  }
  LineSettings settings;
  Line.GetSettings(settings);
  settings.BaudRate = request.BaudRate;
  settings.DataBits = request.DataBits;
  if (request.ParityMode) settings.ParityMode = *request.ParityMode;
  if (request.Stop) settings.Stop = *request.Stop;
  if (!Line.SetSettings(settings)) {
    const std::string why = Line.LastError();
    Line.Close();
    OpenFailure = "Can't set " + request.Name + ": " + why;
    Out.On(ev::PortOpenFailed{request.Name, why, true});
    return false;
  }
  OpenFailure.clear();
  PortName = request.Name;
  Uart.Settings = settings;
  ++Uart.Opens;  // before the handle, so that a worker seeing the port sees this open
  Uart.ComHandle = &Line;
  Uart.UartConnected = true;
  Tx.SyncStopped = false;
  // A line the box on the last connection began is no part of what this one says, nor is an
  // answer to a command sent then.
  Rx.DropLine();
  DataHandler.ForgetAwaited();
  ResumeWorkers();
  Out.On(ev::PortOpened{request.Name, settings, Line.FollowedTo()});
  return true;
}

void Core::ClosePort() {
  OnProtocolThread();
  CloseLine({});
}

void Core::CloseLine(const std::string& lostWhy) {
  if (Uart.UartConnected) StopWork();
  SuspendWorkers();
  ev::PortClosed closed{Uart.UartConnected, false, lostWhy};
  if (Uart.UartConnected) {
    Uart.UartConnected = false;
    if (Uart.ComHandle.load()) {
      Line.Close();
      Tx.LineClosed();
      Uart.ComHandle = nullptr;
      closed.LineClosed = true;
    }
  }
  Out.On(closed);
}

void Core::PortLost(const std::string& why) {
  // Left in the ring, they would go out on the next open, to whatever box is there then.
  Out.On(ev::PortLost{why, Tx.DropQueued()});
  CloseLine(why);
}

bool Core::SendCmd(const std::uint8_t* bytes, int length) {
  OnProtocolThread();
  // Work on a copy: the reversal and the log line never reach past the caller's bytes.
  std::vector<std::uint8_t> message(bytes, bytes + std::max(length, 0));
  ReverseBytes(message.data(), std::min(length, 4));
  const int count =
      static_cast<int>(std::find(message.begin(), message.end(), 0) - message.begin());
  if (count == 0) return false;  // nothing to send, so nothing to wait for
  if (!Tx.TxEnqueue(count, message.data())) return false;
  // Typed or from a button, a loader command is answered the same way.
  if (count >= 4) AwaitAnswer(GetBe32(message.data()));
  Tx.SyncStopped = true;
  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
  Out.On(ev::CommandSent{{message.begin(), message.begin() + std::min(count, 4)}});
  return true;
}

bool Core::SendCmdWord(std::uint32_t word) {
  OnProtocolThread();
  std::uint8_t buffer[4];
  PutLe32(buffer, word);
  return SendCmd(buffer, 4);
}

bool Core::SendLoaderCommand(std::uint32_t word) {
  OnProtocolThread();
  if (!SendCmdWord(word)) return false;
  const LoaderCommand* row = LoaderCommandOf(word);
  if (row != nullptr && !row->WaitsForAnswer) Timeout.SetReplyTimeout(false, 0);
  return true;
}

bool Core::RebootStb() {
  OnProtocolThread();
  std::uint8_t buffer[4];
  PutCommandWord(buffer, Cmd::RebootStb);
  if (!Tx.TxEnqueue(4, buffer)) return false;
  Out.On(ev::AwaitingLoader{});
  Out.On(ev::CommandSent{{buffer, buffer + 4}});
  Tx.SyncStopped = false;
  return true;
}

bool Core::LoaderVersion() {
  OnProtocolThread();
  if (!SendCmdWord(Cmd::LoaderVersion)) return false;
  DropPartialLine();
  return true;
}

bool Core::GetDlCfg() {
  OnProtocolThread();
  if (!SendCmdWord(Cmd::GetDlCfg)) return false;
  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
  // A line cut short by the request would otherwise be glued to the box's next text.
  DropPartialLine();
  return true;
}

void Core::SetDlCfg(const std::uint8_t* record) {
  OnProtocolThread();
  constexpr int length = 4 + DlCfgRecordSize + 1;
  std::uint8_t message[length] = {};
  PutCommandWord(message, Cmd::SetDlCfg);
  Out.On(ev::CommandSent{{message, message + 4}, length});
  std::copy(record, record + DlCfgRecordSize, message + 4);
  if (Tx.TxEnqueue(length, message)) AwaitAnswer(Cmd::SetDlCfg);
  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
}

bool Core::SetDefaultDlCfg() {
  OnProtocolThread();
  return SendCmdWord(Cmd::SetDefaultDlCfg);
}

void Core::TuneTest(std::uint32_t frequencyKHz, std::uint32_t bandwidth) {
  OnProtocolThread();
  const TuneRequest request = BuildTuneRequest(frequencyKHz, bandwidth);
  Out.On(ev::CommandSent{{request.begin(), request.begin() + 4}});
  if (Tx.TxEnqueue(static_cast<int>(request.size()), request.data())) AwaitAnswer(Cmd::TuneTest);
}

bool Core::EraseFlash(std::uint32_t start, std::uint32_t size) {
  OnProtocolThread();
  const std::string problem = FlashRangeProblem(start, size);
  if (!problem.empty()) {
    Out.On(ev::Refused{ev::Refusal::InputRefused, problem});
    return false;
  }
  const FlashRequest request = BuildEraseRequest(start, size);
  const bool queued = Tx.TxEnqueue(static_cast<int>(request.size()), request.data());
  if (queued) AwaitAnswer(Cmd::EraseFlash);
  Out.On(ev::CommandSent{{request.begin(), request.begin() + 4}});
  return queued;
}

bool Core::ReadFlash(std::uint32_t start, std::uint32_t size) {
  OnProtocolThread();
  const std::string problem = FlashRangeProblem(start, size);
  if (!problem.empty()) {
    Out.On(ev::Refused{ev::Refusal::InputRefused, problem});
    return false;
  }
  Flash.ReadFlash(static_cast<std::int32_t>(start), size);
  return Flash.ReadUnderWay();
}

void Core::AwaitAnswer(std::uint32_t word) {
  DataHandler.Awaits(LoaderCommandOf(word), Tx.LastQueued());
}

void Core::ResumeSync() {
  OnProtocolThread();
  Tx.SyncStopped = false;
  TxThread.Wake();
}

void Core::DropPartialLine() {
  OnProtocolThread();
  Rx.DropLine();
}

bool Core::StartUpload(const std::string& path) {
  OnProtocolThread();
  Upload.StartUpload(path);
  return Upload.UploadFileOpen();
}

bool Core::StartUpload(std::shared_ptr<const UploadImage> image, const std::string& name) {
  OnProtocolThread();
  Upload.StartUpload(std::move(image), name);
  return Upload.UploadFileOpen();
}

bool Core::StopUpload() {
  OnProtocolThread();
  return Upload.StopUpload();
}

void Core::CancelReplyWait() {
  OnProtocolThread();
  if (Timeout.Armed()) Timeout.SetReplyTimeout(false, 0);
}

Core::WorkProgress Core::Progress() const {
  OnProtocolThread();
  if (Upload.UploadFileOpen())
    return {WorkProgress::Job::Upload, Upload.BytesSent(), Upload.ImageBytes()};
  if (Flash.ReadUnderWay())
    return {WorkProgress::Job::FlashRead, Flash.BytesArrived(), Flash.ReadBytes()};
  return {};
}

bool Core::StopWork() {
  OnProtocolThread();
  const bool upload = Upload.StopUpload();
  const bool read = Flash.StopRead();
  return upload || read;
}
