#include <gtest/gtest.h>

#include <algorithm>

#include "platform/SerialPort.h"
#include "tests/qt/AppTestSupport.h"
#include "tests/qt/Controls.h"
#include "tests/support/Pty.h"
#include "tests/support/TestBytes.h"

namespace {

struct ToolBar {
  bool Connect, Disconnect, Setting;
};

ToolBar Tools(Tform_main& m) {
  return {Control<QToolButton>(m, "tbtn_UartConnect")->isEnabled(),
          Control<QToolButton>(m, "tbtn_UartDisconnect")->isEnabled(),
          Control<QToolButton>(m, "tbtn_Setting")->isEnabled()};
}

// The controls that SetCmdControls switches together.
std::vector<QWidget*> CommandControls(Windows& w) {
  return {Control<QWidget>(w.form_main, "text_Cmd"),
          Control<QWidget>(w.form_main, "btn_SendCmd"),
          Control<QWidget>(w.form_main, "btn_CmdEraseFlash"),
          Control<QWidget>(w.form_main, "btn_UpdateCode"),
          Control<QWidget>(w.form_main, "btn_CmdTuneTest"),
          Control<QWidget>(w.form_main, "btn_CmdLoadVer"),
          Control<QWidget>(w.form_main, "btn_CmdRebootSTB"),
          Control<QWidget>(w.form_main, "Btn_DL_Cfg"),
          w.form_DL_Config.findChild<QWidget*>("btn_GetDLCfg"),
          w.form_DL_Config.findChild<QWidget*>("btn_SetDLCfg"),
          w.form_DL_Config.findChild<QWidget*>("btn_SetDefaultDLCfg")};
}

bool AllEnabled(const std::vector<QWidget*>& ws, bool enabled) {
  return std::all_of(ws.begin(), ws.end(),
                     [&](QWidget* w) { return w && w->isEnabled() == enabled; });
}

bool ContainsSync(const std::vector<std::uint8_t>& bytes) {
  return std::search(bytes.begin(), bytes.end(), kSyncWord.begin(), kSyncWord.end()) != bytes.end();
}

TEST(MainWindow, StartsOfflineWithTheLayoutsControls) {
  AppFixture app;
  Windows& w = app.Start();
  EXPECT_EQ(w.form_main.windowTitle().toStdString(), "Kelvarin V5.6");
  EXPECT_EQ(app.Log(), "");
  ToolBar t = Tools(w.form_main);
  EXPECT_TRUE(t.Connect);
  EXPECT_FALSE(t.Disconnect);
  EXPECT_TRUE(t.Setting);
  EXPECT_TRUE(Control<QWidget>(w.form_main, "text_Cmd")->isEnabled());
  EXPECT_TRUE(Control<QWidget>(w.form_main, "btn_SendCmd")->isEnabled());
  for (QWidget* b : {Control<QWidget>(w.form_main, "btn_UpdateCode"),
                     Control<QWidget>(w.form_main, "btn_CmdLoadVer"),
                     Control<QWidget>(w.form_main, "btn_CmdEraseFlash"),
                     Control<QWidget>(w.form_main, "btn_CmdVerifyBootCode"),
                     Control<QWidget>(w.form_main, "btn_CmdVerifyApp"),
                     Control<QWidget>(w.form_main, "btn_CmdRunApp"),
                     Control<QWidget>(w.form_main, "btn_CmdTuneTest"),
                     Control<QWidget>(w.form_main, "btn_CmdRebootSTB"),
                     Control<QWidget>(w.form_main, "Btn_DL_Cfg")})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  // Only "Upload Code" of the command buttons is meant to be seen.
  EXPECT_FALSE(Control<QWidget>(w.form_main, "btn_UpdateCode")->isHidden());
  for (QWidget* b : {Control<QWidget>(w.form_main, "btn_CmdLoadVer"),
                     Control<QWidget>(w.form_main, "btn_CmdEraseFlash"),
                     Control<QWidget>(w.form_main, "btn_CmdVerifyBootCode"),
                     Control<QWidget>(w.form_main, "btn_CmdVerifyApp"),
                     Control<QWidget>(w.form_main, "btn_CmdRunApp"),
                     Control<QWidget>(w.form_main, "btn_CmdTuneTest"),
                     Control<QWidget>(w.form_main, "btn_CmdRebootSTB"),
                     Control<QWidget>(w.form_main, "Btn_DL_Cfg")})
    EXPECT_TRUE(b->isHidden()) << b->objectName().toStdString();
}

TEST(MainWindow, ACommandTypedBeforeConnectingIsRefused) {
  AppFixture app;
  Windows& w = app.Start();
  Control<QLineEdit>(w.form_main, "text_Cmd")->setText("abcd");
  Control<QPushButton>(w.form_main, "btn_SendCmd")->click();
  EXPECT_EQ(app.Boxes, std::vector<std::string>{"Uart does not connected"});
  EXPECT_EQ(Control<QLineEdit>(w.form_main, "text_Cmd")->text(), "");
  EXPECT_EQ(app.Log(), "");
}

TEST(MainWindow, DownloadConfigNeedsAnOpenPort) {
  AppFixture app;
  Windows& w = app.Start();
  w.form_main.Btn_DL_CfgClick();
  EXPECT_EQ(app.Boxes, std::vector<std::string>{"Uart does not connected"});
  EXPECT_FALSE(w.form_DL_Config.isVisible());
}

TEST(Connection, FailedConnectKeepsSettingUsable) {
  AppFixture app;
  Windows& w = app.Start();
  Control<QComboBox>(w.form_uart, "Combo_port")->setEditText("/dev/no-such-port-here");
  Control<QToolButton>(w.form_main, "tbtn_UartConnect")->click();
  EXPECT_EQ(app.Boxes, std::vector<std::string>{"Can't open /dev/no-such-port-here"});
  ToolBar t = Tools(w.form_main);
  EXPECT_TRUE(t.Connect);
  EXPECT_FALSE(t.Disconnect);
  EXPECT_TRUE(t.Setting);
  EXPECT_FALSE(w.form_main.core().Connected());
}

TEST(Connection, ABaudRateOfZeroCannotBeSet) {
  AppFixture app;
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  Windows& w = app.Start();
  Control<QComboBox>(w.form_uart, "Combo_port")->setEditText(QString::fromStdString(pty.SlavePath));
  Control<QComboBox>(w.form_uart, "Combo_BaudRate")->setEditText("none");
  w.form_main.tbtn_UartConnectClick();
  EXPECT_EQ(app.Boxes, std::vector<std::string>{"Can't set " + pty.SlavePath});
  EXPECT_FALSE(w.form_main.core().Connected());
  EXPECT_TRUE(Tools(w.form_main).Connect);
}

// The message box keeps its words; the log says why.
TEST(Connection, AFailedConnectLogsWhy) {
  struct Case {
    const char* What;
    std::string Port;
    const char* Baud;
    std::string Box;
    std::string LogLine;
  };
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  SerialPort other;
  const std::string missing = "/dev/kelvarin-no-such-port";
  const Case cases[] = {
      {"missing device", missing, "115200", "Can't open " + missing,
       "Can't open " + missing + ": no such device"},
      {"port in use", pty.SlavePath, "115200", "Can't open " + pty.SlavePath,
       "Can't open " + pty.SlavePath + ": in use by another program"},
      {"baud rate 0", pty.SlavePath, "0", "Can't set " + pty.SlavePath,
       "Can't set " + pty.SlavePath + ": baud rate 0 is not a speed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    if (std::string(c.What) == "port in use")
      ASSERT_TRUE(other.OpenExclusive(pty.SlavePath));
    else
      other.Close();
    AppFixture app;
    Windows& w = app.Start();
    Control<QComboBox>(w.form_uart, "Combo_port")->setEditText(QString::fromStdString(c.Port));
    Control<QComboBox>(w.form_uart, "Combo_BaudRate")->setEditText(c.Baud);
    Control<QToolButton>(w.form_main, "tbtn_UartConnect")->click();
    EXPECT_EQ(app.Boxes, std::vector<std::string>{c.Box});
    EXPECT_EQ(app.Log(), c.LogLine);
    EXPECT_FALSE(w.form_main.core().Connected());
  }
}

TEST(Connection, ConnectSyncDisconnectAndConnectAgain) {
  AppFixture app;
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  Windows& w = app.Start();
  Control<QComboBox>(w.form_uart, "Combo_port")->setEditText(QString::fromStdString(pty.SlavePath));

  Control<QToolButton>(w.form_main, "tbtn_UartConnect")->click();
  ASSERT_TRUE(app.Boxes.empty()) << app.Boxes.front();
  EXPECT_TRUE(w.form_main.core().Connected());
  EXPECT_TRUE(app.WaitForLog("Com port set up ok"));
  ToolBar waiting = Tools(w.form_main);
  EXPECT_FALSE(waiting.Connect);
  EXPECT_TRUE(waiting.Disconnect);
  EXPECT_FALSE(waiting.Setting);

  // The tool repeats the sync word until the box answers it.
  std::vector<std::uint8_t> seen;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        auto more = pty.Read(10);
        seen.insert(seen.end(), more.begin(), more.end());
        return seen.size() >= 15;
      },
      3000));
  EXPECT_TRUE(ContainsSync(seen));

  // A second connect while connected does nothing at all.
  w.form_main.tbtn_UartConnectClick();
  EXPECT_TRUE(app.Boxes.empty());
  const std::string log = app.Log();
  EXPECT_EQ(log.find("Com port set up ok"), log.rfind("Com port set up ok"));

  pty.Write(std::vector<std::uint8_t>{0xBB, 0x24, 0x21, 0xBE});
  EXPECT_TRUE(app.WaitForLog("Stop send sync byte"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return AllEnabled(CommandControls(w), true); }, 10000));
  EXPECT_FALSE(Tools(w.form_main).Setting);
  pty.Read(200, 1000);  // drain
  EXPECT_TRUE(pty.Read(300).empty()) << "the sync word must stop once answered";

  Control<QToolButton>(w.form_main, "tbtn_UartDisconnect")->click();
  EXPECT_TRUE(app.WaitForLog("RS232 Disconnect"));
  ToolBar offline = Tools(w.form_main);
  EXPECT_TRUE(offline.Connect);
  EXPECT_FALSE(offline.Disconnect);
  EXPECT_TRUE(offline.Setting);
  EXPECT_TRUE(AllEnabled(CommandControls(w), false));

  // Connected again, everything stays off until the box answers the sync word.
  Control<QToolButton>(w.form_main, "tbtn_UartConnect")->click();
  EXPECT_TRUE(w.form_main.core().Connected());
  EXPECT_TRUE(AllEnabled(CommandControls(w), false));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ContainsSync(pty.Read(50, 10)); }, 10000));
}

