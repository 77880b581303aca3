#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "replies/CodeUpload.h"
#include "tests/cli/CliFixture.h"

namespace {

using boxsim::Answer;
using boxsim::BoxCommand;

// Every command against one box: the status, what it prints (with the log of the line), and
// what the box then holds.
TEST_F(CliTest, EveryCommandGivesItsStatusAndOutput) {
  struct Case {
    std::vector<std::string> Args;
    std::function<void(BoxSim&)> Setup;
    int Status;
    std::string Out;  // must appear on standard output
    std::string Err;  // must appear on standard error
    std::function<void(BoxSim&, CliTest&)> Check;
  };
  auto answer = [](BoxCommand c, Answer a) { return [=](BoxSim& b) { b.SetAnswer(c, a); }; };
  const std::string flash = Path("flash.bin");
  const std::string unread = Path("unread.bin");
  const std::vector<Case> cases = {
      {{"version"}, [](BoxSim& b) { b.SetLoaderVersion(1, 10); }, 0, "1.10\n", "Cmd > ", {}},
      {{"verify-boot"}, {}, 0, "", "Verify boot code ok", {}},
      {{"verify-boot"},
       answer(BoxCommand::VerifyBoot, Answer::Bad),
       1,
       "",
       "Verify boot code fail",
       {}},
      {{"verify-app"}, answer(BoxCommand::VerifyApp, Answer::Bad), 1, "", "Verify App fail", {}},
      {{"verify-app"}, {}, 0, "", "Verify App ok", {}},
      {{"run-app"}, {}, 0, "", "Starting application...", {}},
      {{"run-app"}, answer(BoxCommand::RunApp, Answer::Bad), 1, "", "Run App fail", {}},
      {{"reboot"}, {}, 0, "", "Cmd > 193209aa", {}},
      {{"send", "h\xC3\xA9llo"},
       {},
       0,
       "Unknown command",
       "",
       [](BoxSim& b, CliTest&) {
         bool seen = false;
         for (const auto& m : b.Messages())
           seen |= m.kind == boxsim::MessageKind::Text &&
                   std::string(m.bytes.begin(), m.bytes.end()) == "ll\xE9ho";
         EXPECT_TRUE(seen) << "Latin-1, its first four bytes turned as the command entry does";
       }},
      {{"config", "get"}, {}, 0, "Sat_Freq = 11778000\n", "", {}},
      {{"config", "set", "Timeout=45", "DLPid=1abc"},
       {},
       0,
       "",
       "Set DL CFG OK",
       [](BoxSim& b, CliTest&) {
         const auto r = b.ConfigRecord();
         EXPECT_EQ(r[8], 45);
         EXPECT_EQ(r[14] | r[15] << 8, 0x1abc);
         EXPECT_EQ(r[20] | r[21] << 8, 0x5a17) << "fields not named stay as they were";
       }},
      {{"config", "set", "Cab_Freq=1"}, {}, 2, "", "not a field of this box's delivery type", {}},
      {{"config", "set", "Timeout=5"},
       answer(BoxCommand::SetConfig, Answer::Bad),
       1,
       "",
       "Set DL CFG Fail",
       {}},
      {{"config", "default"}, {}, 0, "", "Set default CFG ok", {}},
      {{"config", "default"},
       answer(BoxCommand::DefaultConfig, Answer::Bad),
       1,
       "",
       "Set default CFG fail",
       {}},
      {{"tune", "11778000", "8"}, {}, 0, "", "Tune test ok", {}},
      {{"tune", "11778000", "8"},
       answer(BoxCommand::Tune, Answer::Bad),
       1,
       "",
       "Tune test fail",
       {}},
      {{"erase", "1000", "2000"},
       {},
       0,
       "",
       "ERASE OK",
       [](BoxSim& b, CliTest&) {
         const Bytes f = b.Flash();
         EXPECT_EQ(f[0x1000], 0xFF);
         EXPECT_EQ(f[0x2FFF], 0xFF);
         EXPECT_NE(f[0x3000], 0xFF);
       }},
      {{"erase", "1000", "2000"}, answer(BoxCommand::Erase, Answer::Bad), 1, "", "ERASE fail", {}},
      {{"read", "100", "2010", flash},
       {},
       0,
       "",
       "Read flash CRC OK",
       [flash](BoxSim& b, CliTest&) {
         const Bytes f = b.Flash();
         EXPECT_EQ(ReadBytes(flash), Bytes(f.begin() + 0x100, f.begin() + 0x2110));
       }},
      {{"read", "100", "2010", unread},
       answer(BoxCommand::ReadFlash, Answer::Bad),
       1,
       "",
       "Read flash fail",
       [unread](BoxSim&, CliTest&) { EXPECT_FALSE(fs::exists(unread)); }},
      // No answer: the reply time-out, then the loader silent, a port that is not there.
      {{"--timeout", "1", "version"},
       answer(BoxCommand::LoaderVersion, Answer::Never),
       5,
       "",
       "Timeout!!",
       {}},
      {{"--timeout", "1", "tune", "1", "2"},
       answer(BoxCommand::Tune, Answer::Never),
       5,
       "",
       "Timeout!!",
       {}},
      {{"--wait", "1", "version"},
       answer(BoxCommand::Sync, Answer::Never),
       4,
       "",
       "no answer from the loader",
       {}},
  };
  for (const Case& c : cases) {
    const std::string what = ::testing::PrintToString(c.Args);
    SCOPED_TRACE(what);
    Boxes.clear();
    BoxSim& box = AddBox();
    if (c.Setup) c.Setup(box);
    std::vector<std::string> args = {"-v", "-p", box.LinkPath()};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_NE(run.Out.find(c.Out), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
    if (c.Check) c.Check(box, *this);
    EXPECT_EQ(Count(run.Err, "RS232 Disconnect"), 1) << "the port is closed at the end";
  }
  const std::vector<fs::path> left(fs::directory_iterator(Dir), {});
  for (const fs::path& p : left)
    EXPECT_EQ(p.filename().string().rfind(".kelvarin-read", 0), std::string::npos) << p;
}

// Arguments the program refuses before it touches a port, and what it prints for help.
TEST_F(CliTest, BadArgumentsAndFilesAreUsageErrors) {
  const std::string image = WriteImage("image.bin", 1000, 1);
  const std::string empty = WriteImage("empty.bin", 0, 1);
  // Opening a named pipe for reading would wait for a writer that never comes.
  const std::string pipe = Path("pipe.bin");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> Args;
    int Status;
    std::string Text;  // on standard output for 0, standard error otherwise
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0, "130   interrupted"},
      {{"--version"}, 0, "kelvarin-cli 1.0.0\n"},
      {{"-p", "x"}, 2, "no command"},
      {{"-p", "x", "--frobnicate", "version"}, 2, "unknown option"},
      {{"-p", "x", "erase", "1z", "10"}, 2, "Start Addr: a hexadecimal number from 0 to ffffffff"},
      {{"-p", "x", "tune", "1"}, 2, "takes 2 arguments"},
      {{"-p", "x", "config", "set", "OUI=1"}, 2, "cannot be edited"},
      {{"-p", "x", "config", "set", "Nothing=1"}, 2, "no such field"},
      {{"-p", "x", "--baud", "fast", "version"}, 2, "bad baud"},
      {{"-p", "x", "--wait"}, 2, "needs a value"},
      {{"-p", "x", "upload", Path("missing.bin")}, 2, "open file error"},
      {{"-p", "x", "upload", Dir.string()}, 2, "open file error"},
      {{"-p", "x", "upload", pipe}, 2, "open file error: " + pipe + ": not a regular file"},
      {{"-p", "x", "upload", empty}, 2, "empty image: " + empty},
      {{"--config", Path("none.cfg"), "version"}, 2, "settings file"},
      {{"version"}, 2, "no port"},
      {{"-p", Path("no-such-port"), "upload", image}, 3, "Can't open " + Path("no-such-port")},
      // The record compares times as text: only a time written as it writes them is one.
      {{"record", "--since", "2026-12-8"}, 2, "bad --since: 2026-12-8"},
      {{"record", "--since", "2026-13-08"}, 2, "bad --since"},
      {{"record", "--since", "2026-12-08T24"}, 2, "bad --since"},
      {{"record", "--since", "yesterday"}, 2, "bad --since"},
      {{"record", "--since", "2026-12-08 09:30"}, 2, "bad --since"},
      {{"--record", Path("none.sqlite"), "record", "--since", "2026-12-08T09:30"},
       2,
       "no record at"},
      {{"--record", Path("none.sqlite"), "record", "--since", "2026-12-08T09:30:00.000Z"},
       2,
       "no record at"},
      // Options that ask for two things at once, or for what the command does not do.
      {{"record", "--summary", "--json"}, 2, "--summary and --json do not go together"},
      {{"--csv", "record", "--json"}, 2, "--csv and --json do not go together"},
      {{"-p", "x", "--no-record", "--record", Path("r.sqlite"), "upload", image},
       2,
       "--no-record and --record do not go together"},
      {{"-p", "x", "--since", "2026-12-08", "upload", image},
       2,
       "--since goes with record only, not with upload"},
      {{"-p", "x", "version", "--failed"}, 2, "--failed goes with record only, not with version"},
      {{"record", "--label"}, 2, "record --label needs the label"},
      {{"-p", "x", "--label", "monitor"}, 2, "--label does not go with monitor"},
      {{"-p", "x", "job", Path("none.job")},
       2,
       "none.job: can't read the job file: No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const CliRun run = RunCli(c.Args, 30000, Dir.string());
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    const std::string& where = c.Status == 0 ? run.Out : run.Err;
    EXPECT_NE(where.find(c.Text), std::string::npos) << where;
    // The help is offered for a command line that asks for something wrong, not for a file
    // or a record that is not as asked.
    const bool aFile = c.Text.find("file") != std::string::npos ||
                       c.Text.find("image") != std::string::npos ||
                       c.Text.find("record at") != std::string::npos;
    if (c.Status == 2) {
      EXPECT_EQ(run.Err.find("Try 'kelvarin-cli --help'") != std::string::npos, !aFile) << run.Err;
    }
  }
}

// A number or text that does not fit what the box takes ends the program with status 2 and the
// words the window shows, before anything reaches the box; the forms always taken still go.
TEST_F(CliTest, NumbersAndTextsThatDoNotFitSendNothing) {
  const std::string timeout = "Timeout: a decimal number from -2147483648 to 2147483647";
  struct Case {
    std::vector<std::string> Args;
    std::string Refusal;  // empty: taken, and the box logs Event
    std::string Event;
  };
  const std::vector<Case> cases = {
      {{"config", "set", "Timeout=abc"}, timeout, ""},
      {{"config", "set", "Timeout=12abc"}, timeout, ""},
      {{"config", "set", "DLPid=12345678"},
       "Download Pid: a hexadecimal number from 0 to ffff",
       ""},
      {{"config", "set", "Sat_Cmd=HELLOWORLD1234"},
       "Commands: at most 12 characters of one byte (Latin-1)",
       ""},
      {{"config", "set", "Sat_Cmd=T\xD0\xB5st"},
       "Commands: at most 12 characters of one byte (Latin-1)",
       ""},
      {{"tune", "11778000", "8000"}, "Bandwidth: a decimal number from 0 to 255", ""},
      {{"tune", "--", "-1", "8"}, "Frequency: a decimal number from 0 to 4294967295", ""},
      {{"read", "FFFFF000", "2000", Path("f.bin")},
       "Size: a hexadecimal number from 1 to 1000",
       ""},
      {{"erase", "1000", "0"}, "Size: a hexadecimal number from 1 to fffff000", ""},
      // 2^64 and beyond once wrapped to small numbers, and the box erased 0x0+0x1000.
      {{"erase", "10000000000000000", "1000"},
       "Start Addr: a hexadecimal number from 0 to ffffffff",
       ""},
      {{"tune", "18446744073709551616", "8"},
       "Frequency: a decimal number from 0 to 4294967295",
       ""},
      {{"config", "set", "Timeout=18446744073709551661"}, timeout, ""},
      {{"verify", "1FFFFFFFF", Path("image.bin")},
       "Start Addr: a hexadecimal number from 0 to ffffffff",
       ""},
      {{"config", "set", "Timeout=  +45"}, "", "set config -> ok"},
      {{"tune", " +800", "8"}, "", "tune 800 kHz bandwidth 8"},
      {{"erase", " 0x1000", "+2000"}, "", "erase 0x1000+0x2000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    Boxes.clear();
    BoxSim& box = AddBox();
    const boxsim::Record before = box.ConfigRecord();
    std::vector<std::string> args = {"-p", box.LinkPath()};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const CliRun run = RunCli(args);
    if (c.Refusal.empty()) {
      EXPECT_EQ(run.Status, 0) << run.Err;
      EXPECT_TRUE(box.WaitForEvent(c.Event, 0)) << run.Err;
      continue;
    }
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err, "kelvarin-cli: " + c.Refusal + "\nTry 'kelvarin-cli --help'.\n");
    EXPECT_TRUE(box.Received().empty()) << "nothing reaches the box, not even the sync word";
    EXPECT_TRUE(box.ConfigRecord() == before);
  }
}

// A command without an answer is reported sent only once its bytes have gone out on the line:
// on a slow line they are still in the port when the write returns, and closing the port then
// would throw them away.
TEST_F(CliTest, RebootAndRunAppAreOkOnlyOnceTheBoxHasThem) {
  BoxSim& box = AddBox(300);
  const Bytes reboot = {0xAA, 0x09, 0x32, 0x19};
  const Bytes runApp = {0xAA, 0x0D, 0x32, 0x25};
  const auto times = [&](const Bytes& word) {
    const Bytes got = box.Received();
    int n = 0;
    for (auto at = std::search(got.begin(), got.end(), word.begin(), word.end()); at != got.end();
         at = std::search(at + 1, got.end(), word.begin(), word.end()))
      ++n;
    return n;
  };
  for (int run = 1; run <= 4; ++run) {
    const bool rebooting = run < 4;
    SCOPED_TRACE(run);
    // The sync word the last run began as it ended is still on its way: a pseudo-terminal keeps
    // it across the close, where a real port would throw it away, and this run's bytes would
    // queue behind it. The box takes it first.
    for (std::size_t before = SIZE_MAX; box.Received().size() != before;) {
      before = box.Received().size();
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const CliRun cli =
        RunCli({"-p", box.LinkPath(), "-b", "300", rebooting ? "reboot" : "run-app"});
    EXPECT_EQ(cli.Status, 0) << cli.Err;
    // The program has ended, and so the box has the command: a real port throws away what it
    // still holds when it is closed. A 4-byte command is 133 ms on the line at 300 baud.
    EXPECT_EQ(times(reboot), rebooting ? run : 3);
    EXPECT_EQ(times(runApp), rebooting ? 0 : 1);
  }
  EXPECT_TRUE(box.WaitForEvent("run app -> started", 2000));
}

// config.cfg names the port and the line; --baud overrides the rate alone.
TEST_F(CliTest, PortComesFromTheSettingsFile) {
  BoxSim& box = AddBox();
  std::ofstream(Path("config.cfg")) << box.LinkPath() << " 57600 8 0 0";
  const CliRun run = RunCli({"-b", "38400", "verify-boot"}, 30000, Dir.string());
  EXPECT_EQ(run.Status, 0) << run.Err;
}

// Four boxes at once; one refuses a block halfway: the others finish, the status is its 1.
TEST_F(CliTest, FourPortsAtOnceOneBoxFailing) {
  const std::size_t size = 3 * boxsim::kBlockSize + 1000;
  const std::string image = WriteImage("image.bin", size, 2);
  const Bytes bytes = ReadBytes(image);
  std::vector<std::string> args = {"--json"};
  for (int i = 0; i < 4; ++i) {
    BoxSim& box = AddBox();
    if (i == 2) {
      Bytes other = bytes;
      other[boxsim::kBlockSize + 5] ^= 0x40;
      box.SetExpectedImage(other);
    }
    args.push_back("-p");
    args.push_back(box.LinkPath());
  }
  args.push_back("upload");
  args.push_back(image);
  const CliRun run = RunCli(args, 60000);
  EXPECT_EQ(run.Status, 1) << run.Err;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const std::string port = "\"port\": \"" + Boxes[i]->LinkPath() + "\"";
    const std::string done =
        port + ", \"event\": \"done\", \"box\": 1, \"status\": " + std::string(i == 2 ? "1" : "0");
    EXPECT_NE(run.Out.find(done), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(port + ", \"event\": \"progress\""), std::string::npos);
    if (i != 2) {
      EXPECT_EQ(Boxes[i]->UploadedImage(), bytes);
    }
  }
  EXPECT_NE(run.Err.find(Boxes[2]->LinkPath() + ": Upload fail"), std::string::npos) << run.Err;
}

// A production station: three boxes in turn on one port, the third after the port itself
// went away and came back; Ctrl+C then ends it with the counts.
TEST_F(CliTest, RepeatServesBoxAfterBox) {
  const std::string image = WriteImage("image.bin", 200000, 3);
  BoxSim& box = AddBox();
  CliProcess cli({"--repeat", "--json", "-v", "-p", box.LinkPath(), "upload", image});
  const auto done = [](int n) {
    return "\"event\": \"done\", \"box\": " + std::to_string(n) + ", \"status\": 0";
  };
  ASSERT_TRUE(cli.WaitForOut(done(1), 20000)) << cli.Err();
  // While the box still answers, it is not served again.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Accepted(box), 1);
  box.TakeBoxAway();
  ASSERT_TRUE(cli.WaitForErr("box gone", 10000)) << cli.Err();
  box.BringNewBox();
  ASSERT_TRUE(cli.WaitForOut(done(2), 20000)) << cli.Err();
  box.PullPlug();
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_TRUE(box.PlugIn());
  ASSERT_TRUE(cli.WaitForOut(done(3), 20000)) << cli.Err() << cli.Out();
  EXPECT_EQ(Count(cli.Err(), "Can't open"), 0) << "the wait for the port is quiet: " << cli.Err();
  // Stopped between boxes, every one of them ok: a station that did its work.
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10000), 0);
  EXPECT_NE(cli.Out().find("\"event\": \"summary\", \"done\": 3, \"failed\": 0"), std::string::npos)
      << cli.Out();
  EXPECT_EQ(Count(cli.Out(), "\"status\": 0"), 3);
}

