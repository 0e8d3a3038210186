#include <QApplication>

#include "link/ModBus.h"
#include "ui/main/Main.h"

// irvalon [PORT]: the port to open at start instead of COM2, e.g. tcp://192.168.1.20:4001.
int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QStringList arguments = QCoreApplication::arguments();  // Qt's own options taken out
  if (arguments.size() > 1) ModBus::Port->PortName = arguments[1].toStdString();
  CreateForms();
  return application.exec();
}
