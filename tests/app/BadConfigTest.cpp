#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AppTestSupport.h"

namespace {

TEST(BadConfig, FieldsThatAreMissingStayZero) {
  AppFixture app;
  app.WriteConfig("COM2 9600");
  app.Start();
  Shown shown = Controls(app.Uart());
  EXPECT_EQ(shown.Port, "COM2");
  EXPECT_EQ(shown.Baud, "9600");
  EXPECT_EQ(shown.Data, "0");
  EXPECT_EQ(shown.Parity, 0);
  EXPECT_EQ(shown.Stop, 0);

  app.WriteConfig("COM2");
  app.Start();
  shown = Controls(app.Uart());
  EXPECT_EQ(shown.Port, "COM2");
  EXPECT_EQ(shown.Baud, "0");
}

TEST(BadConfig, NumbersBeyondAnIntSaturateBothWays) {
  AppFixture app;
  app.WriteConfig("COM1 -99999999999999999999 +99999999999 2147483648 -2147483649");
  app.Start();
  Shown shown = Controls(app.Uart());
  EXPECT_EQ(shown.Baud, "-2147483648");
  EXPECT_EQ(shown.Data, "2147483647");
  // Indices that large select nothing rather than reaching past the lists.
  EXPECT_EQ(shown.Parity, -1);
  EXPECT_EQ(shown.Stop, -1);
}

TEST(BadConfig, AFileFarLargerThanALineIsReadWithoutTrouble) {
  AppFixture app;
  std::string huge = "COM7 57600 7 2 1";
  huge += std::string(3 * 1024 * 1024, ' ') + "trailing";
  app.WriteConfig(huge);
  app.Start();
  Shown shown = Controls(app.Uart());
  EXPECT_EQ(shown.Port, "COM7");
  EXPECT_EQ(shown.Baud, "57600");
  EXPECT_EQ(shown.Parity, 2);
  EXPECT_EQ(shown.Stop, 1);
}

TEST(BadConfig, AFolderInPlaceOfTheFileGivesEmptyFieldsAndOkLeavesItAlone) {
  AppFixture app;
  ASSERT_EQ(mkdir(app.ConfigPath().c_str(), 0755), 0);
  app.Start();
  Shown shown = Controls(app.Uart());
  EXPECT_EQ(shown.Port, "");
  EXPECT_EQ(shown.Baud, "0");
  EXPECT_EQ(shown.Data, "0");

  app.Uart().ui.Combo_port->setEditText("COM2");
  app.Uart().ui.btn_UartSetting_OK->click();
  struct stat info {};
  ASSERT_EQ(stat(app.ConfigPath().c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_TRUE(app.Boxes.empty());
}

TEST(BadConfig, LineEndsAndTabsBetweenFieldsAreBlanks) {
  AppFixture app;
  app.WriteConfig("\r\nCOM4\r\n19200\t8\r\n1\r\n0\r\n");
  app.Start();
  Shown shown = Controls(app.Uart());
  EXPECT_EQ(shown.Port, "COM4");
  EXPECT_EQ(shown.Baud, "19200");
  EXPECT_EQ(shown.Data, "8");
  EXPECT_EQ(shown.Parity, 1);
  EXPECT_EQ(shown.Stop, 0);
}

}  // namespace
