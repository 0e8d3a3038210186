// The port configuration dialog through its launcher on the simulator's terminal: what it
// shows of the open handle, and what OK, Cancel, a refusal and a new connection leave there.

#include <QTest>
#include <cstring>

#include "Harness.h"
#include "link/ModBus.h"
#include "platform/Serial.h"
#include "ui/main/Main.h"
#include "ui/port/PortConfig.h"
#include "ui/port/PortSelect.h"

namespace {

// The controls in one line: speed, data bits, parity, stop bits, DTR, RTS, CTS, DSR.
const QString kDefaults = "9600 8 Нет 2 Разрешен Запрещен - -";

Serial::Dcb HandleState() {
  Serial::Dcb dcb{};
  Serial::GetState(ModBus::Port->Handle, dcb);
  return dcb;
}

}  // namespace

class PortConfigTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;

  // What the dialog showed; `drive` may then work it (a dialog left open is cancelled).
  QString Open(const std::function<void(TPortConfigForm*)>& drive = {}) {
    QString shown;
    const bool closed = Gui::RunDialog(*boxes_, MainForm->actPortConfig, PortConfigForm, [&] {
      TPortConfigForm* f = PortConfigForm;
      QStringList texts;
      for (QComboBox* list :
           {f->cbSpeed, f->cbByte, f->cbParity, f->cbStopBits, f->cbDTR, f->cbRTS})
        texts << list->currentText();
      texts << (f->chbCTS->isChecked() ? "CTS" : "-") << (f->chbDSR->isChecked() ? "DSR" : "-");
      shown = texts.join(' ');
      if (drive) drive(f);
    });
    if (!closed) QTest::qFail("the dialog did not come up or stayed open", __FILE__, __LINE__);
    return shown;
  }

 private slots:
  void initTestCase() {
    line_ = std::make_unique<Gui::Line>(Sim::LineSetup{}, std::vector{Gui::Unit(1, 6)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
  }

  void init() { MainForm->actPortConnectionExecute(); }             // from the port's defaults
  void cleanup() { QCOMPARE(boxes_->TakeTexts(), QStringList{}); }  // the dialog has none

  void defaultsAndOkWithoutChanges() {
    const Serial::Dcb before = HandleState();
    QCOMPARE(Open([](TPortConfigForm* form) {
               QCOMPARE(form->windowTitle(), QStringLiteral("Настройка порта: COM2"));
               form->PageCont->setCurrentIndex(1);  // the next showing is on the first tab
               form->btnOk->click();
             }),
             kDefaults);
    const Serial::Dcb after = HandleState();
    QVERIFY(std::memcmp(&before, &after, sizeof before) == 0);
    Open([](TPortConfigForm* form) { QCOMPARE(form->PageCont->currentIndex(), 0); });
  }

  void changeHoldsUntilThePortIsChosenAgain() {
    Open([](TPortConfigForm* form) {
      form->cbSpeed->setCurrentText("19200");
      form->cbParity->setCurrentText("Чет");
      form->btnOk->click();
    });
    QCOMPARE(Open(), "19200 8 Чет 2 Разрешен Запрещен - -");
    QVERIFY(Gui::RunDialog(*boxes_, MainForm->actPortSelect, PortSelectForm, [] {
      PortSelectForm->PortNamer->setEditText(QStringLiteral("COM2"));
      PortSelectForm->btnOk->click();
    }));
    QCOMPARE(Open(), kDefaults);
  }

  void flagsWordFromTheControlsAndBack() {
    // DTR, RTS, CTS, DSR; the defaults last, so that every bit set before is cleared.
    const std::pair<QString, uint> cases[] = {{"Запрещен Переключение - -", 0xB081},
                                              {"Обмен Обмен CTS DSR", 0xA0AD},
                                              {"Разрешен Запрещен - -", 0x8091}};
    for (const auto& c : cases) {
      const QStringList controls = c.first.split(' ');
      Open([&](TPortConfigForm* form) {
        form->cbDTR->setCurrentText(controls[0]);
        form->cbRTS->setCurrentText(controls[1]);
        form->chbCTS->setChecked(controls[2] != "-");
        form->chbDSR->setChecked(controls[3] != "-");
        form->btnOk->click();
      });
      QCOMPARE(Serial::DcbFlags(HandleState()), c.second);
      QCOMPARE(Open(), "9600 8 Нет 2 " + c.first);
    }
    Serial::Dcb dcb = HandleState();
    dcb.fDtrControl = 3;  // no such item: shown as disabled
    QVERIFY(Serial::SetState(ModBus::Port->Handle, dcb));
    QCOMPARE(Open(), "9600 8 Нет 2 Запрещен Запрещен - -");
  }

  // The next showing reads the handle, not what the controls were left at.
  void cancelAndARefusedSettingLeaveTheHandle() {
    Open([](TPortConfigForm* form) {
      form->cbSpeed->setCurrentText("115200");
      form->cbParity->setCurrentText("Пробел (0)");
      form->cbDTR->setCurrentText("Обмен");
      form->chbCTS->setChecked(true);
      form->btnCancel->click();
    });
    QCOMPARE(Open(), kDefaults);
    Open([](TPortConfigForm* form) {
      form->cbSpeed->setCurrentText("38400");
      form->cbStopBits->setCurrentText("1,5");  // taken with 5 data bits only
      form->btnOk->click();
    });
    QCOMPARE(Open(), kDefaults);
  }
};

QTEST_MAIN(PortConfigTest)
#include "PortConfigTest.moc"