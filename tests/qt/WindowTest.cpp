#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAbstractItemView>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QStatusBar>
#include <QUrl>
#include <csignal>
#include <fstream>

#include "tests/qt/AppTestSupport.h"
#include "tests/qt/Controls.h"
#include "tests/support/Pty.h"
#include "version/KelvarinVersion.h"

namespace {

std::vector<QWidget*> HiddenCommandButtons(Tform_main& m) {
  return {Control<QWidget>(m, "btn_CmdLoadVer"),        Control<QWidget>(m, "btn_CmdEraseFlash"),
          Control<QWidget>(m, "btn_CmdVerifyBootCode"), Control<QWidget>(m, "btn_CmdVerifyApp"),
          Control<QWidget>(m, "btn_CmdRunApp"),         Control<QWidget>(m, "btn_CmdTuneTest"),
          Control<QWidget>(m, "btn_CmdRebootSTB"),      Control<QWidget>(m, "Btn_DL_Cfg")};
}

TEST(Window, ServiceShowsTheHiddenButtonsAtTheirPlacesAndHidesThemAgain) {
  AppFixture app;
  Tform_main& m = app.Start().form_main;
  m.show();
  QToolButton* service = Control<QToolButton>(m, "tbtn_Service");
  EXPECT_TRUE(service->isCheckable());
  EXPECT_FALSE(service->isChecked());
  EXPECT_EQ(service->size(), Control<QToolButton>(m, "tbtn_Setting")->size());
  EXPECT_GT(service->x(), Control<QToolButton>(m, "tbtn_Setting")->x());

  service->click();
  int y = 56;
  for (QWidget* b : HiddenCommandButtons(m)) {
    EXPECT_TRUE(b->isVisible()) << b->objectName().toStdString();
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();  // still offline
    // The two whose words need it are wider, beside the log all the same.
    const bool wide = b->objectName() == "btn_CmdVerifyBootCode" || b->objectName() == "Btn_DL_Cfg";
    EXPECT_EQ(b->geometry(), QRect(8, y, wide ? 102 : 97, 25)) << b->objectName().toStdString();
    y += 40;
  }
  // Every one of them switched with the command controls while visible.
  m.SetCmdControls(true);
  for (QWidget* b : HiddenCommandButtons(m))
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();

  service->click();
  for (QWidget* b : HiddenCommandButtons(m))
    EXPECT_FALSE(b->isVisible()) << b->objectName().toStdString();
}

TEST(Window, KeepsItsLaidOutSizeAsMinimumAndGivesExtraRoomToTheLog) {
  AppFixture app;
  Tform_main& m = app.Start().form_main;
  m.show();
  const int bar = m.statusBar()->height();
  EXPECT_GT(bar, 0);
  EXPECT_EQ(m.size(), QSize(589, 505 + bar));
  EXPECT_EQ(m.minimumSize(), m.size());
  EXPECT_EQ(Control<QFrame>(m, "pnl_cmd")->geometry(), QRect(8, 56, 561, 401));
  EXPECT_EQ(Control<QPlainTextEdit>(m, "Memo_Msg")->geometry(), QRect(112, 16, 433, 329));
  EXPECT_EQ(Control<QLineEdit>(m, "text_Cmd")->geometry(), QRect(112, 352, 353, 33));
  EXPECT_EQ(Control<QPushButton>(m, "btn_SendCmd")->geometry(), QRect(472, 352, 75, 33));

  m.resize(589 + 200, 505 + bar + 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(Control<QPlainTextEdit>(m, "Memo_Msg")->geometry(), QRect(112, 16, 633, 429));
  EXPECT_EQ(Control<QLineEdit>(m, "text_Cmd")->geometry(), QRect(112, 452, 553, 33));
  EXPECT_EQ(Control<QPushButton>(m, "btn_SendCmd")->geometry(), QRect(672, 452, 75, 33));
  EXPECT_EQ(Control<QPushButton>(m, "btn_UpdateCode")->geometry(), QRect(8, 16, 97, 25));

  m.resize(300, 200);
  QCoreApplication::processEvents();
  EXPECT_EQ(m.size(), QSize(589, 505 + bar));
}

// Every button of the panel shows its words whole in the fonts the machine has (Debian's
// default under a real display): at least as wide as the style asks for its text.
TEST(Window, EveryCommandButtonShowsItsWordsWhole) {
  AppFixture app;
  Tform_main& m = app.Start().form_main;
  m.show();
  Control<QToolButton>(m, "tbtn_Service")->click();
  QCoreApplication::processEvents();
  std::vector<QWidget*> buttons = HiddenCommandButtons(m);
  buttons.push_back(Control<QPushButton>(m, "btn_UpdateCode"));
  for (QWidget* button : buttons) {
    EXPECT_LE(button->sizeHint().width(), button->width()) << button->objectName().toStdString();
    // Beside the log, never over it.
    EXPECT_LT(button->geometry().right(), Control<QPlainTextEdit>(m, "Memo_Msg")->x());
  }
}

TEST(Window, TheLogCanBeSelectedAndCopiedButNotEdited) {
  AppFixture app;
  Tform_main& m = app.Start().form_main;
  m.show();
  m.AppendLog("Stop send sync byte");
  m.AppendLog("Download 43%");
  m.FlushLog();
  QPlainTextEdit* log = Control<QPlainTextEdit>(m, "Memo_Msg");
  log->setFocus();
  QTest::keyClicks(log, "typed");
  QTest::keyClick(log, Qt::Key_Backspace);
  QTest::keyClick(log, Qt::Key_Delete);
  QTest::keyClick(log, Qt::Key_Return);
  QTest::keyClick(log, Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(log, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(log, Qt::Key_Tab);
  EXPECT_EQ(app.Log(), "Stop send sync byte\nDownload 43%");
  EXPECT_EQ(log->maximumBlockCount(), 100000);

  m.act_SelectAll->trigger();
  m.act_Copy->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "Stop send sync byte\nDownload 43%");
}

TEST(Window, LogMenuSavesClearsAndStampsLines) {
  AppFixture app;
  Tform_main& m = app.Start().form_main;
  m.AppendLog("Com port set up ok");
  m.AppendLog(std::string("caf\xE9", 4));  // Latin-1 from the box
  const QString path = app.Dir.path() + "/saved.txt";
  m.PickLogFile = [&] { return std::optional<QString>(path); };
  m.act_SaveLog->trigger();
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), QByteArray("Com port set up ok\ncaf\xC3\xA9\n"));

  m.act_ClearLog->trigger();
  EXPECT_EQ(app.Log(), "");

  ASSERT_TRUE(m.act_Timestamps->isCheckable());
  m.act_Timestamps->trigger();
  m.AppendSystemLog("upload a.bin to STB start...");  // a line with a file name is stamped too
  m.AppendLog("Upload Complete");
  m.act_Timestamps->trigger();
  m.AppendLog("RS232 Disconnect");
  const QString log = QString::fromStdString(app.Log());
  const QString stamp = "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ";
  EXPECT_TRUE(QRegularExpression("^" + stamp + "upload a.bin to STB start...\n" + stamp +
                                 "Upload Complete\nRS232 Disconnect$")
                  .match(log)
                  .hasMatch())
      << log.toStdString();
}

// A disk that fills up while the log is saved: the technician is told, and no cut log is
// left under the name asked for; a file already there stays as it was.
TEST(Window, SaveLogOnAFullDiskSaysSoAndLeavesNoHalfFile) {
  AppFixture app;
  Tform_main& m = app.Start().form_main;
  for (int i = 0; i < 100; ++i) m.AppendLog("Download " + std::to_string(i) + std::string(60, '.'));
  const QString fresh = app.Dir.path() + "/fresh.txt";
  const QString earlier = app.Dir.path() + "/earlier.txt";
  {
    QFile old(earlier);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("kept\n");
  }
  // The disk holds 1 KiB more: the process may write no file past that size.
  const auto sigxfsz = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  for (const QString& path : {fresh, earlier}) {
    SCOPED_TRACE(path.toStdString());
    app.Boxes.clear();
    m.PickLogFile = [&] { return std::optional<QString>(path); };
    rlimit full = saved;
    full.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    m.act_SaveLog->trigger();
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_EQ(app.Boxes.size(), 1u);
    EXPECT_EQ(app.Boxes[0].rfind("Can't write " + path.toStdString() + ": ", 0), 0u)
        << app.Boxes[0];
  }
  std::signal(SIGXFSZ, sigxfsz);
  EXPECT_FALSE(QFile::exists(fresh));
  QFile old(earlier);
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), QByteArray("kept\n"));
  QStringList left = QDir(app.Dir.path()).entryList(QDir::Files);
  left.removeAll("config.cfg");
  EXPECT_EQ(left.join(" ").toStdString(), "earlier.txt") << "nothing half-written beside it";

  // With room again it saves.
  app.Boxes.clear();
  m.PickLogFile = [&] { return std::optional<QString>(fresh); };
  m.act_SaveLog->trigger();
  EXPECT_TRUE(app.Boxes.empty());
  EXPECT_GT(QFileInfo(fresh).size(), 1024);
}

