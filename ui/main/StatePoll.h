#pragma once
// Live lamps: while "Опрос состояния" is on, the channel state of the unit whose table is
// shown is read about once a second and only the lamps change. A tick is skipped while the
// user is busy with the line (a dialog, a progress, a held panel button, a scan); a failed
// read stops the polling with a word in the status bar.

#include <QObject>
#include <QTimer>
#include <cstdint>

class QAction;
class QMainWindow;
class QStatusBar;
class QTableWidget;

class TStatePoll : public QObject {
  Q_OBJECT

 public:
  TStatePoll(QMainWindow* window, QAction* action, QTableWidget* channels, QStatusBar* bar);

  // The table now shows this unit's channels, with the lamps of `state` (-1: not read).
  void Shown(uint8_t address, int channels, int state);
  // One reading now, as a tick does it; false when it failed (the polling is then off).
  bool Poll();

 private:
  void Tick();

  QMainWindow* window_;
  QAction* action_;
  QTableWidget* channels_;
  QStatusBar* bar_;
  QTimer timer_;
  int address_ = -1;  // the unit of the table shown, -1 before any
  int count_ = 0;
  int state_ = -1;  // the state word the lamps show
};
