// The password dialog on a simulated line, opened by the main window's launcher: its two
// modes, the key filter and pasting, the warnings, and what the unit is sent and decides.

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "Harness.h"
#include "device/LIR.h"
#include "ui/dialogs/Password.h"
#include "ui/main/Main.h"

namespace {

constexpr uint8_t kGranted = 1, kLocked = 2, kSilent = 9;  // nobody at 9
const std::string kLockedPassword =
    "\xCB\xC8\xD0"
    "12345";  // "ЛИР12345" in cp1251

// Each character as a key press carrying it, as the keyboard types it.
void Type(QWidget* field, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(field, &press);
  }
}

void Paste(QLineEdit* field, const QString& text) {
  QApplication::clipboard()->setText(text);
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
}

}  // namespace

class PasswordTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }

  // Opens the dialog for the unit; `drive` works it and closes it.
  void Open(uint8_t address, const std::function<void(TPasswordForm*)>& drive) {
    Main::SelectedAddress = address;
    QVERIFY(
        Gui::RunDialog(*boxes_, MainForm->actPassword, PasswordForm, [&] { drive(PasswordForm); }));
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
    Sim::UnitSetup locked = Gui::Unit(kLocked, 6, false);
    locked.Password = kLockedPassword;
    line_ = std::make_unique<Gui::Line>(
        Sim::LineSetup{}, std::vector<Sim::UnitSetup>{Gui::Unit(kGranted, 7), locked});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
  }

  void init() {
    Sim().ClearFaults();
    Boxes();
    Requests();
  }

  void modesByTheUnitsAccess() {
    Open(kGranted, [&](TPasswordForm* form) {
      QCOMPARE(form->windowTitle(), QStringLiteral("Смена пароля устройства [1]"));
      QCOMPARE(form->Label1->text(), QStringLiteral("Новый пароль:"));
      QCOMPARE(form->Label1->pos(), QPoint(12, 19));
      QCOMPARE(form->edPassword->pos(), QPoint(123, 15));
      QVERIFY(form->Label2->isVisible() && form->edConfirmation->isVisible());
      QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->edPassword));
      Type(form->edPassword, "123");
      Type(form->edConfirmation, "45");
      Gui::Snapshot(form, "password-change");
      QTest::keyClick(form, Qt::Key_Escape);
    });
    Open(kLocked, [&](TPasswordForm* form) {
      QCOMPARE(form->windowTitle(), QStringLiteral("Пароль устройства [2]"));
      QCOMPARE(form->Label1->text(), QStringLiteral("Пароль:"));
      QCOMPARE(form->Label1->pos(), QPoint(12, 34));
      QCOMPARE(form->edPassword->pos(), QPoint(123, 30));
      QVERIFY(!form->Label2->isVisible() && !form->edConfirmation->isVisible());
      QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->edPassword));
      QVERIFY(form->edPassword->text().isEmpty());  // the last opening's text is gone
      Type(form->edPassword, "12345");
      Gui::Snapshot(form, "password-enter");
      form->btnCancel->click();
    });
    QCOMPARE(Requests(), (QStringList{"4:50", "4:50"}));  // the checks alone
    QCOMPARE(Boxes(), QStringList{});
  }

  void keyFilterAndPasteAgree() {
    Open(kGranted, [&](TPasswordForm* form) {
      QLineEdit* field = form->edPassword;
      Type(field, QStringLiteral("z Й йЁё.;"));
      QCOMPARE(field->text(), QString());
      Type(field, QStringLiteral("ая0_Ж"));
      QCOMPARE(field->text(), QStringLiteral("АЯ0_Ж"));
      QTest::keyClick(field, Qt::Key_Backspace);
      Type(field, QStringLiteral("бвгде"));
      QCOMPARE(field->text(), QStringLiteral("АЯ0_БВГД"));  // no ninth
      field->selectAll();
      Type(field, QStringLiteral("w"));  // a refused key does not type over a selection
      QCOMPARE(field->text(), QStringLiteral("АЯ0_БВГД"));

      field->clear();
      Paste(field, QStringLiteral("аб1Й z_"));
      QCOMPARE(field->text(), QStringLiteral("АБ1_"));
      QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
      QCOMPARE(field->text(), QStringLiteral("АБ1_АБ1_"));
      // Dropped before the limit counts: a copied password with blanks arrives whole.
      field->clear();
      QApplication::clipboard()->setText(QStringLiteral(" лир12345 \n"));
      field->paste();  // as the context menu does
      QCOMPARE(field->text(), QStringLiteral("ЛИР12345"));
      // Into the middle: what fits, the text around it kept.
      field->setText(QStringLiteral("1234"));
      field->setCursorPosition(2);
      Paste(field, QStringLiteral("ЖЁзиклм"));
      QCOMPARE(field->text(), QStringLiteral("12ЖЗИК34"));
      Paste(form->edConfirmation, QStringLiteral("Ab_я"));
      QCOMPARE(form->edConfirmation->text(), QStringLiteral("_Я"));
    });
    QCOMPARE(Requests(), QStringList{"4:50"});
  }

  void warningsSendNothing() {
    Open(kGranted, [&](TPasswordForm* form) {
      Requests();
      Type(form->edPassword, "1234567");
      Type(form->edConfirmation, "1234567");
      form->btnOk->click();
      QCOMPARE(Boxes(), QStringList{"Предупреждение | Пароль должен содержать 8 символов. | "
                                    "warning"});
      QVERIFY(form->isVisible());
      QCOMPARE(form->edPassword->text(), QStringLiteral("1234567"));
      Type(form->edPassword, "8");
      Type(form->edConfirmation, "9");
      form->btnOk->click();
      form->edConfirmation->setText("1234");
      form->btnOk->click();
      const QString mismatch = QStringLiteral(
          "Предупреждение. | Подтверждение пароля не совпадает с самим паролем. | warning");
      QCOMPARE(Boxes(), (QStringList{mismatch, mismatch}));
      QVERIFY(form->isVisible());
      QCOMPARE(Requests(), QStringList{});
    });
    QCOMPARE(Sim().Password(kGranted), std::string("00000000"));
  }

  void newPasswordIsWrittenThenChecked() {
    Open(kGranted, [&](TPasswordForm* form) {
      Requests();
      Type(form->edPassword, QStringLiteral("щит_9876"));
      Type(form->edConfirmation, QStringLiteral("ЩИТ_9876"));
      QTest::keyClick(form->edConfirmation, Qt::Key_Return);  // the default button
    });
    QCOMPARE(Boxes(), QStringList{});
    QCOMPARE(Requests(), (QStringList{"16:540", "4:50"}));
    QCOMPARE(Sim().Password(kGranted), std::string("\xD9\xC8\xD2_9876"));
  }

  void wrongPasswordIsWrittenThenReported() {
    Open(kLocked, [&](TPasswordForm* form) {
      Requests();
      Type(form->edPassword, QStringLiteral("ЛИР00000"));
      form->btnOk->click();
    });
    QCOMPARE(Boxes(), QStringList{"Ошибка. | Введен неверный пароль. | error"});
    QCOMPARE(Requests(), (QStringList{"16:540", "4:50"}));
    // A failed write is reported, and the check still runs.
    Open(kLocked, [&](TPasswordForm* form) {
      Type(form->edPassword, QStringLiteral("ЛИР12345"));
      Sim().InjectFault(Sim::FaultKind::Exception, 0, 1);
      form->btnOk->click();
    });
    QCOMPARE(Boxes(), (QStringList{"Внимание! | Ошибка при передаче пароля устройству [2] | error",
                                   "Ошибка. | Введен неверный пароль. | error"}));
    QCOMPARE(LIR::CheckAccess(kLocked), uint8_t{LIR::AccessDenied});
  }

  void rightPasswordUnlocks() {
    Open(kLocked, [&](TPasswordForm* form) {
      Type(form->edPassword, QStringLiteral("лир12345"));
      form->btnOk->click();
    });
    QCOMPARE(Boxes(), QStringList{});
    QCOMPARE(LIR::CheckAccess(kLocked), uint8_t{LIR::AccessGranted});
    QCOMPARE(Sim().Password(kLocked), kLockedPassword);
    Sim().SetAccess(kLocked, false);
  }

  void silentUnitOpensInEnterMode() {
    Open(kSilent, [&](TPasswordForm* form) {
      QCOMPARE(Boxes(), QStringList{"Внимание! | Ошибка при обращении к устройству [9] | error"});
      QCOMPARE(form->windowTitle(), QStringLiteral("Пароль устройства [9]"));
      QVERIFY(!form->edConfirmation->isVisible());
      QCOMPARE(form->edPassword->pos(), QPoint(123, 30));
      Type(form->edPassword, "12345678");
      form->btnOk->click();
      QVERIFY(!form->isVisible());  // closes once the write was tried
    });
    // The check after the write gets no answer either: no second box.
    QCOMPARE(Boxes(), QStringList{"Внимание! | Ошибка при передаче пароля устройству [9] | error"});
  }
};

QTEST_MAIN(PasswordTest)
#include "PasswordTest.moc"
