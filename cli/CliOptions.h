#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "wire/LoaderCommands.h"

// The exit statuses; with several ports the program exits with the highest of theirs.
namespace ExitStatus {
inline constexpr int Ok = 0;
inline constexpr int BoxFailed = 1;   // refused or reported failure
inline constexpr int Usage = 2;       // bad arguments, an image that cannot be read
inline constexpr int PortFailed = 3;  // cannot open or set the port
inline constexpr int NoLoader = 4;    // no answer to the sync word within --wait
inline constexpr int LinkFailed = 5;  // reply time-out, port lost mid-work
inline constexpr int NotWritten = 6;  // a complete read that its file would not take, kept
inline constexpr int Interrupted = 130;
}  // namespace ExitStatus

enum class Command {
  Upload,
  Version,
  LoaderWord,  // a loader command of one word that its status word settles (verify-boot, ...)
  RunApp,
  Reboot,
  Send,
  ConfigGet,
  ConfigSet,
  ConfigDefault,
  Tune,
  Erase,
  Read,
  Verify,
  Label,  // a job's step: the box's label, asked of the operator
  Monitor,
  Ports,
  Help,
  Job,     // the steps of a job file, box after box
  Record,  // prints the record of boxes
};

// How much goes to standard error: only errors; errors, progress and the results of the boxes;
// all that and the log of the line.
enum class Verbosity { Quiet, Normal, Verbose };

struct CliOptions {
  std::vector<std::string> Ports;
  std::optional<std::int32_t> Baud;
  std::string ConfigFile;  // empty: config.cfg in the current folder, when it exists
  bool ConfigGiven = false;
  double WaitSecs = 10;  // 0: for ever
  int TimeoutSecs = 20;
  bool Repeat = false;
  bool Json = false;
  Verbosity Level = Verbosity::Normal;
  bool Version = false;

  Command Cmd = Command::Version;
  // The loader's own row for the command, when it is one of the loader's (nullptr otherwise).
  const LoaderCommand* Loader = nullptr;
  std::string HelpTopic;                          // help: a command's name, empty for all
  std::string Image;                              // upload, verify
  std::string Text;                               // send, Latin-1
  std::map<std::string, std::string> Changes;     // config set: field name -> text
  std::uint32_t FrequencyKHz = 0, Bandwidth = 0;  // tune
  std::uint32_t Start = 0, Size = 0;              // erase, read; verify: Start
  std::string OutFile;                            // read
  std::string Field;                              // config get NAME: that field alone
  std::string StepText;       // the command's words as written (a job's step: its line)...
  int StepLine = 0;           // ...and a job's step's line number
  bool ForTheRecord = false;  // a step the job adds of itself: its answer goes to the record only

  std::string JobFile;            // job
  std::vector<CliOptions> Steps;  // job: its steps, checked
  std::string RecordWhere;        // --record: a file or a server; empty: the default file
  bool NoRecord = false;
  std::string StationName;  // --station: the record's name for this station
  std::string Since;        // record: the rows from this time on (UTC, as the record writes it)
  bool FailedOnly = false;  // record --failed
  bool Csv = false;         // record --csv
  bool Summary = false;     // record --summary
  bool Follow = false;      // record --follow: each box as it ends, until stopped
  bool AskLabel = false;    // --label: each box's label is asked for before its work
  std::string Label;        // record --label TEXT: the rows of that box
};

// The steps a box gets: a job's, else the command itself.
std::vector<const CliOptions*> StepsOf(const CliOptions& options);

// A job file's step, as its line's words: what ParseArguments makes of a command, refused for
// a command that is no step of a job. Empty when good.
std::string ParseJobStep(const std::vector<std::string>& words, CliOptions& step);

// Whether the command prints the box's answer (its result) on standard output.
bool Answers(Command c);

struct ParseResult {
  CliOptions Options;
  std::string Error;  // empty when the arguments are good
};

// Options may come anywhere on the line, as --opt VALUE, --opt=VALUE or -oVALUE; -- ends them.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The help of topic: a command's name, or empty for the whole program. Every line fits in 80
// columns. Empty when there is no such command.
std::string HelpText(const std::string& topic = "");

// Whether the dialog lets the operator edit this field (the name without "text_"); false also
// for names that are no field at all.
bool EditableField(const std::string& name);
bool KnownField(const std::string& name);
