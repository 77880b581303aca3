#include "qt/Main.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QUrl>

#include "platform/Files.h"
#include "qt/Dl_cfg.h"
#include "qt/Flash.h"
#include "qt/Frm_tunetest.h"
#include "qt/Latin1Text.h"
#include "qt/MessageBox.h"
#include "qt/StartUp.h"
#include "ui_Main.h"
#include "version/KelvarinVersion.h"
#include "window/StatusText.h"
#include "window/WindowEffects.h"
#include "window/WindowRules.h"
#include "wire/Words.h"

namespace {

// Lines from a flood of console text are gathered and added in one go at this interval, so
// the log never holds up the window.
constexpr int LogBatchMs = 30;
// The status bar follows an upload this often; the rate is taken over the last few seconds.
constexpr int StatusPollMs = 250;
// The central area as laid out; everything beyond it goes to the log and the entry.
constexpr int LaidOutWidth = 589;
constexpr int LaidOutHeight = 505;
// Room for the port's name in the status bar, beside its settings and a countdown.
constexpr int PortNameWidth = 200;

}  // namespace

Tform_main::Tform_main(Clock* clock, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::Tform_main>()),
      Protocol(*this, clock ? *clock : DefaultClock, ".", GuiThread) {
  ui->setupUi(this);
  move(375, 103);  // the window's place on the screen; the form only keeps its size
  // The layout's pixel geometry was drawn for an 11-pixel font (13 in the log).
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  QFont logFont = ui->Memo_Msg->font();
  logFont.setPixelSize(13);
  ui->Memo_Msg->setFont(logFont);
  ui->tbtn_UartConnect->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  ui->tbtn_UartDisconnect->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  ui->tbtn_Setting->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  ui->tbtn_Service->setIcon(style()->standardIcon(QStyle::SP_FileDialogListView));
  ui->tbtn_Help->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
  setWindowIcon(KelvarinIcon());

  connect(ui->tbtn_UartConnect, &QToolButton::clicked, this, &Tform_main::tbtn_UartConnectClick);
  connect(ui->tbtn_UartDisconnect, &QToolButton::clicked, this,
          &Tform_main::tbtn_UartDisconnectClick);
  connect(ui->tbtn_Setting, &QToolButton::clicked, this, &Tform_main::tbtn_SettingClick);
  connect(ui->Btn_DL_Cfg, &QPushButton::clicked, this, &Tform_main::Btn_DL_CfgClick);
  connect(ui->btn_CmdEraseFlash, &QPushButton::clicked, this, &Tform_main::btn_CmdEraseFlashClick);
  connect(ui->btn_CmdTuneTest, &QPushButton::clicked, this, &Tform_main::btn_CmdTuneTestClick);
  connect(ui->btn_UpdateCode, &QPushButton::clicked, this, &Tform_main::btn_UpdateCodeClick);
  connect(ui->btn_SendCmd, &QPushButton::clicked, this, &Tform_main::btn_SendCmdClick);
  connect(ui->text_Cmd, &QLineEdit::returnPressed, this, &Tform_main::text_CmdKeyPress);
  connect(ui->btn_CmdVerifyBootCode, &QPushButton::clicked, this,
          &Tform_main::btn_CmdVerifyBootCodeClick);
  connect(ui->btn_CmdVerifyApp, &QPushButton::clicked, this, &Tform_main::btn_CmdVerifyAppClick);
  connect(ui->btn_CmdLoadVer, &QPushButton::clicked, this, &Tform_main::btn_CmdLoadVerClick);
  connect(ui->btn_CmdRunApp, &QPushButton::clicked, this, &Tform_main::btn_CmdRunAppClick);
  connect(ui->btn_CmdRebootSTB, &QPushButton::clicked, this, &Tform_main::btn_CmdRebootSTBClick);
  connect(ui->tbtn_Service, &QToolButton::toggled, this, &Tform_main::tbtn_ServiceClick);

  LogTimer.setSingleShot(true);
  LogTimer.setInterval(LogBatchMs);
  connect(&LogTimer, &QTimer::timeout, this, &Tform_main::FlushLog);
  StatusTimer.setInterval(StatusPollMs);
  connect(&StatusTimer, &QTimer::timeout, this, &Tform_main::UpdateStatus);

  // The log is the box's record: it can be read, selected and copied, never edited.
  ui->Memo_Msg->setReadOnly(true);
  ui->Memo_Msg->setUndoRedoEnabled(false);
  ui->Memo_Msg->setTabChangesFocus(true);
  ui->Memo_Msg->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  ui->Memo_Msg->setMaximumBlockCount(MaxLogLines);
  ui->Memo_Msg->setAcceptDrops(false);
  BuildLogMenu();
  BuildStatusBar();
  act_About = new QAction("About Kelvarin", this);
  connect(act_About, &QAction::triggered, this, &Tform_main::ShowAbout);
  QMenu* help = new QMenu(this);
  help->addAction(act_About);
  ui->tbtn_Help->setMenu(help);
  ui->centralwidget->installEventFilter(this);
  setAcceptDrops(true);

  FormCreate();
  UpdateStatus();
}

