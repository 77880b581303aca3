#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/CliFixture.h"

// What a production line and a careless operator do to the program: boxes that misbehave for
// long, images and files that change under it, readers that leave, signals of every kind.

namespace {

using boxsim::Answer;
using boxsim::BoxCommand;
using boxsim::kBlockSize;
using namespace std::chrono_literals;

constexpr std::size_t npos = std::string::npos;

std::string Done(int box) {
  return "\"event\": \"done\", \"box\": " + std::to_string(box) + ", \"status\": ";
}

// A box that keeps answering the sync word while the command's own answer never comes holds
// the port no longer than --timeout.
TEST_F(CliTest, ACommandEndsWhenItsOwnAnswerIsLateWhateverElseTheBoxSays) {
  const std::string image = WriteImage("image.bin", 3 * kBlockSize, 5);
  struct Case {
    std::vector<std::string> Args;
    std::function<void(BoxSim&)> Setup;
  };
  const std::vector<Case> cases = {
      {{"version"}, [](BoxSim& b) { b.SetAnswer(BoxCommand::LoaderVersion, Answer::Never); }},
      {{"upload", image}, [](BoxSim& b) { b.SetBlockOrder(boxsim::BlockOrder::StopHalfway); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args[0]);
    Boxes.clear();
    BoxSim& box = AddBox();
    c.Setup(box);
    box.SetStopSyncFlood(300);
    std::vector<std::string> args = {"--timeout", "2", "-p", box.LinkPath()};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const CliRun run = RunCli(args, 15000);
    EXPECT_EQ(run.Status, 5) << run.Err;
    EXPECT_NE(run.Err.find("Timeout!!"), npos) << run.Err;
  }
}

// A station takes its image once: deleting it later changes nothing, and writing to it in
// place is caught before a block of the new bytes goes out.
TEST_F(CliTest, StationKeepsTheImageItTookAtTheStart) {
  const std::size_t size = 3 * kBlockSize;
  {
    SCOPED_TRACE("deleted");
    const std::string image = WriteImage("deleted.bin", size, 6);
    const Bytes bytes = ReadBytes(image);
    BoxSim& box = AddBox();
    CliProcess cli({"--repeat", "--json", "-v", "-p", box.LinkPath(), "upload", image});
    ASSERT_TRUE(cli.WaitForOut(Done(1) + "0", 20000)) << cli.Err();
    fs::remove(image);
    box.TakeBoxAway();
    ASSERT_TRUE(cli.WaitForErr("box gone", 10000)) << cli.Err();
    box.BringNewBox();
    ASSERT_TRUE(cli.WaitForOut(Done(2), 20000)) << cli.Err();
    EXPECT_NE(cli.Out().find(Done(2) + "0"), npos) << cli.Out();
    EXPECT_EQ(box.UploadedImage(), bytes);
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(10000), 0);
  }
  Boxes.clear();
  {
    SCOPED_TRACE("rewritten in place");
    const std::string image = WriteImage("rewritten.bin", size, 7);
    const Bytes bytes = ReadBytes(image);
    BoxSim& box = AddBox(921600);  // slow enough to write to the image mid-upload
    CliProcess cli({"--repeat", "--json", "-p", box.LinkPath(), "upload", image});
    ASSERT_TRUE(box.WaitForEvent("block 1 requested", 20000)) << cli.Err();
    // As cp onto it does: the same file, cut to nothing and written again.
    WriteImage("rewritten.bin", size, 8);
    // No later box would fare better: the port's work ends.
    EXPECT_EQ(cli.Wait(20000), 2) << cli.Err();
    EXPECT_NE(cli.Out().find(Done(1) + "2"), npos) << cli.Out();
    EXPECT_NE(cli.Err().find("the image changed since it was opened: " + image), npos) << cli.Err();
    EXPECT_NE(box.LastUploadOutcome(), boxsim::UploadOutcome::Accepted);
    const Bytes got = box.UploadedImage();
    for (int k = 0; k < 3; ++k) {
      if (!box.WaitForEvent("block " + std::to_string(k) + ": ok", 0)) continue;
      const auto from = static_cast<std::ptrdiff_t>(k * kBlockSize);
      EXPECT_TRUE(
          std::equal(got.begin() + from, got.begin() + from + kBlockSize, bytes.begin() + from))
          << "block " << k << " is of the image the station took";
    }
  }
}

// "ok" means the box had every block; the bytes told are the bytes that went out.
TEST_F(CliTest, OkMeansEveryBlockWentOut) {
  const std::string image = WriteImage("image.bin", 3 * kBlockSize, 9);
  for (int after : {0, 1}) {
    SCOPED_TRACE(after);
    Boxes.clear();
    BoxSim& box = AddBox();
    box.SetOkAfterBlocks(after);
    const CliRun run = RunCli({"--json", "-p", box.LinkPath(), "upload", image});
    EXPECT_EQ(run.Status, 1) << run.Err;
    const std::string done = EventLine(run.Out, box.LinkPath(), "done");
    EXPECT_NE(done.find("the box reported OK after " + std::to_string(after) + " of 3 blocks"),
              npos)
        << done;
    EXPECT_EQ(Number(done, "bytes"), static_cast<long long>(after * kBlockSize)) << done;
  }
  // A port lost mid-block: what went out, not the block it was in.
  Boxes.clear();
  BoxSim& box = AddBox(460800);
  CliProcess cli({"--json", "-p", box.LinkPath(), "upload", image});
  ASSERT_TRUE(box.WaitForEvent("block 1 requested", 20000)) << cli.Err();
  std::this_thread::sleep_for(500ms);
  const long long sent = static_cast<long long>(box.Received().size()) - 12 -
                         5 * static_cast<long long>(box.SyncWordsSeen());
  box.PullPlug();
  EXPECT_EQ(cli.Wait(10000), 5) << cli.Err();
  const long long told = Number(EventLine(cli.Out(), box.LinkPath(), "done"), "bytes");
  // The box has had what it read; the line and the driver hold at most a few pieces more.
  EXPECT_GE(told, sent - 8) << cli.Out();
  EXPECT_LT(told, sent + 80000) << cli.Out();
  EXPECT_LT(told, static_cast<long long>(2 * kBlockSize)) << cli.Out();
}

// A reader that leaves after the first line (grep -m1, head -1) stops the output, not the
// work: every upload completes and every port is put back as it was.
TEST_F(CliTest, AReaderThatLeavesEarlyStopsOnlyTheOutput) {
  const std::string image = WriteImage("image.bin", 2 * kBlockSize + 77, 10);
  const Bytes bytes = ReadBytes(image);
  std::vector<std::string> args = {"--json"};
  std::vector<speed_t> before;
  for (int i = 0; i < 3; ++i) {
    BoxSim& box = AddBox(921600);
    before.push_back(LineSpeed(box.DevicePath()));
    args.insert(args.end(), {"-p", box.LinkPath()});
  }
  args.insert(args.end(), {"upload", image});
  CliProcess cli(args, "", CliProcess::OutReader::FirstLine);
  EXPECT_EQ(cli.Wait(60000), 0) << cli.Err();
  EXPECT_EQ(Count(cli.Out(), "\n"), 1) << cli.Out();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Boxes[i]->LastUploadOutcome(), boxsim::UploadOutcome::Accepted);
    EXPECT_EQ(Boxes[i]->UploadedImage(), bytes);
    EXPECT_EQ(LineSpeed(Boxes[i]->DevicePath()), before[i]) << "the port's settings put back";
  }
}

