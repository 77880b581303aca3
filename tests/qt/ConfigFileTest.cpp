#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "link/UartConfig.h"
#include "tests/qt/AppTestSupport.h"
#include "tests/qt/Controls.h"

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

// Cancel and Escape leave config.cfg and what Connect would take as they were when the dialog
// opened; a long port name shows its start, and the whole of it as the box's tool tip.
TEST(ConfigFile, CancelAndEscapeKeepWhatTheDialogShowedWhenItOpened) {
  AppFixture app;
  app.Start();
  const std::string path = "/dev/serial/by-id/usb-some-long-adapter-name-A601XYZ-if00-port0";
  app.WriteConfig(path + " 9600 7 1 1");
  app.Start();
  Tform_uart& uart = app.Uart();
  const Shown saved{path, "9600", "7", 1, 1};
  QComboBox* port = Control<QComboBox>(uart, "Combo_port");
  for (const bool escape : {false, true}) {
    SCOPED_TRACE(escape ? "Escape" : "Cancel");
    uart.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(port->lineEdit()->cursorPosition(), 0);
    EXPECT_EQ(port->toolTip().toStdString(), path);
    port->setEditText("COM4");
    Control<QComboBox>(uart, "Combo_BaudRate")->setEditText("57600");
    Control<QComboBox>(uart, "Combo_StopBit")->setCurrentIndex(0);
    if (escape)
      QTest::keyClick(&uart, Qt::Key_Escape);
    else
      Control<QPushButton>(uart, "btn_UartSetting_Cancel")->click();
    EXPECT_FALSE(uart.isVisible());
    EXPECT_EQ(Controls(uart), saved);
    EXPECT_EQ(uart.Request().Name, path);
    EXPECT_EQ(app.ReadConfig(), path + " 9600 7 1 1");
  }
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

// The window's dialog and the command line both open the port with what this makes of a
// config.cfg line: a line the driver cannot take must come out as one it refuses, never as a
// wrapped speed, and an index beyond its list leaves the port's own choice.
TEST(ConfigLine, BecomesTheRequestThePortIsOpenedWith) {
  struct Case {
    const char* Line;
    std::uint32_t Baud;
    int DataBits;
    std::optional<Parity> ParityMode;
    std::optional<StopBits> Stop;
  };
  const Case cases[] = {
      {"COM3 115200 8 0 0", 115200, 8, Parity::None, StopBits::One},
      {"COM3 9600 7 1 1", 9600, 7, Parity::Even, StopBits::Two},
      {"COM3 921600 8 2 0", 921600, 8, Parity::Odd, StopBits::One},
      {"COM3 -9600 8 3 2", 0, 8, std::nullopt, std::nullopt},
      {"COM3 99999999999 8 -1 -1", 2147483647u, 8, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Line);
    const PortRequest request = RequestOf(ParseConfigLine(c.Line));
    EXPECT_EQ(request.Name, "COM3");
    EXPECT_EQ(request.BaudRate, c.Baud);
    EXPECT_EQ(request.DataBits, c.DataBits);
    EXPECT_EQ(request.ParityMode, c.ParityMode);
    EXPECT_EQ(request.Stop, c.Stop);
  }
}

}  // namespace
