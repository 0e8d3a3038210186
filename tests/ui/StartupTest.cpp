// Start-up when COM2 cannot be opened, and the way back through the port choice.

#include <QApplication>
#include <QDir>
#include <QTest>

#include "Harness.h"
#include "link/ModBus.h"
#include "ui/main/Main.h"
#include "ui/port/PortSelect.h"

class StartupTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Boxes> boxes_;
  QString folder_;

 private slots:
  void initTestCase() {
    folder_ = QDir::tempPath() + "/lirstart" + QString::number(QCoreApplication::applicationPid());
    QDir().mkpath(folder_);
    QDir::setCurrent(folder_);  // no COM2 here
  }

  void errorBoxComesBeforeTheWindow() {
    boxes_ = std::make_unique<Gui::Boxes>();
    bool mainVisibleAtBox = true;
    boxes_->OnDialog(nullptr);
    QTimer probe;
    probe.setInterval(1);
    connect(&probe, &QTimer::timeout, this, [&] {
      if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        mainVisibleAtBox = MainForm ? MainForm->isVisible() : false;
    });
    probe.start();
    CreateForms();
    probe.stop();
    const QList<Gui::Box> seen = boxes_->Take();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].Title, QStringLiteral("Ошибка."));
    QCOMPARE(seen[0].Text, QStringLiteral("Не удается создать дескриптор порта\n"
                                          "Возможно порт используется другим приложением"));
    QCOMPARE(seen[0].Icon, QMessageBox::Critical);
    QVERIFY(!mainVisibleAtBox);
    QVERIFY(MainForm->isVisible());
  }

  void windowWithoutAPort() {
    QCOMPARE(MainForm->Net->topLevelItemCount(), 0);
    QVERIFY(!MainForm->actNetScan->isEnabled());
    QVERIFY(!MainForm->actPortConfig->isEnabled());
    QVERIFY(!MainForm->miNet->menuAction()->isEnabled());
    QVERIFY(MainForm->actPortSelect->isEnabled());
    QVERIFY(!ModBus::Port->Connected);
  }

  void choosingAPortThatOpensReconnects() {
    Gui::Line line(Sim::LineSetup{}, {Gui::Unit(1, 7)});  // makes its own folder current
    QString title, text;
    QStringList items;
    boxes_->OnDialog([&](QWidget* dialog) {
      auto* select = qobject_cast<TPortSelectForm*>(dialog);
      if (!select) return;
      title = select->windowTitle();
      text = select->PortNamer->currentText();
      for (int i = 0; i < 5; ++i)
        items << select->PortNamer->itemText(i);
      select->btnOk->click();
    });
    MainForm->actPortSelect->trigger();
    QCOMPARE(title, QStringLiteral("Выбор порта"));
    QCOMPARE(text, QStringLiteral("COM2"));
    QCOMPARE(items, (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5"}));
    QCOMPARE(boxes_->Count(), 0);
    QCOMPARE(MainForm->Net->topLevelItemCount(), 1);
    QCOMPARE(MainForm->Net->topLevelItem(0)->text(0), QStringLiteral("COM2"));
    QVERIFY(MainForm->actNetScan->isEnabled() && MainForm->actPortConfig->isEnabled());
    QVERIFY(MainForm->miNet->menuAction()->isEnabled());

    // A name typed that is no port: the box again, the actions disabled, the tree empty;
    // the dialog keeps what was typed.
    boxes_->OnDialog([](QWidget* dialog) {
      auto* select = qobject_cast<TPortSelectForm*>(dialog);
      select->PortNamer->setEditText("COM7");
      select->btnOk->click();
    });
    MainForm->actPortSelect->trigger();
    QCOMPARE(boxes_->Take().size(), 1);
    QCOMPARE(MainForm->Net->topLevelItemCount(), 0);
    QVERIFY(!MainForm->actNetScan->isEnabled());
    QCOMPARE(PortSelectForm->PortNamer->currentText(), QStringLiteral("COM7"));
    QCOMPARE(QString::fromStdString(ModBus::Port->PortName), QStringLiteral("COM7"));

    // Cancel changes nothing.
    boxes_->OnDialog([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
    MainForm->actPortSelect->trigger();
    QCOMPARE(QString::fromStdString(ModBus::Port->PortName), QStringLiteral("COM7"));
    boxes_->OnDialog(nullptr);
  }

  void cleanupTestCase() { QDir(folder_).removeRecursively(); }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
