#pragma once

#include <optional>
#include <string>

// A window's controls as the window's rules read and change them, named as the forms name them
// (their objectName). Each face implements it over its own toolkit; the rules decide, the face
// only draws.
class DialogView {
 public:
  virtual ~DialogView() = default;
  // The control's text one byte a character (the box's coding); nullopt when it holds a
  // character beyond that.
  virtual std::optional<std::string> Latin1Text(const char* control) const = 0;
  // The control's text as the system spells names: UTF-8.
  virtual std::string SystemText(const char* control) const = 0;
  virtual void SetLatin1Text(const char* control, const std::string& text) = 0;
  virtual void SetSystemText(const char* control, const std::string& text) = 0;
  // A list's or a radio group's chosen item, -1 for none. Choosing by the program runs no
  // handler of the face's.
  virtual int Chosen(const char* control) const = 0;
  virtual void Choose(const char* control, int item) = 0;
  virtual void Enable(const char* control, bool enabled) = 0;
  // Shown or hidden; a box with what it holds.
  virtual void Show(const char* control, bool shown) = 0;
  // A modal message over the window; returns once the technician has closed it.
  virtual void Message(const std::string& text) = 0;
};

// The text of a control that holds a number: a character beyond one byte stands as one that no
// number reading takes, so the text is refused rather than read as another.
inline std::string TypedNumber(const DialogView& view, const char* control) {
  return view.Latin1Text(control).value_or("?");
}
