#include "cli/CliOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "cli/Latin1.h"
#include "dlcfg/DlCfgRecord.h"
#include "link/NumberText.h"
#include "platform/SerialPort.h"
#include "production/BoxRecord.h"
#include "service/ServiceRequests.h"
#include "wire/LoaderCommands.h"

namespace {

// Help lines stay within this width, so that an 80-column terminal shows each on one line.
constexpr std::size_t HelpWidth = 79;

// Every number typed on the line is read here, by the reader the window's fields use; a sign or
// a blank in front is no part of a number given as an argument.
bool ParseUnsigned(const std::string& text, int base, std::uint32_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  const std::optional<std::int64_t> v = ParseNumberText(text, base);
  if (!v || *v < 0 || *v > 0xFFFFFFFFll) return false;
  value = static_cast<std::uint32_t>(*v);
  return true;
}

bool ParseSeconds(const std::string& text, double& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && errno == 0 && *end == '\0' && value >= 0 && value < 1e7;
}

const DlCfgField* FindField(const std::string& name) {
  for (const DlCfgField& field : DlCfgFields())
    if (name == field.Field) return &field;
  return nullptr;
}

// Text wrapped at blanks (not at ~, shown as a blank) into lines of at most HelpWidth: the first
// goes on from column (the caller has printed that far), the others start after indent blanks.
std::string Wrap(const std::string& text, std::size_t column, std::size_t indent) {
  std::string out;
  bool lineEmpty = true;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (!lineEmpty && column + 1 + word.size() > HelpWidth) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      ++column;
    }
    // A ~ holds two words together on one line, as a blank.
    std::string shown = word;
    std::replace(shown.begin(), shown.end(), '~', ' ');
    out += shown;
    column += shown.size();
    lineEmpty = false;
  }
  return out + "\n";
}

enum class Opt {
  Port,
  Baud,
  Config,
  Wait,
  Timeout,
  Repeat,
  Json,
  Quiet,
  Verbose,
  Help,
  Version,
  Record,
  NoRecord,
  Station,
  Since,
  Failed,
  Csv,
  Summary,
  Label,
  Follow
};

struct OptionEntry {
  Opt Id;
  char Short;         // 0: none
  const char* Long;   // without the dashes
  const char* Value;  // the value's name; nullptr for a switch
  const char* About;
};

constexpr OptionEntry OptionTable[] = {
    {Opt::Port, 'p', "port", "PORT",
     "a port: %s; give it several times to run the command on every port at once"},
    {Opt::Baud, 'b', "baud", "N",
     "baud rate; data bits, parity and stop bits come from config.cfg, else 8N1"},
    {Opt::Config, 0, "config", "FILE",
     "settings file (default: config.cfg in the current folder, when it exists); without "
     "--port the port comes from it"},
    {Opt::Wait, 0, "wait", "S",
     "how long to send the sync word for the loader's answer (default 10; 0: for ever)"},
    {Opt::Timeout, 0, "timeout", "S",
     "reply time-out (default 20): the command's own answer must come within it"},
    {Opt::Repeat, 0, "repeat", nullptr,
     "a station: when a box is done and gone, serve the next box on that port"},
    {Opt::Json, 0, "json", nullptr, "one JSON object per line on standard output for every event"},
    {Opt::Quiet, 'q', "quiet", nullptr, "nothing on standard error but errors"},
    {Opt::Verbose, 'v', "verbose", nullptr, "the log of the line on standard error as well"},
    {Opt::Help, 'h', "help", nullptr, "this text; after a command, that command's help"},
    {Opt::Version, 0, "version", nullptr, "the program's version"},
    {Opt::Record, 0, "record", "WHERE",
     "where the record of boxes goes: a SQLite file, or a server (postgresql://...); default: "
     "record.sqlite in the user's data folder"},
    {Opt::NoRecord, 0, "no-record", nullptr, "keeps no record of the boxes"},
    {Opt::Station, 0, "station", "NAME",
     "the station's name in the record (default: the host name)"},
    {Opt::Since, 0, "since", "TIME", "record: the boxes started from TIME on (UTC, 2026-12-08T09)"},
    {Opt::Failed, 0, "failed", nullptr, "record: only the boxes that failed or were interrupted"},
    {Opt::Csv, 0, "csv", nullptr, "record: comma-separated values, a header first"},
    {Opt::Summary, 0, "summary", nullptr, "record: boxes per hour, yield, failures by reason"},
    {Opt::Follow, 0, "follow", nullptr,
     "record: goes on printing each box as it ends, anywhere on the line, until Ctrl+C"},
    {Opt::Label, 0, "label", nullptr,
     "asks for each box's label (scanned or typed, then Enter) before its work; record --label "
     "TEXT: the box with that label"},
};

