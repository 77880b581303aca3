#include "win32/LogView.h"

#include <algorithm>

#include "win32/WideText.h"
#include "window/WindowRules.h"

namespace {
// A list view draws no more of a line than this; the whole line is copied and saved.
constexpr size_t MaxDrawn = 259;
}  // namespace

void LogView::Attach(HWND list) {
  List = list;
  ListView_SetExtendedListViewStyle(List, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 100;
  ::SendMessageW(List, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  Fit();
}

void LogView::Fit() {
  RECT client{};
  ::GetClientRect(List, &client);
  const int wanted = std::max(static_cast<int>(client.right), LongestWidth + 16);
  if (ListView_GetColumnWidth(List, 0) != wanted) ListView_SetColumnWidth(List, 0, wanted);
}

void LogView::Append(const std::vector<std::wstring>& lines) {
  if (lines.empty()) return;
  const int before = static_cast<int>(Lines.size());
  const int top = ListView_GetTopIndex(List);
  const bool follow = top + ListView_GetCountPerPage(List) >= before;
  const bool selection = HasSelection();

  const size_t longest = Longest;
  for (const std::wstring& line : lines) {
    Lines.push_back(line);
    if (line.size() > Longest) {
      Longest = line.size();
      const std::wstring drawn = line.substr(0, MaxDrawn);
      LongestWidth = std::max(
          LongestWidth, static_cast<int>(::SendMessageW(List, LVM_GETSTRINGWIDTHW, 0,
                                                        reinterpret_cast<LPARAM>(drawn.c_str()))));
    }
  }
  // The oldest go; while lines are selected they may wait a little, see SelectionSlack.
  size_t excess = Lines.size() > static_cast<size_t>(MaxLogLines) ? Lines.size() - MaxLogLines : 0;
  if (selection && excess <= SelectionSlack) excess = 0;
  Lines.erase(Lines.begin(), Lines.begin() + static_cast<std::ptrdiff_t>(excess));
  const int dropped = static_cast<int>(excess);
  const int count = static_cast<int>(Lines.size());
  // Taken before the list shrinks, which forgets what was selected past its new end: the newest
  // lines.
  Marks marks;
  if (dropped > 0 && selection) marks = TakeMarks(before);
  ListView_SetItemCountEx(List, count, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  if (Longest != longest) Fit();
  if (dropped > 0 && selection) PutMarks(marks, dropped);
  if (follow) {
    ListView_EnsureVisible(List, count - 1, FALSE);
  } else if (dropped > 0) {
    // The same line stays at the top of the view.
    RECT item{};
    if (ListView_GetItemRect(List, 0, &item, LVIR_BOUNDS)) {
      const int shift = std::max(top - dropped, 0) - ListView_GetTopIndex(List);
      ListView_Scroll(List, 0, shift * (item.bottom - item.top));
    }
  }
  ::InvalidateRect(List, nullptr, FALSE);
}

LogView::Marks LogView::TakeMarks(int countBefore) const {
  Marks marks;
  marks.Focused = ListView_GetNextItem(List, -1, LVNI_FOCUSED);
  marks.Mark = ListView_GetSelectionMark(List);
  marks.All = static_cast<int>(ListView_GetSelectedCount(List)) >= countBefore;
  if (!marks.All)
    for (int i = ListView_GetNextItem(List, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(List, i, LVNI_SELECTED))
      marks.Selected.push_back(i);
  return marks;
}

void LogView::PutMarks(const Marks& marks, int dropped) {
  const int count = static_cast<int>(Lines.size());
  if (marks.All) {
    // Everything was selected: everything still is.
    ListView_SetItemState(List, -1, LVIS_SELECTED, LVIS_SELECTED);
  } else {
    ListView_SetItemState(List, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (const int i : marks.Selected)
      if (i >= dropped && i - dropped < count)
        ListView_SetItemState(List, i - dropped, LVIS_SELECTED, LVIS_SELECTED);
  }
  if (marks.Focused >= dropped)
    ListView_SetItemState(List, marks.Focused - dropped, LVIS_FOCUSED, LVIS_FOCUSED);
  ListView_SetSelectionMark(List, marks.Mark >= dropped ? marks.Mark - dropped : -1);
}

void LogView::Clear() {
  Lines.clear();
  Longest = 0;
  LongestWidth = 0;
  ListView_SetItemCountEx(List, 0, 0);
  Fit();
}

std::string LogView::Text() const {
  std::string text;
  for (const std::wstring& line : Lines) {
    text += Utf8OfWide(line);
    text += '\n';
  }
  return text;
}

bool LogView::HasSelection() const {
  return ListView_GetSelectedCount(List) > 0;
}

void LogView::SelectAll() {
  ListView_SetItemState(List, -1, LVIS_SELECTED, LVIS_SELECTED);
}

void LogView::CopySelection() {
  std::wstring text;
  for (int i = ListView_GetNextItem(List, -1, LVNI_SELECTED); i >= 0;
       i = ListView_GetNextItem(List, i, LVNI_SELECTED)) {
    text += Lines[static_cast<size_t>(i)];
    text += L"\r\n";
  }
  if (text.empty()) return;
  PutOnClipboard(List, text);
}

bool LogView::OnNotify(const NMHDR* note, LRESULT* result) {
  if (note->hwndFrom != List) return false;
  if (note->code == LVN_GETDISPINFOW) {
    auto* shown = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(note));
    const auto index = static_cast<size_t>(shown->item.iItem);
    if ((shown->item.mask & LVIF_TEXT) && shown->item.cchTextMax > 0 && index < Lines.size()) {
      // Copied: the line may go with the next batch while the list still holds its text.
      const std::wstring& line = Lines[index];
      const size_t n = std::min(line.size(), static_cast<size_t>(shown->item.cchTextMax - 1));
      std::copy_n(line.c_str(), n, shown->item.pszText);
      shown->item.pszText[n] = L'\0';
    }
    *result = 0;
    return true;
  }
  if (note->code == LVN_ODFINDITEMW) {
    // Typing in the log searches nothing: the view stays where the technician left it.
    *result = -1;
    return true;
  }
  if (note->code == LVN_KEYDOWN && (::GetKeyState(VK_CONTROL) & 0x8000)) {
    const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(note)->wVKey;
    if (key != 'C' && key != VK_INSERT) return false;
    CopySelection();
    *result = 0;
    return true;
  }
  return false;
}

void PutOnClipboard(HWND owner, const std::wstring& text) {
  // Another program may hold the clipboard for a moment.
  bool open = false;
  for (int attempt = 0; attempt < 10 && !(open = ::OpenClipboard(owner)); ++attempt) ::Sleep(10);
  if (!open) return;
  ::EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* at = ::GlobalLock(memory)) {
      std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(at));
      ::GlobalUnlock(memory);
      if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    } else {
      ::GlobalFree(memory);
    }
  }
  ::CloseClipboard();
}