TEST(Window, StatusBarNamesTheStateAndThePortsSettings) {
  AppFixture app;
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  Windows& w = app.Start();
  Tform_main& m = w.form_main;
  m.show();
  auto status = [&] { return (m.lab_State->text() + " | " + m.lab_Port->text()).toStdString(); };
  const std::string port = " | " + pty.SlavePath;
  EXPECT_EQ(status(), "Offline | ");
  EXPECT_FALSE(m.bar_Progress->isVisible());

  Control<QComboBox>(w.form_uart, "Combo_port")->setEditText(QString::fromStdString(pty.SlavePath));
  Control<QComboBox>(w.form_uart, "Combo_StopBit")->setCurrentIndex(1);
  Control<QToolButton>(m, "tbtn_UartConnect")->click();
  EXPECT_EQ(status(), "Waiting for loader" + port + " 115200 8N2");

  pty.Write(std::vector<std::uint8_t>{0xBB, 0x24, 0x21, 0xBE});  // the loader answers the sync
  EXPECT_TRUE(QTest::qWaitFor([&] { return m.lab_State->text() == "Ready"; }, 5000)) << status();
  auto wait = [&] { return m.lab_Wait->isVisible() ? m.lab_Wait->text().toStdString() : ""; };
  EXPECT_EQ(wait(), "");
  Control<QPushButton>(m, "btn_CmdLoadVer")->click();
  EXPECT_EQ(status(), "Busy" + port + " 115200 8N2");
  // Why the buttons are off, and for how long.
  EXPECT_EQ(wait(), "waiting for the box's answer, 20 s");
  app.Clock.Set(0, 3);
  m.UpdateStatus();
  EXPECT_EQ(wait(), "waiting for the box's answer, 17 s");
  // Disconnect is the way out of a wait, too.
  EXPECT_TRUE(Control<QToolButton>(m, "tbtn_UartDisconnect")->isEnabled());
  // Another command's word answers nothing; the loader starting afresh ends any wait.
  pty.Write(std::vector<std::uint8_t>{0xBB, 0x10, 0x21, 0x96});
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return Control<QPlainTextEdit>(m, "Memo_Msg")
            ->toPlainText()
            .contains("unexpected answer: Set DL CFG OK");
      },
      5000));
  EXPECT_EQ(status(), "Busy" + port + " 115200 8N2");
  pty.Write(std::vector<std::uint8_t>{0xBB, 0x24, 0x21, 0xBE});
  EXPECT_TRUE(QTest::qWaitFor([&] { return m.lab_State->text() == "Ready"; }, 5000)) << status();
  EXPECT_EQ(wait(), "");
  Control<QPushButton>(m, "btn_CmdRebootSTB")->click();
  EXPECT_EQ(status(), "Waiting for loader" + port + " 115200 8N2");
  Control<QToolButton>(m, "tbtn_UartDisconnect")->click();
  EXPECT_EQ(status(), "Offline | ");
}

