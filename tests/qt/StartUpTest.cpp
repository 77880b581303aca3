#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qt/StartUp.h"
#include "tests/support/TempDir.h"

namespace {

using Action = StartRequest::Action;

TEST(StartUp, ReadsItsOwnOptionsAndLeavesQtsToQt) {
  struct Case {
    std::vector<const char*> args;
    Action what;
    bool fromMenu;
    bool platformGiven;
  } cases[] = {
      {{}, Action::Run, false, false},
      {{"--menu"}, Action::Run, true, false},
      {{"--version"}, Action::Version, false, false},
      {{"--menu", "--help"}, Action::Help, true, false},
      {{"-h"}, Action::Help, false, false},
      {{"-style", "fusion", "--menu"}, Action::Run, true, false},
      {{"--style=fusion", "-reverse"}, Action::Run, false, false},
      {{"-platform", "offscreen"}, Action::Run, false, true},
      {{"--platform=xcb"}, Action::Run, false, true},
      {{"-display", ":1"}, Action::Run, false, true},
      {{"--menus"}, Action::Bad, false, false},
      {{"image.bin"}, Action::Bad, false, false},
      {{"-style"}, Action::Bad, false, false},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"kelvarin"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const StartRequest r = ReadStartArguments(static_cast<int>(argv.size()), argv.data());
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    EXPECT_EQ(r.What, c.what) << line;
    EXPECT_EQ(r.FromMenu, c.fromMenu) << line;
    EXPECT_EQ(r.PlatformGiven, c.platformGiven) << line;
    EXPECT_EQ(r.Problem.empty(), c.what != Action::Bad) << line;
  }
}

TEST(StartUp, HelpStaysWithin80Columns) {
  std::string text = UsageText();
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
  EXPECT_EQ(start, text.size());  // every line ends
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
  std::ofstream(Home.FilePath("Kelvarin")) << "not a folder";
  const std::string problem = EnterMenuFolder(Home.Path());
  EXPECT_EQ(problem.rfind("Can't work in " + MenuFolder(Home.Path()) + ": ", 0), 0u) << problem;
  EXPECT_NE(problem.find("stay in " + Before.string()), std::string::npos) << problem;
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), Before));
}

}  // namespace
