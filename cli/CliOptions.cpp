#include "cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/Latin1.h"
#include "dlcfg/DlCfgRecord.h"
#include "platform/SerialPort.h"
#include "service/ServiceRequests.h"

namespace {

bool ParseUnsigned(const std::string& text, int base, std::uint32_t& value) {
  std::string digits = text;
  if (base == 16 && (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0))
    digits = digits.substr(2);
  if (digits.empty() || digits[0] == '-' || digits[0] == '+' || digits[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(digits.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(v);
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
    if (name == std::string(field.Edit).substr(5)) return &field;
  return nullptr;
}

struct CommandName {
  const char* Name;
  Command Cmd;
  int Arguments;  // -1: one or more
};

constexpr CommandName Commands[] = {
    {"upload", Command::Upload, 1},
    {"version", Command::Version, 0},
    {"verify-boot", Command::VerifyBoot, 0},
    {"verify-app", Command::VerifyApp, 0},
    {"run-app", Command::RunApp, 0},
    {"reboot", Command::Reboot, 0},
    {"send", Command::Send, 1},
    {"tune", Command::Tune, 2},
    {"erase", Command::Erase, 2},
    {"read", Command::Read, 3},
    {"monitor", Command::Monitor, 0},
};

std::string ParseCommand(const std::vector<std::string>& words, CliOptions& o) {
  const std::string& name = words[0];
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (name == "config") {
    if (args.empty()) return "config needs get, set or default";
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "get" || args[0] == "default") {
      if (!rest.empty()) return "config " + args[0] + " takes no arguments";
      o.Cmd = args[0] == "get" ? Command::ConfigGet : Command::ConfigDefault;
      return {};
    }
    if (args[0] != "set") return "unknown config command: " + args[0];
    if (rest.empty()) return "config set needs NAME=TEXT";
    o.Cmd = Command::ConfigSet;
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
  for (const CommandName& c : Commands) {
    if (name != c.Name) continue;
    if (static_cast<int>(args.size()) != c.Arguments)
      return name + " takes " + std::to_string(c.Arguments) + " argument" +
             (c.Arguments == 1 ? "" : "s");
    o.Cmd = c.Cmd;
    switch (c.Cmd) {
      case Command::Upload:
        o.Image = args[0];
        break;
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
        if (c.Cmd == Command::Read) o.OutFile = args[2];
        break;
      }
      default:
        break;
    }
    return {};
  }
  return "unknown command: " + name;
}

}  // namespace

bool KnownField(const std::string& name) {
  return FindField(name) != nullptr;
}

bool EditableField(const std::string& name) {
  const DlCfgField* field = FindField(name);
  if (field == nullptr) return false;
  // The dialog's enabled edits: boot flag, timeout, force tune, PID, changed modules, the new
  // selectors and the delivery parameters.
  const int at = field->Offset;
  return at == 4 || at == 8 || at == 13 || at == 14 || at == 24 || (at >= 28 && at < 44) ||
         (at >= 60 && at < 84);
}

ParseResult ParseArguments(const std::vector<std::string>& args) {
  ParseResult r;
  CliOptions& o = r.Options;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        r.Error = a + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    std::string v;
    if (!words.empty()) {
      // Once the command has begun, everything is its argument, also what looks like an option.
      words.push_back(a);
    } else if (a == "-h" || a == "--help") {
      o.Help = true;
    } else if (a == "--version") {
      o.Version = true;
    } else if (a == "--repeat") {
      o.Repeat = true;
    } else if (a == "--json") {
      o.Json = true;
    } else if (a == "-p" || a == "--port") {
      if (!value(v)) return r;
      if (v.empty()) {
        r.Error = "empty port name";
        return r;
      }
      o.Ports.push_back(v);
    } else if (a == "-b" || a == "--baud") {
      if (!value(v)) return r;
      std::uint32_t baud = 0;
      if (!ParseUnsigned(v, 10, baud) || baud == 0 || baud > 0x7FFFFFFF) {
        r.Error = "bad baud rate: " + v;
        return r;
      }
      o.Baud = static_cast<std::int32_t>(baud);
    } else if (a == "--config") {
      if (!value(o.ConfigFile)) return r;
      o.ConfigGiven = true;
    } else if (a == "--wait") {
      if (!value(v)) return r;
      if (!ParseSeconds(v, o.WaitSecs)) {
        r.Error = "bad --wait: " + v;
        return r;
      }
    } else if (a == "--timeout") {
      if (!value(v)) return r;
      double secs = 0;
      if (!ParseSeconds(v, secs) || secs < 1 || secs > 3000) {
        r.Error = "bad --timeout (1 to 3000 seconds): " + v;
        return r;
      }
      o.TimeoutSecs = static_cast<int>(secs);
    } else if (a.size() > 1 && a[0] == '-') {
      r.Error = "unknown option: " + a;
      return r;
    } else {
      words.push_back(a);
    }
  }
  if (o.Help || o.Version) return r;
  if (words.empty()) {
    r.Error = "no command given";
    return r;
  }
  r.Error = ParseCommand(words, o);
  if (r.Error.empty() && o.Repeat && o.Cmd == Command::Monitor)
    r.Error = "--repeat does not go with monitor";
  return r;
}

std::string UsageText() {
  return R"(usage: kelvarin-cli [options] COMMAND [arguments]
  -p, --port PORT    a port as config.cfg names it ()" +
         std::string(SerialPort::NamingHint) + R"();
                     give it several times to run the command on every port at once
  -b, --baud N       baud rate; data bits, parity and stop bits come from config.cfg, else 8N1
      --config FILE  settings file (default: config.cfg in the current folder, when it exists);
                     without --port the port comes from it
      --wait S       how long to send the sync word for the loader's answer (default 10; 0: for ever)
      --timeout S    reply time-out (default 20): the command's own answer must come within it
      --repeat       when a box is done, wait until it is gone, then serve the next box on that port
      --json         one JSON object per line on standard output for every event
  -h, --help         this text
      --version      the program's version
COMMAND:
  upload IMAGE             the box pulls IMAGE block by block, as with "Upload Code"; IMAGE is
                           read once at the start and must not be written to meanwhile
  version                  prints the loader version as the window shows it ("1.10")
  verify-boot | verify-app | run-app | reboot
  send TEXT                sends TEXT as the command entry does; prints the box's lines for 1 s
  config get               prints every field of the download configuration record, NAME = TEXT
  config set NAME=TEXT...  changes those fields of the box's record and sets it
  config default           makes the box restore its default record
  tune FREQ_KHZ BANDWIDTH
  erase START SIZE         hexadecimal
  read START SIZE FILE     hexadecimal; FILE appears only when every block has arrived; with
                           --repeat each box's read goes to FILE.1, FILE.2, ...
  monitor                  prints the box's text lines until interrupted
Exit status: 0 success; 1 the box refused or reported failure; 2 usage error, an image that
cannot be read or that changed, a FILE that cannot be written; 3 a port that cannot be opened or
set; 4 no answer from the loader within --wait; 5 reply time-out or the port lost mid-work;
130 interrupted (a second Ctrl+C ends at once). With several ports, the highest.
)";
}
