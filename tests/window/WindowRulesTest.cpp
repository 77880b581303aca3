#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Files.h"
#include "tests/support/CoreBench.h"
#include "tests/support/TempDir.h"
#include "window/StatusText.h"
#include "window/WindowRules.h"

namespace {

TEST(StatusText, RateAndTimeLeftReadAsATechnicianExpects) {
  struct Case {
    double rate;
    std::uint64_t left;
    const char* text;
  } cases[] = {
      {56.3 * 1024, 41 * std::uint64_t(56.3 * 1024), "56.3 KiB/s, 0:41 left"},
      {11520, 16u << 20, "11.3 KiB/s, 24:16 left"},
      {900, 900 * 3725, "900 B/s, 1:02:05 left"},
      {2.5 * 1024 * 1024, 0, "2.5 MiB/s, 0:00 left"},
      {0, 1000, "0 B/s"},
  };
  for (const Case& c : cases) EXPECT_EQ(RateText(c.rate, c.left), c.text);
}

// The rate is over the last seconds, not the whole transfer, and a new transfer starts afresh.
TEST(StatusText, TheRateFollowsTheLastSecondsAndStartsAgainWithANewTransfer) {
  RateMeter meter;
  meter.Add(0, 0);
  meter.Add(100, 1000);
  EXPECT_FALSE(meter.PerSecond()) << "too short a span to tell";
  // 1000 B/s for 5 s, then 10,000 B/s for 5 s: after the window only the fast part counts.
  for (int ms = 250; ms <= 5000; ms += 250) meter.Add(ms, static_cast<std::uint64_t>(ms));
  ASSERT_TRUE(meter.PerSecond());
  EXPECT_NEAR(*meter.PerSecond(), 1000, 1);
  for (int ms = 5250; ms <= 10000; ms += 250)
    meter.Add(ms, 5000 + static_cast<std::uint64_t>(ms - 5000) * 10);
  EXPECT_NEAR(*meter.PerSecond(), 10000, 1);
  meter.Add(10250, 10);  // fewer bytes done: the next transfer
  EXPECT_FALSE(meter.PerSecond());
}

TEST(StatusText, PortAndSettings) {
  LineSettings s;
  EXPECT_EQ(PortText("COM3", s), "COM3 115200 8N1");
  s = {9600, 7, Parity::Even, StopBits::Two};
  EXPECT_EQ(PortText("/dev/ttyUSB0", s), "/dev/ttyUSB0 9600 7E2");
}

}  // namespace

namespace {

// A dropped file starts an upload exactly when a press of "Upload Code" would: one regular file,
// the loader ready, no upload under way.
TEST(WindowRules, ADropStartsAnUploadOnlyWhenTheButtonWould) {
  CoreBench bench;
  const std::string image = bench.PathOf("fw.bin");
  WriteFileBytes(image, Bytes(300, 7));
  struct Case {
    const char* What;
    std::vector<std::string> Paths;
    bool Ready;
    bool Starts;
  } cases[] = {
      {"one image, loader ready", {image}, true, true},
      {"loader not ready", {image}, false, false},
      {"two files", {image, image}, true, false},
      {"a folder", {bench.dir.FilePath("")}, true, false},
      {"a missing file", {bench.PathOf("gone.bin")}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(DropStartsUpload(c.Paths, bench.core, c.Ready), c.Starts);
  }
  ASSERT_TRUE(bench.core.StartUpload(image));
  EXPECT_FALSE(DropStartsUpload({image}, bench.core, true)) << "an upload is under way";
  bench.core.ClosePort();
  EXPECT_FALSE(DropStartsUpload({image}, bench.core, true)) << "offline";
}

}  // namespace

namespace {

// The controls a state leaves working: the upload button stays the way out of a running
// upload, Disconnect works while the port is open, the settings only while no command can run.
TEST(WindowRules, EachStateLeavesTheControlsItShould) {
  CoreBench bench;
  const std::string image = bench.PathOf("fw.bin");
  WriteFileBytes(image, Bytes(300, 7));
  const auto expect = [&](bool enabled, ControlSet want, const char* what) {
    SCOPED_TRACE(what);
    const ControlSet got = ControlsFor(bench.core, enabled);
    EXPECT_EQ(got.Commands, want.Commands);
    EXPECT_EQ(got.Upload, want.Upload);
    EXPECT_EQ(got.Disconnect, want.Disconnect);
    EXPECT_EQ(got.Setting, want.Setting);
  };
  expect(true, {true, true, true, false}, "ready");
  expect(false, {false, false, true, true}, "waiting for the loader");
  ASSERT_TRUE(bench.core.StartUpload(image));
  expect(false, {false, true, true, true}, "busy with an upload: Stop works");
  bench.core.ClosePort();
  expect(false, {false, false, false, true}, "offline");
}

TEST(WindowRules, TheDeliveryChoiceMustAgreeWithTheTypedType) {
  const struct {
    int Item;
    const char* Typed;
    bool Agrees;
  } cases[] = {{0, "1", true},  {1, "2", true}, {2, "3", true},  {2, "0", false},
               {0, "2", false}, {1, "", false}, {2, "3x", true}, {0, " 1", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Typed);
    EXPECT_EQ(DeliveryChoiceProblem(c.Item, c.Typed).empty(), c.Agrees);
  }
  EXPECT_EQ(DeliveryGroupOf(0), 3);
  EXPECT_EQ(DeliveryGroupOf(2), 2);
  EXPECT_EQ(DeliveryGroupOf(200), 3);
  EXPECT_EQ(TimestampText(9, 5, 7, 42), "09:05:07.042 ");
}

// The working folder is the process's: each case puts back the one it found.
class MenuFolderTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::current_path(Before); }
  const std::filesystem::path Before = std::filesystem::current_path();
  TempDir Home;
};

TEST_F(MenuFolderTest, IsMadeOnFirstStartAndWorkedInFromThenOn) {
  const std::filesystem::path folder = std::filesystem::path(Home.Path()) / "Kelvarin";
  EXPECT_EQ(MenuFolder(Home.Path()), folder.string());
  EXPECT_EQ(EnterMenuFolder(Home.Path()), "");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), folder));

  // The next start finds what the first left there.
  std::ofstream("config.cfg") << "COM3 115200 8 0 1";
  std::filesystem::current_path(Before);
  EXPECT_EQ(EnterMenuFolder(Home.Path()), "");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), folder));
  EXPECT_TRUE(std::filesystem::exists("config.cfg"));
}

TEST_F(MenuFolderTest, AFileInTheWayIsReportedAndTheFolderKept) {
  std::ofstream(SystemPath(Home.FilePath("Kelvarin"))) << "not a folder";
  const std::string problem = EnterMenuFolder(Home.Path());
  EXPECT_EQ(problem.rfind("Can't work in " + MenuFolder(Home.Path()) + ": ", 0), 0u) << problem;
  EXPECT_NE(problem.find("stay in " + Before.string()), std::string::npos) << problem;
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), Before));
}

}  // namespace
