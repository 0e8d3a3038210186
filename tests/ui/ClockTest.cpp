// Placeholder until the dialog's tests are written.

#include <QTest>

class ClockTest : public QObject {
  Q_OBJECT

 private slots:
  void placeholder() {}
};

QTEST_MAIN(ClockTest)
#include "ClockTest.moc"