Tform_main::~Tform_main() {
  StopWorkers();
}

void Tform_main::FormCreate() {
  ui->Memo_Msg->setPlainText(QString());
  ui->tbtn_UartDisconnect->setEnabled(false);
  ui->Memo_Msg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ui->Memo_Msg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Protocol.StartWorkers();
}

void Tform_main::Attach(Tform_uart* uart, Tform_DL_Config* dlConfig, Tform_Tune* tune,
                        TForm_EraseFlash* eraseFlash) {
  form_uart = uart;
  form_DL_Config = dlConfig;
  form_Tune = tune;
  Form_EraseFlash = eraseFlash;
  // Their geometry was drawn for this window's font; a window does not inherit it by itself.
  for (QWidget* dialog : std::initializer_list<QWidget*>{uart, dlConfig, tune, eraseFlash})
    if (dialog) dialog->setFont(font());
  Protocol.SetDlCfgView(dlConfig);
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
  Protocol.OpenPort(form_uart->Request());
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
  Protocol.UploadCodeClick([this]() -> std::optional<std::string> {
    if (PickImageFile) return PickImageFile();
    const QString path =
        QFileDialog::getOpenFileName(this, "Open", QString(), OpDia_OpenFile_Filter);
    if (path.isEmpty()) return std::nullopt;
    return FileNameOf(path);
  });
  UpdateStatus();
}

bool Tform_main::SendTypedCommand() {
  const QByteArray bytes = ui->text_Cmd->text().toLatin1();
  if (bytes.isEmpty()) return false;
  return Protocol.SendCmd(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                          static_cast<int>(bytes.size()));
}

void Tform_main::btn_SendCmdClick() {
  if (SendTypedCommand()) ui->text_Cmd->clear();
}

void Tform_main::text_CmdKeyPress() {
  // Enter keeps the text, so pressing it again sends the same command again.
  SendTypedCommand();
}

void Tform_main::btn_CmdVerifyBootCodeClick() {
  Protocol.SendLoaderCommand(Cmd::VerifyBoot);
}

void Tform_main::btn_CmdVerifyAppClick() {
  Protocol.SendLoaderCommand(Cmd::VerifyApp);
}

void Tform_main::btn_CmdLoadVerClick() {
  Protocol.LoaderVersion();
}

void Tform_main::btn_CmdRunAppClick() {
  Protocol.SendLoaderCommand(Cmd::RunApp);
}

void Tform_main::btn_CmdRebootSTBClick() {
  if (!Protocol.RebootStb()) return;
  ui->tbtn_Setting->setEnabled(false);
  ui->tbtn_UartDisconnect->setEnabled(true);
}

void Tform_main::AppendLog(const std::string& line) {
  QueueLogLine(ToQString(line));
}

void Tform_main::AppendSystemLog(const std::string& line) {
  QueueLogLine(QString::fromLocal8Bit(line));
}