// A /dev/serial/by-id name is long; the settings and the countdown beside it stay in view.
TEST(Window, ALongPortNameLeavesTheSettingsAndTheCountdownInView) {
  AppFixture app;
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  Windows& w = app.Start();
  Tform_main& m = w.form_main;
  m.show();
  const QString link = app.Dir.path() + "/usb-FTDI_FT232R_USB_UART_A601XYZQ-if00-port0";
  ASSERT_TRUE(QFile::link(QString::fromStdString(pty.SlavePath), link));
  Control<QComboBox>(w.form_uart, "Combo_port")->setEditText(link);
  Control<QToolButton>(m, "tbtn_UartConnect")->click();
  pty.Write(std::vector<std::uint8_t>{0xBB, 0x24, 0x21, 0xBE});
  ASSERT_TRUE(QTest::qWaitFor([&] { return m.lab_State->text() == "Ready"; }, 5000));
  Control<QPushButton>(m, "btn_CmdLoadVer")->click();
  QCoreApplication::processEvents();
  EXPECT_TRUE(m.lab_Port->text().endsWith("-if00-port0 115200 8N1"))
      << m.lab_Port->text().toStdString();
  EXPECT_EQ(m.lab_Port->toolTip(), link);
  EXPECT_EQ(m.size().width(), 589);
  for (QLabel* label : {m.lab_State, m.lab_Port, m.lab_Wait}) {
    EXPECT_TRUE(label->isVisible());
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    EXPECT_LE(label->geometry().right(), m.statusBar()->width());
  }
}

