// The clock and password dialogs through their launchers on a simulated line: what they
// show, their messages, and what reaches the unit in which order.

#include <QApplication>
#include <QClipboard>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <thread>

#include "Harness.h"
#include "device/LIR.h"
#include "ui/dialogs/Clock.h"
#include "ui/dialogs/Password.h"
#include "ui/main/Main.h"

namespace {

constexpr uint8_t kUnit = 1, kLocked = 2, kBadDate = 3, kSilent = 9;  // nobody at 9
const std::string kLockedPassword = "\313\310\32012345";              // "ЛИР12345" in cp1251
const QDateTime kT(QDate(2024, 6, 15), QTime(10, 20, 30));
const QString kRead = "3 520/3", kCheck = "4 50/1";
const QString kFailedWrite = "E Внимание!: Ошибка при передаче времени устройству [1]";
const QString kRefused =
    "W Внимание!: Устройство [%1] хранит даты с 2000 по 2255 год.\nДата не записана.";

QString Write(const QDateTime& t) {
  const QDate d = t.date();
  const QTime h = t.time();
  return QString::asprintf("16 520/3 = %d %d %d", d.day() << 8 | d.month(),
                           (d.year() - 2000) << 8 | h.hour(), h.minute() << 8 | h.second());
}

QDateTime Shown(TClockForm* form) {
  return QDateTime(form->DTDate->date(), form->DTTime->time());
}

// Each character as a key press carrying it, as the keyboard types it.
void Type(QWidget* field, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(field, &press);
  }
}

}  // namespace

class AccessDialogsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }
  QStringList Requests() { return Gui::Requests(Sim().TakeLog()); }
  QStringList Boxes() { return boxes_->TakeTexts(); }

  void Clock(uint8_t address, const std::function<void(TClockForm*)>& drive) {
    Main::SelectedAddress = address;
    QVERIFY(Gui::RunDialog(*boxes_, MainForm->actClock, ClockForm, [&] { drive(ClockForm); }));
  }
  void Password(uint8_t address, const std::function<void(TPasswordForm*)>& drive) {
    Main::SelectedAddress = address;
    QVERIFY(
        Gui::RunDialog(*boxes_, MainForm->actPassword, PasswordForm, [&] { drive(PasswordForm); }));
  }

 private slots:
  void initTestCase() {
    Sim::UnitSetup locked = Gui::Unit(kLocked, 6, false);
    locked.Password = kLockedPassword;
    line_ = std::make_unique<Gui::Line>(
        Sim::LineSetup{9600, false, 20000},  // 20 ms turnaround: room to slip in a fault
        std::vector<Sim::UnitSetup>{Gui::Unit(kUnit, 7), locked, Gui::Unit(kBadDate, 5)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    Sim().SetClockRegisters(kBadDate, 31 << 8 | 4, 24 << 8 | 12, 0);  // 31 April 2024
  }

  void init() {
    Sim().ClearFaults();
    Sim().SetAccess(kLocked, false);
    for (uint8_t unit : {kUnit, kLocked})  // frozen at kT
      Sim().SetClockRegisters(unit, 15 << 8 | 6, 24 << 8 | 10, 20 << 8 | 30);
    Boxes();
    Requests();
  }

  void clockApplyAndOkWriteBothPickersAfterTheCheck() {
    const QDateTime minute = kT.addSecs(60), onOk(QDate(2031, 3, 4), minute.time());
    Clock(kUnit, [&](TClockForm* form) {
      QCOMPARE(form->windowTitle(), QStringLiteral("Текущее время устройства [1]"));
      QCOMPARE(form->DTDate->text() + " " + form->DTTime->text(), "15.06.2024 10:20:30");
      QVERIFY(!form->btnApply->isEnabled());
      QCOMPARE(Requests(), QStringList{kRead});
      form->DTTime->setTime(minute.time());
      form->btnApply->click();
      QCOMPARE(Requests(), (QStringList{kCheck, Write(minute)}));
      QCOMPARE(Shown(form), minute);
      QVERIFY(!form->btnApply->isEnabled());
      // Only the date: the unit's first and last years go through, the years around them
      // are refused before anything is sent.
      for (const QDate& date :
           {QDate(1999, 12, 31), QDate(2000, 1, 1), QDate(2255, 12, 31), QDate(2256, 1, 1)}) {
        form->DTDate->setDate(date);
        form->btnApply->click();
        const bool held = date.year() == 2000 || date.year() == 2255;
        QCOMPARE(Requests(), (held ? QStringList{kCheck, Write(QDateTime(date, minute.time()))}
                                   : QStringList{}));
        QCOMPARE(Boxes(), held ? QStringList{} : QStringList{kRefused.arg(1)});
        QCOMPARE(form->btnApply->isEnabled(), !held);  // a refused date is there to correct
      }
      form->DTDate->setDate(onOk.date());
      form->btnOK->click();  // applies the edit before closing
    });
    QCOMPARE(Requests(), (QStringList{kCheck, Write(onOk)}));
    Clock(kUnit, [&](TClockForm* form) { form->btnOK->click(); });
    QCOMPARE(Requests(), QStringList{kRead});
    QCOMPARE(Boxes(), QStringList{});
  }

  void clockUnreadableShowsTheDefaultTimeWhichIsNeverWritten() {
    const std::pair<uint8_t, QString> cases[] = {
        {kSilent, "E Внимание!: Ошибка при получении времени от устройства [9]\n"},
        {kBadDate, "E Внимание!: Устройство [3] передало неверные дату и время.\n"}};
    for (const auto& c : cases) {
      Clock(c.first, [&](TClockForm* form) {
        QCOMPARE(Boxes(), QStringList{c.second + "Выбрано время по умолчанию."});
        QCOMPARE(form->DTDate->text() + " " + form->DTTime->text(), "01.01.1900 00:00:00");
        QVERIFY(!form->btnApply->isEnabled());
        form->DTTime->setTime(QTime(12, 0, 0));  // the default date goes with it
        Requests();
        form->btnOK->click();
      });
      QCOMPARE(Boxes(), QStringList{kRefused.arg(c.first)});
      QCOMPARE(Requests(), QStringList{});
    }
  }

  void clockRefusedOrUnansweredApply() {
    Clock(kLocked, [&](TClockForm* form) {
      form->DTDate->setDate(QDate(2030, 1, 1));
      Requests();
      form->btnApply->click();
      QCOMPARE(Boxes(), QStringList{"E Отказано в доступе.: Невозможно изменить время устройства "
                                    "с адресом [2].\nНеобходимо ввести пароль."});
      QCOMPARE(Requests(), (QStringList{kCheck, kRead}));  // read again: the edit is gone
      QCOMPARE(Shown(form), kT);
      QVERIFY(!form->btnApply->isEnabled());
    });
    const QDateTime edit(QDate(2026, 7, 8), QTime(9, 10, 11));
    Clock(kUnit, [&](TClockForm* form) {
      form->DTDate->setDate(edit.date());
      form->DTTime->setTime(edit.time());
      Requests();
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      form->btnApply->click();
      QCOMPARE(Boxes(), QStringList{kFailedWrite});
      QCOMPARE(Requests(), QStringList{kCheck});
      QCOMPARE(Shown(form), edit);
      QVERIFY(form->btnApply->isEnabled());

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
      QCOMPARE(Requests(), (QStringList{kCheck, Write(edit)}));
      QCOMPARE(Shown(form), QDateTime(QDate(1900, 1, 1), QTime(0, 0)));
      QVERIFY(!form->btnApply->isEnabled());
    });
    Clock(kUnit, [&](TClockForm* form) { QCOMPARE(Shown(form), kT); });  // nothing was written
  }

  void passwordKeyFilterAndPaste() {
    Password(kUnit, [&](TPasswordForm* form) {
      QLineEdit* field = form->edPassword;
      Type(field, QStringLiteral("z Й йЁё.;"));
      QCOMPARE(field->text(), QString());
      Type(field, QStringLiteral("ая0_Ж"));
      QCOMPARE(field->text(), QStringLiteral("АЯ0_Ж"));
      QTest::keyClick(field, Qt::Key_Backspace);
      Type(field, QStringLiteral("бвгде"));
      QCOMPARE(field->text(), QStringLiteral("АЯ0_БВГД"));  // no ninth
      Type(form->edConfirmation, QStringLiteral("Ab_я"));
      QCOMPARE(form->edConfirmation->text(), QStringLiteral("_Я"));
      // Pasted text is filtered alike; what fits goes in, the text around it kept.
      field->setText(QStringLiteral("АЯ0_"));
      field->setCursorPosition(2);
      QApplication::clipboard()->setText(QStringLiteral("жЁ з Йиzклм"));
      QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
      QCOMPARE(field->text(), QStringLiteral("АЯЖЗИК0_"));
    });
  }

  void passwordWarningsSendNothing() {
    const QString shortText = "W Предупреждение: Пароль должен содержать 8 символов.";
    Password(kUnit, [&](TPasswordForm* form) {
      Requests();
      form->btnOk->click();
      Type(form->edPassword, "1234567");
      Type(form->edConfirmation, "1234567");
      form->btnOk->click();
      QCOMPARE(Boxes(), (QStringList{shortText, shortText}));
      Type(form->edPassword, "8");
      Type(form->edConfirmation, "9");
      form->btnOk->click();
      QCOMPARE(Boxes(), QStringList{"W Предупреждение.: Подтверждение пароля не совпадает с самим "
                                    "паролем."});
      QVERIFY(form->isVisible());
      QCOMPARE(Requests(), QStringList{});
    });
  }

  // Each opening chooses the mode by the unit's access; OK writes what was typed, then the
  // unit's access tells the outcome.
  void passwordModesAndWhatTheUnitDecides() {
    const QString wrong = "E Ошибка.: Введен неверный пароль.";
    const QString failed = "E Внимание!: Ошибка при передаче пароля устройству [%1]";
    const struct {
      uint8_t address;
      QString typed;
      bool refuseWrite;
      QStringList boxes;
    } cases[] = {
        {kSilent, "12345678", false, {failed.arg(9)}},
        {kUnit, "щит_9876", false, {}},
        {kLocked, "ЛИР00000", false, {wrong}},
        {kLocked, "ЛИР12345", true, {failed.arg(2), wrong}},  // checked all the same
        {kLocked, "лир12345", false, {}},
    };
    for (const auto& c : cases) {
      const bool change = c.address == kUnit;
      Password(c.address, [&](TPasswordForm* form) {
        QCOMPARE(Boxes(), c.address == kSilent  // before the dialog shows
                              ? QStringList{"E Внимание!: Ошибка при обращении к устройству [9]"}
                              : QStringList{});
        QCOMPARE(form->windowTitle(),
                 QString(change ? "Смена пароля устройства [%1]" : "Пароль устройства [%1]")
                     .arg(c.address));
        QCOMPARE(form->edPassword->y(), change ? 15 : 30);
        QCOMPARE(form->edConfirmation->isVisible(), change);
        QVERIFY(form->edPassword->text().isEmpty());  // the last opening's text is gone
        Type(form->edPassword, c.typed);
        if (change) Type(form->edConfirmation, c.typed);
        if (c.refuseWrite) Sim().InjectFault(Sim::FaultKind::Exception, 0, 1);
        form->btnOk->click();
        QVERIFY(!form->isVisible());
      });
      QCOMPARE(Boxes(), c.boxes);
      QCOMPARE(Requests().replaceInStrings(QRegularExpression(" =.*"), ""),
               (QStringList{kCheck, "16 540/4", kCheck}));
    }
    QCOMPARE(Sim().Password(kUnit), std::string("\xD9\xC8\xD2_9876"));
    QCOMPARE(LIR::CheckAccess(kLocked), uint8_t{LIR::AccessGranted});
    QCOMPARE(Sim().Password(kLocked), kLockedPassword);
  }
};

QTEST_MAIN(AccessDialogsTest)
#include "ClockPasswordTest.moc"