// Every way of being told to stop ends cleanly, or at once when told twice.
TEST_F(CliTest, EverySignalEndsCleanly) {
  {
    SCOPED_TRACE("the terminal closed mid-read");
    BoxSim& box = AddBox(57600);
    const speed_t before = LineSpeed(box.DevicePath());
    const std::string file = Path("part.bin");
    CliProcess cli({"--json", "-p", box.LinkPath(), "read", "0", "9000", file});
    ASSERT_TRUE(cli.WaitForOut("\"event\": \"progress\"", 20000)) << cli.Err();
    cli.Signal(SIGHUP);
    EXPECT_EQ(cli.Wait(3000), 130);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), {}), 1) << "only the box's link";
    EXPECT_EQ(LineSpeed(box.DevicePath()), before) << "the port's settings put back";
  }
  Boxes.clear();
  {
    SCOPED_TRACE("stuck on output nobody reads, Ctrl+C twice");
    BoxSim& box = AddBox();
    CliProcess cli({"-v", "-p", box.LinkPath(), "monitor"}, "", CliProcess::OutReader::Never);
    ASSERT_TRUE(cli.WaitForErr("Stop send sync byte", 10000)) << cli.Err();
    box.Flood(1 << 20);
    std::this_thread::sleep_for(1500ms);  // the pipe is full long before
    cli.Signal(SIGINT);
    std::this_thread::sleep_for(200ms);
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(2000), 130);
  }
}