std::string ApplyOption(const OptionEntry& entry, const std::string& v, CliOptions& o, bool& help) {
  switch (entry.Id) {
    case Opt::Port:
      if (v.empty()) return "empty port name";
      o.Ports.push_back(v);
      return {};
    case Opt::Baud: {
      std::uint32_t baud = 0;
      if (!ParseUnsigned(v, 10, baud) || baud == 0 || baud > 0x7FFFFFFF)
        return "bad baud rate: " + v;
      o.Baud = static_cast<std::int32_t>(baud);
      return {};
    }
    case Opt::Config:
      o.ConfigFile = v;
      o.ConfigGiven = true;
      return {};
    case Opt::Wait:
      if (!ParseSeconds(v, o.WaitSecs)) return "bad --wait: " + v;
      return {};
    case Opt::Timeout: {
      double secs = 0;
      if (!ParseSeconds(v, secs) || secs < 1 || secs > 3000)
        return "bad --timeout (1 to 3000 seconds): " + v;
      o.TimeoutSecs = static_cast<int>(secs);
      return {};
    }
    case Opt::Repeat:
      o.Repeat = true;
      return {};
    case Opt::Json:
      o.Json = true;
      return {};
    case Opt::Quiet:
    case Opt::Verbose: {
      const Verbosity level = entry.Id == Opt::Quiet ? Verbosity::Quiet : Verbosity::Verbose;
      if (o.Level != Verbosity::Normal && o.Level != level)
        return "--quiet and --verbose do not go together";
      o.Level = level;
      return {};
    }
    case Opt::Help:
      help = true;
      return {};
    case Opt::Version:
      o.Version = true;
      return {};
    case Opt::Record:
      if (v.empty()) return "empty --record";
      o.RecordWhere = v;
      return {};
    case Opt::NoRecord:
      o.NoRecord = true;
      return {};
    case Opt::Station:
      if (v.empty()) return "empty --station";
      o.StationName = v;
      return {};
    case Opt::Since:
      if (!RecordTime(v))
        return "bad --since: " + v +
               " (a UTC time as the record writes it, from the left: 2026-12-08, 2026-12-08T09,"
               " 2026-12-08T09:30)";
      o.Since = v;
      return {};
    case Opt::Failed:
      o.FailedOnly = true;
      return {};
    case Opt::Label:
      o.AskLabel = true;
      return {};
    case Opt::Follow:
      o.Follow = true;
      return {};
    case Opt::Csv:
      o.Csv = true;
      return {};
    case Opt::Summary:
      o.Summary = true;
      return {};
  }
  return {};
}

// What an exit status means, unless the command says more.
const char* StatusMeaning(int status) {
  switch (status) {
    case ExitStatus::Ok:
      return "success";
    case ExitStatus::BoxFailed:
      return "the box refused or reported failure";
    case ExitStatus::Usage:
      return "a usage error";
    case ExitStatus::PortFailed:
      return "a port cannot be opened or set (the reason is printed)";
    case ExitStatus::NoLoader:
      return "no answer from the loader within --wait";
    case ExitStatus::LinkFailed:
      return "reply time-out, or the port lost mid-work";
    case ExitStatus::NotWritten:
      return "every block arrived, but FILE could not be written: the read is kept under the "
             "name printed";
    case ExitStatus::Interrupted:
      return "interrupted (Ctrl+C, SIGTERM, SIGHUP) with a box at work; the ports are put "
             "back. A station (--repeat) stopped between boxes exits with the highest status "
             "of the boxes it served: 0 when every one was ok";
  }
  return "";
}

struct StatusText {
  int Status;
  std::string Meaning;  // empty: the usual meaning
};

struct CommandSpec {
  const char* Name;
  Command Cmd;
  int MinArgs, MaxArgs;
  const char* Synopsis;  // the arguments, as the usage line shows them
  const char* Summary;   // for the program's help
  const char* About;     // for the command's own help
  const char* Examples;  // one command line each, separated by \n
  std::vector<StatusText> Statuses;
};

