#pragma once
// The port choice's list in step with the system while the dialog is open: the names it always
// has, then the serial devices present now (an adapter plugged in appears, a pulled one
// vanishes), each shown with what the system says it is. What the user typed stays.

#include <QModelIndex>
#include <QObject>
#include <QStringList>
#include <QTimer>

class QComboBox;

class TPortList : public QObject {
  Q_OBJECT

 public:
  // An entry's description. The entry's text is the name alone: choosing it puts only the
  // name in the box; the popup shows the description after it.
  static constexpr int DescriptionRole = Qt::UserRole + 1;

  TPortList(QComboBox* combo, QStringList fixed);

  // What the popup shows of an entry: "/dev/ttyUSB0 — FT232R USB UART".
  static QString ShownText(const QModelIndex& entry);

  // The list as the system has it now.
  void Refresh();
  // Refreshes about once a second until Stop.
  void Start();
  void Stop();

 private:
  QComboBox* combo_;
  QStringList fixed_;
  QTimer timer_;
};