// A file dropped on the window is uploaded as "Upload Code" would, and only when it could be.
TEST(Window, ADroppedImageIsUploadedWhenUploadCodeIsEnabled) {
  AppFixture app;
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  Windows& w = app.Start();
  Tform_main& m = w.form_main;
  m.show();
  const QString image = app.Dir.path() + "/app.bin";
  std::ofstream(image.toStdString()) << "0123456789";
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(image)});
  auto drop = [&] {
    QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&m, &enter);
    QDropEvent dropped(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&m, &dropped);
    return enter.isAccepted();
  };
  EXPECT_FALSE(drop());  // offline: "Upload Code" is disabled
  EXPECT_EQ(app.Log(), "");

  Control<QComboBox>(w.form_uart, "Combo_port")->setEditText(QString::fromStdString(pty.SlavePath));
  Control<QToolButton>(m, "tbtn_UartConnect")->click();
  pty.Write(std::vector<std::uint8_t>{0xBB, 0x24, 0x21, 0xBE});
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Control<QPushButton>(m, "btn_UpdateCode")->isEnabled(); }, 5000));
  EXPECT_TRUE(drop());
  EXPECT_NE(app.Log().find("upload " + image.toStdString() + " to STB start..."), std::string::npos)
      << app.Log();
  EXPECT_EQ(Control<QPushButton>(m, "btn_UpdateCode")->text(), "Stop");
}

// The program's icon, and Help > About with the caption, the version and where the files go.
TEST(Window, HasItsIconAndAnAboutBoxWithTheVersion) {
  AppFixture app;
  Tform_main& m = app.Start().form_main;
  m.show();
  EXPECT_FALSE(m.windowIcon().isNull());
  EXPECT_FALSE(m.windowIcon().pixmap(64, 64).isNull());
  EXPECT_EQ(m.windowTitle(), "Kelvarin V5.6");

  QToolButton* help = Control<QToolButton>(m, "tbtn_Help");
  QToolButton* service = Control<QToolButton>(m, "tbtn_Service");
  EXPECT_EQ(help->size(), service->size());
  EXPECT_GE(help->x(), service->geometry().right() + 8);  // after a separator
  EXPECT_LE(help->geometry().right(), 589);
  ASSERT_NE(help->menu(), nullptr);
  EXPECT_TRUE(help->menu()->actions().contains(m.act_About));

  const std::unique_ptr<QMessageBox> about = m.AboutBox();
  const QString text = about->text() + "\n" + about->informativeText();
  EXPECT_TRUE(text.contains("Kelvarin V5.6")) << text.toStdString();
  EXPECT_TRUE(text.contains(QString("Version ") + KELVARIN_VERSION)) << text.toStdString();
  EXPECT_TRUE(text.contains(QDir::toNativeSeparators(QDir::currentPath()))) << text.toStdString();
  EXPECT_FALSE(about->iconPixmap().isNull());
}

