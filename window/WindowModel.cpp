#include "window/WindowModel.h"

#include <chrono>

#include "platform/Clock.h"
#include "window/WindowEffects.h"
#include "window/WindowRules.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

std::string TimestampNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::tm local = LocalCalendar(system_clock::to_time_t(now));
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return TimestampText(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
}

void WindowModel::Bind(Core& engine) {
  Engine = &engine;
  Enable("tbtn_UartDisconnect", false);
}

void WindowModel::Attach(SettingsPresenter* settings, ConfigPresenter* config) {
  Settings = settings;
  Config = config;
  if (Config) Config->Record = BoxRecord;
}

void WindowModel::AttachRecord(WindowRecord* record) {
  BoxRecord = record;
  if (Config) Config->Record = record;
  if (!record) return;
  // A label scanned is for one box: the next box is scanned again.
  record->BoxEnded = [this] { Controls.SetSystemText("text_Label", ""); };
  record->SetLabel(Controls.SystemText("text_Label"));
}

void WindowModel::LabelTyped() {
  if (BoxRecord) BoxRecord->SetLabel(Controls.SystemText("text_Label"));
}

void WindowModel::Enable(const char* control, bool enabled) {
  const auto [known, added] = Enabled.try_emplace(control, enabled);
  if (!added && known->second == enabled) return;
  known->second = enabled;
  Controls.Enable(control, enabled);
}

void WindowModel::Line(const std::string& text, bool systemText) {
  // A port's failure carries the system's reason, which may be spelled beyond ASCII; the
  // engine's own words around it are ASCII.
  AddLogLine(text, systemText || SystemWords);
}

void WindowModel::AddLogLine(std::string text, bool system) {
  if (Timestamps) text = TimestampNow() + text;
  PendingLog.push_back({std::move(text), system});
  if (PendingLog.size() == 1) Face.LogWaiting();
}

void WindowModel::Message(const std::string& text) {
  FlushLog();  // the lines that led to the message come first
  Controls.Message(text);
}

void WindowModel::FlushLog() {
  if (PendingLog.empty()) return;
  std::vector<LogLine> lines;
  lines.swap(PendingLog);
  Face.AppendLog(lines);
}

void WindowModel::On(const EngineEvent& event) {
  SystemWords = std::holds_alternative<ev::PortOpenFailed>(event) ||
                std::holds_alternative<ev::PortLost>(event);
  RenderEvent(event, *this);
  SystemWords = false;
  if (BoxRecord) BoxRecord->On(event);
  const WindowEffect effect = EffectOf(event);
  if (effect.PortOpen) {
    Enable("tbtn_UartConnect", !*effect.PortOpen);
    Enable("tbtn_UartDisconnect", *effect.PortOpen);
    Enable("tbtn_Setting", !*effect.PortOpen);
  }
  if (effect.CommandControls) SetCmdControls(*effect.CommandControls);
  if (effect.UploadCaption) {
    Controls.SetLatin1Text("btn_UpdateCode", *effect.UploadCaption);
    Enable("btn_UpdateCode", ControlsFor(*Engine, Commands).Upload);
  }
  if (effect.DlCfgStatus && Config) Config->SetStatus(*effect.DlCfgStatus);
  if (const auto* arrived = std::get_if<ev::RecordArrived>(&event); arrived && Config)
    Config->Show(arrived->Record);
  if (effect.ClearCommandEntry) {
    Controls.SetLatin1Text("text_Cmd", "");
    Face.FocusEntry();
  }
  if (effect.StatusChanged) Face.StatusChanged();
}

void WindowModel::SetCmdControls(bool enabled) {
  Commands = enabled;
  const ControlSet set = ControlsFor(*Engine, enabled);
  for (const WindowControl& control : WindowControls())
    if (control.FollowsCommands) Enable(control.Name, set.Commands);
  Enable("btn_UpdateCode", set.Upload);
  Enable("tbtn_UartDisconnect", set.Disconnect);
  Enable("tbtn_Setting", set.Setting);
  if (Config) Config->SetCommandsEnabled(set.Commands);
  Face.StatusChanged();
}