// The statuses of every command that works on a port, after those the command names itself.
std::vector<StatusText> PortStatuses(std::vector<StatusText> own) {
  for (int status : {ExitStatus::PortFailed, ExitStatus::NoLoader, ExitStatus::LinkFailed,
                     ExitStatus::Interrupted})
    if (std::none_of(own.begin(), own.end(),
                     [&](const StatusText& s) { return s.Status == status; }))
      own.push_back({status, ""});
  return own;
}

const LoaderCommand& Row(const char* name) {
  return *LoaderCommandNamed(name);
}

std::string Quoted(const char* text) {
  return std::string("\"") + text + "\"";
}

// The loader's own outcomes: 0 for its ok word, 1 for its fail word, as the log shows them.
std::vector<StatusText> Outcomes(const char* name, std::vector<StatusText> more = {}) {
  std::vector<StatusText> own = {{0, Quoted(Row(name).OkText)}, {1, Quoted(Row(name).FailText)}};
  own.insert(own.end(), more.begin(), more.end());
  return own;
}

// A command that is one of the loader's: its help comes from the loader's table.
CommandSpec FromLoaderTable(const char* name, Command cmd, int args, const char* synopsis,
                            const char* examples, std::vector<StatusText> statuses) {
  const LoaderCommand& row = Row(name);
  return {name,     cmd,      args,
          args,     synopsis, row.Summary,
          row.Help, examples, PortStatuses(std::move(statuses))};
}

