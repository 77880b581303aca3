#include "Main.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QStyle>

#include "Crc.h"
#include "Dl_cfg.h"
#include "Flash.h"
#include "Frm_tunetest.h"
#include "Latin1Text.h"
#include "MessageBox.h"
#include "Words.h"

namespace {

// Lines from a flood of console text are gathered and added in one go at this interval, so
// the log never holds up the window.
constexpr int LogBatchMs = 30;

}  // namespace

Tform_main::Tform_main(Clock* clock, QWidget* parent)
    : QMainWindow(parent), Protocol(*this, clock ? *clock : DefaultClock, ".", GuiThread) {
  ui.setupUi(this);
  move(375, 103);  // the window's place on the screen; the form only keeps its size
  // The layout's pixel geometry was drawn for an 11-pixel font (13 in the log).
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  QFont logFont = ui.Memo_Msg->font();
  logFont.setPixelSize(13);
  ui.Memo_Msg->setFont(logFont);
  ui.tbtn_UartConnect->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  ui.tbtn_UartDisconnect->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  ui.tbtn_Setting->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));

  connect(ui.tbtn_UartConnect, &QToolButton::clicked, this, &Tform_main::tbtn_UartConnectClick);
  connect(ui.tbtn_UartDisconnect, &QToolButton::clicked, this,
          &Tform_main::tbtn_UartDisconnectClick);
  connect(ui.tbtn_Setting, &QToolButton::clicked, this, &Tform_main::tbtn_SettingClick);
  connect(ui.Btn_DL_Cfg, &QPushButton::clicked, this, &Tform_main::Btn_DL_CfgClick);
  connect(ui.btn_CmdEraseFlash, &QPushButton::clicked, this, &Tform_main::btn_CmdEraseFlashClick);
  connect(ui.btn_CmdTuneTest, &QPushButton::clicked, this, &Tform_main::btn_CmdTuneTestClick);
  connect(ui.btn_UpdateCode, &QPushButton::clicked, this, &Tform_main::btn_UpdateCodeClick);
  connect(ui.btn_SendCmd, &QPushButton::clicked, this, &Tform_main::btn_SendCmdClick);
  connect(ui.text_Cmd, &QLineEdit::returnPressed, this, &Tform_main::text_CmdKeyPress);
  connect(ui.btn_CmdVerifyBootCode, &QPushButton::clicked, this,
          &Tform_main::btn_CmdVerifyBootCodeClick);
  connect(ui.btn_CmdVerifyApp, &QPushButton::clicked, this, &Tform_main::btn_CmdVerifyAppClick);
  connect(ui.btn_CmdLoadVer, &QPushButton::clicked, this, &Tform_main::btn_CmdLoadVerClick);
  connect(ui.btn_CmdRunApp, &QPushButton::clicked, this, &Tform_main::btn_CmdRunAppClick);
  connect(ui.btn_CmdRebootSTB, &QPushButton::clicked, this, &Tform_main::btn_CmdRebootSTBClick);

  LogTimer.setSingleShot(true);
  LogTimer.setInterval(LogBatchMs);
  connect(&LogTimer, &QTimer::timeout, this, &Tform_main::FlushLog);

  FormCreate();
}

Tform_main::~Tform_main() {
  StopWorkers();
}

void Tform_main::FormCreate() {
  ui.Memo_Msg->setPlainText(QString());
  ui.tbtn_UartDisconnect->setEnabled(false);
  ui.Memo_Msg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ui.Memo_Msg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  BuildCrcTable();
  Protocol.StartWorkers();
}

void Tform_main::Attach(Tform_uart* uart, Tform_DL_Config* dlConfig, Tform_Tune* tune,
                        TForm_EraseFlash* eraseFlash) {
  form_uart = uart;
  form_DL_Config = dlConfig;
  form_Tune = tune;
  Form_EraseFlash = eraseFlash;
  Protocol.DataHandler.SetDlCfgView(dlConfig);
}

void Tform_main::StopWorkers() {
  Protocol.Shutdown();
}

void Tform_main::closeEvent(QCloseEvent* event) {
  // Nothing may run against windows that are about to go.
  StopWorkers();
  FlushLog();
  event->accept();
}

void Tform_main::tbtn_UartConnectClick() {
  if (Protocol.Connected() || !form_uart) return;
  // After a failed open Setting stays usable: it is the way to fix a wrong port name.
  form_uart->UartOpen();
}

void Tform_main::tbtn_UartDisconnectClick() {
  Protocol.ClosePort();
}

void Tform_main::tbtn_SettingClick() {
  if (form_uart) form_uart->exec();
}

