#pragma once
// The port as the main window's status bar tells it: lblPortState, on the right, names the
// port and says whether it is open, lost or not open; a loss, a return and a failed open are
// said once in the message area, never with a box per request. While the port is lost and
// the program idle, it is reopened by the same name and with its line settings as soon as the
// device is back; the device tree is not touched.

#include <QObject>
#include <QString>
#include <QTimer>

#include "platform/Serial.h"

class QLabel;
class QMainWindow;
class QStatusBar;

class TPortState : public QObject {
  Q_OBJECT

 public:
  // panelTimer: the timer that sends the commands of the held panel buttons.
  TPortState(QMainWindow* window, QStatusBar* bar, QTimer* panelTimer);

  // After an attempt to open the port (a connection): the label, and why an open failed.
  void Opened();
  // The label follows the port; a loss or a return not yet told is told.
  void Refresh();
  // A scan that met a lost port stops with a box, and leaves the loss in the message area.
  void ScanStopped();

  // Why a port could not be opened or went, as the user is told.
  static QString FaultText(Serial::Fault fault);

  QLabel* lblPortState;

 private:
  enum class State { NotOpen, Open, Lost };
  static State Now();
  static void LetGoIfLost();
  void Tick();
  void ShowState(State state);
  void Say(const QString& text);
  QString Name() const;
  QString LossText() const;

  QMainWindow* window_;
  QStatusBar* bar_;
  QTimer timer_;
  State told_ = State::NotOpen;
  QString said_;        // the last message of ours, taken back when it no longer holds
  int pauseTicks_ = 0;  // ticks without a try after one that waited out its bound
};
