#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it takes for granted.
#include <commctrl.h>

#include <deque>
#include <string>
#include <vector>

// The message log: a list view that asks for the lines it shows (owner data), over the lines
// it keeps. Adding lines costs the same however long the log is, so a flood of text from the
// box never holds up the window; a line is selected and copied whole.
class LogView {
 public:
  // While lines are selected, this many beyond the log's length may wait before the oldest
  // go, so that a selection is moved along once in a while rather than with every batch.
  static constexpr size_t SelectionSlack = 10000;

  // list: the dialog's list view, made with LVS_REPORT | LVS_OWNERDATA.
  void Attach(HWND list);
  // Adds the lines; the oldest go beyond MaxLogLines. The view follows the end while it shows
  // the end; otherwise the same line stays at its top. What is selected stays selected.
  void Append(const std::vector<std::wstring>& lines);
  void Clear();
  size_t Count() const { return Lines.size(); }
  // Every line, each ending in '\n', UTF-8.
  std::string Text() const;
  bool HasSelection() const;
  void SelectAll();
  // The selected lines to the clipboard, one a line.
  void CopySelection();
  // Its notifications; true when taken (result then in *result).
  bool OnNotify(const NMHDR* note, LRESULT* result);
  // After the list changed its size or its font: the column stays as wide as the list or the
  // longest line.
  void Fit();

 private:
  // The selection, the focus and the selection mark, taken while the list still has its
  // countBefore lines, and put back where their lines are once the oldest dropped have gone.
  struct Marks {
    std::vector<int> Selected;
    bool All = false;
    int Focused = -1;
    int Mark = -1;
  };
  Marks TakeMarks(int countBefore) const;
  void PutMarks(const Marks& marks, int dropped);

  HWND List = nullptr;
  std::deque<std::wstring> Lines;
  // The longest line, in characters and as drawn.
  size_t Longest = 0;
  int LongestWidth = 0;
};

// The text on the clipboard, for any program to paste.
void PutOnClipboard(HWND owner, const std::wstring& text);
