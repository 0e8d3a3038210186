// Placeholder until the dialog's tests are written.

#include <QTest>

class JournalTest : public QObject {
  Q_OBJECT

 private slots:
  void placeholder() {}
};

QTEST_MAIN(JournalTest)
#include "JournalTest.moc"