// Ctrl+S on the operator's terminal stops what the program shows, not what it does: the box is
// served meanwhile, and what waited is shown once the terminal takes it again.
TEST_F(CliTest, AStoppedTerminalDoesNotStopTheWork) {
  BoxSim& box = AddBox(460800);
  const std::string image = WriteImage("image.bin", 3 * 0x1FFFC, 5);
  CliProcess cli({"-p", box.LinkPath(), "upload", image}, CliProcess::Setup{Dir.string(), {}, 80});
  ASSERT_TRUE(cli.WaitForErr("sent", 20000)) << cli.Err();
  cli.TypeOnErrTerminal("\x13");
  EXPECT_TRUE(box.WaitForEvent(": accepted", 30000)) << "the upload stalled with the terminal";
  std::this_thread::sleep_for(300ms);
  const std::string shownWhileStopped = cli.Err();
  cli.TypeOnErrTerminal("\x11");
  EXPECT_EQ(cli.Wait(10000), 0) << cli.Err();
  EXPECT_EQ(box.UploadedImage(), ReadBytes(image));
  EXPECT_GT(cli.Err().size(), shownWhileStopped.size()) << "what waited was shown";
  EXPECT_NE(cli.Err().find("not shown while the output was held up"), npos) << cli.Err();
}

// Every block of a read arrived and passed its check, and then its file will not take them (a
// folder put in its way here; on Windows, a file open in another program): the bytes are kept
// under a name the program gives, with a status of their own, never deleted.
TEST_F(CliTest, ACompleteReadThatItsFileRefusesIsKept) {
  BoxSim& box = AddBox(57600);
  const std::string file = Path("flash.bin");
  CliProcess cli({"--json", "-p", box.LinkPath(), "read", "0", "4000", file});
  ASSERT_TRUE(cli.WaitForOut("\"event\": \"progress\"", 20000)) << cli.Err();
  fs::create_directory(file);
  std::ofstream(fs::path(file) / "in the way") << "x";
  EXPECT_EQ(cli.Wait(30000), 6) << cli.Err();
  const std::string kept = Path("flash-kept-1.bin");
  EXPECT_NE((cli.Out() + cli.Err()).find("Can't write " + file), npos) << cli.Out() << cli.Err();
  EXPECT_NE((cli.Out() + cli.Err()).find("the read is kept in " + kept), npos);
  const Bytes flash = box.Flash();
  EXPECT_EQ(ReadBytes(kept), Bytes(flash.begin(), flash.begin() + 0x4000));
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir), {}), 3) << "the link, the folder, the read";
}

// What the program calls written is on the disk: the file is synced before it is moved into
// place, and its folder after, so that a power cut cannot bring back an empty file.
TEST_F(CliTest, AReadIsOnTheDiskBeforeItIsCalledWritten) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  BoxSim& box = AddBox();
  const std::string trace = Path("trace");
  CliProcess::Setup setup;
  // The leak checker of a sanitizer build cannot run under a tracer.
  setup.Environment = {"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
  setup.RunUnder = {"/usr/bin/strace",
                    "-f",
                    "-qq",
                    "-o",
                    trace,
                    "-e",
                    "trace=fsync,fdatasync,rename,renameat,renameat2"};
  const CliRun run = RunCli({"-p", box.LinkPath(), "read", "0", "100", Path("flash.bin")}, setup);
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::ifstream in(trace);
  std::vector<std::string> calls;  // "sync" and "move", in the order they were made
  for (std::string line; std::getline(in, line);) {
    if (line.find("sync(") != npos) calls.push_back("sync");
    if (line.find("rename") != npos && line.find("flash.bin\"") != npos) calls.push_back("move");
  }
  const auto move = std::find(calls.begin(), calls.end(), "move");
  ASSERT_NE(move, calls.end()) << "no move onto flash.bin traced";
  EXPECT_NE(std::find(calls.begin(), move, "sync"), move) << "no sync before the move";
  EXPECT_NE(std::find(move, calls.end(), "sync"), calls.end()) << "no sync of the folder after it";
}

