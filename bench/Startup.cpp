// Start-up as the program does it, or an empty window built the same way (LIR_EMPTY_WINDOW):
// prints "shown" and its peak memory in KiB once the window is on the screen, then ends. For
// lir-bench.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <fstream>
#include <string>

#ifndef LIR_EMPTY_WINDOW
#include "ui/main/Main.h"
#endif

int main(int argc, char** argv) {
  QApplication application(argc, argv);
#ifdef LIR_EMPTY_WINDOW
  auto* window = new QWidget;
  window->resize(800, 394);
  window->show();
#else
  CreateForms();
  QWidget* window = MainForm;
#endif
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!window->windowHandle() || !window->windowHandle()->isExposed()) return;
    // The peak of this process's own memory: the spawner's rusage would count the memory the
    // two shared before the exec.
    long peak = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmHWM:", 0) == 0) peak = std::stol(line.substr(6));
    std::printf("shown %ld\n", peak);
    std::fflush(stdout);
    QApplication::quit();
  });
  poll.start(0);
  QTimer::singleShot(20000, [] { QApplication::exit(1); });  // a box nobody answers
  return application.exec();
}
