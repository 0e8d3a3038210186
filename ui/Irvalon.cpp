#include <QApplication>

#include "ui/main/Main.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  CreateForms();
  return application.exec();
}
