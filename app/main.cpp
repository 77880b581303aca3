#include <QApplication>

#include "app/Windows.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kelvarin");
  Windows windows;
  windows.form_main.show();
  return QApplication::exec();
}
