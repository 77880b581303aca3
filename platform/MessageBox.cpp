#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void ShowMessageBox(const std::string& text) {
  if (Hook()) {
    Hook()(text);
    return;
  }
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QApplication::applicationName());
  box.setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  box.exec();
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(Hook(), std::move(hook));
}
