#include "win32/LogView.h"

#include <algorithm>

#include "win32/WideText.h"
#include "window/WindowRules.h"

void LogView::Attach(HWND list) {
  List = list;
  ListView_SetExtendedListViewStyle(List, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 100;
  ::SendMessageW(List, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  const HDC dc = ::GetDC(List);
  const HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(List, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  if (::GetTextMetricsW(dc, &metrics)) CharWidth = std::max<int>(metrics.tmAveCharWidth, 1);
  ::SelectObject(dc, old);
  ::ReleaseDC(List, dc);
  Fit();
}

void LogView::Fit() {
  RECT client{};
  ::GetClientRect(List, &client);
  const int wanted = std::max(static_cast<int>(client.right),
                              static_cast<int>(Longest) * CharWidth + 2 * CharWidth);
  if (ListView_GetColumnWidth(List, 0) != wanted) ListView_SetColumnWidth(List, 0, wanted);
}

void LogView::Append(const std::vector<std::wstring>& lines) {
  if (lines.empty()) return;
  const int before = static_cast<int>(Lines.size());
  const int top = ListView_GetTopIndex(List);
  const int perPage = ListView_GetCountPerPage(List);
  const bool follow = !HasSelection() && top + perPage >= before;
  // A contiguous selection (a click, shift and click, Select All) is kept on the same lines.
  const int first = ListView_GetNextItem(List, -1, LVNI_SELECTED);
  const int selected = static_cast<int>(ListView_GetSelectedCount(List));

  const size_t longest = Longest;
  for (const std::wstring& line : lines) {
    Lines.push_back(line);
    Longest = std::max(Longest, line.size());
  }
  int dropped = 0;
  while (Lines.size() > static_cast<size_t>(MaxLogLines)) {
    Lines.pop_front();
    ++dropped;
  }
  const int count = static_cast<int>(Lines.size());
  ListView_SetItemCountEx(List, count, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  if (Longest != longest) Fit();
  if (follow) {
    ListView_EnsureVisible(List, count - 1, FALSE);
  } else if (dropped > 0) {
    if (first >= 0) {
      ListView_SetItemState(List, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
      const int from = std::max(first - dropped, 0);
      const int to = first + selected - dropped;  // one past the last
      if (from == 0 && to >= count) {
        ListView_SetItemState(List, -1, LVIS_SELECTED, LVIS_SELECTED);
      } else {
        for (int i = from; i < to; ++i)
          ListView_SetItemState(List, i, LVIS_SELECTED, LVIS_SELECTED);
      }
    }
    // The same line stays at the top of the view.
    RECT item{};
    if (ListView_GetItemRect(List, 0, &item, LVIR_BOUNDS)) {
      const int want = std::max(top - dropped, 0);
      const int shift = want - ListView_GetTopIndex(List);
      ListView_Scroll(List, 0, shift * (item.bottom - item.top));
    }
  }
  ::InvalidateRect(List, nullptr, FALSE);
}

void LogView::Clear() {
  Lines.clear();
  Longest = 0;
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
  if (text.empty() || !::OpenClipboard(List)) return;
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

bool LogView::OnNotify(const NMHDR* note, LRESULT* result) {
  if (note->hwndFrom != List) return false;
  if (note->code == LVN_GETDISPINFOW) {
    auto* shown = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(note));
    const auto index = static_cast<size_t>(shown->item.iItem);
    if ((shown->item.mask & LVIF_TEXT) && index < Lines.size())
      // The list reads the line where it is kept; it stays there until the next trim, which
      // runs on this thread.
      shown->item.pszText = const_cast<wchar_t*>(Lines[index].c_str());
    *result = 0;
    return true;
  }
  if (note->code == LVN_KEYDOWN && (::GetKeyState(VK_CONTROL) & 0x8000)) {
    const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(note)->wVKey;
    if (key == 'C' || key == VK_INSERT) CopySelection();
    if (key == 'A') SelectAll();
    *result = 0;
    return key == 'C' || key == VK_INSERT || key == 'A';
  }
  return false;
}