// A read's file: whatever would keep it from being written is found before anything is sent;
// a link is written through; a station keeps every box's file; messages name the file.
TEST_F(CliTest, ReadFilesAreCheckedFirstAndNothingIsLost) {
  fs::create_directory(Dir / "folder");
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  const std::string device = AddBox().DevicePath();
  struct Refused {
    std::string File;
    std::string Why;
  };
  const std::vector<Refused> refused = {
      {Path("folder"), "is a folder"},
      {Path("missing/flash.bin"), "no such folder: " + Path("missing")},
      {"/proc/kelvarin-flash.bin", "can't write in /proc"},  // not even for root
      {Path("pipe"), "not a regular file"},
      {device, "not a regular file"},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.File);
    BoxSim& box = AddBox();
    const CliRun run = RunCli({"-p", box.LinkPath(), "read", "0", "100", c.File});
    EXPECT_EQ(run.Status, 2) << run.Err;
    EXPECT_NE(run.Err.find("can't write " + c.File + ": " + c.Why), npos) << run.Err;
    EXPECT_EQ(box.SyncWordsSeen(), 0) << "nothing is sent";
  }
  EXPECT_FALSE(fs::exists(Dir / "missing"));
  EXPECT_TRUE(fs::is_fifo(Path("pipe")));

  const Bytes flash = Boxes.back()->Flash();
  const Bytes range(flash.begin() + 0x100, flash.begin() + 0x2100);
  {
    SCOPED_TRACE("a link");
    fs::create_directory(Dir / "dumps");
    fs::create_symlink(Dir / "dumps" / "real.bin", Dir / "link.bin");
    BoxSim& box = AddBox();
    const CliRun run = RunCli({"-p", box.LinkPath(), "read", "100", "2000", Path("link.bin")});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(fs::is_symlink(Dir / "link.bin"));
    EXPECT_EQ(ReadBytes(Path("dumps/real.bin")), range);
  }
  {
    SCOPED_TRACE("a station");
    BoxSim& box = AddBox();
    const std::string file = Path("station.bin");
    CliProcess cli({"--repeat", "--json", "-v", "-p", box.LinkPath(), "read", "100", "2000", file});
    ASSERT_TRUE(cli.WaitForOut(Done(1) + "0", 20000)) << cli.Err();
    box.TakeBoxAway();
    ASSERT_TRUE(cli.WaitForErr("box gone", 10000)) << cli.Err();
    box.BringNewBox();
    ASSERT_TRUE(cli.WaitForOut(Done(2) + "0", 20000)) << cli.Err();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(10000), 0);
    for (int n : {1, 2}) {
      const std::string boxFile = file + "." + std::to_string(n);
      EXPECT_EQ(ReadBytes(boxFile), range) << boxFile;
      EXPECT_NE(cli.Out().find("\"file\": \"" + boxFile + "\""), npos) << cli.Out();
    }
    EXPECT_FALSE(fs::exists(file));
  }
  {
    SCOPED_TRACE("a failed read");
    BoxSim& box = AddBox();
    box.SetAnswer(BoxCommand::ReadFlash, Answer::Bad);
    const std::string file = Path("failed.bin");
    const CliRun run = RunCli({"-v", "-p", box.LinkPath(), "read", "0", "100", file});
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Err.find("Read flash stopped: " + file + " left unchanged"), npos) << run.Err;
    EXPECT_EQ(run.Err.find("flashdata.bin"), npos) << run.Err;
  }
  for (const fs::path& folder : {Dir, Dir / "dumps"})
    for (const fs::path& p : fs::directory_iterator(folder))
      EXPECT_NE(p.filename().string().rfind(".kelvarin", 0), 0u) << p;
}

