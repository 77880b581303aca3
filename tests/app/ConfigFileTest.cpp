#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "UartConfig.h"

namespace {

TEST(ConfigFile, FirstStartWritesTheDefaultLineButShowsTheDialogDefaults) {
  AppFixture app;
  app.Start();
  EXPECT_EQ(app.ReadConfig(), "COM3 115200 8 0 1");  // no line end
  Shown first = Controls(app.Uart());
  EXPECT_EQ(first.Port, "COM1");
  EXPECT_EQ(first.Baud, "115200");
  EXPECT_EQ(first.Data, "8");
  EXPECT_EQ(first.Parity, 0);
  EXPECT_EQ(first.Stop, 0);

  app.Start();  // the next start reads what the first one wrote
  Shown second = Controls(app.Uart());
  EXPECT_EQ(second.Port, "COM3");
  EXPECT_EQ(second.Stop, 1);
  EXPECT_EQ(app.Uart().ui.Combo_StopBit->currentText().toStdString(), "2");
}

TEST(ConfigFile, ReadsEveryField) {
  AppFixture app;
  app.WriteConfig("COM2 9600 7 1 0");
  app.Start();
  Shown shown = Controls(app.Uart());
  EXPECT_EQ(shown.Port, "COM2");
  EXPECT_EQ(shown.Baud, "9600");
  EXPECT_EQ(shown.Data, "7");
  EXPECT_EQ(app.Uart().ui.Combo_Parity->currentText().toStdString(), "even");
  EXPECT_EQ(shown.Stop, 0);
}

TEST(ConfigFile, OkSavesTypedTextsWithoutLineEnd) {
  AppFixture app;
  app.Start();
  app.Uart().ui.Combo_port->setEditText("/dev/serial/by-id/usb-some-long-adapter-name-if00-port0");
  app.Uart().ui.Combo_BaudRate->setEditText("250000");
  app.Uart().ui.Combo_Parity->setCurrentIndex(2);
  app.Uart().ui.btn_UartSetting_OK->click();
  EXPECT_EQ(app.ReadConfig(),
            "/dev/serial/by-id/usb-some-long-adapter-name-if00-port0 250000 8 2 0");
}

TEST(ConfigFile, ABaudTextThatIsNoNumberLeavesZerosAtTheNextStart) {
  AppFixture app;
  app.Start();
  app.Uart().ui.Combo_BaudRate->setEditText("fast");
  app.Uart().ui.btn_UartSetting_OK->click();
  EXPECT_EQ(app.ReadConfig(), "COM1 fast 8 0 0");
  app.Start();
  Shown shown = Controls(app.Uart());
  EXPECT_EQ(shown.Port, "COM1");
  EXPECT_EQ(shown.Baud, "0");
  EXPECT_EQ(shown.Data, "0");
  EXPECT_EQ(shown.Parity, 0);
  EXPECT_EQ(shown.Stop, 0);
}

TEST(ConfigFile, AnIndexOutsideItsListSelectsNothing) {
  AppFixture app;
  app.WriteConfig("COM4 19200 8 7 -1");
  app.Start();
  EXPECT_EQ(app.Uart().ui.Combo_Parity->currentIndex(), -1);
  EXPECT_EQ(app.Uart().ui.Combo_StopBit->currentIndex(), -1);
}

TEST(ConfigFile, BadFilesNeverCrashAndGiveTheValuesTheRulesGive) {
  AppFixture app;
  app.WriteConfig("");
  app.Start();
  EXPECT_EQ(Controls(app.Uart()).Port, "");
  EXPECT_EQ(Controls(app.Uart()).Baud, "0");

  app.WriteConfig(std::string(5000, 'X') + " 99999999999999 -3");
  app.Start();
  EXPECT_EQ(Controls(app.Uart()).Port.size(), 5000u);
  EXPECT_EQ(Controls(app.Uart()).Baud, "2147483647");
  EXPECT_EQ(Controls(app.Uart()).Data, "-3");

  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  app.WriteConfig(binary);
  app.Start();
  EXPECT_EQ(Controls(app.Uart()).Baud, "0");
}

TEST(ConfigLine, ScansLikeTheCLibraryWouldButSafely) {
  UartConfig c = ParseConfigLine("  COM5\t38400\n7 2 1 trailing");
  EXPECT_EQ(c.PortName, "COM5");
  EXPECT_EQ(c.BaudRate, 38400);
  EXPECT_EQ(c.DataBits, 7);
  EXPECT_EQ(c.ParityIndex, 2);
  EXPECT_EQ(c.StopBitIndex, 1);

  UartConfig partial = ParseConfigLine("COM6 9600 x 1 1", {"old", 1, 2, 3, 4});
  EXPECT_EQ(partial.PortName, "COM6");
  EXPECT_EQ(partial.BaudRate, 9600);
  EXPECT_EQ(partial.DataBits, 2);  // the failing field and those after it keep their values
  EXPECT_EQ(partial.StopBitIndex, 4);

  EXPECT_EQ(LeadingNumber(" 115200baud"), 115200);
  EXPECT_EQ(LeadingNumber("abc"), 0);
}

}  // namespace
