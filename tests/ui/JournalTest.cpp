// The event journal opened by its launcher on a simulated line.

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "Harness.h"
#include "ui/dialogs/Journal.h"

// The values of a progress bar each time it is painted.
class PaintedValues : public QObject {
 public:
  std::vector<int> Values;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      Values.push_back(static_cast<QProgressBar*>(watched)->value());
    return false;
  }
};

class JournalTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  const QString error_ = "E Внимание!: Ошибка при обращении к  устройству [1]";
  const QString question_ = "Q Подтвердите: Очистить журнал?";
  Sim::Simulator& Sim() { return line_->Sim(); }
  void Silence() { Sim().InjectFault(Sim::FaultKind::Silent, 0, 1); }
  static TJournalForm* J() { return JournalForm; }
  // The requests, the boxes, then the rows listed and "+" while Clear is enabled.
  QStringList Seen() {
    return Gui::Requests(Sim().TakeLog()) + boxes_->TakeTexts()
           << QString::number(J()->Journal->rowCount()) + (J()->btnClear->isEnabled() ? "+" : "");
  }
  // The record read i-th (from 0) when the latest is `latest`: downwards round the ring.
  static int Nth(int latest, int i) { return (latest - 1 - i + 2000) % 1000 + 1; }
  static QStringList Reading(int latest, int count) {  // the counters, then one a record
    QStringList requests{"3 517/2"};
    for (int i = 0; i < count; ++i)
      requests << QString("4 %1/4").arg(1000 + 4 * (Nth(latest, i) - 1));
    return requests;
  }
  static TProgressForm* Progress() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* progress = qobject_cast<TProgressForm*>(w)) return progress;
    return nullptr;
  }
  // Runs `at` with the number of each answer the master takes in, from 1.
  static void OnAnswer(const std::function<void(int answer)>& at) {
    ModBus::SetTrafficSink([at, n = 0](const uint8_t*, uint16_t, uint8_t direction) mutable {
      if (direction == ModBus::Received && at) at(++n);
    });
  }
  void SilenceAfter(int answer) {  // the unit's answer of that number, from 1; 0: at once
    if (answer == 0) Silence();
    OnAnswer([this, answer](int n) { n == answer ? Silence() : void(); });
  }
  void Open(const std::function<void()>& drive = [] {}) {
    QVERIFY(Gui::RunDialog(*boxes_, MainForm->actJournal, J(), drive));
    QVERIFY(!Progress() && MainForm->isEnabled());  // the progress dialog freed
  }

 private slots:
  void initTestCase() {
    line_ =
        std::make_unique<Gui::Line>(Sim::LineSetup{}, std::vector<Sim::UnitSetup>{Gui::Unit(1, 6)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    Main::SelectedAddress = 1;
  }

  void init() {
    OnAnswer({});
    Sim().ClearFaults();
    Seen();
  }

  void readingOrderAndRows() {
    const std::pair<int, int> cases[] = {{5, 3}, {2, 5}, {0, 3}, {1000, 1000}};
    for (const auto& [latest, count] : cases) {
      QVERIFY(Sim().SetJournal(1, uint16_t(count), uint16_t(latest)));
      QStringList progress;  // as the first and the second record are taken in, rows listed
      OnAnswer([&](int n) {
        if (n == 2 || n == 3)
          progress << QString::number(Progress()->pbProgress->maximum()) + " " +
                          Progress()->Label1->text() + " " +
                          QString::number(J()->Journal->rowCount());
      });
      Open();
      QCOMPARE(Seen(), Reading(latest, count) << QString::number(count) + "+");
      QCOMPARE(Gui::UnfitTitles(J()->Journal), QStringList{});
      QCOMPARE(progress.join('|'),
               QString("%1 Читается запись : 1 0|%1 Читается запись : 2 1").arg(count));
      for (int row = 0; row < count; ++row) {
        uint16_t r[4] = {};  // the record as the simulator holds it
        QStringList texts;
        for (uint16_t i = 0; i < 5; ++i) {
          texts << J()->Journal->model()->index(row, i).data().toString();
          if (i < 4) Sim().Input(1, uint16_t(1000 + 4 * (Nth(latest, row) - 1) + i), r[i]);
        }
        QCOMPARE(texts.join(' '),
                 QString::asprintf("%d %02d.%02d.%d %02d:%02d:%02d %d %s", row + 1, r[0] >> 8,
                                   r[0] & 255, 2000 + (r[1] >> 8), r[1] & 255, r[2] >> 8,
                                   r[2] & 255, r[3] & 127, r[3] & 128 ? "Авария" : "Норма"));
      }
    }
  }

  // A slow line: the bar is seen moving on the way and at its last value before it goes, though
  // that value comes at once after a painted one.
  void progressShownOnASlowLine() {
    QVERIFY(Sim().SetJournal(1, 20, 20));
    PaintedValues painted;
    OnAnswer([&](int n) {  // the counters, then record n - 1; the bar is at n after it
      if (n == 2) Progress()->pbProgress->installEventFilter(&painted);
      if (n <= 19) std::this_thread::sleep_for(std::chrono::milliseconds(n == 19 ? 45 : 15));
    });
    Open();
    QCOMPARE(Seen(), Reading(20, 20) << "20+");
    const std::vector<int>& v = painted.Values;
    QVERIFY(std::set<int>(v.begin(), v.end()).size() >= 3);
    QVERIFY(std::is_sorted(v.begin(), v.end()) && v.back() == 20);
  }

  // A fast line: Cancel pressed while records keep coming is taken within a few of them.
  void cancelTakenOnAFastLine() {
    QVERIFY(Sim().SetJournal(1, 1000, 1000));
    OnAnswer([](int n) {
      if (n == 5) QMetaObject::invokeMethod(Progress()->btnCancel, "click", Qt::QueuedConnection);
    });
    Open();
    const int rows = J()->Journal->rowCount();
    QVERIFY2(rows >= 3 && rows < 1000, qPrintable(QString::number(rows)));
    // The record in hand when Cancel is seen is not listed, as before.
    QCOMPARE(Seen(), Reading(1000, rows + 1) << QString::number(rows) + "+");
  }

  void brokenOffOrNeverStarted() {
    // The counters, the answer after which the unit falls silent (0: at once), what is seen.
    const std::tuple<int, int, int, QStringList> cases[] = {
        {8, 10, 4, Reading(8, 4) << error_ << "3+"},
        {0, 0, -1, Reading(0, 0) << "0"},
        {5, 5, 0, Reading(0, 0) << error_ << "0"},
        {5, 1001, -1,  // Clear stays: clearing is what resets the unit's counters
         Reading(0, 0) << "E Внимание!: Устройство [1] передало неверные сведения о журнале: "
                          "последняя запись 5, записей 1001."
                       << "0+"}};
    for (const auto& [latest, count, silentAfter, seen] : cases) {
      QVERIFY(Sim().SetJournal(1, 10, 10));
      Open();  // rows for the next reading to clear
      QVERIFY(Sim().SetHolding(1, 517, uint16_t(latest)) &&
              Sim().SetHolding(1, 518, uint16_t(count)));
      SilenceAfter(silentAfter);
      Seen();
      Open();
      QCOMPARE(Seen(), seen);
    }
  }

  void refreshAndClear() {
    QVERIFY(Sim().SetJournal(1, 2, 2) && Sim().SetAccess(1, false));  // reading needs no access
    int boxesAtTheCheck = -1;
    Open([&] {
      boxes_->Answer(QMessageBox::Yes);
      J()->btnClear->click();
      boxes_->Answer(QMessageBox::Yes);
      Silence();
      J()->btnClear->click();  // no answer to the check: Clear given up
      QCOMPARE(Seen(), Reading(2, 2) << "4 50/1"
                                     << "4 50/1" << question_
                                     << "E Отказано в доступе.: Невозможно очистить журнал "
                                        "устройства с адресом [1].\nНеобходимо ввести пароль."
                                     << question_ << error_ << "2");
      QVERIFY(Sim().SetJournal(1, 6, 900) && Sim().SetAccess(1, true));
      QTest::mouseClick(J()->btnRefresh, Qt::LeftButton);
      QCOMPARE(Seen(), Reading(900, 6) << "6+");
      OnAnswer([](int n) {  // Cancel clicked through the window, as a user does, while this
        TProgressForm* p = Progress();  // dialog is modal: it must take the click all the same
        if (n == 4)
          QTest::mouseClick(p->windowHandle(), Qt::LeftButton, {},
                            p->btnCancel->mapTo(p, p->btnCancel->rect().center()));
      });
      J()->btnRefresh->click();
      QCOMPARE(Seen(), Reading(900, 3) << "2+");
      // Asked first: No sends nothing. A clear unanswered leaves the list: the unit's
      // journal is not known to be gone.
      J()->btnClear->click();
      QCOMPARE(Seen(), (QStringList{question_, "2+"}));
      boxes_->Answer(QMessageBox::Yes);
      SilenceAfter(1);
      J()->btnClear->click();
      QCOMPARE(Seen(), (QStringList{"4 50/1", "16 518/1 = 0", question_, error_, "2+"}));
      boxes_->Answer(QMessageBox::Yes);
      OnAnswer([&](int n) { boxesAtTheCheck = n == 1 ? boxes_->Count() : boxesAtTheCheck; });
      J()->btnClear->click();
      QCOMPARE(Seen(), (QStringList{"4 50/1", "16 518/1 = 0", question_, "0"}));
      QCOMPARE(boxesAtTheCheck, 1);  // the question came before
    });
  }
};

QTEST_MAIN(JournalTest)
#include "JournalTest.moc"
