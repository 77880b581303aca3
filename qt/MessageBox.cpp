#include "qt/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

#include "qt/Latin1Text.h"

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
  box.setText(EngineText(text));
  box.exec();
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(Hook(), std::move(hook));
}