void Tform_main::QueueLogLine(const QString& line) {
  if (act_Timestamps->isChecked()) {
    const QTime now = QTime::currentTime();
    PendingLog.append(
        QString::fromStdString(TimestampText(now.hour(), now.minute(), now.second(), now.msec())) +
        line);
  } else {
    PendingLog.append(line);
  }
  if (!LogTimer.isActive()) LogTimer.start();
}

void Tform_main::FlushLog() {
  LogTimer.stop();
  if (PendingLog.isEmpty()) return;
  ui->Memo_Msg->appendPlainText(PendingLog.join(QChar('\n')));
  PendingLog.clear();
}

void Tform_main::ShowMessage(const std::string& text) {
  FlushLog();  // the lines that led to the message come first
  ShowMessageBox(text);
}

void Tform_main::SetCmdControls(bool enabled) {
  CommandsEnabled = enabled;
  const ControlSet set = ControlsFor(Protocol, enabled);
  for (QWidget* control : std::initializer_list<QWidget*>{
           ui->text_Cmd, ui->btn_SendCmd, ui->btn_CmdEraseFlash, ui->btn_CmdTuneTest,
           ui->btn_CmdLoadVer, ui->btn_CmdRebootSTB, ui->btn_CmdVerifyBootCode,
           ui->btn_CmdVerifyApp, ui->btn_CmdRunApp, ui->Btn_DL_Cfg})
    control->setEnabled(set.Commands);
  ui->btn_UpdateCode->setEnabled(set.Upload);
  ui->tbtn_UartDisconnect->setEnabled(set.Disconnect);
  if (form_DL_Config) form_DL_Config->SetCommandButtonsEnabled(set.Commands);
  ui->tbtn_Setting->setEnabled(set.Setting);
  // A read-back re-arms the reply wait with every block. The progress bar follows the status
  // timer meanwhile: painting it here would hold up the request for the next block.
  if (StatusTimer.isActive() && Protocol.Progress().What != Core::WorkProgress::Job::None)
    UpdateStateLabels();
  else
    UpdateStatus();
}

void Tform_main::Line(const std::string& text, bool systemText) {
  if (systemText)
    AppendSystemLog(text);
  else
    AppendLog(text);
}

void Tform_main::Message(const std::string& text) {
  ShowMessage(text);
}

void Tform_main::On(const EngineEvent& event) {
  RenderEvent(event, *this);
  const WindowEffect effect = EffectOf(event);
  if (effect.PortOpen) {
    ui->tbtn_UartConnect->setEnabled(!*effect.PortOpen);
    ui->tbtn_UartDisconnect->setEnabled(*effect.PortOpen);
    ui->tbtn_Setting->setEnabled(!*effect.PortOpen);
  }
  if (effect.CommandControls) SetCmdControls(*effect.CommandControls);
  if (effect.UploadCaption) {
    ui->btn_UpdateCode->setText(ToQString(*effect.UploadCaption));
    ui->btn_UpdateCode->setEnabled(ControlsFor(Protocol, CommandsEnabled).Upload);
  }
  if (effect.DlCfgStatus && form_DL_Config) form_DL_Config->SetStatusCaption(*effect.DlCfgStatus);
  if (effect.ClearCommandEntry) {
    ui->text_Cmd->clear();
    ui->text_Cmd->setFocus();
  }
  if (effect.StatusChanged) UpdateStatus();
}

void Tform_main::tbtn_ServiceClick(bool checked) {
  for (QWidget* button :
       {ui->btn_CmdLoadVer, ui->btn_CmdEraseFlash, ui->btn_CmdVerifyBootCode, ui->btn_CmdVerifyApp,
        ui->btn_CmdRunApp, ui->btn_CmdTuneTest, ui->btn_CmdRebootSTB, ui->Btn_DL_Cfg})
    button->setVisible(checked);
}

