#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/EngineEvents.h"
#include "production/BoxRecord.h"
#include "production/Recorder.h"
#include "wire/LoaderCommands.h"

// The boxes a window serves, as rows of the record. A box runs from the loader's answer after a
// Connect until Disconnect, a lost port, or the loader's next answer (a reboot, a new box); its
// steps are the operations done on it, each settled by its own answer. A box on which nothing
// was done leaves no row. The box is ok when the last try of each operation was ok: a step
// tried again after a failure keeps both tries among its steps.
class WindowRecord {
 public:
  // put: hands a row to the writer (which reads the image's SHA-256 on its own thread).
  WindowRecord(Recorder::Identity me, std::function<void(BoxRecord)> put)
      : Me(std::move(me)), Put(std::move(put)) {}

  // The window sent this loader command; text: the step as the record names it ("erase 0x0
  // 0x1000"). Its answer comes in a later event, never while the engine is being asked.
  void Begin(const LoaderCommand& command, std::string text);
  // A flash read-back began (text: "read 0x0 0x1000"); its end settles it.
  void BeginRead(std::string text);
  void On(const EngineEvent& event);
  // What the Label field says: the box's label until it ends.
  void SetLabel(std::string label);
  const std::string& Label() const { return Box.Label; }
  // The window closes: a box at work ends "interrupted".
  void Closing();
  // Told once a box ended (its label is done with).
  std::function<void()> BoxEnded;

 private:
  struct Pending {
    const LoaderCommand* Command = nullptr;  // nullptr: the upload or the read-back
    std::string Text;
    std::chrono::steady_clock::time_point Start;
  };
  void Opened();
  void EndStep(std::deque<Pending>::iterator step, bool ok, const std::string& why);
  // The oldest step of that command (nullptr: the upload's or the read's), or end().
  std::deque<Pending>::iterator Find(const LoaderCommand* command, bool upload);
  std::deque<Pending>::iterator FindNamed(const char* command);
  void BeginStep(const LoaderCommand* command, std::string text);
  void EndBox(const std::string& why, bool interrupted);
  void Write(BoxRecord row);

  Recorder::Identity Me;
  std::function<void(BoxRecord)> Put;
  std::string Port;
  bool Open = false;        // a box is at work (its row may not be written yet)
  bool Answered = false;    // the loader has answered for it
  bool Restarting = false;  // it was told to restart: its loader's next answer ends it
  bool Written = false;     // its row exists
  std::string PendingLabel;
  BoxRecord Box;
  std::size_t StepCount = 0;
  // The last try of each step (Kind: its text; "upload" for any upload), to tell whether the
  // box is ok; Why: "" when it was.
  struct Try {
    std::string Kind, Step, Why;
  };
  std::vector<Try> LastTries;
  std::deque<Pending> Steps;
  int Boxes = 0;
};

// The window's options for its record: --record FILE|SERVER, --no-record, --station NAME.
struct WindowRecordOptions {
  std::string Where;  // "": the user's own file
  bool None = false;
  std::string Station;
};
// Takes args[i] (and the value after it) when it is one of them: true, with i on the last one
// taken; problem says what is wrong with it ("" when nothing).
bool TakeRecordOption(const std::vector<std::string>& args, std::size_t& i,
                      WindowRecordOptions& options, std::string& problem);
// What is wrong with them together, in words that never quote a server's address.
std::string RecordOptionsProblem(const WindowRecordOptions& options);
// The lines of a window's --help for them.
inline constexpr std::string_view RecordOptionsHelp =
    "  --record WHERE\n"
    "              keep the record of the boxes served in WHERE, a file or a\n"
    "              server (default: the user's own record.sqlite, as kelvarin-cli\n"
    "              keeps it)\n"
    "  --no-record  keep no record\n"
    "  --station NAME\n"
    "              the bench's name in the record (default: the host name)\n";
// Whether a record is kept with them in this build, for this user.
bool KeepsRecord(const WindowRecordOptions& options);

// The record a window keeps: the writer on its own thread, and the rows of the boxes served.
class WindowRecordKeeper {
 public:
  // where: a file or a server ("": the user's own file); station: the station's name ("": the
  // host name); say: what the writer tells the technician, from its own thread.
  WindowRecordKeeper(std::string where, std::string station,
                     std::function<void(const std::string&)> say);
  ~WindowRecordKeeper();
  WindowRecord& Boxes() { return Rows; }
  const std::string& Where() const { return Place; }
  // The window closes: the box at work is written as it ended, then whatever waits.
  void Close();

 private:
  std::string Place;
  Recorder Writer;
  WindowRecord Rows;
  bool Closed = false;
};
