#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "win32/DialogWindow.h"
#include "window/RecordBrowser.h"

// The record of the boxes over the main window: newest first, filtered, a box's steps, the
// summary, Copy and Save as CSV. It follows the record while it is open.
class RecordDialog : public DialogWindow {
 public:
  // post: runs a routine on the window's thread (the browser calls from its own).
  RecordDialog(HWND owner, std::string where, std::function<void(std::function<void()>)> post);
  ~RecordDialog() override;

  // Shows it until the technician closes it; the record is followed meanwhile.
  void Run();
  // Shown as Run shows it, for a test that drives it without a modal loop; Stop ends it.
  void Start();
  void Stop();

  // The rows in the list now, and the steps shown.
  int RowCount() const;
  std::string Cell(int row, int column) const;
  std::string StepsShown() const;
  std::string SummaryShown() const;
  void Choose(int row);
  void FilterTyped();
  void CopyRows();
  void SaveCsv();
  // The file picker of "Save as CSV..."; tests replace the file dialog with it.
  std::function<std::optional<std::string>()> PickCsvFile;

 protected:
  bool OnCommand(int id, int code) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  void Refresh();

  std::string Where;
  std::function<void(std::function<void()>)> Post;
  std::unique_ptr<RecordBrowser> Browser;
  std::shared_ptr<const RecordBrowser::Shown> Shown = std::make_shared<RecordBrowser::Shown>();
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
  std::string SelectedId;
  std::wstring CellText;  // the text a row's cell was last asked for, kept while the list reads it
};
