#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>

// A window's control found by its object name, as the forms name it (the kinds the forms use
// are included here). A name that is missing
// ends the program: every later step would only fail for the same reason.
template <typename T>
T* Control(const QObject& window, const char* name) {
  T* control = window.findChild<T*>(QString::fromLatin1(name));
  if (!control) {
    std::fprintf(stderr, "%s has no %s\n", qPrintable(window.objectName()), name);
    std::abort();
  }
  return control;
}
