#include "engine/Core.h"

#include <algorithm>
#include <cassert>
#include <vector>

#include "dlcfg/DlCfgRecord.h"
#include "platform/SerialPort.h"
#include "service/ServiceRequests.h"
#include "wire/Bytes.h"
#include "wire/Words.h"

Core::Core(Screen& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread)
    : Core(screen, clock, workFolder, thread, std::make_unique<SerialPort>(), nullptr) {}

Core::Core(Screen& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread,
           Port& port)
    : Core(screen, clock, workFolder, thread, nullptr, &port) {}

Core::Core(Screen& screen, Clock& clock, const std::string& workFolder, ProtocolThread& thread,
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
    Out.AppendLog(OpenFailure);
    Out.ShowMessage("Can't open " + request.Name);
    return false;
  }
  LineSettings settings;
  Line.GetSettings(settings);
  settings.BaudRate = request.BaudRate > 0 ? static_cast<std::uint32_t>(request.BaudRate) : 0;
  settings.DataBits = request.DataBits;
  if (request.ParityMode) settings.ParityMode = *request.ParityMode;
  if (request.Stop) settings.Stop = *request.Stop;
  if (!Line.SetSettings(settings)) {
    const std::string why = Line.LastError();
    Line.Close();
    OpenFailure = "Can't set " + request.Name + ": " + why;
    Out.AppendLog(OpenFailure);
    Out.ShowMessage("Can't set " + request.Name);
    return false;
  }
  OpenFailure.clear();
  PortName = request.Name;
  Uart.Settings = settings;
  ++Uart.Opens;  // before the handle, so that a worker seeing the port sees this open
  Uart.ComHandle = &Line;
  Uart.UartConnected = true;
  Tx.SyncStopped = false;
  // A line the box on the last connection began is no part of what this one says.
  Rx.DropLine();
  Out.Notify({EngineEvent::PortOpened});
  ResumeWorkers();
  // The technician must see that ttyUSB0 is now another node, if only to tell two stations apart.
  if (!Line.FollowedTo().empty())
    Out.AppendSystemLog(request.Name + " came back as " + Line.FollowedTo());
  Out.AppendLog("Com port set up ok");
  return true;
}

void Core::ClosePort() {
  OnProtocolThread();
  CloseLine({});
}

void Core::CloseLine(const std::string& lostWhy) {
  if (Uart.UartConnected) StopWork();
  SuspendWorkers();
  if (Uart.UartConnected) {
    Uart.UartConnected = false;
    if (Uart.ComHandle.load()) {
      Line.Close();
      Tx.LineClosed();
      Uart.ComHandle = nullptr;
      Out.AppendLog("RS232 Disconnect");
    }
    Out.Notify({EngineEvent::PortClosed, 0, lostWhy});
  }
  Out.SetCmdControls(false);
}

void Core::PortLost(const std::string& why) {
  Out.AppendLog(why);
  // Left in the ring, they would go out on the next open, to whatever box is there then.
  const int dropped = Tx.DropQueued();
  if (dropped > 0)
    Out.AppendLog("Dropped " + std::to_string(dropped) + (dropped == 1 ? " message" : " messages") +
                  " queued for the lost port: never sent");
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
  Tx.SyncStopped = true;
  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
  Out.AppendLog(CmdLogLine(message.data(), std::min(count, 4)));
  return true;
}

bool Core::SendCmdWord(std::uint32_t word) {
  OnProtocolThread();
  std::uint8_t buffer[4];
  PutLe32(buffer, word);
  return SendCmd(buffer, 4);
}

bool Core::RebootStb() {
  OnProtocolThread();
  std::uint8_t buffer[4];
  PutCommandWord(buffer, Cmd::RebootStb);
  if (!Tx.TxEnqueue(4, buffer)) return false;
  Out.SetCmdControls(false);
  Out.AppendLog(CmdLogLine(buffer, 4));
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
  Out.AppendLog(CmdLogLine(message, 4) + " len = " + std::to_string(length));
  std::copy(record, record + DlCfgRecordSize, message + 4);
  Tx.TxEnqueue(length, message);
  Timeout.SetReplyTimeout(true, ReplyTimeout::ReplyWaitSecs);
}

bool Core::SetDefaultDlCfg() {
  OnProtocolThread();
  return SendCmdWord(Cmd::SetDefaultDlCfg);
}

void Core::TuneTest(std::uint32_t frequencyKHz, std::uint32_t bandwidth) {
  OnProtocolThread();
  const TuneRequest request = BuildTuneRequest(frequencyKHz, bandwidth);
  Out.AppendLog(CmdLogLine(request.data(), 4));
  Tx.TxEnqueue(static_cast<int>(request.size()), request.data());
}

bool Core::EraseFlash(std::uint32_t start, std::uint32_t size) {
  OnProtocolThread();
  const std::string problem = FlashRangeProblem(start, size);
  if (!problem.empty()) {
    Out.ShowMessage(problem);
    return false;
  }
  const FlashRequest request = BuildEraseRequest(start, size);
  const bool queued = Tx.TxEnqueue(static_cast<int>(request.size()), request.data());
  Out.AppendLog(CmdLogLine(request.data(), 4));
  return queued;
}

bool Core::ReadFlash(std::uint32_t start, std::uint32_t size) {
  OnProtocolThread();
  const std::string problem = FlashRangeProblem(start, size);
  if (!problem.empty()) {
    Out.ShowMessage(problem);
    return false;
  }
  Flash.ReadFlash(static_cast<std::int32_t>(start), size);
  return Flash.ReadUnderWay();
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

void Core::UploadCodeClick(const std::function<std::optional<std::string>()>& pickFile) {
  OnProtocolThread();
  Upload.btn_UpdateCodeClick(pickFile);
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
