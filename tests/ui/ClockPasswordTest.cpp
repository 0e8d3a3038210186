// The clock dialog on a simulated line, opened by the main window's launcher: what the user
// sees, the messages, and what reaches the unit in which order.

#include <QTest>
#include <atomic>
#include <thread>

#include "Harness.h"
#include "ui/dialogs/Clock.h"
#include "ui/main/Main.h"

namespace {

constexpr uint8_t kUnit = 1, kLocked = 2, kBadDate = 3, kSilent = 9;  // nobody at 9
const QDateTime kDefault(QDate(1900, 1, 1), QTime(0, 0));
const QDateTime kT(QDate(2024, 6, 15), QTime(10, 20, 30));
const QString kFailedWrite = "Внимание! | Ошибка при передаче времени устройству [1] | error";

QDateTime Shown(TClockForm* form) {
  return QDateTime(form->DTDate->date(), form->DTTime->time());
}

// The user steps one section of a picker with the keyboard.
void Step(QDateTimeEdit* picker, QDateTimeEdit::Section section) {
  picker->setFocus();
  picker->setCurrentSection(section);
  QTest::keyClick(picker, Qt::Key_Up);
}

}  // namespace

class ClockTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }

  // Opens the dialog for the unit; `drive` works it and closes it.
  void Open(uint8_t address, const std::function<void(TClockForm*)>& drive) {
    Main::SelectedAddress = address;
    QVERIFY(Gui::RunDialog(*boxes_, MainForm->actClock, ClockForm, [&] { drive(ClockForm); }));
  }

  void Freeze(uint8_t address, const QDateTime& t) {
    const QDate d = t.date();
    const QTime h = t.time();
    Sim().SetClockRegisters(address, static_cast<uint16_t>(d.day() << 8 | d.month()),
                            static_cast<uint16_t>((d.year() - 2000) << 8 | h.hour()),
                            static_cast<uint16_t>(h.minute() << 8 | h.second()));
  }

  // The unit's clock runs on from what was written: a few seconds' grace.
  void ExpectWritten(const QDateTime& expected) {
    uint16_t r[3] = {};
    for (uint16_t i = 0; i < 3; ++i)
      Sim().Holding(kUnit, static_cast<uint16_t>(520 + i), r[i]);
    const QDateTime unit(QDate(2000 + (r[1] >> 8), r[0] & 0xFF, r[0] >> 8),
                         QTime(r[1] & 0xFF, r[2] >> 8, r[2] & 0xFF));
    const qint64 ahead = expected.secsTo(unit);
    QVERIFY2(ahead >= 0 && ahead <= 5, qPrintable(unit.toString(Qt::ISODate)));
  }

  // Since the last call: requests as "function:first register", boxes as "title | text |
  // icon", each box with its OK button only.
  QStringList Requests() {
    QStringList seen;
    for (const Sim::Frame& f : Sim().TakeLog())
      if (f.FromMaster) seen << QString("%1:%2").arg(f.Bytes[1]).arg(f.Bytes[2] << 8 | f.Bytes[3]);
    return seen;
  }
  QStringList Boxes() {
    QStringList seen;
    for (const Gui::Box& b : boxes_->Take())
      seen << b.Title + " | " + b.Text + " | " +
                  (b.Icon == QMessageBox::Critical  ? "error"
                   : b.Icon == QMessageBox::Warning ? "warning"
                                                    : "other") +
                  (b.Buttons == QList{QMessageBox::Ok} ? "" : " | buttons");
    return seen;
  }

 private slots:
  void initTestCase() {
    Sim::LineSetup setup;
    setup.TurnaroundUs = 20000;  // room to slip a fault in between two requests of one Apply
    line_ = std::make_unique<Gui::Line>(
        setup, std::vector<Sim::UnitSetup>{Gui::Unit(kUnit, 7), Gui::Unit(kLocked, 6, false),
                                           Gui::Unit(kBadDate, 5)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
  }

  void init() {
    Sim().ClearFaults();
    Freeze(kUnit, kT);
    Boxes();
    Requests();
  }

  void opensWithTheUnitsTimeAndCloseWithoutEditsSendsNothing() {
    Open(kUnit, [&](TClockForm* form) {
      QCOMPARE(form->windowTitle(), QStringLiteral("Текущее время устройства [1]"));
      QCOMPARE(form->DTDate->text(), QStringLiteral("15.06.2024"));
      QCOMPARE(form->DTTime->text(), QStringLiteral("10:20:30"));
      QVERIFY(!form->btnApply->isEnabled());
      QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->btnRefresh));
      Gui::Snapshot(form, "clock");
      form->btnOK->click();
    });
    Open(kUnit, [&](TClockForm* form) {
      form->DTDate->setDate(QDate(2030, 1, 2));
      QVERIFY(form->btnApply->isEnabled());
      form->btnCancel->click();
    });
    Open(kUnit, [&](TClockForm* form) {
      form->DTTime->setTime(QTime(1, 2, 3));
      QTest::keyClick(form, Qt::Key_Escape);
    });
    QCOMPARE(Requests(), (QStringList{"3:520", "3:520", "3:520"}));  // the reads alone
    QCOMPARE(Boxes(), QStringList{});
  }

  void onlyTheTimeOrOnlyTheDateChangedIsWrittenWithTheOther() {
    Open(kUnit, [&](TClockForm* form) {
      Requests();
      Step(form->DTTime, QDateTimeEdit::MinuteSection);
      form->btnApply->click();
      QCOMPARE(Requests(), (QStringList{"4:50", "16:520"}));  // the check, then the write
      ExpectWritten(kT.addSecs(60));
      QCOMPARE(Shown(form), kT.addSecs(60));
      QVERIFY(!form->btnApply->isEnabled());

      Step(form->DTDate, QDateTimeEdit::YearSection);
      form->btnApply->click();
      ExpectWritten(kT.addSecs(60).addYears(1));
      // OK with an edit applies it first.
      form->DTDate->setDate(QDate(2031, 3, 4));
      form->btnOK->click();
    });
    QCOMPARE(Requests(), (QStringList{"4:50", "16:520", "4:50", "16:520"}));
    ExpectWritten(QDateTime(QDate(2031, 3, 4), QTime(10, 21, 30)));
    QCOMPARE(Boxes(), QStringList{});
  }

  void yearsTheUnitCannotHoldAreRefused() {
    Open(kUnit, [&](TClockForm* form) {
      Requests();
      for (const QDate& date : {QDate(1999, 12, 31), QDate(2256, 1, 1)}) {
        form->DTDate->setDate(date);
        form->btnApply->click();
        QCOMPARE(Boxes(), QStringList{"Внимание! | Устройство [1] хранит даты с 2000 по 2255 "
                                      "год.\nДата не записана. | warning"});
        QVERIFY(form->btnApply->isEnabled());  // to correct the date
      }
      QCOMPARE(Requests(), QStringList{});
      form->DTDate->setDate(QDate(2255, 12, 31));  // the unit's last year goes through whole
      form->btnApply->click();
    });
    ExpectWritten(QDateTime(QDate(2255, 12, 31), kT.time()));
    QCOMPARE(Boxes(), QStringList{});
  }

  void silentUnitShowsTheDefaultTimeWhichIsNeverWritten() {
    Open(kSilent, [&](TClockForm* form) {
      QCOMPARE(Boxes(), QStringList{"Внимание! | Ошибка при получении времени от устройства [9]"
                                    "\nВыбрано время по умолчанию. | error"});
      QCOMPARE(form->DTDate->text() + " " + form->DTTime->text(),
               QStringLiteral("01.01.1900 00:00:00"));
      QVERIFY(!form->btnApply->isEnabled());
      form->DTTime->setTime(QTime(12, 0, 0));  // the default date would go with it
      Requests();
      form->btnOK->click();
    });
    QCOMPARE(Boxes(), QStringList{"Внимание! | Устройство [9] хранит даты с 2000 по 2255 год."
                                  "\nДата не записана. | warning"});
    QCOMPARE(Requests(), QStringList{});
  }

  void unitWithAnInvalidDate() {
    Sim().SetClockRegisters(kBadDate, 31 << 8 | 4, 24 << 8 | 12, 0);  // 31 April 2024
    Open(kBadDate, [&](TClockForm* form) {
      QCOMPARE(Boxes(), QStringList{"Внимание! | Устройство [3] передало неверные дату и время."
                                    "\nВыбрано время по умолчанию. | error"});
      QCOMPARE(Shown(form), kDefault);
      QVERIFY(!form->btnApply->isEnabled());
    });
  }

  void deniedAccessReadsTheClockAgainAndRefreshDropsEdits() {
    Freeze(kLocked, kT);
    Open(kLocked, [&](TClockForm* form) {
      form->DTDate->setDate(QDate(2030, 1, 1));
      Requests();
      form->btnApply->click();
      QCOMPARE(Boxes(), QStringList{"Отказано в доступе. | Невозможно изменить время устройства "
                                    "с адресом [2].\nНеобходимо ввести пароль. | error"});
      QCOMPARE(Requests(), (QStringList{"4:50", "3:520"}));  // no write
      QCOMPARE(Shown(form), kT);
      QVERIFY(!form->btnApply->isEnabled());

      form->DTTime->setTime(QTime(1, 1, 1));
      form->btnRefresh->click();
      QCOMPARE(Requests(), QStringList{"3:520"});
      QCOMPARE(Shown(form), kT);
      QVERIFY(!form->btnApply->isEnabled());
    });
  }

  void noAnswerToTheCheckKeepsTheEditForARetry() {
    const QDateTime edit(QDate(2026, 7, 8), QTime(9, 10, 11));
    Open(kUnit, [&](TClockForm* form) {
      form->DTDate->setDate(edit.date());
      form->DTTime->setTime(edit.time());
      Requests();
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      form->btnApply->click();
      QCOMPARE(Boxes(), QStringList{kFailedWrite});
      QCOMPARE(Requests(), QStringList{"4:50"});
      QCOMPARE(Shown(form), edit);
      QVERIFY(form->btnApply->isEnabled());
      form->btnApply->click();
      QCOMPARE(Requests(), (QStringList{"4:50", "16:520"}));
    });
    ExpectWritten(edit);
  }

  void failedWriteShowsTheDefaultTime() {
    Open(kUnit, [&](TClockForm* form) {
      form->DTDate->setDate(QDate(2027, 1, 1));
      // The check is answered; the unit refuses the write that follows it.
      const uint32_t before = Sim().RequestCount(kUnit);
      std::atomic<bool> stop{false};
      std::thread refuseWrite([&] {
        while (!stop && Sim().RequestCount(kUnit) == before)
          std::this_thread::yield();
        Sim().InjectFault(Sim::FaultKind::Exception, 0, 1);
      });
      form->btnApply->click();
      stop = true;
      refuseWrite.join();
      QCOMPARE(Boxes(), QStringList{kFailedWrite});
      QCOMPARE(Shown(form), kDefault);
      QVERIFY(!form->btnApply->isEnabled());
    });
    ExpectWritten(kT);
  }
};

QTEST_MAIN(ClockTest)
#include "ClockTest.moc"
