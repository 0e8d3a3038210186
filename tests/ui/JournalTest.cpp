// The event journal through its launcher on a simulated line: the order in which records
// are read, the rows as the user reads them, the progress dialog and its Cancel, failures,
// and the clearing of the journal.

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "Harness.h"
#include "link/ModBus.h"
#include "link/Traffic.h"
#include "ui/dialogs/Journal.h"
#include "ui/dialogs/Progress.h"
#include "ui/main/Main.h"

namespace {

constexpr uint8_t kUnit = 1, kLocked = 2;
constexpr uint16_t kLatestReg = 517, kCountReg = 518;

// Follows the progress dialogs that come up: OnStep(progress, p) when one is shown (p = 1)
// and whenever its bar moves to p, that is when record p is the next one to read.
class ProgressWatch : public QObject {
 public:
  ProgressWatch() { qApp->installEventFilter(this); }
  ~ProgressWatch() override { qApp->removeEventFilter(this); }

  std::function<void(TProgressForm*, int)> OnStep;
  int Shown = 0;
  int Max = -1;
  QString Title;
  TProgressForm* Last = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* progress = qobject_cast<TProgressForm*>(watched);
    if (!progress || event->type() != QEvent::Show) return false;
    ++Shown;
    Max = progress->pbProgress->maximum();
    Title = progress->windowTitle();
    Last = progress;
    connect(progress->pbProgress, &QProgressBar::valueChanged, this, [this, progress](int p) {
      if (OnStep) OnStep(progress, p);
    });
    if (OnStep) OnStep(progress, 1);
    return false;
  }
};

// Sees every frame the master sends or receives, while the traffic window still gets them.
class FrameHook {
 public:
  using Handler = std::function<void(const uint8_t* bytes, uint16_t count, uint8_t direction)>;
  explicit FrameHook(Handler handler) {
    ModBus::SetTrafficSink([handler](const uint8_t* bytes, uint16_t count, uint8_t direction) {
      TrafficForm->AddBytes(bytes, count, direction);
      handler(bytes, count, direction);
    });
  }
  ~FrameHook() {
    ModBus::SetTrafficSink([](const uint8_t* bytes, uint16_t count, uint8_t direction) {
      TrafficForm->AddBytes(bytes, count, direction);
    });
  }
};

// The unit's frames of a transaction as the simulator saw them.
struct Request {
  uint8_t Function;
  uint16_t Register;
};

QList<Request> Requests(Sim::Simulator& sim, uint8_t address) {
  QList<Request> requests;
  for (const Sim::Frame& f : sim.TakeLog())
    if (f.FromMaster && f.Bytes.size() >= 4 && f.Bytes[0] == address)
      requests.append({f.Bytes[1], static_cast<uint16_t>(f.Bytes[2] << 8 | f.Bytes[3])});
  return requests;
}

// The record numbers asked for, in order (function 4 from register 1000 on).
QList<int> RecordRequests(const QList<Request>& requests) {
  QList<int> records;
  for (const Request& r : requests)
    if (r.Function == 4 && r.Register >= 1000) records.append((r.Register - 1000) / 4 + 1);
  return records;
}

QList<int> Range(int from, int to) {  // from downwards to `to`
  QList<int> list;
  for (int k = from; k >= to; --k)
    list.append(k);
  return list;
}

// What a row must read for record k as the simulator holds it.
QStringList ExpectedRow(Sim::Simulator& sim, int number, int k) {
  uint16_t r[4] = {};
  for (int j = 0; j < 4; ++j)
    sim.Input(kUnit, static_cast<uint16_t>(1000 + 4 * (k - 1) + j), r[j]);
  return {QString::number(number),
          QString::asprintf("%02d.%02d.%d", r[0] >> 8, r[0] & 0xFF, 2000 + (r[1] >> 8)),
          QString::asprintf("%02d:%02d:%02d", r[1] & 0xFF, r[2] >> 8, r[2] & 0xFF),
          QString::number(r[3] & 0x7F), (r[3] & 0x80) ? "Авария" : "Норма"};
}

