// A full scan of the line: every address 0..255 asked exactly once, in order, the units
// listed by address. Slow by nature (each silent address waits out the read time-out).

#include <QApplication>
#include <QTest>

#include "Harness.h"
#include "ui/dialogs/Progress.h"
#include "ui/main/Main.h"

class ScanTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;

 private slots:
  void initTestCase() {
    line_ = std::make_unique<Gui::Line>(
        Sim::LineSetup{},
        std::vector<Sim::UnitSetup>{Gui::Unit(3, 7), Gui::Unit(1, 6), Gui::Unit(255, 5)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
  }

  void everyAddressOnceInOrder() {
    int lastBar = 0, lastLabel = -1;
    bool labelsInOrder = true;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, this, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<TProgressForm*>(w); p && p->isVisible()) {
          lastBar = p->pbProgress->value();
          const int label = p->Label1->text().section(' ', -1).toInt();
          labelsInOrder = labelsInOrder && label >= lastLabel;
          lastLabel = label;
        }
    });
    watch.start();
    MainForm->actNetScan->trigger();
    watch.stop();

    QCOMPARE(boxes_->Count(), 0);
    QVERIFY(labelsInOrder);
    QCOMPARE(lastBar, 255);  // full from address 253 on, never wrapped
    QVERIFY(lastLabel >= 250);
    QCOMPARE(line_->Sim().TotalRequests(), 256u);
    for (int address : {0, 2, 128, 254})
      QCOMPARE(line_->Sim().RequestCount(address), 1u);
    QTreeWidgetItem* root = MainForm->Net->topLevelItem(0);
    QCOMPARE(root->childCount(), 3);
    QCOMPARE(root->child(0)->text(0), QStringLiteral("[1] ЛИР-8М"));
    QCOMPARE(root->child(1)->text(0), QStringLiteral("[3] ЛИР-12М"));
    QCOMPARE(root->child(2)->text(0), QStringLiteral("[255] ЛИР-4М"));
    QCOMPARE(root->child(2)->data(0, Qt::UserRole).toUInt(), 255u * 256 + 5);
    QCOMPARE(MainForm->StatusBar->currentMessage(), QStringLiteral("Список доступных устройств."));
  }
};

QTEST_MAIN(ScanTest)
#include "ScanTest.moc"
