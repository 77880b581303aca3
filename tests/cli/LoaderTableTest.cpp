#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "boxsim/BoxSim.h"
#include "cli/CliOptions.h"
#include "dlcfg/DlCfgRecord.h"
#include "tests/cli/CliFixture.h"
#include "tests/support/Pty.h"
#include "window/WindowControls.h"
#include "wire/LoaderCommands.h"

namespace {

// kelvarin-cli's loader commands against a box played here byte for byte as the protocol
// describes it, rather than by the simulated box, which answers from the tool's own table.
TEST_F(CliTest, LoaderCommandsSpeakTheProtocolsWords) {
  const Bytes sync = {0xAA, 0x25, 0x32, 0x6D, 0x00};
  const struct {
    std::vector<std::string> Args;
    Bytes Command;
    Bytes Answer;
    int Status;
    const char* Said;
  } cases[] = {
      {{"verify-boot"},
       {0xAA, 0x06, 0x32, 0x10},
       {0xBB, 0x16, 0x21, 0xA2},
       0,
       "Verify boot code ok"},
      {{"verify-boot"},
       {0xAA, 0x06, 0x32, 0x10},
       {0xBB, 0x17, 0x21, 0xA4},
       1,
       "Verify boot code fail"},
      {{"verify-app"}, {0xAA, 0x07, 0x32, 0x13}, {0xBB, 0x18, 0x21, 0xA6}, 0, "Verify App ok"},
      {{"verify-app"}, {0xAA, 0x07, 0x32, 0x13}, {0xBB, 0x19, 0x21, 0xA8}, 1, "Verify App fail"},
      {{"erase", "0", "1000"}, {0xAA, 0x04, 0x32, 0x0A}, {0xBB, 0x12, 0x21, 0x9A}, 0, "ERASE OK"},
      {{"erase", "0", "1000"}, {0xAA, 0x04, 0x32, 0x0A}, {0xBB, 0x13, 0x21, 0x9C}, 1, "ERASE fail"},
      {{"tune", "11778000", "8"},
       {0xAA, 0x08, 0x32, 0x16},
       {0xBB, 0x1A, 0x21, 0xAA},
       0,
       "Tune test ok"},
      {{"tune", "11778000", "8"},
       {0xAA, 0x08, 0x32, 0x16},
       {0xBB, 0x1B, 0x21, 0xAC},
       1,
       "Tune test fail"},
      {{"config", "default"},
       {0xAA, 0x0B, 0x32, 0x1F},
       {0xBB, 0x1E, 0x21, 0xB2},
       0,
       "Set default CFG ok"},
      {{"config", "default"},
       {0xAA, 0x0B, 0x32, 0x1F},
       {0xBB, 0x1F, 0x21, 0xB4},
       1,
       "Set default CFG fail"},
      {{"run-app"}, {0xAA, 0x0D, 0x32, 0x25}, {0xBB, 0x20, 0x21, 0xB6}, 1, "Run App fail"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args) + " answered " + c.Said);
    Pty box;
    ASSERT_TRUE(box.Ok());
    std::vector<std::string> args = {"--no-record", "-v", "--timeout", "3", "-p", box.SlavePath};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    CliProcess cli(args, Dir.string());
    // The loader answers the sync word, then the command, once it has come whole.
    Bytes heard;
    bool ready = false;
    for (int round = 0; round < 100; ++round) {
      const Bytes more = box.Read(100);
      heard.insert(heard.end(), more.begin(), more.end());
      if (!ready &&
          std::search(heard.begin(), heard.end(), sync.begin(), sync.end()) != heard.end()) {
        box.Write(Bytes{0xBB, 0x24, 0x21, 0xBE});
        ready = true;
        heard.clear();
      }
      if (ready && std::search(heard.begin(), heard.end(), c.Command.begin(), c.Command.end()) !=
                       heard.end())
        break;
    }
    ASSERT_NE(std::search(heard.begin(), heard.end(), c.Command.begin(), c.Command.end()),
              heard.end())
        << "the command's word never came";
    box.Write(c.Answer);
    EXPECT_EQ(cli.Wait(20000), c.Status) << cli.Err();
    EXPECT_NE(cli.Err().find(c.Said), std::string::npos) << cli.Err();
  }
}

