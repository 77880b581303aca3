#pragma once

#include <map>
#include <string>
#include <vector>

#include "link/EngineEvents.h"

// Records what the protocol core told, and what the window would have shown of it: the log's
// lines, the message boxes, and the controls and captions as the window's rules set them.
class RecordingScreen : public EventSink, private EventText {
 public:
  enum class Caption { UploadButton, DlCfgStatus };

  void On(const EngineEvent& event) override;

  // The caption last set, or the one the window starts with.
  std::string CaptionOf(Caption which) const;
  std::string LastLog() const { return Log.empty() ? std::string() : Log.back(); }
  bool Logged(const std::string& line) const;
  // The events of one kind, in order.
  template <class E>
  std::vector<E> Of() const {
    std::vector<E> found;
    for (const EngineEvent& e : Events)
      if (const E* one = std::get_if<E>(&e)) found.push_back(*one);
    return found;
  }
  void Clear();

  std::vector<EngineEvent> Events;
  std::vector<std::string> Log;
  std::vector<std::string> SystemLines;  // the lines of Log that carry text of the system
  std::vector<std::string> Messages;
  std::map<Caption, std::string> Captions;
  bool CmdControls = false;
  int CmdControlSwitches = 0;
  int CmdControlsOn = 0;  // switches that enabled them
  int CommandEntryCleared = 0;

 private:
  void Line(const std::string& text, bool systemText) override;
  void Message(const std::string& text) override { Messages.push_back(text); }
};