void Tform_main::Btn_DL_CfgClick() {
  if (!Protocol.Connected()) {
    ShowMessage("Uart does not connected");
    return;
  }
  if (form_DL_Config) form_DL_Config->exec();
}

void Tform_main::btn_CmdEraseFlashClick() {
  if (Form_EraseFlash) Form_EraseFlash->exec();
}

void Tform_main::btn_CmdTuneTestClick() {
  if (form_Tune) form_Tune->exec();
}

void Tform_main::btn_UpdateCodeClick() {
  Protocol.Upload.btn_UpdateCodeClick([this]() -> std::optional<std::string> {
    if (PickImageFile) return PickImageFile();
    const QString path =
        QFileDialog::getOpenFileName(this, "Open", QString(), OpDia_OpenFile_Filter);
    if (path.isEmpty()) return std::nullopt;
    return path.toLocal8Bit().toStdString();
  });
}

bool Tform_main::SendTypedCommand() {
  const QByteArray bytes = ui.text_Cmd->text().toLatin1();
  if (bytes.isEmpty()) return false;
  return Protocol.SendCmd(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                          static_cast<int>(bytes.size()));
}

void Tform_main::btn_SendCmdClick() {
  if (SendTypedCommand()) ui.text_Cmd->clear();
}

void Tform_main::text_CmdKeyPress() {
  // Enter keeps the text, so pressing it again sends the same command again.
  SendTypedCommand();
}

void Tform_main::btn_CmdVerifyBootCodeClick() {
  Protocol.SendCmdWord(Cmd::VerifyBoot);
}

void Tform_main::btn_CmdVerifyAppClick() {
  Protocol.SendCmdWord(Cmd::VerifyApp);
}

void Tform_main::btn_CmdLoadVerClick() {
  Protocol.LoaderVersion();
}

void Tform_main::btn_CmdRunAppClick() {
  Protocol.SendCmdWord(Cmd::RunApp);
}

void Tform_main::btn_CmdRebootSTBClick() {
  if (!Protocol.RebootStb()) return;
  ui.tbtn_Setting->setEnabled(false);
  ui.tbtn_UartDisconnect->setEnabled(true);
}

void Tform_main::AppendLog(const std::string& line) {
  PendingLog.append(ToQString(line));
  if (!LogTimer.isActive()) LogTimer.start();
}

void Tform_main::AppendSystemLog(const std::string& line) {
  PendingLog.append(QString::fromLocal8Bit(line));
  if (!LogTimer.isActive()) LogTimer.start();
}

void Tform_main::FlushLog() {
  LogTimer.stop();
  if (PendingLog.isEmpty()) return;
  ui.Memo_Msg->appendPlainText(PendingLog.join(QChar('\n')));
  PendingLog.clear();
}

void Tform_main::ShowMessage(const std::string& text) {
  FlushLog();  // the lines that led to the message come first
  ShowMessageBox(text);
}

void Tform_main::SetCmdControls(bool enabled) {
  ui.text_Cmd->setEnabled(enabled);
  ui.btn_SendCmd->setEnabled(enabled);
  ui.btn_CmdEraseFlash->setEnabled(enabled);
  ui.btn_UpdateCode->setEnabled(enabled);
  ui.btn_CmdTuneTest->setEnabled(enabled);
  ui.btn_CmdLoadVer->setEnabled(enabled);
  ui.btn_CmdRebootSTB->setEnabled(enabled);
  ui.Btn_DL_Cfg->setEnabled(enabled);
  ui.tbtn_UartDisconnect->setEnabled(enabled);
  if (form_DL_Config) form_DL_Config->SetCommandButtonsEnabled(enabled);
  ui.tbtn_Setting->setEnabled(!enabled);
}

void Tform_main::SetCaption(Caption which, const std::string& text) {
  if (which == Caption::UploadButton)
    ui.btn_UpdateCode->setText(ToQString(text));
  else if (form_DL_Config)
    form_DL_Config->SetStatusCaption(text);
}

std::string Tform_main::GetCaption(Caption which) {
  if (which == Caption::UploadButton) return ToLatin1(ui.btn_UpdateCode->text());
  return form_DL_Config ? form_DL_Config->StatusCaption() : std::string("Status");
}

void Tform_main::ClearCommandEntry() {
  ui.text_Cmd->clear();
  ui.text_Cmd->setFocus();
}

void Tform_main::Notify(const Notice& notice) {
  if (notice.Kind != EngineEvent::PortOpened && notice.Kind != EngineEvent::PortClosed) return;
  const bool open = notice.Kind == EngineEvent::PortOpened;
  ui.tbtn_UartConnect->setEnabled(!open);
  ui.tbtn_UartDisconnect->setEnabled(open);
  ui.tbtn_Setting->setEnabled(!open);
}