// The fields a technician may change, as the download configuration dialog of the first tool
// enabled them, written out: config set takes exactly these, whatever the field table says.
TEST(ConfigFields, ConfigSetTakesExactlyTheFieldsATechnicianMayChange) {
  const std::set<std::string> editable = {
      "BootFlag",    "Timeout",       "ForceTune",    "DLPid",         "ModChangeNO", "NS0_MID",
      "NS0_SwMajor", "NS0_SwMinor",   "NS1_MID",      "NS1_SwMajor",   "NS1_SwMinor", "NS2_MID",
      "NS2_SwMajor", "NS2_SwMinor",   "NS3_MID",      "NS3_SwMajor",   "NS3_SwMinor", "Sat_Freq",
      "Sat_Symbol",  "Sat_ParamFlag", "Sat_CmdLen",   "Sat_Cmd",       "Cab_Freq",    "Cab_Symbol",
      "Cab_ModType", "Ter_Freq",      "Ter_Priority", "Ter_BandWidth", "TunerPower"};
  const std::set<std::string> fixed = {
      "StructVer",     "StructSize",   "DLType",      "OUI",     "HardwareModel", "HardwareVersion",
      "MI0_MID",       "MI0_SwMajor",  "MI0_SwMinor", "MI1_MID", "MI1_SwMajor",   "MI1_SwMinor",
      "MI2_MID",       "MI2_SwMajor",  "MI2_SwMinor", "MI3_MID", "MI3_SwMajor",   "MI3_SwMinor",
      "SignatureType", "DeliveryType", "Crc"};
  for (const std::string& name : editable) {
    const ParseResult parsed = ParseArguments({"-p", "x", "config", "set", name + "=1"});
    EXPECT_EQ(parsed.Error, "") << name;
  }
  for (const std::string& name : fixed) {
    const ParseResult parsed = ParseArguments({"-p", "x", "config", "set", name + "=1"});
    EXPECT_EQ(parsed.Error, "field cannot be edited: " + name);
  }
  EXPECT_EQ(DlCfgFields().size(), editable.size() + fixed.size()) << "a field neither list has";
}

// What a command of the loader's table must have beyond its row, so that none is half added:
// a control of the window that sends it, the simulated box's answer, the command line's name,
// its manual page and its completion.
TEST(LoaderCommandTable, EveryCommandReachesEveryFrontEnd) {
  const auto read = [](const std::string& file) {
    std::ifstream in(std::string(KELVARIN_SOURCE_DIR) + "/" + file);
    std::stringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    for (std::size_t at; (at = all.find("\\-")) != std::string::npos;) all.replace(at, 2, "-");
    return all;
  };
  const std::string manual = read("packaging/man/kelvarin-cli.1.in");
  const std::string commands = manual.substr(manual.find(".SH COMMANDS"));
  std::smatch listed;
  const std::string completion = read("packaging/bash-completion/kelvarin-cli");
  ASSERT_TRUE(std::regex_search(completion, listed, std::regex("local commands=\"([^\"]*)\"")));
  std::set<std::string> completed;
  std::istringstream words(listed[1].str());
  for (std::string word; words >> word;) completed.insert(word);

  for (const LoaderCommand& row : LoaderCommands()) {
    SCOPED_TRACE(row.CliName != nullptr ? row.CliName : "a command without a name");
    EXPECT_TRUE(WindowSends(row.Word)) << "no control of the window sends it";
    EXPECT_TRUE(boxsim::AnswersCommand(row.Word)) << "the simulated box does not answer it";
    ASSERT_NE(row.CliName, nullptr) << "kelvarin-cli has no name for it";
    const std::string name = row.CliName;
    const std::string first = name.substr(0, name.find(' '));
    EXPECT_FALSE(HelpText(first).empty()) << "kelvarin-cli does not know " << first;
    const bool inManual =
        std::regex_search(commands, std::regex("\n\\.B[IR]? \"?" + name + "[\" \n]"));
    EXPECT_TRUE(inManual) << "the manual lacks it";
    EXPECT_EQ(completed.count(first), 1u) << "the completion lacks it";
  }
}

}  // namespace
