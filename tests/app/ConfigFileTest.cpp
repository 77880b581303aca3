#include <gtest/gtest.h>

#include "link/UartConfig.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/Controls.h"

namespace {

TEST(ConfigFile, FirstStartWritesTheDefaultLineButShowsTheDialogDefaults) {
  AppFixture app;
  app.Start();
  EXPECT_EQ(app.ReadConfig(), "COM3 115200 8 0 1");  // no line end
  EXPECT_EQ(Controls(app.Uart()), (Shown{"COM1", "115200", "8", 0, 0}));

  app.Start();  // the next start reads what the first one wrote
  EXPECT_EQ(Controls(app.Uart()), (Shown{"COM3", "115200", "8", 0, 1}));
  EXPECT_EQ(Control<QComboBox>(app.Uart(), "Combo_StopBit")->currentText().toStdString(), "2");
}

TEST(ConfigFile, OkSavesTypedTextsWithoutLineEnd) {
  AppFixture app;
  app.Start();
  Control<QComboBox>(app.Uart(), "Combo_port")
      ->setEditText("/dev/serial/by-id/usb-some-long-adapter-name-if00-port0");
  Control<QComboBox>(app.Uart(), "Combo_BaudRate")->setEditText("250000");
  Control<QComboBox>(app.Uart(), "Combo_Parity")->setCurrentIndex(2);
  Control<QPushButton>(app.Uart(), "btn_UartSetting_OK")->click();
  EXPECT_EQ(app.ReadConfig(),
            "/dev/serial/by-id/usb-some-long-adapter-name-if00-port0 250000 8 2 0");
}

TEST(ConfigFile, ABaudTextThatIsNoNumberLeavesZerosAtTheNextStart) {
  AppFixture app;
  app.Start();
  Control<QComboBox>(app.Uart(), "Combo_BaudRate")->setEditText("fast");
  Control<QPushButton>(app.Uart(), "btn_UartSetting_OK")->click();
  EXPECT_EQ(app.ReadConfig(), "COM1 fast 8 0 0");
  app.Start();
  EXPECT_EQ(Controls(app.Uart()), (Shown{"COM1", "0", "0", 0, 0}));
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
}

}  // namespace
