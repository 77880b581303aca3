#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/qt/AppTestSupport.h"
#include "tests/qt/Controls.h"

namespace {

// What a start shows for each file content: fields scan like "%s %d %d %d %d", a field that
// does not scan leaves itself and those after it at zero, numbers saturate, and an index
// outside its list selects nothing.
TEST(ConfigFile, EveryContentGivesTheValuesTheRulesGive) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  const std::string longName(5000, 'X');
  const struct {
    const char* what;
    std::string content;
    Shown shown;
  } cases[] = {
      {"every field", "COM2 9600 7 1 0", {"COM2", "9600", "7", 1, 0}},
      {"missing fields", "COM2 9600", {"COM2", "9600", "0", 0, 0}},
      {"port only", "COM2", {"COM2", "0", "0", 0, 0}},
      {"empty", "", {"", "0", "0", 0, 0}},
      {"line ends and tabs", "\r\nCOM4\r\n19200\t8\r\n1\r\n0\r\n", {"COM4", "19200", "8", 1, 0}},
      {"indices outside the lists", "COM4 19200 8 7 -1", {"COM4", "19200", "8", -1, -1}},
      {"numbers beyond an int",
       "COM1 -99999999999999999999 +99999999999 2147483648 -2147483649",
       {"COM1", "-2147483648", "2147483647", -1, -1}},
      {"far larger than a line",
       "COM7 57600 7 2 1" + std::string(3 * 1024 * 1024, ' ') + "trailing",
       {"COM7", "57600", "7", 2, 1}},
      {"a long name", longName + " 99999999999999 -3", {longName, "2147483647", "-3", 0, 0}},
      {"binary", binary, {"", "0", "0", 0, 0}},
  };
  AppFixture app;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    app.WriteConfig(c.content);
    app.Start();
    EXPECT_EQ(Controls(app.Uart()), c.shown);
  }
  app.WriteConfig("COM2 9600 7 1 0");
  app.Start();
  EXPECT_EQ(Control<QComboBox>(app.Uart(), "Combo_Parity")->currentText().toStdString(), "even");
}

// OK asks for the settings to be kept: that they could not be is said, and nothing is left.
TEST(BadConfig, AFolderInPlaceOfTheFileGivesEmptyFieldsAndOkSaysItCannotWrite) {
  AppFixture app;
  ASSERT_EQ(mkdir(app.ConfigPath().c_str(), 0755), 0);
  app.Start();
  EXPECT_EQ(Controls(app.Uart()), (Shown{"", "0", "0", 0, 0}));

  Control<QComboBox>(app.Uart(), "Combo_port")->setEditText("COM2");
  Control<QPushButton>(app.Uart(), "btn_UartSetting_OK")->click();
  struct stat info {};
  ASSERT_EQ(stat(app.ConfigPath().c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(app.Boxes, std::vector<std::string>{"Can't write " + app.ConfigPath()});
  EXPECT_NE(stat((app.ConfigPath() + ".new").c_str(), &info), 0);
}

}  // namespace