void Tform_main::BuildStatusBar() {
  lab_State = new QLabel(this);
  lab_Port = new QLabel(this);
  bar_Progress = new QProgressBar(this);
  bar_Progress->setRange(0, 100);
  bar_Progress->setFormat("%p%");
  bar_Progress->setMaximumWidth(140);
  bar_Progress->setMaximumHeight(14);
  bar_Progress->hide();
  lab_Rate = new QLabel(this);
  lab_Rate->hide();
  lab_Wait = new QLabel(this);
  lab_Wait->hide();
  statusBar()->addWidget(lab_State);
  statusBar()->addWidget(lab_Port);
  statusBar()->addWidget(lab_Wait);
  statusBar()->addWidget(bar_Progress);
  statusBar()->addWidget(lab_Rate);
  // The window grows by the status bar; what was laid out above it stays where it was.
  const QSize laidOut(LaidOutWidth, LaidOutHeight + statusBar()->sizeHint().height());
  setMinimumSize(laidOut);
  resize(laidOut);
}

void Tform_main::UpdateStateLabels() {
  if (!lab_State) return;
  const QString state = QString::fromStdString(StateWord(Protocol, CommandsEnabled));
  if (lab_State->text() != state) lab_State->setText(state);
  QString port;
  QString portName;
  if (Protocol.Connected()) {
    const LineSettings& s = Protocol.PortSettings();
    portName = QString::fromLocal8Bit(Protocol.OpenPortName().c_str());
    // A /dev/serial/by-id name would push the settings out of the status bar; its middle goes.
    const QString shown =
        lab_Port->fontMetrics().elidedText(portName, Qt::ElideMiddle, PortNameWidth);
    port = QString::fromLocal8Bit(PortText(shown.toLocal8Bit().toStdString(), s));
  }
  if (lab_Port->text() != port) lab_Port->setText(port);
  if (lab_Port->toolTip() != portName) lab_Port->setToolTip(portName);
}

void Tform_main::UpdateStatus() {
  if (!lab_State) return;
  UpdateStateLabels();
  const MovingStatus moving = MovingStatusOf(Protocol, Rate);
  // The buttons are off while the box is asked; say why and for how long.
  const QString wait = QString::fromStdString(moving.Wait);
  if (lab_Wait->text() != wait) lab_Wait->setText(wait);
  lab_Wait->setVisible(!wait.isEmpty());

  // Polled only while something moves by itself. The engine tells the window when a transfer
  // or a wait starts or ends (the reply wait is armed or disarmed, the port opens or closes).
  if (!moving.Moving())
    StatusTimer.stop();
  else if (!StatusTimer.isActive())
    StatusTimer.start();
  if (moving.Percent < 0) {
    bar_Progress->hide();
    lab_Rate->hide();
    return;
  }
  if (bar_Progress->value() != moving.Percent) bar_Progress->setValue(moving.Percent);
  bar_Progress->show();
  const QString rate = QString::fromStdString(moving.Rate);
  if (lab_Rate->text() != rate) lab_Rate->setText(rate);
  lab_Rate->setVisible(!rate.isEmpty());
}

void Tform_main::BuildLogMenu() {
  act_Copy = new QAction("Copy", this);
  act_SelectAll = new QAction("Select All", this);
  act_ClearLog = new QAction("Clear Log", this);
  act_SaveLog = new QAction("Save Log As...", this);
  act_Timestamps = new QAction("Timestamps", this);
  act_Timestamps->setCheckable(true);
  connect(act_Copy, &QAction::triggered, ui->Memo_Msg, &QPlainTextEdit::copy);
  connect(act_SelectAll, &QAction::triggered, ui->Memo_Msg, &QPlainTextEdit::selectAll);
  connect(act_ClearLog, &QAction::triggered, this, &Tform_main::ClearLog);
  connect(act_SaveLog, &QAction::triggered, this, &Tform_main::SaveLogAs);
  ui->Memo_Msg->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui->Memo_Msg, &QWidget::customContextMenuRequested, this,
          &Tform_main::Memo_MsgContextMenu);
}