// Interrupted and lost mid-work: a read leaves no file, a lost port is status 5, and a
// monitor prints the box's lines until stopped.
TEST_F(CliTest, InterruptsAndLostPorts) {
  {
    BoxSim& box = AddBox(57600);  // slow enough to be caught mid-read
    const std::string file = Path("part.bin");
    CliProcess cli({"--json", "-p", box.LinkPath(), "read", "0", "9000", file});
    ASSERT_TRUE(cli.WaitForOut("\"event\": \"progress\"", 20000)) << cli.Err();
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(3000), 130);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), {}), 1) << "only the box's link";
  }
  Boxes.clear();
  // An upload ended half-way, by the operator or by the line, says what the box is left doing.
  for (const bool pulled : {true, false}) {
    SCOPED_TRACE(pulled ? "plug pulled" : "interrupted");
    Boxes.clear();
    BoxSim& box = AddBox(115200);
    const std::string image = WriteImage("image.bin", 2 * boxsim::kBlockSize, 4);
    CliProcess cli({"-v", "-p", box.LinkPath(), "upload", image});
    ASSERT_TRUE(cli.WaitForErr("Download", 20000)) << cli.Err();
    if (pulled)
      box.PullPlug();
    else
      cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(10000), pulled ? 5 : 130) << cli.Err();
    EXPECT_EQ(Count(cli.Err(), UploadStoppedAdvice), 1) << cli.Err();
  }
  Boxes.clear();
  {
    BoxSim& box = AddBox();
    CliProcess cli({"-v", "-p", box.LinkPath(), "monitor"});
    ASSERT_TRUE(cli.WaitForErr("Stop send sync byte", 10000)) << cli.Err();
    box.PrintLines({"caf\xE9 ready"});
    EXPECT_TRUE(cli.WaitForOut("caf\xC3\xA9 ready\n", 5000)) << cli.Out() << cli.Err();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(3000), 130);
    EXPECT_NE(cli.Err().find("RS232 Disconnect"), std::string::npos);
  }
}

}  // namespace
