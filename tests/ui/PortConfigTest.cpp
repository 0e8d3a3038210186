// Placeholder until the dialog's tests are written.

#include <QTest>

class PortConfigTest : public QObject {
  Q_OBJECT

 private slots:
  void placeholder() {}
};

QTEST_MAIN(PortConfigTest)
#include "PortConfigTest.moc"