// The commands spelled out; a spec without a name holds the place of the loader's commands of
// one word.
const std::vector<CommandSpec>& SpelledCommands() {
  static const std::vector<CommandSpec> table = {
      {"upload", Command::Upload, 1, 1, "IMAGE",
       "the box pulls IMAGE block by block, as with \"Upload Code\"",
       "The box pulls IMAGE block by block, as with \"Upload Code\". IMAGE must be a regular "
       "file that is not empty. It is read once, at the start, for every port and box: "
       "replacing or deleting it later changes nothing, while writing to it in place ends the "
       "port's work before a block of the new bytes goes out. The upload succeeds only when "
       "every block has gone out and the box reported OK.",
       "kelvarin-cli -p ttyUSB0 upload release.bin\n"
       "kelvarin-cli --repeat -p ttyUSB0 -p ttyUSB1 upload release.bin",
       PortStatuses({{0, "every block went out and the box reported OK"},
                     {1, "the box reported \"Upload fail\", or OK before it had every block"},
                     {2, "a usage error; IMAGE cannot be read, is empty or changed"}})},
      {"verify", Command::Verify, 2, 2, "START IMAGE",
       "compares the flash from START (hexadecimal) with IMAGE",
       "Reads the flash from START (hexadecimal) for IMAGE's size and compares it with IMAGE. "
       "Prints \"same\", or the first offset in IMAGE where they differ, with its flash "
       "address, and how many bytes differ.",
       "kelvarin-cli -p ttyUSB0 verify 0 release.bin",
       PortStatuses({{0, "the flash holds IMAGE (\"same\")"},
                     {1, "the flash differs from IMAGE, or the box failed the read"},
                     {2, "a usage error; IMAGE cannot be read or is empty"}})},
      {"read", Command::Read, 3, 3, "START SIZE FILE",
       "reads SIZE bytes of flash from START into FILE (hexadecimal)",
       "Reads SIZE bytes of flash from START, both hexadecimal, into FILE. FILE appears only "
       "when every block has arrived, in one step, replacing what was there; a link is written "
       "through. With several ports each writes FILE.PORT; with --repeat each box gets FILE.1, "
       "FILE.2, ... A FILE that cannot be written is refused before anything is sent.",
       "kelvarin-cli -p ttyUSB0 read 0 10000 flash.bin",
       PortStatuses({{0, "FILE holds the flash"},
                     {1, "the box failed the read (FILE is left as it was)"},
                     {2, "a usage error; FILE cannot be written"},
                     {6, ""}})},
      FromLoaderTable("erase", Command::Erase, 2, "START SIZE",
                      "kelvarin-cli -p ttyUSB0 erase 20000 10000",
                      {{0, "the box reported " + Quoted(Row("erase").OkText)},
                       {1, "the box reported " + Quoted(Row("erase").FailText)},
                       {2, ""}}),
      FromLoaderTable("version", Command::Version, 0, "", "v=$(kelvarin-cli -p ttyUSB0 version)",
                      {{0, "the version was printed"}}),
      {},  // the loader's commands of one word go here, each from its row
      FromLoaderTable(
          "run-app", Command::RunApp, 0, "", "kelvarin-cli -p ttyUSB0 run-app",
          {{0, "the command went out and was not refused"}, {1, Quoted(Row("run-app").FailText)}}),
      FromLoaderTable("reboot", Command::Reboot, 0, "", "kelvarin-cli -p ttyUSB0 reboot",
                      {{0, "the command went out"}}),
      {"send", Command::Send, 1, 1, "TEXT",
       "sends TEXT as the command entry does; prints the box's lines for 1 s",
       "Sends TEXT (Latin-1) as the window's command entry does and prints the box's lines for "
       "1 s. A TEXT that begins with - follows --.",
       "kelvarin-cli -p ttyUSB0 send help\nkelvarin-cli -p ttyUSB0 send -- -x",
       PortStatuses({{0, "sent"}, {2, "a usage error; TEXT is empty or beyond Latin-1"}})},
      {"config", Command::ConfigGet, 1, -1, "get [NAME] | set NAME=TEXT... | default",
       "the box's download configuration record: config~get~[NAME] prints it or one field, "
       "config~set~NAME=TEXT... changes fields, config~default restores the defaults",
       "config get prints every field of the box's download configuration record, one "
       "\"NAME~=~TEXT\" a line, with --json one object of NAME:~TEXT; config~get~NAME prints "
       "only that field's text. NAME is the field's name (StructVer, BootFlag, DLPid, NS0_MID, "
       "Sat_Freq, ...), TEXT as the dialog shows it. config set gets the record, "
       "changes the fields named (only those the dialog lets the operator edit), sets it and "
       "waits for the box's answer. config default makes the box restore its defaults.",
       "kelvarin-cli -p ttyUSB0 config get Sat_Freq\n"
       "kelvarin-cli -p ttyUSB0 config set Timeout=45 DLPid=1ff0",
       PortStatuses({{0, "success"},
                     {1, "the box refused (" + Quoted(Row("config set").FailText) + ", " +
                             Quoted(Row("config default").FailText) + ")"},
                     {2,
                      "a usage error; a field this box does not have or that cannot be "
                      "edited"}})},
      FromLoaderTable("tune", Command::Tune, 2, "FREQ_KHZ BANDWIDTH",
                      "kelvarin-cli -p ttyUSB0 tune 11778000 8", Outcomes("tune", {{2, ""}})),
      {"monitor", Command::Monitor, 0, 0, "", "prints the box's text lines until interrupted",
       "Prints the box's text lines as they come, until interrupted (Ctrl+C).",
       "kelvarin-cli -p ttyUSB0 monitor | tee box.log",
       PortStatuses({{ExitStatus::Interrupted, "interrupted: the usual end"}})},
      {"ports",
       Command::Ports,
       0,
       0,
       "",
       "lists the serial ports of this machine",
       "Lists the serial ports present, as the window's Port list finds them, one line a port: "
       "its device, the adapter's name where the system gives one, and whether another "
       "program holds it (a program of another user is seen only by root). With --json one "
       "object a port. Needs no port.",
       "kelvarin-cli ports\nkelvarin-cli ports --json",
       {{0, "listed (no port found is no error)"}, {2, ""}}},
      {"job", Command::Job, 1, 1, "FILE",
       "runs the steps of FILE on each box, stopping a box at its first failing step",
       "Runs the steps of the job FILE on each box in order, and stops a box's job at its first "
       "failing step. FILE has one step a line, as it would be typed after kelvarin-cli "
       "(upload fw.bin, verify 0 fw.bin, config set DLPid=0x1ff Timeout=30, reboot); # starts a "
       "comment, blank lines are left out. Every step is checked before any box is touched, and "
       "every image is taken once, at the start. A step after reboot or run-app waits for the "
       "loader to answer again; a job that does not ask the loader's version asks it first, for "
       "the "
       "record. read, monitor, ports, help, job and record are no steps.",
       "kelvarin-cli --repeat -p ttyUSB0 -p ttyUSB1 job line3.job",
       PortStatuses({{0, "every step of every box succeeded"},
                     {1, "a step failed on the box (the step is named)"},
                     {2, "a bad job: the file and line are named"}})},
      {"record",
       Command::Record,
       0,
       0,
       "",
       "prints the record of boxes: --since TIME, --port PORT, --label TEXT, --failed, --json, "
       "--csv, --summary, --follow",
       "Prints the record of boxes (newest last) from the default file, --record PATH or the "
       "server: a line a box, or with --json one object a box, with --csv comma-separated "
       "values. --since TIME (UTC, as the record writes it: 2026-12-08T09:30), --port PORT and "
       "--label TEXT (the box's history) choose the boxes, --failed only those that failed or were "
       "interrupted. --summary prints "
       "boxes per hour, the yield and the failures by reason. --follow goes on printing each box "
       "as it ends, from the file that stations write or from the server, until Ctrl+C.",
       "kelvarin-cli record --since 2026-12-08 --failed\nkelvarin-cli record --label "
       "5A17-004211\nkelvarin-cli record --summary\nkelvarin-cli record --follow --json",
       {{0, "printed"}, {2, "the record cannot be read"}}},
      {"help",
       Command::Help,
       0,
       1,
       "[COMMAND]",
       "the program's help, or COMMAND's",
       "Prints the program's help, or COMMAND's: its arguments, an example and its exit "
       "statuses. kelvarin-cli COMMAND --help does the same.",
       "kelvarin-cli help upload",
       {{0, "printed"}, {2, "no such command"}}},
  };
  return table;
}

