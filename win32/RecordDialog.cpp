#include "win32/RecordDialog.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/Files.h"
#include "win32/ControlIds.h"
#include "win32/LogView.h"
#include "win32/WideText.h"

RecordDialog::RecordDialog(HWND owner, std::string where,
                           std::function<void(std::function<void()>)> post)
    : DialogWindow(IDD_RECORD, owner), Where(std::move(where)), Post(std::move(post)) {
  const HWND list = Item(IDC_grid_Boxes);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  int column = 0;
  for (const RecordColumn& shown : RecordViewColumns()) {
    std::wstring caption = WideOfUtf8(shown.Name);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.pszText = caption.data();
    c.cx = shown.Width;
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column++),
                   reinterpret_cast<LPARAM>(&c));
  }
}

RecordDialog::~RecordDialog() {
  *Alive = false;
  Stop();
}

void RecordDialog::Start() {
  if (Browser) return;
  // Called on the browser's thread: the rows are taken on the window's.
  std::weak_ptr<bool> alive = Alive;
  Browser = std::make_unique<RecordBrowser>(Where, [this, alive] {
    Post([this, alive] {
      if (alive.lock() && *alive.lock()) Refresh();
    });
  });
  SetText(IDC_lab_Where, L"Record: " + WideOfUtf8(Browser->Name()));
  FilterTyped();
}

void RecordDialog::Stop() {
  // Closed, it follows nothing.
  Browser.reset();
}

void RecordDialog::Run() {
  Start();
  Exec();
  Stop();
}

void RecordDialog::FilterTyped() {
  if (!Browser) return;
  RecordViewFilter filter;
  filter.FailedOnly = ::IsDlgButtonChecked(Handle(), IDC_chk_FailedOnly) == BST_CHECKED;
  filter.Port = Utf8OfWide(TextOf(IDC_text_FilterPort));
  filter.Label = Utf8OfWide(TextOf(IDC_text_FilterLabel));
  filter.Since = Utf8OfWide(TextOf(IDC_text_Since));
  if (const std::string problem = Browser->SetFilter(filter); !problem.empty())
    ShowMessageBox(Handle(), problem);
}

void RecordDialog::Refresh() {
  if (!Browser) return;
  std::shared_ptr<const RecordBrowser::Shown> shown = Browser->Now();
  SetText(IDC_lab_Where,
          L"Record: " + WideOfUtf8(Browser->Name()) +
              (shown->Problem.empty() ? L"" : L"  (" + WideOfUtf8(shown->Problem) + L")"));
  const std::wstring summary = WideOfUtf8(shown->Summary);
  if (TextOf(IDC_Memo_Summary) != summary) SetText(IDC_Memo_Summary, summary);
  const HWND list = Item(IDC_grid_Boxes);
  if (shown->Rows != Shown->Rows) {
    Shown = shown;
    ListView_SetItemCountEx(list, static_cast<int>(shown->Rows->size()), LVSICF_NOSCROLL);
    // The box chosen stays chosen while new ones come in above it.
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (std::size_t r = 0; !SelectedId.empty() && r < shown->Rows->size(); ++r)
      if ((*shown->Rows)[r].Id == SelectedId) {
        ListView_SetItemState(list, static_cast<int>(r), LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        break;
      }
    ::InvalidateRect(list, nullptr, FALSE);
  }
  Shown = shown;
  std::wstring steps;
  for (const BoxRecord& row : *shown->Rows)
    if (row.Id == shown->StepsOf && row.Id == SelectedId) {
      steps = WideLinesOfUtf8(RecordBrowser::StepsText(row, shown->Steps));
      break;
    }
  if (TextOf(IDC_Memo_Steps) != steps) SetText(IDC_Memo_Steps, steps);
}

int RecordDialog::RowCount() const {
  return static_cast<int>(Shown->Rows->size());
}

std::string RecordDialog::Cell(int row, int column) const {
  if (row < 0 || static_cast<std::size_t>(row) >= Shown->Rows->size()) return {};
  return RecordCell((*Shown->Rows)[static_cast<std::size_t>(row)], column);
}

std::string RecordDialog::StepsShown() const {
  return Utf8OfWide(TextOf(IDC_Memo_Steps));
}

std::string RecordDialog::SummaryShown() const {
  return Utf8OfWide(TextOf(IDC_Memo_Summary));
}

void RecordDialog::Choose(int row) {
  const HWND list = Item(IDC_grid_Boxes);
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void RecordDialog::CopyRows() {
  const HWND list = Item(IDC_grid_Boxes);
  std::vector<BoxRecord> chosen;
  for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0;
       i = ListView_GetNextItem(list, i, LVNI_SELECTED))
    if (static_cast<std::size_t>(i) < Shown->Rows->size())
      chosen.push_back((*Shown->Rows)[static_cast<std::size_t>(i)]);
  // Nothing chosen: every row shown, as Save does.
  PutOnClipboard(Handle(), WideLinesOfUtf8(RecordCsv(chosen.empty() ? *Shown->Rows : chosen)));
}

void RecordDialog::SaveCsv() {
  const std::optional<std::string> path =
      PickCsvFile
          ? PickCsvFile()
          : AskFileName(Handle(), FileQuestion::Save, L"Save as CSV",
                        L"CSV files (*.csv)\0*.csv\0All files (*)\0*.*\0", L"record.csv", L"csv");
  if (!path) return;
  const std::string why = WriteWholeFile(*path, RecordCsv(*Shown->Rows));
  if (!why.empty()) ShowMessageBox(Handle(), "Can't write " + *path + ": " + why);
}

bool RecordDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDC_chk_FailedOnly:
      FilterTyped();
      return true;
    case IDC_text_FilterPort:
    case IDC_text_FilterLabel:
    case IDC_text_Since:
      if (code == EN_KILLFOCUS) FilterTyped();
      return true;
    case IDOK:
      // Enter in a filter field applies the filter.
      FilterTyped();
      return true;
    case IDC_btn_CopyRows:
      CopyRows();
      return true;
    case IDC_btn_SaveCsv:
      SaveCsv();
      return true;
    default:
      return DialogWindow::OnCommand(id, code);
  }
}

bool RecordDialog::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR* result) {
  if (message != WM_NOTIFY) return false;
  const auto* note = reinterpret_cast<const NMHDR*>(lParam);
  if (note->hwndFrom != Item(IDC_grid_Boxes)) return false;
  if (note->code == LVN_GETDISPINFOW) {
    auto* shown = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(note));
    if ((shown->item.mask & LVIF_TEXT) && shown->item.cchTextMax > 0) {
      CellText = WideOfUtf8(Cell(shown->item.iItem, shown->item.iSubItem));
      const std::size_t n =
          std::min(CellText.size(), static_cast<std::size_t>(shown->item.cchTextMax - 1));
      std::copy_n(CellText.c_str(), n, shown->item.pszText);
      shown->item.pszText[n] = L'\0';
    }
    *result = 0;
    return true;
  }
  if (note->code == LVN_ITEMCHANGED) {
    const auto* changed = reinterpret_cast<const NMLISTVIEW*>(note);
    if ((changed->uNewState & LVIS_FOCUSED) && changed->iItem >= 0 &&
        static_cast<std::size_t>(changed->iItem) < Shown->Rows->size()) {
      SelectedId = (*Shown->Rows)[static_cast<std::size_t>(changed->iItem)].Id;
      if (Browser) Browser->WantSteps(SelectedId);
    }
    *result = 0;
    return true;
  }
  return false;
}