// On a paced line, piped (on standard error) and in JSON: progress at least every half second
// of line time and as each block is through.
TEST_F(CliTest, ProgressEveryHalfSecondPipedAndInJson) {
  const std::size_t size = 2 * kBlockSize;
  const std::string image = WriteImage("image.bin", size, 11);
  for (bool json : {true, false}) {
    SCOPED_TRACE(json ? "json" : "piped");
    Boxes.clear();
    BoxSim& box = AddBox(921600);  // about 2.8 s for the image
    std::vector<std::string> args = {"-p", box.LinkPath(), "upload", image};
    if (json) args.insert(args.begin(), "--json");
    const CliRun run = RunCli(args, 60000);
    ASSERT_EQ(run.Status, 0) << run.Err;
    std::vector<long long> shown;
    const std::string& progress = json ? run.Out : run.Err;
    for (std::size_t at = 0; at < progress.size();) {
      const std::size_t end = progress.find('\n', at);
      const std::string line = progress.substr(at, end - at);
      at = end == npos ? progress.size() : end + 1;
      if (json && line.find("\"event\": \"progress\"") != npos)
        shown.push_back(Number(line, "bytes"));
      if (!json && line.rfind(box.LinkPath() + "  ", 0) == 0 && line.find('%') != npos)
        shown.push_back(std::atoll(line.c_str() + box.LinkPath().size()));
    }
    EXPECT_GE(shown.size(), 5u) << progress;
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << progress;
    if (json) {
      EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                              [](long long b) { return b > 0 && b % kBlockSize != 0; }))
          << "within a block too: " << run.Out;
      EXPECT_EQ(shown.empty() ? 0 : shown.back(), static_cast<long long>(size));
    }
  }
}

// Line noise that begins like a frame, right before each block request: every request is
// still served, though the box asks only once.
TEST_F(CliTest, ARequestRightBehindNoiseIsServed) {
  const std::string image = WriteImage("image.bin", 3 * kBlockSize + 5, 12);
  BoxSim& box = AddBox();
  box.SetRequestNoise({0xBB, 0x22, 0x21, 0xBA, 0x31, 0x30}, 200);
  box.SetBlockWait(2000, 0);
  const CliRun run = RunCli({"-p", box.LinkPath(), "upload", image});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(box.LastUploadOutcome(), boxsim::UploadOutcome::Accepted);
  EXPECT_EQ(box.UploadedImage(), ReadBytes(image));
}

// Escape sequences and control characters from the box reach no terminal; a zero byte cuts
// nothing.
TEST_F(CliTest, TheBoxCannotDriveTheTerminal) {
  // Retitles the window, clears the screen, a zero byte, a C1 control (CSI), Latin-1 text.
  const std::string line =
      std::string("\x1b]0;owned\x07\x1b[2Jcleared") + '\0' + "after\x9b" + "2J caf\xE9";
  const std::string shown = "\\x1b]0;owned\\x07\\x1b[2Jcleared\\x00after\\x9b2J caf\xC3\xA9";
  const std::string json =
      "\\u001b]0;owned\\u0007\\u001b[2Jcleared\\u0000after\\u009b2J caf\xC3\xA9";
  struct Case {
    std::vector<std::string> Args;
    bool OnOut;  // the box's lines are the command's output
    std::string Expected;
  };
  const std::vector<Case> cases = {
      {{"-v", "version"}, false, shown},
      {{"monitor"}, true, shown},
      {{"--json", "monitor"}, true, json},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    Boxes.clear();
    BoxSim& box = AddBox();
    box.SetGreeting(line);
    std::vector<std::string> args = {"-p", box.LinkPath()};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    CliProcess cli(args);
    if (c.OnOut) {
      EXPECT_TRUE(cli.WaitForOut(c.Expected, 10000)) << cli.Out() << cli.Err();
      cli.Signal(SIGINT);
    } else {
      EXPECT_TRUE(cli.WaitForErr(c.Expected, 10000)) << cli.Err();
    }
    cli.Wait(5000);
    for (const std::string& text : {cli.Out(), cli.Err()}) {
      EXPECT_EQ(text.find('\x1b'), npos) << text;
      EXPECT_EQ(text.find('\x07'), npos) << text;
    }
  }
}

}  // namespace