// The commands of the table above, the loader's commands of one word in the place kept for
// them: a new such command needs its row of the loader's table and nothing here.
const std::vector<CommandSpec>& CommandTable() {
  static const std::vector<CommandSpec> table = [] {
    static std::deque<std::string> examples;
    std::vector<CommandSpec> all;
    for (const CommandSpec& spec : SpelledCommands()) {
      if (spec.Name != nullptr) {
        all.push_back(spec);
        continue;
      }
      for (const LoaderCommand& row : LoaderCommands()) {
        if (!row.OneWord) continue;
        examples.push_back(std::string("kelvarin-cli -p ttyUSB0 ") + row.CliName);
        all.push_back(FromLoaderTable(row.CliName, Command::LoaderWord, 0, "",
                                      examples.back().c_str(), Outcomes(row.CliName)));
      }
    }
    return all;
  }();
  return table;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& c : CommandTable())
    if (name == c.Name) return &c;
  return nullptr;
}

std::string OptionsHelp() {
  std::string text;
  for (const OptionEntry& entry : OptionTable) {
    std::string head = entry.Short ? std::string("  -") + entry.Short + ", " : "      ";
    head += std::string("--") + entry.Long + (entry.Value ? std::string(" ") + entry.Value : "");
    std::string about = entry.About;
    const std::size_t hole = about.find("%s");
    if (hole != std::string::npos) about.replace(hole, 2, SerialPort::NamingHint);
    constexpr std::size_t column = 21;
    head.resize(std::max(head.size() + 1, column), ' ');
    text += head + Wrap(about, head.size(), column);
  }
  return text;
}

std::string StatusHelp(const std::vector<StatusText>& statuses) {
  std::string text = "Exit status:\n";
  for (const StatusText& s : statuses) {
    std::string head = "  " + std::to_string(s.Status);
    head.resize(8, ' ');
    text += head + Wrap(s.Meaning.empty() ? StatusMeaning(s.Status) : s.Meaning.c_str(), 8, 8);
  }
  return text;
}

std::string CommandHelp(const CommandSpec& c) {
  std::string text = "usage: kelvarin-cli [options] " + std::string(c.Name) +
                     (*c.Synopsis ? std::string(" ") + c.Synopsis : "") + "\n";
  text += Wrap(c.About, 0, 0);
  text += "Example:\n";
  const std::string examples = c.Examples;
  for (std::size_t at = 0; at < examples.size();) {
    std::size_t end = examples.find('\n', at);
    if (end == std::string::npos) end = examples.size();
    text += "  " + examples.substr(at, end - at) + "\n";
    at = end + 1;
  }
  text += StatusHelp(c.Statuses);
  if (c.Cmd != Command::Help) text += "Options: kelvarin-cli --help.\n";
  return text;
}

