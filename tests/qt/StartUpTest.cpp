#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qt/StartUp.h"

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

// The record's options: where, none, the bench's name; the two that contradict each other and
// a server address that cannot be read are refused, without quoting the address.
TEST(StartUp, TakesTheRecordsOptions) {
  struct Case {
    std::vector<const char*> args;
    std::string where;
    bool none;
    std::string station;
    std::string problem;
  } cases[] = {
      {{"--record", "/tmp/r.sqlite", "--station", "bench 2"},
       "/tmp/r.sqlite",
       false,
       "bench 2",
       ""},
      {{"--no-record", "-style", "fusion"}, "", true, "", ""},
      {{"--record", "postgresql://line3/record"}, "postgresql://line3/record", false, "", ""},
      {{"--record"}, "", false, "", "option '--record' needs a value"},
      {{"--station", ""}, "", false, "", "option '--station' needs a value"},
      {{"--record", "r.sqlite", "--no-record"},
       "",
       false,
       "",
       "--no-record and --record do not go together"},
      {{"--record", "host=line3 password=s3cret bogus=1"}, "", false, "", "--record: "},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"kelvarin"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const StartRequest r = ReadStartArguments(static_cast<int>(argv.size()), argv.data());
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    if (!c.problem.empty()) {
      EXPECT_EQ(r.What, Action::Bad) << line;
      EXPECT_EQ(r.Problem.rfind(c.problem, 0), 0u) << line << ": " << r.Problem;
      EXPECT_EQ(r.Problem.find("s3cret"), std::string::npos) << r.Problem;
      continue;
    }
    EXPECT_EQ(r.What, Action::Run) << line << ": " << r.Problem;
    EXPECT_EQ(r.Record.Where, c.where) << line;
    EXPECT_EQ(r.Record.None, c.none) << line;
    EXPECT_EQ(r.Record.Station, c.station) << line;
  }
}

TEST(StartUp, HelpStaysWithin80Columns) {
  std::string text = UsageText();
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
  EXPECT_EQ(start, text.size());  // every line ends
}

}  // namespace