void WindowModel::ServiceShown(bool shown) {
  for (const WindowControl& control : WindowControls())
    if (control.ServiceOnly) Controls.Show(control.Name, shown);
}

void WindowModel::Pressed(const char* name) {
  const WindowControl* control = WindowControlNamed(name);
  if (control == nullptr) return;
  switch (control->Action) {
    case WindowAction::Connect:
      // After a failed open Setting stays usable: it is the way to fix a wrong port name.
      if (!Engine->Connected() && Settings) Engine->OpenPort(Settings->Request());
      return;
    case WindowAction::Disconnect:
      Engine->ClosePort();
      return;
    case WindowAction::Setting:
    case WindowAction::Help:
    case WindowAction::RecordView:
    case WindowAction::FlashDialog:
    case WindowAction::TuneDialog:
      Face.Open(control->Action);
      return;
    case WindowAction::ConfigDialog:
      if (!Engine->Connected())
        Message("Uart does not connected");
      else
        Face.Open(control->Action);
      return;
    case WindowAction::Service:
    case WindowAction::Entry:
    case WindowAction::Label:
      return;  // the face knows whether Service is checked; typing is no press
    case WindowAction::Upload:
      UploadPressed();
      Face.StatusChanged();
      return;
    case WindowAction::Send:
      if (SendTypedCommand()) Controls.SetLatin1Text("text_Cmd", "");
      return;
    case WindowAction::LoaderWord:
      if (Engine->SendLoaderCommand(control->Word)) Recorded(control->Word);
      return;
    case WindowAction::LoaderVersion:
      if (Engine->LoaderVersion()) Recorded(Cmd::LoaderVersion);
      return;
    case WindowAction::Reboot:
      // The loader starts again: nothing but Disconnect until it answers.
      if (Engine->RebootStb()) {
        Recorded(Cmd::RebootStb);
        Enable("tbtn_Setting", false);
        Enable("tbtn_UartDisconnect", true);
      }
      return;
  }
}

void WindowModel::Recorded(std::uint32_t word) {
  const LoaderCommand* command = LoaderCommandOf(word);
  if (BoxRecord && command && command->CliName) BoxRecord->Begin(*command, command->CliName);
}

void WindowModel::UploadPressed() {
  if (!Engine->Connected()) {
    On(ev::Refused{ev::Refusal::UploadNotConnected});
    return;
  }
  // An upload under way is stopped: the engine knows, whatever the button happens to say.
  if (Engine->StopUpload()) return;
  if (const std::optional<std::string> path = Face.PickImage()) Engine->StartUpload(*path);
}

void WindowModel::EntryEntered() {
  // Enter keeps the text, so pressing it again sends the same command again.
  SendTypedCommand();
}

bool WindowModel::SendTypedCommand() {
  const std::optional<std::string> bytes = Controls.Latin1Text("text_Cmd");
  if (!bytes) {
    // A stand-in character would reach the box as some other byte.
    Message("The command holds a character beyond Latin-1: the box takes one byte a character");
    return false;
  }
  if (bytes->empty()) return false;
  return Engine->SendCmd(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                         static_cast<int>(bytes->size()));
}

bool WindowModel::WouldTake(const std::vector<std::string>& paths) const {
  return DropStartsUpload(paths, *Engine, Commands);
}

bool WindowModel::Dropped(const std::vector<std::string>& paths) {
  if (!WouldTake(paths)) return false;
  Engine->StartUpload(paths.front());
  Face.StatusChanged();
  return true;
}

WindowStatus WindowModel::Status() {
  WindowStatus status;
  status.State = StateWord(*Engine, Commands);
  if (Engine->Connected()) {
    status.PortName = Engine->OpenPortName();
    status.Settings = Engine->PortSettings();
  }
  status.Moving = MovingStatusOf(*Engine, Rate);
  return status;
}