void Tform_main::Memo_MsgContextMenu(const QPoint& at) {
  FlushLog();
  act_Copy->setEnabled(ui->Memo_Msg->textCursor().hasSelection());
  QMenu menu(this);
  menu.addAction(act_Copy);
  menu.addAction(act_SelectAll);
  menu.addSeparator();
  menu.addAction(act_ClearLog);
  menu.addAction(act_SaveLog);
  menu.addSeparator();
  menu.addAction(act_Timestamps);
  menu.exec(ui->Memo_Msg->viewport()->mapToGlobal(at));
}

void Tform_main::ClearLog() {
  PendingLog.clear();
  LogTimer.stop();
  ui->Memo_Msg->clear();
}

void Tform_main::SaveLogAs() {
  FlushLog();
  std::optional<QString> path;
  if (PickLogFile) {
    path = PickLogFile();
  } else {
    const QString chosen = QFileDialog::getSaveFileName(this, "Save Log As", "kelvarin-log.txt",
                                                        "Text files (*.txt);;All files (*)");
    if (!chosen.isEmpty()) path = chosen;
  }
  if (!path) return;
  QString text = ui->Memo_Msg->toPlainText();
  if (!text.isEmpty()) text += '\n';
  const QByteArray bytes = text.toUtf8();
  const std::string why = WriteWholeFile(FileNameOf(*path), bytes.toStdString());
  if (!why.empty()) ShowMessage(ToLatin1("Can't write " + *path + ": ") + why);
}

std::unique_ptr<QMessageBox> Tform_main::AboutBox() {
  auto box = std::make_unique<QMessageBox>(this);
  box->setWindowTitle("About Kelvarin");
  box->setIconPixmap(windowIcon().pixmap(64, 64));
  box->setTextFormat(Qt::RichText);
  const std::vector<std::string> lines = AboutLines(
      KELVARIN_VERSION, QDir::toNativeSeparators(QDir::currentPath()).toLocal8Bit().toStdString());
  const auto html = [](const std::string& line) {
    return QString::fromLocal8Bit(line.c_str()).toHtmlEscaped();
  };
  box->setText(QString("<b>%1</b><p>%2</p>").arg(windowTitle().toHtmlEscaped(), html(lines[0])));
  box->setInformativeText(QString("%1<p>%2</p>").arg(html(lines[1]), html(lines[2])));
  return box;
}

void Tform_main::ShowAbout() {
  AboutBox()->exec();
}

bool Tform_main::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui->centralwidget && event->type() == QEvent::Resize)
    FollowCentralSize(static_cast<QResizeEvent*>(event)->size());
  return QMainWindow::eventFilter(watched, event);
}

// Everything keeps its laid-out place; the log and the entry take what the window has beyond
// its laid-out size.
void Tform_main::FollowCentralSize(const QSize& size) {
  const int dw = std::max(0, size.width() - LaidOutWidth);
  const int dh = std::max(0, size.height() - LaidOutHeight);
  ui->ToolBar1->resize(LaidOutWidth + dw, ui->ToolBar1->height());
  ui->pnl_cmd->resize(561 + dw, 401 + dh);
  ui->Memo_Msg->resize(433 + dw, 329 + dh);
  ui->text_Cmd->setGeometry(112, 352 + dh, 353 + dw, 33);
  ui->btn_SendCmd->move(472 + dw, 352 + dh);
}

std::optional<QString> Tform_main::DroppedImage(const QMimeData* data) {
  if (!data || !data->hasUrls()) return std::nullopt;
  std::vector<std::string> paths;
  for (const QUrl& url : data->urls()) {
    // A file that is no local file cannot be uploaded; it spoils the drop like a second one.
    if (!url.isLocalFile()) return std::nullopt;
    paths.push_back(FileNameOf(url.toLocalFile()));
  }
  if (!DropStartsUpload(paths, Protocol, CommandsEnabled)) return std::nullopt;
  return data->urls().front().toLocalFile();
}

void Tform_main::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppedImage(event->mimeData())) event->acceptProposedAction();
}

void Tform_main::dropEvent(QDropEvent* event) {
  const std::optional<QString> path = DroppedImage(event->mimeData());
  if (!path) return;
  event->acceptProposedAction();
  Protocol.StartUpload(FileNameOf(*path));
  UpdateStatus();
}
