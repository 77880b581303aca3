#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

#include "window/RecordBrowser.h"

namespace Ui {
class TForm_Record;
}

// The rows of the Record view: what the browser read last, drawn as asked.
class RecordRows : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;
  void Take(std::shared_ptr<const RecordBrowser::Shown> shown);
  const RecordBrowser::Shown& Shown() const { return *Data; }
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::shared_ptr<const RecordBrowser::Shown> Data = std::make_shared<RecordBrowser::Shown>();
};

// The record of the boxes, beside the window: newest first, filtered, a box's steps, the
// summary; it follows the record while it is open.
class TForm_Record : public QDialog {
  Q_OBJECT

 public:
  TForm_Record(std::string where, QWidget* parent = nullptr);
  ~TForm_Record() override;

  // The file picker of "Save as CSV..."; tests replace the file dialog with it.
  std::function<std::optional<QString>()> PickCsvFile;

  void btn_CopyRowsClick();
  void btn_SaveCsvClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  Q_INVOKABLE void Refresh();
  void FilterTyped();
  void SelectionMoved();
  std::vector<BoxRecord> Selected() const;

  std::unique_ptr<Ui::TForm_Record> ui;
  std::string Where;
  RecordRows Model;
  std::unique_ptr<RecordBrowser> Browser;
  std::string SelectedId;
};
