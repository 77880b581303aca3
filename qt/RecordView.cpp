#include "qt/RecordView.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <algorithm>

#include "qt/MessageBox.h"
#include "ui_RecordView.h"

namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void RecordRows::Take(std::shared_ptr<const RecordBrowser::Shown> shown) {
  beginResetModel();
  Data = std::move(shown);
  endResetModel();
}

int RecordRows::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Data->Rows->size());
}

int RecordRows::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(RecordViewColumns().size());
}

QVariant RecordRows::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() ||
      static_cast<std::size_t>(index.row()) >= Data->Rows->size())
    return {};
  return Utf8(RecordCell((*Data->Rows)[static_cast<std::size_t>(index.row())], index.column()));
}

QVariant RecordRows::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal ||
      static_cast<std::size_t>(section) >= RecordViewColumns().size())
    return {};
  return QString::fromLatin1(RecordViewColumns()[static_cast<std::size_t>(section)].Name);
}

TForm_Record::TForm_Record(std::string where, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TForm_Record>()), Where(std::move(where)) {
  ui->setupUi(this);
  setFixedSize(size());
  ui->grid_Boxes->setModel(&Model);
  ui->grid_Boxes->setSelectionBehavior(QAbstractItemView::SelectRows);
  ui->grid_Boxes->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Rows of one height, drawn only where they show: a record of 100,000 boxes scrolls smoothly.
  ui->grid_Boxes->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ui->grid_Boxes->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  ui->grid_Boxes->verticalHeader()->hide();
  ui->grid_Boxes->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  ui->grid_Boxes->horizontalHeader()->setStretchLastSection(true);
  int column = 0;
  for (const RecordColumn& c : RecordViewColumns())
    ui->grid_Boxes->setColumnWidth(column++, c.Width);
  ui->Memo_Steps->setReadOnly(true);
  ui->Memo_Summary->setReadOnly(true);
  ui->lab_Where->setTextInteractionFlags(Qt::TextSelectableByMouse);
  connect(ui->chk_FailedOnly, &QCheckBox::toggled, this, [this] { FilterTyped(); });
  for (QLineEdit* edit : {ui->text_FilterPort, ui->text_FilterLabel, ui->text_Since})
    connect(edit, &QLineEdit::editingFinished, this, [this] { FilterTyped(); });
  connect(ui->btn_CopyRows, &QPushButton::clicked, this, &TForm_Record::btn_CopyRowsClick);
  connect(ui->btn_SaveCsv, &QPushButton::clicked, this, &TForm_Record::btn_SaveCsvClick);
  connect(ui->grid_Boxes->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { SelectionMoved(); });
}

TForm_Record::~TForm_Record() = default;

void TForm_Record::showEvent(QShowEvent* event) {
  if (!Browser) {
    // Called on the browser's thread: the queued call only says that rows wait; the view takes
    // them from the browser, under the browser's own lock.
    Browser = std::make_unique<RecordBrowser>(
        Where, [this] { QMetaObject::invokeMethod(this, "Refresh", Qt::QueuedConnection); });
    ui->lab_Where->setText("Record: " + Utf8(Browser->Name()));
    FilterTyped();
  }
  QDialog::showEvent(event);
}

void TForm_Record::hideEvent(QHideEvent* event) {
  // Closed, it follows nothing.
  Browser.reset();
  QDialog::hideEvent(event);
}

void TForm_Record::FilterTyped() {
  if (!Browser) return;
  RecordViewFilter filter;
  filter.FailedOnly = ui->chk_FailedOnly->isChecked();
  filter.Port = ui->text_FilterPort->text().trimmed().toStdString();
  filter.Label = ui->text_FilterLabel->text().trimmed().toStdString();
  filter.Since = ui->text_Since->text().trimmed().toStdString();
  if (const std::string problem = Browser->SetFilter(filter); !problem.empty())
    ShowMessageBox(problem);
}

void TForm_Record::Refresh() {
  if (!Browser) return;
  std::shared_ptr<const RecordBrowser::Shown> shown = Browser->Now();
  ui->lab_Where->setText("Record: " + Utf8(Browser->Name()) +
                         (shown->Problem.empty() ? QString() : "  (" + Utf8(shown->Problem) + ")"));
  const bool rowsChanged = shown->Rows != Model.Shown().Rows;
  const QString summary = Utf8(shown->Summary);
  if (ui->Memo_Summary->toPlainText() != summary) ui->Memo_Summary->setPlainText(summary);
  if (rowsChanged) {
    // The box chosen stays chosen while new ones come in above it.
    const std::string keep = SelectedId;
    const int scrolled = ui->grid_Boxes->verticalScrollBar()->value();
    Model.Take(shown);
    for (std::size_t r = 0; !keep.empty() && r < shown->Rows->size(); ++r)
      if ((*shown->Rows)[r].Id == keep) {
        ui->grid_Boxes->selectionModel()->setCurrentIndex(
            Model.index(static_cast<int>(r), 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        break;
      }
    ui->grid_Boxes->verticalScrollBar()->setValue(scrolled);
  }
  QString steps;
  for (const BoxRecord& row : *shown->Rows)
    if (row.Id == shown->StepsOf && row.Id == SelectedId) {
      steps = Utf8(RecordBrowser::StepsText(row, shown->Steps));
      break;
    }
  if (ui->Memo_Steps->toPlainText() != steps) ui->Memo_Steps->setPlainText(steps);
}

void TForm_Record::SelectionMoved() {
  const QModelIndex current = ui->grid_Boxes->selectionModel()->currentIndex();
  const auto& rows = *Model.Shown().Rows;
  if (!current.isValid() || static_cast<std::size_t>(current.row()) >= rows.size()) return;
  SelectedId = rows[static_cast<std::size_t>(current.row())].Id;
  if (Browser) Browser->WantSteps(SelectedId);
}

std::vector<BoxRecord> TForm_Record::Selected() const {
  std::vector<BoxRecord> chosen;
  const auto& rows = *Model.Shown().Rows;
  for (const QModelIndex& index : ui->grid_Boxes->selectionModel()->selectedRows())
    if (static_cast<std::size_t>(index.row()) < rows.size())
      chosen.push_back(rows[static_cast<std::size_t>(index.row())]);
  // Newest first, as shown.
  std::sort(chosen.begin(), chosen.end(),
            [](const BoxRecord& a, const BoxRecord& b) { return a.Started > b.Started; });
  return chosen;
}

void TForm_Record::btn_CopyRowsClick() {
  const std::vector<BoxRecord> chosen = Selected();
  // Nothing chosen: every row shown, as Save does.
  QApplication::clipboard()->setText(
      Utf8(RecordCsv(chosen.empty() ? *Model.Shown().Rows : chosen)));
}

void TForm_Record::btn_SaveCsvClick() {
  std::optional<QString> path;
  if (PickCsvFile) {
    path = PickCsvFile();
  } else {
    const QString picked =
        QFileDialog::getSaveFileName(this, "Save as CSV", "record.csv", "CSV files (*.csv)");
    if (!picked.isEmpty()) path = picked;
  }
  if (!path) return;
  QFile file(*path);
  const std::string csv = RecordCsv(*Model.Shown().Rows);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.flush())
    ShowMessageBox(("Can't write " + *path + ": " + file.errorString()).toUtf8().toStdString());
}
