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

  // The controls set (speed, data bits, parity, stop bits, DTR, RTS, CTS, DSR), the dialog left
  // by OK or Cancel, then what the next showing reads from the handle and its flags word. The
  // defaults come back before Cancel and the refusal, so that every bit set before is cleared.
  void theHandleTakesWhatOkGives() {
    const struct {
      QString set;
      bool ok;
      QString shown;
      uint flags;
    } cases[] = {
        {"19200|8|Чет|2|Запрещен|Переключение|-|-", true, "", 0xB081},
        {"9600|8|Нет|2|Обмен|Обмен|CTS|DSR", true, "", 0xA0AD},
        {"9600|8|Нет|2|Разрешен|Запрещен|-|-", true, kDefaults, 0x8091},
        {"115200|8|Пробел (0)|2|Обмен|Запрещен|CTS|-", false, kDefaults, 0x8091},
        {"38400|8|Нет|1,5|Разрешен|Запрещен|-|-", true, kDefaults, 0x8091},  // 1,5: 5 bits only
    };
    for (const auto& c : cases) {
      const QStringList v = c.set.split('|');
      Open([&](TPortConfigForm* form) {
        QComboBox* const lists[] = {form->cbSpeed,    form->cbByte, form->cbParity,
                                    form->cbStopBits, form->cbDTR,  form->cbRTS};
        for (int i = 0; i < 6; ++i)
          lists[i]->setCurrentText(v[i]);
        form->chbCTS->setChecked(v[6] != "-");
        form->chbDSR->setChecked(v[7] != "-");
        (c.ok ? form->btnOk : form->btnCancel)->click();
      });
      QCOMPARE(Serial::DcbFlags(HandleState()), c.flags);
      QCOMPARE(Open(), c.shown.isEmpty() ? QStringList(v).join(' ') : c.shown);
    }
    Serial::Dcb dcb = HandleState();
    dcb.fDtrControl = 3;  // no such item: shown as disabled
    QVERIFY(Serial::SetState(ModBus::Port->Handle, dcb));
    QCOMPARE(Open(), "9600 8 Нет 2 Запрещен Запрещен - -");
  }

  // A change holds until the port is chosen again.
  void choosingThePortAgainGivesTheDefaults() {
    Open([](TPortConfigForm* form) {
      form->cbSpeed->setCurrentText("19200");
      form->btnOk->click();
    });
    QVERIFY(Gui::RunDialog(*boxes_, MainForm->actPortSelect, PortSelectForm, [] {
      PortSelectForm->PortNamer->setEditText(QStringLiteral("COM2"));
      PortSelectForm->btnOk->click();
    }));
    QCOMPARE(Open(), kDefaults);
  }
};

QTEST_MAIN(PortConfigTest)
#include "PortConfigTest.moc"