std::string ParseConfig(const std::vector<std::string>& args, CliOptions& o) {
  if (args.empty()) return "config needs get, set or default";
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "get") {
    if (rest.size() > 1) return "config get takes at most one NAME";
    o.Cmd = Command::ConfigGet;
    o.Loader = LoaderCommandNamed("config get");
    if (!rest.empty()) {
      if (!KnownField(rest[0])) return "no such field: " + rest[0];
      o.Field = rest[0];
    }
    return {};
  }
  if (args[0] == "default") {
    if (!rest.empty()) return "config default takes no arguments";
    o.Cmd = Command::ConfigDefault;
    o.Loader = LoaderCommandNamed("config default");
    return {};
  }
  if (args[0] != "set") return "unknown config command: " + args[0];
  if (rest.empty()) return "config set needs NAME=TEXT";
  o.Cmd = Command::ConfigSet;
  o.Loader = LoaderCommandNamed("config set");
  for (const std::string& change : rest) {
    const std::size_t eq = change.find('=');
    if (eq == std::string::npos || eq == 0) return "expected NAME=TEXT: " + change;
    const std::string field = change.substr(0, eq);
    if (!KnownField(field)) return "no such field: " + field;
    if (!EditableField(field)) return "field cannot be edited: " + field;
    const std::optional<std::string> text = Utf8ToLatin1(change.substr(eq + 1));
    if (!text || !FieldTextFits(*FindField(field), *text)) return FieldAccepts(*FindField(field));
    o.Changes[field] = *text;
  }
  return {};
}

// The command and its arguments, checked; empty when they are good.
std::string ParseCommand(const std::vector<std::string>& words, CliOptions& o) {
  const std::string& name = words[0];
  const std::vector<std::string> args(words.begin() + 1, words.end());
  const CommandSpec* c = FindCommand(name);
  if (c == nullptr) return "unknown command: " + name;
  if (c->Cmd == Command::ConfigGet) return ParseConfig(args, o);
  const int count = static_cast<int>(args.size());
  if (count < c->MinArgs || (c->MaxArgs >= 0 && count > c->MaxArgs)) {
    if (c->MinArgs != c->MaxArgs)
      return name + " takes at most " + std::to_string(c->MaxArgs) + " argument" +
             (c->MaxArgs == 1 ? "" : "s");
    return name + " takes " + std::to_string(c->MinArgs) + " argument" +
           (c->MinArgs == 1 ? "" : "s");
  }
  o.Cmd = c->Cmd;
  o.Loader = LoaderCommandNamed(c->Name);
  switch (c->Cmd) {
    case Command::Upload:
      o.Image = args[0];
      break;
    case Command::Verify: {
      std::string why;
      const std::optional<std::int64_t> start = CheckNumberText(FlashStartField(), args[0], why);
      if (!start) return why;
      o.Start = static_cast<std::uint32_t>(*start);
      o.Image = args[1];
      break;
    }
    case Command::Send: {
      const std::optional<std::string> text = Utf8ToLatin1(args[0]);
      if (!text || text->empty()) return "send needs a non-empty Latin-1 text";
      if (text->find('\0') != std::string::npos) return "send text holds a zero byte";
      o.Text = *text;
      break;
    }
    case Command::Tune: {
      TuneValues values;
      std::string why;
      if (!ReadTuneTexts(args[0], args[1], values, why)) return why;
      o.FrequencyKHz = values.FrequencyKHz;
      o.Bandwidth = values.Bandwidth;
      break;
    }
    case Command::Erase:
    case Command::Read: {
      FlashRange range;
      std::string why;
      if (!ReadFlashRangeTexts(args[0], args[1], range, why)) return why;
      o.Start = range.Start;
      o.Size = range.Size;
      if (c->Cmd == Command::Read) o.OutFile = args[2];
      break;
    }
    case Command::Job:
      o.JobFile = args[0];
      break;
    case Command::Help:
      o.HelpTopic = args.empty() ? "" : args[0];
      if (!o.HelpTopic.empty() && FindCommand(o.HelpTopic) == nullptr)
        return "no such command: " + o.HelpTopic;
      break;
    default:
      break;
  }
  return {};
}

}  // namespace

