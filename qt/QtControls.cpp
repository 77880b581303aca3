#include "qt/QtControls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

#include "qt/Latin1Text.h"
#include "qt/MessageBox.h"

namespace {

// A radio group's buttons in the order its items count.
QList<QRadioButton*> RadioButtons(QWidget* group) {
  return group->findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace

QWidget* QtControls::Find(const char* control) const {
  if (Root.objectName() == control) return &Root;
  return Root.findChild<QWidget*>(QString::fromLatin1(control));
}

QString QtControls::Text(const char* control) const {
  QWidget* widget = Find(control);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* list = qobject_cast<QComboBox*>(widget)) return list->currentText();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return {};
}

void QtControls::SetText(const char* control, const QString& text) {
  QWidget* widget = Find(control);
  if (auto* edit = qobject_cast<QLineEdit*>(widget))
    edit->setText(text);
  else if (auto* list = qobject_cast<QComboBox*>(widget))
    list->setEditText(text);
  else if (auto* label = qobject_cast<QLabel*>(widget))
    label->setText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(widget))
    button->setText(text);
}

std::optional<std::string> QtControls::Latin1Text(const char* control) const {
  return ExactLatin1(Text(control));
}

std::string QtControls::SystemText(const char* control) const {
  return FileNameOf(Text(control));
}

void QtControls::SetLatin1Text(const char* control, const std::string& text) {
  SetText(control, ToQString(text));
}

void QtControls::SetSystemText(const char* control, const std::string& text) {
  SetText(control, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

int QtControls::Chosen(const char* control) const {
  QWidget* widget = Find(control);
  if (auto* list = qobject_cast<QComboBox*>(widget)) return list->currentIndex();
  if (widget == nullptr) return -1;
  const QList<QRadioButton*> buttons = RadioButtons(widget);
  for (qsizetype i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isChecked()) return static_cast<int>(i);
  return -1;
}

void QtControls::Choose(const char* control, int item) {
  QWidget* widget = Find(control);
  if (auto* list = qobject_cast<QComboBox*>(widget)) {
    // An item beyond the list chooses none.
    list->setCurrentIndex(item >= 0 && item < list->count() ? item : -1);
    return;
  }
  if (widget == nullptr) return;
  const QList<QRadioButton*> buttons = RadioButtons(widget);
  if (item < 0 || item >= buttons.size()) return;
  // The program's choice runs no handler: the rules that made it act on it themselves. The
  // group tells of a toggle besides the button.
  const QSignalBlocker quietGroup(buttons[item]->group());
  const QSignalBlocker quiet(buttons[item]);
  buttons[item]->setChecked(true);
}

void QtControls::Enable(const char* control, bool enabled) {
  if (QWidget* widget = Find(control)) widget->setEnabled(enabled);
}

void QtControls::Show(const char* control, bool shown) {
  if (QWidget* widget = Find(control)) widget->setVisible(shown);
}

void QtControls::Message(const std::string& text) {
  ShowMessageBox(text);
}
