// Start-up when COM2 cannot be opened.

#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>

#include "Harness.h"

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void errorBoxComesBeforeTheWindow() {
    QTemporaryDir folder;  // no COM2 here
    QDir::setCurrent(folder.path());
    Gui::Boxes boxes;
    bool windowAtBox = true;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
      if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        windowAtBox = MainForm && MainForm->isVisible();
    });
    probe.start(1);
    CreateForms();
    probe.stop();
    QCOMPARE(boxes.TakeTexts(), QStringList{"E Ошибка.: Не удается создать дескриптор порта\n"
                                            "Возможно порт используется другим приложением"});
    QVERIFY(!windowAtBox && MainForm->isVisible());
    QCOMPARE(MainForm->Net->topLevelItemCount(), 0);
    QVERIFY(!MainForm->actNetScan->isEnabled() && !MainForm->actPortConfig->isEnabled() &&
            !MainForm->miNet->menuAction()->isEnabled());
    QVERIFY(MainForm->actPortSelect->isEnabled() && !ModBus::Port->Connected);
    // The reason beside the box, whose text stays as it is.
    QCOMPARE(MainForm->findChild<QLabel*>("lblPortState")->text() + " | " +
                 MainForm->StatusBar->currentMessage(),
             QStringLiteral("COM2: не открыт | Порт COM2 не открыт: нет такого порта."));
  }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