TEST(Connection, ASecondProgramCannotOpenThePort) {
  AppFixture app;
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  Windows& w = app.Start();
  Control<QComboBox>(w.form_uart, "Combo_port")->setEditText(QString::fromStdString(pty.SlavePath));
  w.form_main.tbtn_UartConnectClick();
  ASSERT_TRUE(w.form_main.core().Connected());

  SerialPort other;
  EXPECT_FALSE(other.OpenExclusive(pty.SlavePath));
  w.form_main.tbtn_UartDisconnectClick();
  EXPECT_TRUE(other.OpenExclusive(pty.SlavePath));
}

// When the wait runs out is the watchdog's own business; the window's part is which controls
// the wait switches, and that the transmit worker checks it even while no port is open.
TEST(ReplyTimeoutWatchdog, ArmingSwitchesTheControlsAndTheWorkerFiresIt) {
  AppFixture app;
  Windows& w = app.Start();
  app.Clock.Set(10, 0);
  // "Set Config" waits for the box's answer even when the record could not be sent.
  const std::uint8_t record[100] = {};
  w.form_main.core().SetDlCfg(record);
  EXPECT_EQ(app.Boxes, std::vector<std::string>{"Uart does not connected"});
  EXPECT_FALSE(Control<QLineEdit>(w.form_main, "text_Cmd")->isEnabled());
  EXPECT_TRUE(Tools(w.form_main).Setting);
  app.Clock.Set(10, 30);
  EXPECT_TRUE(QTest::qWaitFor([&] { return app.Boxes.size() > 1; }, 10000));
  EXPECT_EQ(app.Boxes, (std::vector<std::string>{"Uart does not connected", "Timeout!!"}));
  EXPECT_TRUE(AllEnabled(CommandControls(w), true));
}

}  // namespace
