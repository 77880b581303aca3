#include "qt/Main.h"

#include <QAbstractButton>
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
#include "qt/RecordView.h"
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
      Protocol(Model, clock ? *clock : DefaultClock, ".", GuiThread) {
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

  // Every control of the window's table does what its row says; the face only passes the press.
  for (const WindowControl& control : WindowControls()) {
    auto* button = findChild<QAbstractButton*>(control.Name);
    if (button == nullptr || control.Action == WindowAction::Service ||
        control.Action == WindowAction::Help)
      continue;
    const char* name = control.Name;
    connect(button, &QAbstractButton::clicked, this, [this, name] { Model.Pressed(name); });
  }
  connect(ui->text_Cmd, &QLineEdit::returnPressed, this, &Tform_main::text_CmdKeyPress);
  connect(ui->text_Label, &QLineEdit::textChanged, this, [this] { Model.LabelTyped(); });
  ui->tbtn_Record->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
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

  Model.Bind(Protocol);
  FormCreate();
  UpdateStatus();
}

Tform_main::~Tform_main() {
  StopWorkers();
}

void Tform_main::FormCreate() {
  ui->Memo_Msg->setPlainText(QString());
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
  Model.Attach(uart ? &uart->Presenter() : nullptr, dlConfig ? &dlConfig->Presenter() : nullptr);
}

void Tform_main::AttachRecord(WindowRecordKeeper* record) {
  Keeper = record;
  WindowRecord* boxes = record ? &record->Boxes() : nullptr;
  Model.AttachRecord(boxes);
  if (form_Tune) form_Tune->Record = boxes;
  if (Form_EraseFlash) Form_EraseFlash->Record = boxes;
}

void Tform_main::ShowRecordView() {
  if (!Keeper) {
    ShowMessageBox(
        "No record is kept: the window was started with --no-record, or this build "
        "keeps none");
    return;
  }
  if (!form_Record) {
    form_Record = std::make_unique<TForm_Record>(Keeper->Where(), this);
    form_Record->setFont(font());
  }
  form_Record->show();
  form_Record->raise();
  form_Record->activateWindow();
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
  Model.Pressed("tbtn_UartConnect");
}

void Tform_main::tbtn_UartDisconnectClick() {
  Model.Pressed("tbtn_UartDisconnect");
}

void Tform_main::tbtn_SettingClick() {
  Model.Pressed("tbtn_Setting");
}

void Tform_main::Btn_DL_CfgClick() {
  Model.Pressed("Btn_DL_Cfg");
}

void Tform_main::btn_CmdEraseFlashClick() {
  Model.Pressed("btn_CmdEraseFlash");
}

void Tform_main::btn_CmdTuneTestClick() {
  Model.Pressed("btn_CmdTuneTest");
}

void Tform_main::btn_UpdateCodeClick() {
  Model.Pressed("btn_UpdateCode");
}

void Tform_main::btn_SendCmdClick() {
  Model.Pressed("btn_SendCmd");
}

void Tform_main::text_CmdKeyPress() {
  Model.EntryEntered();
}

void Tform_main::btn_CmdVerifyBootCodeClick() {
  Model.Pressed("btn_CmdVerifyBootCode");
}

void Tform_main::btn_CmdVerifyAppClick() {
  Model.Pressed("btn_CmdVerifyApp");
}

void Tform_main::btn_CmdLoadVerClick() {
  Model.Pressed("btn_CmdLoadVer");
}

void Tform_main::btn_CmdRunAppClick() {
  Model.Pressed("btn_CmdRunApp");
}

void Tform_main::btn_CmdRebootSTBClick() {
  Model.Pressed("btn_CmdRebootSTB");
}

void Tform_main::Open(WindowAction what) {
  switch (what) {
    case WindowAction::Setting:
      if (form_uart) form_uart->exec();
      return;
    case WindowAction::ConfigDialog:
      if (form_DL_Config) form_DL_Config->exec();
      return;
    case WindowAction::FlashDialog:
      if (Form_EraseFlash) Form_EraseFlash->exec();
      return;
    case WindowAction::TuneDialog:
      if (form_Tune) form_Tune->exec();
      return;
    case WindowAction::Help:
      ui->tbtn_Help->showMenu();
      return;
    case WindowAction::RecordView:
      ShowRecordView();
      return;
    default:
      return;
  }
}

std::optional<std::string> Tform_main::PickImage() {
  if (PickImageFile) return PickImageFile();
  const QString path = QFileDialog::getOpenFileName(this, "Open", QString(), OpDia_OpenFile_Filter);
  if (path.isEmpty()) return std::nullopt;
  return FileNameOf(path);
}

void Tform_main::FocusEntry() {
  ui->text_Cmd->setFocus();
}

void Tform_main::AppendLog(const std::string& line) {
  Model.AddLogLine(line, false);
}

void Tform_main::AppendSystemLog(const std::string& line) {
  Model.AddLogLine(line, true);
}

void Tform_main::LogWaiting() {
  if (!LogTimer.isActive()) LogTimer.start();
}

void Tform_main::FlushLog() {
  LogTimer.stop();
  Model.FlushLog();
}

void Tform_main::AppendLog(const std::vector<LogLine>& lines) {
  QStringList text;
  for (const LogLine& line : lines)
    text.append(line.System
                    ? QString::fromUtf8(line.Text.data(), static_cast<qsizetype>(line.Text.size()))
                    : ToQString(line.Text));
  ui->Memo_Msg->appendPlainText(text.join(QChar('\n')));
}

void Tform_main::tbtn_ServiceClick(bool checked) {
  Model.ServiceShown(checked);
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
  ShowStateLabels(Model.Status());
}

void Tform_main::ShowStateLabels(const WindowStatus& status) {
  const QString state = QString::fromStdString(status.State);
  if (lab_State->text() != state) lab_State->setText(state);
  QString port;
  const QString portName = QString::fromUtf8(status.PortName.c_str());
  if (!status.PortName.empty()) {
    // A /dev/serial/by-id name would push the settings out of the status bar; its middle goes.
    const QString shown =
        lab_Port->fontMetrics().elidedText(portName, Qt::ElideMiddle, PortNameWidth);
    port = QString::fromUtf8(PortText(shown.toUtf8().toStdString(), status.Settings));
  }
  if (lab_Port->text() != port) lab_Port->setText(port);
  if (lab_Port->toolTip() != portName) lab_Port->setToolTip(portName);
}

void Tform_main::UpdateStatus() {
  if (!lab_State) return;
  const WindowStatus status = Model.Status();
  ShowStateLabels(status);
  const MovingStatus& moving = status.Moving;
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
  connect(act_Timestamps, &QAction::toggled, this, [this](bool on) { Model.Timestamps = on; });
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
  Model.DropWaitingLog();
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
  if (!why.empty()) Controls.Message("Can't write " + FileNameOf(*path) + ": " + why);
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
  if (!Model.WouldTake(paths)) return std::nullopt;
  return data->urls().front().toLocalFile();
}

void Tform_main::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppedImage(event->mimeData())) event->acceptProposedAction();
}

void Tform_main::dropEvent(QDropEvent* event) {
  const std::optional<QString> path = DroppedImage(event->mimeData());
  if (!path) return;
  event->acceptProposedAction();
  Model.Dropped({FileNameOf(*path)});
}
