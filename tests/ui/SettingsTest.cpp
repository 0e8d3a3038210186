// Placeholder until the dialog's tests are written.

#include <QTest>

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void placeholder() {}
};

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