TEST(Window, DialogsUseTheMainWindowsFont) {
  AppFixture app;
  Windows& w = app.Start();
  for (QWidget* dialog : std::initializer_list<QWidget*>{&w.form_uart, &w.form_DL_Config,
                                                         &w.form_Tune, &w.Form_EraseFlash})
    EXPECT_EQ(dialog->font().pixelSize(), 11) << dialog->objectName().toStdString();
}

// A fake machine: what /dev and /sys hold for two adapters, a modem, and two ttyS of which
// only the first has a UART.
void MakeTree(const QString& root) {
  QDir d(root);
  auto touch = [&](const QString& file, const char* content = "") {
    d.mkpath(QFileInfo(root + "/" + file).path());
    std::ofstream(QString(root + "/" + file).toStdString()) << content;
  };
  for (const char* dev : {"dev/ttyUSB1", "dev/ttyUSB0", "dev/ttyUSB10", "dev/ttyACM0", "dev/ttyS0",
                          "dev/ttyS1", "dev/tty0", "dev/ttyprintk", "dev/null"})
    touch(dev);
  d.mkpath("dev/serial/by-id");
  QFile::link(root + "/dev/ttyUSB0",
              root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A601XYZQ-if00-port0");
  QFile::link(root + "/dev/ttyACM0",
              root + "/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00");
  d.mkpath("sys/class/tty/ttyS0/device");
  touch("sys/class/tty/ttyS0/type", "4\n");
  d.mkpath("sys/class/tty/ttyS1/device");
  touch("sys/class/tty/ttyS1/type", "0\n");
}

TEST(Window, PortListOffersThePortsPresentAfterCom1ToCom8) {
  AppFixture app;
  Tform_uart& uart = app.Start().form_uart;
  const QString root = app.Dir.path() + "/machine";
  MakeTree(root);
  uart.DeviceRoot = root.toStdString();
  Control<QComboBox>(uart, "Combo_port")->setEditText("COM3");
  uart.RefreshPortList();
  uart.RefreshPortList();  // each opening scans afresh, without piling up

  QStringList shown, paths;
  for (int i = 0; i < Control<QComboBox>(uart, "Combo_port")->count(); ++i) {
    shown << Control<QComboBox>(uart, "Combo_port")->itemText(i);
    paths << Control<QComboBox>(uart, "Combo_port")->itemData(i).toString();
  }
  const QStringList expected = {
      "COM1",
      "COM2",
      "COM3",
      "COM4",
      "COM5",
      "COM6",
      "COM7",
      "COM8",
      "FTDI FT232R USB UART A601XYZQ  "
      "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A601XYZQ-if00-port0",
      "Prolific Technology Inc. USB-Serial Controller  "
      "/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00",
      "/dev/ttyUSB0",
      "/dev/ttyUSB1",
      "/dev/ttyUSB10",
      "/dev/ttyACM0",
      "/dev/ttyS0"};
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(Control<QComboBox>(uart, "Combo_port")->currentText(), "COM3");  // what was typed stays

  // Choosing a found port puts its path, not its label, into the box.
  Control<QComboBox>(uart, "Combo_port")->setCurrentIndex(8);
  EXPECT_EQ(Control<QComboBox>(uart, "Combo_port")->currentText(),
            "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A601XYZQ-if00-port0");
  Control<QComboBox>(uart, "Combo_port")->setCurrentIndex(2);
  EXPECT_EQ(Control<QComboBox>(uart, "Combo_port")->currentText(), "COM3");
  // The drop-down is wide enough for the longest entry.
  const QFontMetrics metrics(Control<QComboBox>(uart, "Combo_port")->view()->font());
  EXPECT_GE(Control<QComboBox>(uart, "Combo_port")->view()->minimumWidth(),
            metrics.horizontalAdvance(expected[9]));
}

}  // namespace
