// Placeholder until the dialog's tests are written.

#include <QTest>

class ChannelEditorTest : public QObject {
  Q_OBJECT

 private slots:
  void placeholder() {}
};

QTEST_MAIN(ChannelEditorTest)
#include "ChannelEditorTest.moc"
