#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/Reporter.h"
#include "tests/cli/CliFixture.h"

// What users of command-line tools take for granted: help without a port, options anywhere,
// results alone on standard output, the reason of a failure wherever the result is told, a
// progress display that agrees with itself, a list of the ports, completion in the shell.

namespace {

using boxsim::kBlockSize;
constexpr std::size_t npos = std::string::npos;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::size_t Columns(const std::string& utf8) {
  std::size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// The commands and long options the program's own help lists.
struct HelpLists {
  std::set<std::string> Commands;
  std::set<std::string> Options;
};
HelpLists ListedInHelp(const std::string& help) {
  HelpLists lists;
  bool commands = false;
  const std::regex option(R"(^  (?:-\w, |    )(--[a-z-]+))");
  const std::regex command(R"(^  ([a-z][a-z-]*))");
  for (const std::string& line : Lines(help)) {
    if (line == "Commands:") commands = true;
    if (line.rfind("Exit status", 0) == 0) commands = false;
    std::smatch m;
    if (!commands && std::regex_search(line, m, option)) lists.Options.insert(m[1]);
    if (commands && std::regex_search(line, m, command)) lists.Commands.insert(m[1]);
  }
  return lists;
}

std::string Shell(const std::string& script) {
  std::FILE* pipe = popen(("bash -c '" + script + "' 2>&1").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  if (pipe) pclose(pipe);
  return out;
}

// Help for the program and for each command, without a port or a settings file, within 80
// columns; the manual page lists the same options and commands.
TEST_F(CliTest, HelpForEveryCommandFitsAndNeedsNoPort) {
  const CliRun all = RunCli({"--help"}, 30000, Dir.string());
  ASSERT_EQ(all.Status, 0) << all.Err;
  const HelpLists listed = ListedInHelp(all.Out);
  for (const std::string c : {"upload", "verify", "ports", "config", "version", "help"})
    EXPECT_EQ(listed.Commands.count(c), 1u) << c << "\n" << all.Out;
  for (const std::string o : {"--port", "--quiet", "--verbose", "--json", "--help"})
    EXPECT_EQ(listed.Options.count(o), 1u) << o << "\n" << all.Out;

  struct Case {
    std::vector<std::string> Args;
    std::string Usage;  // the usage line it begins with
  };
  std::vector<Case> cases = {
      {{"help"}, "usage: kelvarin-cli [options] COMMAND"},
      {{"-h"}, "usage: kelvarin-cli [options] COMMAND"},
      {{"upload", "--help"}, "usage: kelvarin-cli [options] upload IMAGE"},
      {{"--help", "upload", "image.bin"}, "usage: kelvarin-cli [options] upload IMAGE"},
      {{"config", "set", "-h"}, "usage: kelvarin-cli [options] config get"},
  };
  for (const std::string& c : listed.Commands)
    cases.push_back({{"help", c}, "usage: kelvarin-cli [options] " + c});
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const CliRun run = RunCli(c.Args, 30000, Dir.string());
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out.rfind(c.Usage, 0), 0u) << run.Out;
    if (c.Args.size() > 1 || c.Args[0] == "upload") {
      EXPECT_NE(run.Out.find("\nExample:\n  "), npos) << run.Out;
      EXPECT_NE(run.Out.find("kelvarin-cli "), npos) << run.Out;
      EXPECT_NE(run.Out.find("\nExit status:\n  "), npos) << run.Out;
    }
    for (const std::string& line : Lines(run.Out)) EXPECT_LE(Columns(line), 80u) << line;
  }
  EXPECT_EQ(RunCli({"help", "upload"}).Out, RunCli({"upload", "--help"}).Out);
  const CliRun unknown = RunCli({"help", "frobnicate"}, 30000, Dir.string());
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_NE(unknown.Err.find("no such command: frobnicate"), npos) << unknown.Err;

  // The manual page's OPTIONS and COMMANDS are those of --help.
  std::ifstream page(std::string(KELVARIN_SOURCE_DIR) + "/packaging/man/kelvarin-cli.1.in");
  std::stringstream text;
  text << page.rdbuf();
  HelpLists inPage;
  std::string section;
  bool tag = false;
  const std::regex longOption(R"(--[a-z-]+)");
  for (std::string line : Lines(text.str())) {
    for (std::size_t at; (at = line.find("\\-")) != npos;) line.replace(at, 2, "-");
    if (line.rfind(".SH ", 0) == 0) section = line.substr(4);
    if (tag && section == "OPTIONS")
      for (std::sregex_iterator m(line.begin(), line.end(), longOption), end; m != end; ++m)
        inPage.Options.insert(m->str());
    std::smatch m;
    if (tag && section == "COMMANDS" &&
        std::regex_search(line, m, std::regex(R"(^\.B[IR]? "?([a-z][a-z-]*))")))
      inPage.Commands.insert(m[1]);
    tag = line == ".TP" || line == ".TQ";
  }
  EXPECT_EQ(inPage.Options, listed.Options);
  EXPECT_EQ(inPage.Commands, listed.Commands);
}

// Options after the command, --opt=VALUE, clustered letters, -- before a text that begins
// with a dash; and the arguments that are refused.
TEST_F(CliTest, OptionsGoAnywhereOnTheLine) {
  BoxSim& box = AddBox();
  box.SetLoaderVersion(1, 10);
  const std::string port = box.LinkPath();
  struct Case {
    std::vector<std::string> Args;
    int Status;
    std::string Out;  // in standard output; all of it for a version
    std::string Err;  // in standard error
  };
  const std::vector<Case> cases = {
      {{"version", "-p", port}, 0, "1.10\n", ""},
      {{"version", "--port=" + port, "--wait=5"}, 0, "1.10\n", ""},
      {{"-qp" + port, "version"}, 0, "1.10\n", ""},
      {{"version", "--timeout", "5", "--port", port, "--json"},
       0,
       "{\"port\": \"" + port + "\", \"event\": \"version\", \"version\": \"1.10\"}",
       ""},
      {{"send", "-p", port, "--", "-x"}, 0, "Unknown command", ""},
      {{"-p", port, "--", "version", "--json"}, 2, "", "version takes 0 arguments"},
      {{"version", "--json=yes", "-p", port}, 2, "", "--json takes no value"},
      {{"version", "-p", port, "-q", "--verbose"}, 2, "", "do not go together"},
      {{"version", "--port"}, 2, "", "--port needs a value"},
      {{"version", "--portal=x"}, 2, "", "unknown option: --portal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const CliRun run = RunCli(c.Args);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_NE(run.Out.find(c.Out), npos) << run.Out;
    if (c.Out == "1.10\n") {
      EXPECT_EQ(run.Out, c.Out);
    }
    EXPECT_NE(run.Err.find(c.Err), npos) << run.Err;
  }
  bool sent = false;
  for (const auto& m : box.Messages()) sent |= std::string(m.bytes.begin(), m.bytes.end()) == "x-";
  EXPECT_TRUE(sent) << "the text after --, turned as the command entry does";
}

// Standard output carries the result alone, so that a script can take it; -q leaves only the
// errors on standard error, -v adds the log of the line.
TEST_F(CliTest, ResultsAloneOnStandardOutput) {
  const std::string image = WriteImage("image.bin", 2 * kBlockSize + 5, 21);
  BoxSim& box = AddBox();
  box.SetLoaderVersion(1, 10);
  const std::string port = box.LinkPath();
  const std::string missing = Path("no-such-port");
  struct Case {
    std::vector<std::string> Args;
    int Status;
    std::string Out;            // all of standard output
    std::string Err;            // all of standard error, unless
    std::string ErrContains{};  // this is to be in it
  };
  const std::vector<Case> cases = {
      {{"-p", port, "version"}, 0, "1.10\n", ""},
      {{"-p", port, "config", "get", "Sat_Freq"}, 0, "11778000\n", ""},
      {{"-q", "-p", port, "upload", image}, 0, "", ""},
      {{"-q", "-p", missing, "version"}, 3, "", "Can't open " + missing + ": no such device\n"},
      {{"-p", missing, "version"}, 3, "", "Can't open " + missing + ": no such device\n"},
      {{"-p", port, "upload", image}, 0, "", "", port + " box 1: ok, 262141 bytes"},
      {{"-v", "-p", port, "version"}, 0, "1.10\n", "", "RS232 Disconnect"},
      // The log's percent counts what was handed to the line, and says so.
      {{"-v", "-p", port, "upload", image}, 0, "", "", "Download 100% (queued)\n"},
      {{"-p", port, "config", "get", "Cab_Freq"},
       2,
       "",
       "Cab_Freq is not a field of this box's delivery type\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const CliRun run = RunCli(c.Args);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_EQ(run.Out, c.Out);
    if (c.ErrContains.empty())
      EXPECT_EQ(run.Err, c.Err);
    else
      EXPECT_NE(run.Err.find(c.ErrContains), npos) << run.Err;
  }
  const std::string script =
      "v=$(" + std::string(KELVARIN_CLI) + " -p " + port + " version) && echo \"[$v]\"";
  EXPECT_EQ(Shell(script), "[1.10]\n");
}

// verify reads the flash back for the image's size and tells whether it holds the image.
TEST_F(CliTest, VerifyTellsSameOrWhereAndHowMuchDiffers) {
  BoxSim& box = AddBox();
  const Bytes flash = box.Flash();
  const std::size_t start = 0x1000;
  const std::size_t size = kBlockSize / 2 + 77;
  Bytes same(flash.begin() + start, flash.begin() + start + size);
  Bytes other = same;
  for (std::size_t at : {std::size_t{0x123}, std::size_t{0x4000}, size - 1}) other[at] ^= 0x5A;
  const auto write = [&](const std::string& name, const Bytes& bytes) {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  };
  const std::string good = write("same.bin", same);
  const std::string bad = write("other.bin", other);
  struct Case {
    std::vector<std::string> Args;
    int Status;
    std::string Out;
  };
  const std::string json =
      "{\"port\": \"" + box.LinkPath() + "\", \"event\": \"verify\", \"same\": ";
  const std::vector<Case> cases = {
      {{"verify", "1000", good}, 0, "same\n"},
      {{"verify", "0x1000", bad},
       1,
       "differ at 0x123 (flash 0x1123): 3 of " + std::to_string(size) + " bytes\n"},
      {{"--json", "verify", "1000", good}, 0, json + "true, \"differing\": 0}\n"},
      {{"--json", "verify", "1000", bad},
       1,
       json + "false, \"differing\": 3, \"first\": 291, \"address\": 4387}\n"},
      {{"verify", "1000", Path("missing.bin")}, 2, ""},
  };
  // The read-back goes where temporary files go, and is gone afterwards.
  const CliProcess::Setup setup{"", {"TMPDIR=" + Path("tmp")}, 0};
  fs::create_directory(Path("tmp"));
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    std::vector<std::string> args = {"-p", box.LinkPath()};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const CliRun run = RunCli(args, setup);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    if (c.Args[0] == "--json")
      EXPECT_NE(run.Out.find(c.Out), npos) << run.Out;
    else
      EXPECT_EQ(run.Out, c.Out);
  }
  EXPECT_TRUE(fs::is_empty(Path("tmp")));
}

// A port that cannot be opened says why, naming the device it tried, once on standard error,
// in the JSON done event and in the table on a terminal; a name with a slash is a path.
TEST_F(CliTest, APortsReasonIsToldEverywhere) {
  BoxSim& box = AddBox();
  box.SetLoaderVersion(1, 10);
  const std::string name = "ttyKelvarinNoSuch";
  const std::string why = "Can't open " + name + ": /dev/" + name + ": no such device";
  {
    const CliRun run = RunCli({"--json", "-p", name, "version"});
    EXPECT_EQ(run.Status, 3);
    EXPECT_EQ(Count(run.Err, why), 1) << run.Err;
    EXPECT_NE(EventLine(run.Out, name, "done").find("\"why\": \"" + why + "\""), npos) << run.Out;
  }
  {
    const CliRun run = RunCli({"-v", "-p", name, "version"});
    EXPECT_EQ(Count(run.Err, "Can't open"), 1) << "with the log too: " << run.Err;
  }
  {
    const CliRun run = RunCli({"-p", name, "-p", box.LinkPath(), "version"},
                              CliProcess::Setup{Dir.string(), {}, 80});
    EXPECT_EQ(run.Status, 3);
    // The table is the end of it.
    const std::vector<std::string> lines = Lines(run.Err);
    const auto row = std::find_if(lines.rbegin(), lines.rend(), [&](const std::string& l) {
      return l.rfind(name + " ", 0) == 0;
    });
    ASSERT_NE(row, lines.rend()) << run.Err;
    EXPECT_NE(row->find("port failed"), npos) << *row;
    EXPECT_NE(row->find(why), npos) << *row;
  }
  // ./box0 is the link in the current folder; box0 alone would be /dev/box0.
  EXPECT_EQ(RunCli({"-p", "./box0", "version"}, 30000, Dir.string()).Out, "1.10\n");
  const CliRun bare = RunCli({"-p", "box0", "version"}, 30000, Dir.string());
  EXPECT_EQ(bare.Err, "Can't open box0: /dev/box0: no such device\n");
}

// A transfer over in less than a tenth of a second (an unpaced simulated box) has no rate to
// show: the line's own rate beside "0.0 s" told nothing measured.
TEST(Progress, ARateIsShownOnlyOnceThereIsTimeToMeasureIt) {
  JobView job;
  job.Port = "box";
  job.State = JobState::Working;
  job.BytesTotal = job.BytesDone = 300000;
  job.LineBytesPerSecond = 11520;
  for (const auto& [seconds, rate] : {std::pair{0.0, false}, {0.09, false}, {0.5, true}}) {
    job.Seconds = seconds;
    const std::string line = ProgressLine(job);
    EXPECT_EQ(line.find("/s") != npos, rate) << line;
  }
}

// On a terminal: the rate never more than the line carries, waits in their own words, a failed
// port never "done", a table whose columns hold whatever the port names; a station's count.
TEST_F(CliTest, ProgressAgreesWithItself) {
  const std::string image = WriteImage("image.bin", 3 * kBlockSize, 22);
  BoxSim& fast = AddBox(921600);  // faster than the 115200 the program is told
  BoxSim& silent = AddBox();
  silent.SetAnswer(boxsim::BoxCommand::Sync, boxsim::Answer::Never);
  const std::string longName = Path("a-port-name-much-longer-than-any-column-of-the-table");
  const CliRun run = RunCli({"-b", "115200", "--wait", "2", "-p", fast.LinkPath(), "-p",
                             silent.LinkPath(), "-p", longName, "upload", image},
                            CliProcess::Setup{"", {}, 100}, 60000);
  EXPECT_EQ(run.Status, 4) << run.Err;
  EXPECT_EQ(fast.LastUploadOutcome(), boxsim::UploadOutcome::Accepted);
  // What the terminal shows, without the codes that move the cursor and clear; the lines
  // redrawn in place (those that end in a clear to the end of the line) fit in its width.
  std::string shown;
  for (std::string line : Lines(run.Err)) {
    const bool redrawn = line.find("\033[K") != npos;
    line = std::regex_replace(line, std::regex("\033\\[\\d*[AJK]|\r"), "");
    if (redrawn) {
      EXPECT_LE(Columns(line), 99u) << line;
    }
    shown += line + "\n";
  }
  const std::vector<std::string> lines = Lines(shown);
  const double carried = 115200.0 / 10 / 1024;  // KiB a second
  bool waiting = false;
  bool sent = false;
  for (const std::string& line : lines) {
    std::smatch m;
    if (std::regex_search(line, m, std::regex(R"(([0-9.]+) KiB/s)"))) {
      EXPECT_LE(std::stod(m[1]), carried + 0.05) << line;
    }
    if (std::regex_search(line, m, std::regex(R"(([0-9.]+) MiB/s)"))) ADD_FAILURE() << line;
    waiting |=
        line.find(silent.LinkPath()) != npos && line.find("  waiting for loader 1 s") != npos;
    sent |= std::regex_search(line, std::regex(R"(  [0-9]+% sent  )"));
    if (line.find("much-longer-than") != npos || line.find(silent.LinkPath()) != npos) {
      EXPECT_EQ(line.find("  done"), npos) << line;
    }
  }
  EXPECT_TRUE(waiting) << shown;
  EXPECT_TRUE(sent) << shown;
  // The table: every column starts where its heading does.
  const auto head = std::find_if(lines.begin(), lines.end(),
                                 [](const std::string& l) { return l.rfind("port ", 0) == 0; });
  ASSERT_NE(head, lines.end()) << shown;
  ASSERT_EQ(lines.end() - head, 4) << shown;
  for (auto row = head + 1; row != lines.end(); ++row) {
    for (const std::string column : {"result", "why"}) {
      const std::size_t at = head->find(column);
      if (column == "why" && row->find("  ok  ") != npos) continue;
      EXPECT_TRUE(at < row->size() && (*row)[at - 1] == ' ' && (*row)[at - 2] == ' ' &&
                  (*row)[at] != ' ')
          << column << " out of line:\n"
          << *head << "\n"
          << *row;
    }
  }
  EXPECT_NE(shown.find("no answer from the loader within 2 s"), npos) << shown;

  // A station of one box: "1 box done", once the box has gone and the run is stopped.
  Boxes.clear();
  BoxSim& box = AddBox();
  CliProcess station({"--repeat", "-p", box.LinkPath(), "upload", image});
  ASSERT_TRUE(station.WaitForErr(" box 1: ok", 20000)) << station.Err();
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(10000), 0);
  EXPECT_NE(station.Err().find(box.LinkPath() + ": 1 box done, 0 failed\n"), npos) << station.Err();
}

// The ports of a made-up machine: one line a device, whatever names lead to it, with the
// adapter's name from its by-id link and whether a program holds it.
TEST_F(CliTest, PortsListsTheMachinesPortsAndWhoHoldsThem) {
  const fs::path root = Dir / "machine";
  fs::create_directories(root / "dev/serial/by-id");
  fs::create_directories(root / "sys/class/tty/ttyS0/device");
  fs::create_directories(root / "sys/class/tty/ttyS1");  // no UART behind it
  std::ofstream(root / "sys/class/tty/ttyS0/type") << "4\n";
  // The processes of the real machine, so that the test itself can hold a port.
  fs::create_directory_symlink("/proc", root / "proc");
  // Two terminals stand in for adapters: one nobody has open, one this test holds.
  int masters[2];
  std::string slaves[2];
  for (int i = 0; i < 2; ++i) {
    masters[i] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(masters[i], 0);
    ASSERT_EQ(grantpt(masters[i]), 0);
    ASSERT_EQ(unlockpt(masters[i]), 0);
    slaves[i] = ptsname(masters[i]);
  }
  fs::create_symlink(slaves[0], root / "dev/ttyUSB0");
  fs::create_symlink(slaves[1], root / "dev/ttyUSB1");
  const int held = open(slaves[1].c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  std::ofstream(root / "dev/ttyACM0");
  std::ofstream(root / "dev/ttyS0");
  std::ofstream(root / "dev/ttyS1");
  fs::create_symlink("../../ttyUSB0",
                     root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A601XYZ-if00-port0");
  const CliProcess::Setup setup{Dir.string(), {"KELVARIN_DEVICE_ROOT=" + root.string()}, 0};

  const std::string pid = std::to_string(getpid());
  const std::string adapter = "FTDI FT232R USB UART A601XYZ";
  const auto row = [&](std::string path, std::string name, const std::string& holder) {
    path.resize(14, ' ');
    name.resize(adapter.size() + 2, ' ');
    return path + name + holder + "\n";
  };
  const CliRun text = RunCli({"ports"}, setup);
  EXPECT_EQ(text.Status, 0) << text.Err;
  EXPECT_EQ(text.Out, row("/dev/ttyUSB0", adapter, "free") +
                          row("/dev/ttyUSB1", "-", "held by test_cli (pid " + pid + ")") +
                          row("/dev/ttyACM0", "-", "free") + row("/dev/ttyS0", "-", "free"));
  const CliRun json = RunCli({"--json", "ports"}, setup);
  EXPECT_EQ(json.Status, 0) << json.Err;
  EXPECT_EQ(json.Out,
            "{\"path\": \"/dev/ttyUSB0\", \"name\": \"FTDI FT232R USB UART A601XYZ\", \"by_id\": "
            "\"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A601XYZ-if00-port0\", \"held\": false}\n"
            "{\"path\": \"/dev/ttyUSB1\", \"name\": \"\", \"by_id\": \"\", \"held\": true, "
            "\"holder\": \"test_cli\", \"pid\": " +
                pid +
                "}\n"
                "{\"path\": \"/dev/ttyACM0\", \"name\": \"\", \"by_id\": \"\", \"held\": false}\n"
                "{\"path\": \"/dev/ttyS0\", \"name\": \"\", \"by_id\": \"\", \"held\": false}\n");
  // As root, with a tree that another user can reach (a clone in /root is not).
  const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups"};
  std::string reachable;
  for (const std::string& word : asNobody) reachable += word + " ";
  reachable += "test -x '" + std::string(KELVARIN_CLI) + "' -a -r '" + Dir.string() + "'";
  fs::permissions(Dir,
                  fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                      fs::perms::others_exec,
                  fs::perm_options::add);
  if (getuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0 &&
      std::system(reachable.c_str()) == 0) {
    // Another user cannot look into this test's open files: no port is called free then.
    SCOPED_TRACE("as a user who cannot see every program");
    CliProcess::Setup other = setup;
    other.RunUnder = asNobody;
    const CliRun unseen = RunCli({"ports"}, other);
    EXPECT_EQ(unseen.Status, 0) << unseen.Err;
    EXPECT_EQ(unseen.Out,
              row("/dev/ttyUSB0", adapter, "unknown") + row("/dev/ttyUSB1", "-", "unknown") +
                  row("/dev/ttyACM0", "-", "unknown") + row("/dev/ttyS0", "-", "unknown"));
    const CliRun unseenJson = RunCli({"--json", "ports"}, other);
    EXPECT_EQ(Count(unseenJson.Out, "\"held\": null"), 4) << unseenJson.Out;
  }
  close(held);
  EXPECT_NE(RunCli({"ports"}, setup).Out.find(row("/dev/ttyUSB1", "-", "free")), npos);
  for (int master : masters) close(master);

  fs::remove_all(root / "dev");
  const CliRun none = RunCli({"ports"}, setup);
  EXPECT_EQ(none.Status, 0);
  EXPECT_EQ(none.Out, "");
  EXPECT_EQ(none.Err, "no serial port found\n");
}

// bash completes the commands, the options, the ports and the files.
TEST_F(CliTest, BashCompletesCommandsOptionsPortsAndFiles) {
  const std::string script =
      std::string(KELVARIN_SOURCE_DIR) + "/packaging/bash-completion/kelvarin-cli";
  std::ofstream(Path("release.bin")) << "x";
  // Completes the words given, the cursor at the end of the last, in Dir.
  const auto complete = [&](const std::vector<std::string>& words) {
    std::string line =
        "cd " + Dir.string() + " && source " + script + " && COMP_WORDS=(kelvarin-cli";
    for (const std::string& w : words) line += " \"" + w + "\"";
    line += ") && COMP_CWORD=" + std::to_string(words.size()) +
            " && $(complete -p kelvarin-cli | sed -n \"s/.*-F \\([^ ]*\\) .*/\\1/p\") kelvarin-cli "
            "\"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\" && printf \"%s\\n\" "
            "\"${COMPREPLY[@]}\" | sort";
    std::set<std::string> got;
    for (const std::string& w : Lines(Shell(line))) got.insert(w);
    return got;
  };
  EXPECT_EQ(Shell("source " + script + " && complete -p kelvarin-cli"),
            "complete -F _kelvarin_cli kelvarin-cli\n");
  EXPECT_EQ(complete({"up"}), std::set<std::string>{"upload"});
  const HelpLists listed = ListedInHelp(RunCli({"--help"}).Out);
  EXPECT_EQ(complete({""}), listed.Commands);
  std::set<std::string> options = complete({"--"});
  EXPECT_EQ(options, listed.Options);
  const std::set<std::string> com = complete({"-p", "COM"});
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(com.count("COM" + std::to_string(n)), 1u);
  for (const std::string& port : complete({"--port", "/dev/tty"}))
    EXPECT_EQ(port.rfind("/dev/tty", 0), 0u) << port;
  EXPECT_EQ(complete({"-p", "COM1", "upload", "rel"}), std::set<std::string>{"release.bin"});
  EXPECT_EQ(complete({"config", ""}), (std::set<std::string>{"default", "get", "set"}));
}

// Refused a port, a user is told to join its group only where that would help: a group that
// may read and write it (dialout), not another user's terminal (tty may only write to it).
TEST_F(CliTest, PermissionDeniedNamesAGroupOnlyWhereJoiningHelps) {
  const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups"};
  if (getuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root, to be another user";
  fs::permissions(Dir, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  int master = -1, slave = -1;
  char terminal[256] = {};
  ASSERT_EQ(openpty(&master, &slave, terminal, nullptr, nullptr), 0);
  const auto device = [&](const std::string& name, const char* group, fs::perms mode) {
    std::ofstream(Path(name)) << "";
    EXPECT_EQ(std::system(("chgrp " + std::string(group) + " " + Path(name)).c_str()), 0);
    fs::permissions(Path(name), mode);
    return Path(name);
  };
  const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write;
  const struct {
    std::string Port;
    const char* Said;
  } cases[] = {
      {device("serial", "dialout", rw | fs::perms::group_read | fs::perms::group_write),
       "permission denied (the user must be in the dialout group)"},
      {terminal, "permission denied\n"},
      {device("private", "root", rw), "permission denied\n"},
  };
  CliProcess::Setup setup{Dir.string(), {}};
  setup.RunUnder = asNobody;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Port);
    const CliRun run = RunCli({"--no-record", "-p", c.Port, "version"}, setup);
    EXPECT_EQ(run.Status, 3) << run.Err;
    EXPECT_NE(run.Err.find(c.Said), npos) << run.Err;
  }
  close(slave);
  close(master);
}

}  // namespace
