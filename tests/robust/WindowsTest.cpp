// The windows on a line that drops or spoils one answer in ten: each failure is told in a
// message that names the unit, no window is left disabled or half-filled with another unit's
// data. A line unplugged and back is the GUI's line test.

#include <QRegularExpression>

#include "Harness.h"
#include "ui/dialogs/Clock.h"
#include "ui/dialogs/Journal.h"
#include "ui/dialogs/Password.h"
#include "ui/dialogs/SetChannelsParam.h"
#include "ui/dialogs/Settings.h"

class WindowsTest : public QObject {
  Q_OBJECT

  // Three units whose channels and journals tell them apart: channel n of unit a has the times
  // 100 a + n and a.
  Gui::Line line_{Sim::LineSetup{9600, false, 0},
                  {Gui::Unit(1, 7), Gui::Unit(2, 6), Gui::Unit(3, 5)}};
  Gui::Boxes boxes_;
  QStringList seen_;  // every box, for the end of the run

  Sim::Simulator& Sim() { return line_.Sim(); }
  QTreeWidgetItem* Root() { return MainForm->Net->topLevelItem(0); }

  void Faults(Sim::FaultKind kind) { Sim().SetFaultProbability(kind, 0, 0.1); }

  // The boxes since the last call: each names the unit, or is the journal's question or a
  // warning about the input that a failed read left blank.
  void ExpectBoxesAbout(int address) {
    for (const QString& box : boxes_.TakeTexts()) {
      seen_ << box;
      QVERIFY2(box.contains(QString("[%1]").arg(address)) || box.endsWith("Очистить журнал?") ||
                   box.startsWith("W "),
               qPrintable(box));
    }
  }

  // Every window shown is enabled, and no progress dialog is left.
  static void ExpectUsable() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      QVERIFY2(!w->isVisible() || w->isEnabled(), qPrintable(w->objectName()));
      QVERIFY(!qobject_cast<TProgressForm*>(w));
    }
    for (QAction* a : {MainForm->actNetScan, MainForm->actPortSelect, MainForm->actPortConfig})
      QVERIFY(a->isEnabled());
  }

  void Scan(int lastAddress) {
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [lastAddress] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<TProgressForm*>(w); p && p->isVisible())
          if (p->Label1->text().endsWith(" " + QString::number(lastAddress))) p->btnCancel->click();
    });
    watch.start(2);
    MainForm->actNetScan->trigger();
  }

  QStringList Nodes() {
    QStringList nodes;
    for (int i = 0; Root() && i < Root()->childCount(); ++i)
      nodes << Root()->child(i)->text(0);
    return nodes;
  }

  void Activate(int address) {
    MainForm->Net->setCurrentItem(Root()->child(address - 1));
    MainForm->actSelectDevice->trigger();
  }

 private slots:
  void initTestCase() {
    for (uint8_t a = 1; a <= 3; ++a) {
      for (uint16_t n = 0; n < 12; ++n) {
        Sim().SetHolding(a, uint16_t(3 * n), uint16_t(100 * a + n));
        Sim().SetHolding(a, uint16_t(3 * n + 1), a);
      }
      Sim().SetJournal(a, uint16_t(10 * a), uint16_t(5 * a));
    }
    CreateForms();
  }

  void scanListsOnlyUnitsThatAreThere() {
    const QStringList all{"[1] ЛИР-12М", "[2] ЛИР-8М", "[3] ЛИР-4М"};
    for (Sim::FaultKind kind : {Sim::FaultKind::Silent, Sim::FaultKind::Corrupt}) {
      Faults(kind);
      Scan(4);
      for (const QString& node : Nodes())
        QVERIFY2(all.contains(node), qPrintable(node));
      QCOMPARE(boxes_.Count(), 0);  // a silent address is no error
      ExpectUsable();
    }
    Sim().ClearFaults();
    Scan(4);
    QCOMPARE(Nodes(), all);
  }

  void channelTableShowsItsOwnUnitOrStars() {
    for (auto kind : {Sim::FaultKind::Silent, Sim::FaultKind::Corrupt}) {
      Faults(kind);
      for (int round = 0; round < 8; ++round) {
        const int a = round % 3 + 1;
        Activate(a);
        QCOMPARE(MainForm->Channels->rowCount(), a == 3 ? 4 : a == 2 ? 8 : 12);
        for (int row = 0; row < MainForm->Channels->rowCount(); ++row) {
          const QString srabat = MainForm->Channels->item(row, 1)->text(),
                        zaderj = MainForm->Channels->item(row, 2)->text();
          QVERIFY2(srabat == "***" || srabat == QString::number(100 * a + row), qPrintable(srabat));
          QVERIFY2(zaderj == "***" || zaderj == QString::number(a), qPrintable(zaderj));
        }
        ExpectBoxesAbout(a);
        ExpectUsable();
      }
    }
  }

  void journalRowsAreTheUnitsRecords() {
    for (auto kind : {Sim::FaultKind::Silent, Sim::FaultKind::Corrupt}) {
      Faults(kind);
      for (int a = 1; a <= 3; ++a) {
        Main::SelectedAddress = uint32_t(a);
        QVERIFY(Gui::RunDialog(boxes_, MainForm->actJournal, JournalForm, [&] {
          for (int click = 0; click < 3; ++click) {
            QTableWidget* rows = JournalForm->Journal;
            QVERIFY(rows->rowCount() <= 10 * a);
            for (int row = 0; row < rows->rowCount(); ++row) {
              uint16_t r[4] = {};  // record (5a - row) as the unit holds it
              for (uint16_t i = 0; i < 4; ++i)
                Sim().Input(uint8_t(a), uint16_t(1000 + 4 * ((5 * a - row + 999) % 1000) + i),
                            r[i]);
              QCOMPARE(rows->item(row, 1)->text() + " " + rows->item(row, 3)->text(),
                       QString::asprintf("%02d.%02d.%d %d", r[0] >> 8, r[0] & 255,
                                         2000 + (r[1] >> 8), r[3] & 127));
            }
            if (click == 1) JournalForm->btnClear->click();
            JournalForm->btnRefresh->click();
          }
        }));
        ExpectBoxesAbout(a);
        ExpectUsable();
        Sim().SetJournal(uint8_t(a), uint16_t(10 * a), uint16_t(5 * a));
      }
    }
  }

  // Each dialog read afresh and applied on the spoilt line; a box at most names the unit.
  void dialogsStayUsable() {
    Faults(Sim::FaultKind::Silent);
    Main::SelectedAddress = 2;
    Main::SelectedModel = 6;
    const std::pair<QAction*, QDialog*> dialogs[] = {
        {MainForm->actClock, ClockForm},
        {MainForm->actSetChannelsParam, SetChannelsParamForm},
        {MainForm->actSettings, SettingsForm},
        {MainForm->actPassword, PasswordForm}};
    for (int round = 0; round < 4; ++round) {
      for (const auto& [action, dialog] : dialogs) {
        QVERIFY(Gui::RunDialog(boxes_, action, dialog, [dialog = dialog] {
          for (const char* name : {"btnRefresh", "btnApply"})
            if (auto* button = dialog->findChild<QPushButton*>(name)) {
              button->setEnabled(true);  // as after an edit
              button->click();
            }
        }));
        ExpectBoxesAbout(2);
        ExpectUsable();
      }
    }
    Sim().ClearFaults();
    QVERIFY(seen_.filter(QRegularExpression("^E .*\\[\\d\\]")).size() > 3);
  }
};

QTEST_MAIN(WindowsTest)
#include "WindowsTest.moc"