QStringList Row(int row) {
  QStringList texts;
  for (int c = 0; c < JournalForm->Journal->columnCount(); ++c) {
    QTableWidgetItem* item = JournalForm->Journal->item(row, c);
    texts << (item ? item->text() : QString());
  }
  return texts;
}

bool NoProgressLeft() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<TProgressForm*>(w)) return false;
  return true;
}

}  // namespace

class JournalTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }

  // Opens the journal of the unit through its launcher; inDialog drives the shown dialog
  // (it is closed with OK afterwards if still open).
  void OpenJournal(uint8_t address, const std::function<void()>& inDialog = {}) {
    Main::SelectedAddress = address;
    bool shown = false;
    boxes_->OnDialog([&](QWidget* dialog) {
      if (dialog != JournalForm) return;
      shown = true;
      if (inDialog) inDialog();
      if (JournalForm->isVisible()) JournalForm->btnOk->click();
    });
    MainForm->actJournal->trigger();
    boxes_->OnDialog({});
    QVERIFY(shown);
    QVERIFY(!JournalForm->isVisible());
    QVERIFY(NoProgressLeft());
    QVERIFY(MainForm->isEnabled());
  }

  void ExpectBoxes(const QList<QPair<QString, QString>>& expected) {
    const QList<Gui::Box> seen = boxes_->Take();
    QCOMPARE(seen.size(), expected.size());
    for (int i = 0; i < seen.size(); ++i) {
      QCOMPARE(seen[i].Title, expected[i].first);
      QCOMPARE(seen[i].Text, expected[i].second);
      QCOMPARE(seen[i].Icon,
               expected[i].first == "Подтвердите" ? QMessageBox::Question : QMessageBox::Critical);
    }
  }

  static QPair<QString, QString> AccessError(uint8_t address) {
    return {"Внимание!", QString("Ошибка при обращении к  устройству [%1]").arg(address)};
  }

  // Clicks Cancel as the user does: through the dialog's window, where a window that a
  // modal dialog blocks gets no click.
  static void ClickCancel(TProgressForm* progress) {
    QPushButton* button = progress->btnCancel;
    QTest::mouseClick(progress->windowHandle(), Qt::LeftButton, {},
                      button->mapTo(progress, button->rect().center()));
  }

 private slots:
  void initTestCase() {
    Sim::LineSetup setup;
    setup.TurnaroundUs = 300;
    line_ = std::make_unique<Gui::Line>(
        setup, std::vector<Sim::UnitSetup>{Gui::Unit(kUnit, 6), Gui::Unit(kLocked, 7, false)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    QVERIFY(JournalForm);
  }

  void init() {
    Sim().ClearFaults();
    Sim().TakeLog();
    boxes_->Take();
  }

  void readingOrderAndRows_data() {
    QTest::addColumn<int>("latest");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("5/3") << 5 << 3 << QList<int>{5, 4, 3};
    QTest::newRow("2/5 wraps") << 2 << 5 << QList<int>{2, 1, 1000, 999, 998};
    QTest::newRow("0/3 from 1000") << 0 << 3 << QList<int>{1000, 999, 998};
    QTest::newRow("1000/1000 full") << 1000 << 1000 << Range(1000, 1);
  }

  void readingOrderAndRows() {
    QFETCH(int, latest);
    QFETCH(int, count);
    QFETCH(QList<int>, order);
    QVERIFY(Sim().SetJournal(kUnit, static_cast<uint16_t>(count), static_cast<uint16_t>(latest)));
    ProgressWatch watch;
    OpenJournal(kUnit);

    QCOMPARE(boxes_->Count(), 0);
    const QList<Request> requests = Requests(Sim(), kUnit);
    QCOMPARE(requests.first().Function, uint8_t{3});  // the counters first
    QCOMPARE(requests.first().Register, kLatestReg);
    QCOMPARE(RecordRequests(requests), order);
    QCOMPARE(requests.size(), order.size() + 1);  // one request a record, nothing else
    QCOMPARE(watch.Shown, 1);
    QCOMPARE(watch.Title, QStringLiteral("Чтение журнала"));
    QCOMPARE(watch.Max, count);

    QCOMPARE(JournalForm->windowTitle(), QStringLiteral("Журнал устройства [1]"));
    QCOMPARE(JournalForm->Journal->rowCount(), count);
    for (int row = 0; row < count; ++row)
      QCOMPARE(Row(row), ExpectedRow(Sim(), row + 1, order[row]));
    QVERIFY(JournalForm->btnClear->isEnabled());
  }

  void datesAndTimesAsWritten() {
    // The unit stamps its records from its clock; the journal it is given ends a minute
    // before the clock's time.
    LIR::DateTimeParts parts{2024, 3, 5, 7, 6, 9};
    double now = 0;
    QVERIFY(LIR::EncodeDateTime(parts, now));
    QVERIFY(LIR::WriteClock(kUnit, now));
    QVERIFY(Sim().SetJournal(kUnit, 2, 17));
    OpenJournal(kUnit);
    QCOMPARE(Row(0), (QStringList{"1", "05.03.2024", "07:05:09", "1", "Норма"}));
    QCOMPARE(Row(1).mid(3), (QStringList{"1", "Авария"}));
    QStringList headers;
    for (int c = 0; c < JournalForm->Journal->columnCount(); ++c)
      headers << JournalForm->Journal->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, (QStringList{"Номер записи", "Дата", "Время", "Канал", "Тип срабатывания"}));
  }

  void emptyJournalShowsNothing() {
    QVERIFY(Sim().SetJournal(kUnit, 0, 0));
    ProgressWatch watch;
    OpenJournal(kUnit);
    QCOMPARE(watch.Shown, 0);
    QCOMPARE(boxes_->Count(), 0);
    QCOMPARE(JournalForm->Journal->rowCount(), 0);
    QVERIFY(!JournalForm->btnClear->isEnabled());
    QCOMPARE(Requests(Sim(), kUnit).size(), 1);
  }

  void progressLabelCountsTheRecords() {
    QVERIFY(Sim().SetJournal(kUnit, 3, 3));
    ProgressWatch watch;
    QStringList labels;  // what the label reads as each record is asked for
    FrameHook hook([&](const uint8_t* bytes, uint16_t, uint8_t direction) {
      if (direction == ModBus::Sent && bytes[1] == 4 && watch.Last)
        labels << watch.Last->Label1->text();
    });
    OpenJournal(kUnit);
    QCOMPARE(labels,
             (QStringList{"Читается запись : 1", "Читается запись : 2", "Читается запись : 3"}));
  }

  void cancelKeepsTheRowsShown_data() {
    QTest::addColumn<int>("latest");
    QTest::addColumn<int>("shown");
    QTest::newRow("3 of 10") << 10 << 3;
    QTest::newRow("across the wrap") << 2 << 4;
  }

  void cancelKeepsTheRowsShown() {
    QFETCH(int, latest);
    QFETCH(int, shown);
    QVERIFY(Sim().SetJournal(kUnit, 10, static_cast<uint16_t>(latest)));
    ProgressWatch watch;
    // Pressed while record shown + 1 is being read, with `shown` rows in the list.
    watch.OnStep = [&](TProgressForm* progress, int next) {
      if (next == shown + 2) ClickCancel(progress);
    };
    OpenJournal(kUnit);
    QCOMPARE(JournalForm->Journal->rowCount(), shown);
    QList<int> order;
    for (int i = 0; i <= shown; ++i)
      order.append((latest - 1 - i + 1000) % 1000 + 1);
    QCOMPARE(RecordRequests(Requests(Sim(), kUnit)), order);
    QCOMPARE(boxes_->Count(), 0);
    QVERIFY(JournalForm->btnClear->isEnabled());
  }

  void failedRecordEndsTheReading_data() {
    QTest::addColumn<int>("failing");
    QTest::newRow("first") << 1;
    QTest::newRow("fourth") << 4;
  }

  void failedRecordEndsTheReading() {
    QFETCH(int, failing);
    QVERIFY(Sim().SetJournal(kUnit, 8, 8));
    ProgressWatch watch;
    watch.OnStep = [&](TProgressForm*, int next) {
      if (next == failing) Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
    };
    OpenJournal(kUnit);
    ExpectBoxes({AccessError(kUnit)});
    QCOMPARE(JournalForm->Journal->rowCount(), failing - 1);
    QCOMPARE(RecordRequests(Requests(Sim(), kUnit)), Range(8, 8 - failing + 1));
    QVERIFY(JournalForm->btnClear->isEnabled());
  }

  void unreadableCounters() {
    QVERIFY(Sim().SetJournal(kUnit, 5, 5));
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
    ProgressWatch watch;
    OpenJournal(kUnit);
    ExpectBoxes({AccessError(kUnit)});
    QCOMPARE(watch.Shown, 0);
    QCOMPARE(JournalForm->Journal->rowCount(), 0);
    QVERIFY(!JournalForm->btnClear->isEnabled());
  }

  void countersOutsideTheRingAreRefused_data() {
    QTest::addColumn<int>("latest");
    QTest::addColumn<int>("count");
    QTest::newRow("latest 1001") << 1001 << 5;
    QTest::newRow("count 1001") << 5 << 1001;
    QTest::newRow("both 65535") << 65535 << 65535;
  }

  void countersOutsideTheRingAreRefused() {
    QFETCH(int, latest);
    QFETCH(int, count);
    QVERIFY(Sim().SetJournal(kUnit, 5, 5));  // rows to be cleared by the next reading
    OpenJournal(kUnit);
    QCOMPARE(JournalForm->Journal->rowCount(), 5);
    QVERIFY(Sim().SetHolding(kUnit, kLatestReg, static_cast<uint16_t>(latest)));
    QVERIFY(Sim().SetHolding(kUnit, kCountReg, static_cast<uint16_t>(count)));
    Sim().TakeLog();
    ProgressWatch watch;
    OpenJournal(kUnit);
    ExpectBoxes({{"Внимание!", QString("Устройство [1] передало неверные сведения о журнале: "
                                       "последняя запись %1, записей %2.")
                                   .arg(latest)
                                   .arg(count)}});
    QCOMPARE(watch.Shown, 0);
    QCOMPARE(Requests(Sim(), kUnit).size(), 1);
    QCOMPARE(JournalForm->Journal->rowCount(), 0);
    QVERIFY(!JournalForm->btnClear->isEnabled());
  }

  void refreshReadsAgain() {
    QVERIFY(Sim().SetJournal(kUnit, 2, 2));
    int rowsBefore = -1, rowsAfter = -1, rowsAfterCancel = -1, rowsAfterSilence = -1;
    bool clearAfterSilence = true;
    OpenJournal(kUnit, [&] {
      rowsBefore = JournalForm->Journal->rowCount();
      QVERIFY(Sim().SetJournal(kUnit, 6, 900));
      Sim().TakeLog();
      QTest::mouseClick(JournalForm->btnRefresh, Qt::LeftButton);
      rowsAfter = JournalForm->Journal->rowCount();
      QCOMPARE(RecordRequests(Requests(Sim(), kUnit)), Range(900, 895));
      Gui::Snapshot(JournalForm, "journal");
      // This dialog is modal now: the progress dialog's Cancel must still take a click.
      ProgressWatch watch;
      watch.OnStep = [](TProgressForm* progress, int next) {
        if (next == 4) ClickCancel(progress);
      };
      JournalForm->btnRefresh->click();
      rowsAfterCancel = JournalForm->Journal->rowCount();
      QVERIFY(JournalForm->isEnabled());
      // A refresh the unit does not answer leaves the list empty.
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      JournalForm->btnRefresh->click();
      rowsAfterSilence = JournalForm->Journal->rowCount();
      clearAfterSilence = JournalForm->btnClear->isEnabled();
    });
    QCOMPARE(rowsBefore, 2);
    QCOMPARE(rowsAfter, 6);
    QCOMPARE(rowsAfterCancel, 2);
    QCOMPARE(rowsAfterSilence, 0);
    QVERIFY(!clearAfterSilence);
    ExpectBoxes({AccessError(kUnit)});
  }

  void clearAsksAfterTheUnitIsCleared_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("Да") << true;
    QTest::newRow("Нет") << false;
  }

  void clearAsksAfterTheUnitIsCleared() {
    QFETCH(bool, yes);
    QVERIFY(Sim().SetJournal(kUnit, 4, 4));
    uint16_t countAtTheQuestion = 0xFFFF;
    // The unit's journal count at the moment the question comes up.
    struct QuestionWatch : QObject {
      std::function<void()> OnQuestion;
      bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box && event->type() == QEvent::Show && box->text() == "Очистить журнал?") OnQuestion();
        return false;
      }
    } question;
    question.OnQuestion = [&] { Sim().Holding(kUnit, kCountReg, countAtTheQuestion); };
    qApp->installEventFilter(&question);
    int rows = -1;
    bool clearEnabled = false;
    OpenJournal(kUnit, [&] {
      Sim().TakeLog();
      if (yes) boxes_->Answer(QMessageBox::Yes);
      JournalForm->btnClear->click();
      rows = JournalForm->Journal->rowCount();
      clearEnabled = JournalForm->btnClear->isEnabled();
    });
    qApp->removeEventFilter(&question);
    QCOMPARE(countAtTheQuestion, uint16_t{0});
    const QList<Gui::Box> seen = boxes_->Take();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].Title, QStringLiteral("Подтвердите"));
    QCOMPARE(seen[0].Text, QStringLiteral("Очистить журнал?"));
    QCOMPARE(seen[0].Icon, QMessageBox::Question);
    QCOMPARE(seen[0].Buttons,
             (QList<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No}));
    const QList<Request> requests = Requests(Sim(), kUnit);
    QCOMPARE(requests.size(), 2);  // the access check, then the clear
    QCOMPARE(requests[1].Function, uint8_t{16});
    QCOMPARE(requests[1].Register, kCountReg);
    QCOMPARE(rows, yes ? 0 : 4);
    QCOMPARE(clearEnabled, !yes);
  }

  void failedClearIsReportedAndStillAsked() {
    QVERIFY(Sim().SetJournal(kUnit, 3, 3));
    int rows = -1;
    OpenJournal(kUnit, [&] {
      // The unit falls silent once it has answered the access check.
      FrameHook hook([this](const uint8_t* bytes, uint16_t count, uint8_t direction) {
        if (direction == ModBus::Received && count == 7 && bytes[1] == 4)
          Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      });
      JournalForm->btnClear->click();
      rows = JournalForm->Journal->rowCount();
    });
    ExpectBoxes({AccessError(kUnit), {"Подтвердите", "Очистить журнал?"}});
    QCOMPARE(rows, 3);
  }

  void clearDeniedOrUnanswered() {
    QVERIFY(Sim().SetJournal(kLocked, 5, 5));
    int rows = -1;
    bool clearEnabled = false;
    OpenJournal(kLocked, [&] {
      Sim().TakeLog();
      JournalForm->btnClear->click();
      rows = JournalForm->Journal->rowCount();
      clearEnabled = JournalForm->btnClear->isEnabled();
    });
    ExpectBoxes({{"Отказано в доступе.",
                  "Невозможно очистить журнал устройства с адресом [2].\nНеобходимо ввести "
                  "пароль."}});
    QCOMPARE(rows, 5);
    QVERIFY(clearEnabled);
    QCOMPARE(Requests(Sim(), kLocked).size(), 1);  // the access check alone
    uint16_t count = 0;
    QVERIFY(Sim().Holding(kLocked, kCountReg, count));
    QCOMPARE(count, uint16_t{5});

    // No answer to the access check: the error, and Clear is given up.
    OpenJournal(kLocked, [&] {
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      JournalForm->btnClear->click();
      rows = JournalForm->Journal->rowCount();
      clearEnabled = JournalForm->btnClear->isEnabled();
    });
    ExpectBoxes({AccessError(kLocked)});
    QCOMPARE(rows, 5);
    QVERIFY(!clearEnabled);
  }
};

QTEST_MAIN(JournalTest)
#include "JournalTest.moc"
