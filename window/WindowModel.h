#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/Core.h"
#include "link/EngineEvents.h"
#include "window/DialogPresenters.h"
#include "window/DialogView.h"
#include "window/StatusText.h"
#include "window/WindowControls.h"
#include "window/WindowRecord.h"

// A line of the message log: the box's coding (one byte a character) or, when System, the
// system's (UTF-8: a file or port name, a reason the system gave).
struct LogLine {
  std::string Text;
  bool System = false;
};

// The main window as a face draws it besides its controls (those are a DialogView, named as in
// WindowControls): its log, its status bar and the dialogs it opens.
class WindowFace {
 public:
  virtual ~WindowFace() = default;
  // Lines wait in the model: the face takes them with FlushLog soon, in one batch.
  virtual void LogWaiting() = 0;
  virtual void AppendLog(const std::vector<LogLine>& lines) = 0;
  // The status bar's words changed: the face reads Status() again.
  virtual void StatusChanged() = 0;
  // The command entry gets the focus.
  virtual void FocusEntry() = 0;
  // Opens a dialog (Setting, ConfigDialog, FlashDialog, TuneDialog) or the Help menu, modal;
  // the record's view (RecordView) beside the window.
  virtual void Open(WindowAction what) = 0;
  // The image to upload, from the system's file dialog; nullopt when the technician cancelled.
  virtual std::optional<std::string> PickImage() = 0;
};

// What the status bar says now.
struct WindowStatus {
  std::string State;     // StateWord
  std::string PortName;  // empty while offline
  LineSettings Settings;
  MovingStatus Moving;  // polled while Moving.Moving()
};

// The window below its faces: the engine's events become log lines, message boxes and the
// state of the controls; a pressed control becomes an operation of the engine. Both faces draw
// what it says and decide nothing of their own. Runs on the protocol thread.
class WindowModel : public EventSink, private EventText {
 public:
  WindowModel(WindowFace& face, DialogView& controls) : Face(face), Controls(controls) {}

  // The engine, once it exists (it sends its events here), and the dialogs, once they do.
  void Bind(Core& engine);
  void Attach(SettingsPresenter* settings, ConfigPresenter* config);
  // The record of the boxes served, where one is kept (the dialogs' work goes there too).
  void AttachRecord(WindowRecord* record);
  WindowRecord* Record() const { return BoxRecord; }

  // EventSink: the log's words for the event, then what it changes in the window.
  void On(const EngineEvent& event) override;

  // A control of WindowControls pressed (a name it does not know does nothing).
  void Pressed(const char* control);
  // The Label field's text changed.
  void LabelTyped();
  // Service shows or hides the command controls it keeps out of the way.
  void ServiceShown(bool shown);
  // Enter in the command entry: sends, and keeps the text for sending again.
  void EntryEntered();
  // Files dropped on the window; true when they started an upload. WouldTake: whether they
  // would, for a face that shows it before the drop.
  bool Dropped(const std::vector<std::string>& paths);
  bool WouldTake(const std::vector<std::string>& paths) const;

  // A line for the log, after the lines waiting.
  void AddLogLine(std::string text, bool system);
  // The log: the lines waiting go to the face now.
  void FlushLog();
  void DropWaitingLog() { PendingLog.clear(); }
  // Each new line starts with the local time.
  bool Timestamps = false;

  // The command controls, on or off together (the upload button, Disconnect and Setting as
  // ControlsFor says).
  void SetCmdControls(bool enabled);
  bool CommandsEnabled() const { return Commands; }
  WindowStatus Status();

 private:
  // EventText
  void Line(const std::string& text, bool systemText) override;
  void Message(const std::string& text) override;

  // Tells the face only what changed.
  void Enable(const char* control, bool enabled);
  bool SendTypedCommand();
  void UploadPressed();
  // A loader command the window sent, as a step of the box's record.
  void Recorded(std::uint32_t word);

  WindowFace& Face;
  DialogView& Controls;
  Core* Engine = nullptr;
  SettingsPresenter* Settings = nullptr;
  ConfigPresenter* Config = nullptr;
  WindowRecord* BoxRecord = nullptr;
  std::vector<LogLine> PendingLog;
  bool Commands = false;
  // While an event whose log words carry the system's words (a port's failure) is rendered.
  bool SystemWords = false;
  std::map<std::string, bool> Enabled;
  RateMeter Rate;
};

// "hh:mm:ss.zzz " of now, local time.
std::string TimestampNow();
