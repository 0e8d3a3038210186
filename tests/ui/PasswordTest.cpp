// Placeholder until the dialog's tests are written.

#include <QTest>

class PasswordTest : public QObject {
  Q_OBJECT

 private slots:
  void placeholder() {}
};

QTEST_MAIN(PasswordTest)
#include "PasswordTest.moc"