std::vector<const CliOptions*> StepsOf(const CliOptions& options) {
  static const CliOptions labelStep = [] {
    CliOptions step;
    step.Cmd = Command::Label;
    step.StepText = "label";
    return step;
  }();
  std::vector<const CliOptions*> steps;
  // --label asks first, unless the job asks where its engineer put it.
  const bool jobAsks =
      options.Cmd == Command::Job &&
      std::any_of(options.Steps.begin(), options.Steps.end(),
                  [](const CliOptions& step) { return step.Cmd == Command::Label; });
  if (options.AskLabel && !jobAsks) steps.push_back(&labelStep);
  if (options.Cmd == Command::Job)
    for (const CliOptions& step : options.Steps) steps.push_back(&step);
  else
    steps.push_back(&options);
  return steps;
}

namespace {

// A step as the record names it: its words as written.
std::string StepTextOf(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

}  // namespace

std::string ParseJobStep(const std::vector<std::string>& words, CliOptions& step) {
  if (words.empty()) return "no command";
  if (words[0] == "label") {
    if (words.size() > 1) return "label takes no argument";
    step.Cmd = Command::Label;
    step.StepText = "label";
    return {};
  }
  const std::string error = ParseCommand(words, step);
  if (!error.empty()) return error;
  switch (step.Cmd) {
    case Command::Read:
    case Command::Monitor:
    case Command::Ports:
    case Command::Help:
    case Command::Job:
    case Command::Record:
      return words[0] + " is no step of a job";
    default:
      break;
  }
  step.StepText = StepTextOf(words);
  return {};
}

bool Answers(Command c) {
  return c == Command::Version || c == Command::ConfigGet || c == Command::Verify ||
         c == Command::Send || c == Command::Monitor;
}

bool KnownField(const std::string& name) {
  return FindField(name) != nullptr;
}

bool EditableField(const std::string& name) {
  const DlCfgField* field = FindField(name);
  return field != nullptr && field->Use == Editable;
}

namespace {

// Options that ask for two things at once, or for nothing the command does: refused, so that
// nobody wonders which one was taken.
std::string Contradiction(const CliOptions& o, const std::string& command) {
  const std::pair<bool, const char*> given[] = {{o.Json, "--json"},
                                                {o.Csv, "--csv"},
                                                {o.Summary, "--summary"},
                                                {o.NoRecord, "--no-record"},
                                                {!o.RecordWhere.empty(), "--record"},
                                                {!o.StationName.empty(), "--station"}};
  const auto set = [&](const char* name) {
    for (const auto& [on, option] : given)
      if (on && std::strcmp(option, name) == 0) return true;
    return false;
  };
  const std::pair<const char*, const char*> apart[] = {{"--summary", "--json"},
                                                       {"--csv", "--json"},
                                                       {"--csv", "--summary"},
                                                       {"--no-record", "--record"},
                                                       {"--no-record", "--station"}};
  for (const auto& [a, b] : apart)
    if (set(a) && set(b)) return std::string(a) + " and " + b + " do not go together";
  if (o.Cmd == Command::Record) {
    if (o.AskLabel) return "record --label needs the label: record --label TEXT";
    if (o.Follow && o.Summary) return "--follow and --summary do not go together";
    if (o.NoRecord) return "--no-record does not go with record";
    if (!o.StationName.empty()) return "--station does not go with record";
    return {};
  }
  if (o.AskLabel && (o.Cmd == Command::Monitor || o.Cmd == Command::Ports))
    return "--label does not go with " + command;
  const std::pair<bool, const char*> recordOnly[] = {{!o.Since.empty(), "--since"},
                                                     {o.Summary, "--summary"},
                                                     {o.FailedOnly, "--failed"},
                                                     {o.Csv, "--csv"},
                                                     {o.Follow, "--follow"}};
  for (const auto& [on, option] : recordOnly)
    if (on) return std::string(option) + " goes with record only, not with " + command;
  return {};
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
  ParseResult r;
  CliOptions& o = r.Options;
  std::vector<std::string> words;
  bool help = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      words.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    // The options of this word, each with its value: --name, --name=VALUE, or a cluster of
    // single letters (-qv) whose last may take the rest of the word as its value (-pttyUSB0).
    std::vector<std::pair<const OptionEntry*, std::optional<std::string>>> found;
    if (a[1] == '-') {
      const std::size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const OptionEntry* entry = nullptr;
      for (const OptionEntry& s : OptionTable)
        if (name == s.Long) entry = &s;
      if (entry == nullptr) {
        r.Error = "unknown option: --" + name;
        return r;
      }
      if (eq != std::string::npos && entry->Value == nullptr) {
        r.Error = "--" + name + " takes no value";
        return r;
      }
      found.emplace_back(entry,
                         eq == std::string::npos ? std::nullopt : std::optional(a.substr(eq + 1)));
    } else {
      for (std::size_t j = 1; j < a.size(); ++j) {
        const OptionEntry* entry = nullptr;
        for (const OptionEntry& s : OptionTable)
          if (s.Short != 0 && a[j] == s.Short) entry = &s;
        if (entry == nullptr) {
          r.Error = "unknown option: -" + a.substr(j, 1);
          return r;
        }
        if (entry->Value != nullptr && j + 1 < a.size()) {
          found.emplace_back(entry, a.substr(j + 1));
          break;
        }
        found.emplace_back(entry, std::nullopt);
      }
    }
    for (auto& [entry, value] : found) {
      if (entry->Value != nullptr && !value) {
        if (i + 1 >= args.size()) {
          r.Error = a + " needs a value";
          return r;
        }
        value = args[++i];
      }
      r.Error = ApplyOption(*entry, value.value_or(""), o, help);
      if (!r.Error.empty()) return r;
    }
  }
  if (help || (!words.empty() && words[0] == "help")) {
    // kelvarin-cli upload --help, kelvarin-cli help upload: the command's help.
    const bool helpCommand = !words.empty() && words[0] == "help";
    const std::size_t topic = helpCommand ? 1 : 0;
    if (helpCommand && words.size() > 2) {
      r.Error = "help takes at most 1 argument";
      return r;
    }
    o.Cmd = Command::Help;
    o.HelpTopic = words.size() > topic ? words[topic] : "";
    if (!o.HelpTopic.empty() && FindCommand(o.HelpTopic) == nullptr)
      r.Error = "no such command: " + o.HelpTopic;
    return r;
  }
  if (o.Version) return r;
  if (words.empty()) {
    r.Error = "no command given";
    return r;
  }
  // record --label TEXT: there the option takes the box's label.
  if (o.AskLabel && words.front() == "record" && words.size() == 2) {
    o.Label = words.back();
    o.AskLabel = false;
    words.pop_back();
  }
  r.Error = ParseCommand(words, o);
  o.StepText = StepTextOf(words);
  if (r.Error.empty()) r.Error = Contradiction(o, words[0]);
  if (r.Error.empty() && o.Repeat && (o.Cmd == Command::Monitor || o.Cmd == Command::Ports))
    r.Error = "--repeat does not go with " + words[0];
  return r;
}

std::string HelpText(const std::string& topic) {
  if (!topic.empty()) {
    const CommandSpec* c = FindCommand(topic);
    return c ? CommandHelp(*c) : std::string();
  }
  std::string text =
      "usage: kelvarin-cli [options] COMMAND [arguments]\n"
      "       kelvarin-cli help COMMAND (or COMMAND --help): that command's arguments,\n"
      "       an example and its exit statuses\n"
      "Options go anywhere on the line, as --opt VALUE or --opt=VALUE; -- ends them.\n";
  text += OptionsHelp();
  text += "Commands:\n";
  for (const CommandSpec& c : CommandTable()) {
    std::string head = "  " + std::string(c.Name);
    if (*c.Synopsis && c.Cmd != Command::ConfigGet) head += std::string(" ") + c.Synopsis;
    constexpr std::size_t column = 27;
    if (head.size() + 2 > column) {
      text += head + "\n";
      head.clear();
    }
    head.resize(column, ' ');
    text += head + Wrap(c.Summary, column, column);
  }
  text += StatusHelp({{ExitStatus::Ok, ""},
                      {ExitStatus::BoxFailed, ""},
                      {ExitStatus::Usage,
                       "a usage error, an image that cannot be read or changed, a FILE that "
                       "cannot be written"},
                      {ExitStatus::PortFailed, ""},
                      {ExitStatus::NoLoader, ""},
                      {ExitStatus::LinkFailed, ""},
                      {ExitStatus::NotWritten,
                       "a read arrived whole but its FILE could not be "
                       "written: it is kept under the name printed"},
                      {ExitStatus::Interrupted, ""}});
  text += "With several ports the status is the highest of theirs.\n";
  return text;
}
