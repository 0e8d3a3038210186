// A full scan of the line. Slow by nature: each silent address waits out the read time-out.

#include "Harness.h"

class ScanTest : public QObject {
  Q_OBJECT

 private slots:
  void everyAddressOnceInOrder() {
    Gui::Line line(Sim::LineSetup{}, {Gui::Unit(3, 7), Gui::Unit(1, 6), Gui::Unit(255, 5)});
    Gui::Boxes boxes;
    CreateForms();
    int bar = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<TProgressForm*>(w); progress && progress->isVisible())
          bar = progress->pbProgress->value();
    });
    watch.start(20);
    MainForm->actNetScan->trigger();
    QCOMPARE(boxes.Count(), 0);
    QCOMPARE(bar, 255);  // full from address 253 on, never wrapped
    QList<int> offsets;  // of each address asked from its place in the order: all 0
    for (const Sim::Frame& frame : line.Sim().TakeLog())
      if (frame.FromMaster) offsets << frame.Bytes[0] - offsets.size();
    QCOMPARE(offsets, QList<int>(256, 0));
    QTreeWidgetItem* root = MainForm->Net->topLevelItem(0);
    QStringList nodes;
    for (int i = 0; i < root->childCount(); ++i)
      nodes << root->child(i)->text(0) + " " + root->child(i)->data(0, Qt::UserRole).toString();
    QCOMPARE(nodes, (QStringList{"[1] ЛИР-8М 262", "[3] ЛИР-12М 775", "[255] ЛИР-4М 65285"}));
    QCOMPARE(MainForm->StatusBar->currentMessage(), QStringLiteral("Список доступных устройств."));
  }
};

QTEST_MAIN(ScanTest)
#include "ScanTest.moc"
