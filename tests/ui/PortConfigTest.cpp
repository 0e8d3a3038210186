// The port configuration dialog through its launcher on the simulator's terminal: what it
// shows of the open handle, what OK puts on the handle, and what Cancel, a refused setting
// and a new connection leave.

#include <QApplication>
#include <QTest>
#include <cstring>

#include "Harness.h"
#include "link/ModBus.h"
#include "platform/Serial.h"
#include "ui/main/Main.h"
#include "ui/port/PortConfig.h"
#include "ui/port/PortSelect.h"

namespace {

// What the dialog shows when it comes up.
struct Shown {
  QString Caption;
  int Tab = -1;
  QString Speed, Byte, Parity, StopBits, Dtr, Rts;
  bool Cts = true, Dsr = true;
};

Serial::Dcb HandleState() {
  Serial::Dcb dcb{};
  if (!Serial::GetState(ModBus::Port->Handle, dcb)) qWarning("GetState failed");
  return dcb;
}

void Choose(QComboBox* list, const QString& text) {
  const int index = list->findText(text);
  if (index < 0) qWarning("no item %s in %s", qPrintable(text), qPrintable(list->objectName()));
  list->setCurrentIndex(index);
}

QStringList Items(const QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i)
    items << list->itemText(i);
  return items;
}

}  // namespace

class PortConfigTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;

  // Opens the dialog through its launcher; inDialog gets what was shown and then changes
  // the controls; the dialog is closed with `close` (OK, Отмена or Esc).
  Shown Open(const std::function<void(TPortConfigForm*)>& inDialog = {},
             const QString& close = "OK") {
    Shown shown;
    boxes_->OnDialog([&](QWidget* dialog) {
      auto* form = qobject_cast<TPortConfigForm*>(dialog);
      if (!form) return;
      shown = {form->windowTitle(),           form->PageCont->currentIndex(),
               form->cbSpeed->currentText(),  form->cbByte->currentText(),
               form->cbParity->currentText(), form->cbStopBits->currentText(),
               form->cbDTR->currentText(),    form->cbRTS->currentText(),
               form->chbCTS->isChecked(),     form->chbDSR->isChecked()};
      if (inDialog) inDialog(form);
      if (close == "OK")
        QTest::mouseClick(form->btnOk, Qt::LeftButton);
      else if (close == "Esc")
        QTest::keyClick(form, Qt::Key_Escape);
      else
        QTest::mouseClick(form->btnCancel, Qt::LeftButton);
    });
    MainForm->actPortConfig->trigger();
    boxes_->OnDialog({});
    if (PortConfigForm->isVisible()) qWarning("the dialog stayed open");
    return shown;
  }

  // Chooses the port again in the port selection dialog, which reopens it.
  void ChoosePortAgain() {
    boxes_->OnDialog([](QWidget* dialog) {
      if (dialog != PortSelectForm) return;
      PortSelectForm->PortNamer->setEditText(QStringLiteral("COM2"));
      QTest::mouseClick(PortSelectForm->btnOk, Qt::LeftButton);
    });
    MainForm->actPortSelect->trigger();
    boxes_->OnDialog({});
  }

  static void VerifyDefaults(const Shown& s) {
    QCOMPARE(s.Speed, QStringLiteral("9600"));
    QCOMPARE(s.Byte, QStringLiteral("8"));
    QCOMPARE(s.Parity, QStringLiteral("Нет"));
    QCOMPARE(s.StopBits, QStringLiteral("2"));
    QVERIFY(!s.Cts && !s.Dsr);
    QCOMPARE(s.Dtr, QStringLiteral("Разрешен"));
    QCOMPARE(s.Rts, QStringLiteral("Запрещен"));
  }

 private slots:
  void initTestCase() {
    line_ =
        std::make_unique<Gui::Line>(Sim::LineSetup{}, std::vector<Sim::UnitSetup>{Gui::Unit(1, 6)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    QVERIFY(PortConfigForm && ModBus::Port->Connected);
  }

  // First of all: only the first showing can meet a value that no list has.
  void unlistedSpeedIsKeptOnTheFirstShowing() {
    Serial::Dcb dcb = HandleState();
    dcb.BaudRate = 31250;
    QVERIFY(Serial::SetState(ModBus::Port->Handle, dcb));
    const Shown shown = Open([](TPortConfigForm* form) {
      QCOMPARE(form->cbSpeed->currentIndex(), -1);
      Choose(form->cbParity, "Нечет");
    });
    QVERIFY(shown.Speed.isEmpty());
    QCOMPARE(shown.Parity, QStringLiteral("Нет"));
    const Serial::Dcb after = HandleState();
    QCOMPARE(after.BaudRate, 31250u);
    QCOMPARE(after.Parity, uint8_t{Serial::OddParity});
    QCOMPARE(after.ByteSize, uint8_t{8});
  }

  void init() {
    MainForm->actPortConnectionExecute();  // every case starts from the port's defaults
    QVERIFY(ModBus::Port->Connected);
    boxes_->Take();
  }

  void defaultsAfterConnection() {
    QWidget* shownForm = nullptr;
    QPoint place;
    QStringList speeds, bytes, parities, stopBits, dtr, rts, tabs;
    const Shown shown = Open([&](TPortConfigForm* form) {
      shownForm = form;
      place = form->pos();
      speeds = Items(form->cbSpeed);
      bytes = Items(form->cbByte);
      parities = Items(form->cbParity);
      stopBits = Items(form->cbStopBits);
      dtr = Items(form->cbDTR);
      rts = Items(form->cbRTS);
      for (int i = 0; i < form->PageCont->count(); ++i)
        tabs << form->PageCont->tabText(i);
      Gui::Snapshot(form, "port-config-general");
      form->PageCont->setCurrentIndex(1);
      Gui::Snapshot(form, "port-config-more");
    });
    VerifyDefaults(shown);
    QCOMPARE(shown.Caption, QStringLiteral("Настройка порта: COM2"));
    QCOMPARE(shown.Tab, 0);
    QCOMPARE(shownForm, PortConfigForm);
    QCOMPARE(place, QPoint(273, 110));
    QCOMPARE(PortConfigForm->size(), QSize(298, 187));
    QCOMPARE(PortConfigForm->minimumSize(), PortConfigForm->maximumSize());
    QCOMPARE(tabs, (QStringList{"Общие", "Дополнительно"}));
    QCOMPARE(speeds,
             (QStringList{"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                          "38400", "56000", "57600", "115200", "128000", "256000"}));
    QCOMPARE(bytes, (QStringList{"4", "5", "6", "7", "8"}));
    QCOMPARE(parities, (QStringList{"Нет", "Нечет", "Чет", "Маркер (1)", "Пробел (0)"}));
    QCOMPARE(stopBits, (QStringList{"1", "1,5", "2"}));
    QCOMPARE(dtr, (QStringList{"Запрещен", "Разрешен", "Обмен"}));
    QCOMPARE(rts, (QStringList{"Запрещен", "Разрешен", "Обмен", "Переключение"}));
    // Left on the second tab, shown again on the first.
    QCOMPARE(Open({}, "Отмена").Tab, 0);
  }

  void changeHoldsUntilThePortIsChosenAgain() {
    const Serial::Dcb portDcb = ModBus::Port->Dcb;
    Open([](TPortConfigForm* form) {
      Choose(form->cbSpeed, "19200");
      Choose(form->cbParity, "Чет");
    });
    const Serial::Dcb after = HandleState();
    QCOMPARE(after.BaudRate, 19200u);
    QCOMPARE(after.Parity, uint8_t{Serial::EvenParity});
    QCOMPARE(after.StopBits, uint8_t{Serial::TwoStopBits});
    QVERIFY(std::memcmp(&portDcb, &ModBus::Port->Dcb, sizeof portDcb) == 0);

    const Shown again = Open({}, "Отмена");
    QCOMPARE(again.Speed, QStringLiteral("19200"));
    QCOMPARE(again.Parity, QStringLiteral("Чет"));
    QCOMPARE(again.Byte, QStringLiteral("8"));

    ChoosePortAgain();
    QCOMPARE(boxes_->Count(), 0);
    VerifyDefaults(Open({}, "Отмена"));
  }

  void flagsWord_data() {
    QTest::addColumn<QString>("rts");
    QTest::addColumn<QString>("dtr");
    QTest::addColumn<bool>("checks");
    QTest::addColumn<uint>("flags");
    QTest::newRow("toggle, DTR off") << "Переключение"
                                     << "Запрещен" << false << 0xB081u;
    QTest::newRow("handshakes, checks") << "Обмен"
                                        << "Обмен" << true << 0xA0ADu;
    QTest::newRow("defaults") << "Запрещен"
                              << "Разрешен" << false << 0x8091u;
  }

  void flagsWord() {
    QFETCH(QString, rts);
    QFETCH(QString, dtr);
    QFETCH(bool, checks);
    QFETCH(uint, flags);
    Open([&](TPortConfigForm* form) {
      Choose(form->cbRTS, rts);
      Choose(form->cbDTR, dtr);
      form->chbCTS->setChecked(checks);
      form->chbDSR->setChecked(checks);
    });
    const Serial::Dcb after = HandleState();
    QCOMPARE(Serial::DcbFlags(after), flags);
    QCOMPARE(after.BaudRate, 9600u);
    QCOMPARE(after.ByteSize, uint8_t{8});
    QCOMPARE(after.StopBits, uint8_t{Serial::TwoStopBits});
    const Shown again = Open({}, "Отмена");
    QCOMPARE(again.Rts, rts);
    QCOMPARE(again.Dtr, dtr);
    QCOMPARE(again.Cts, checks);
    QCOMPARE(again.Dsr, checks);
  }

  void dtrFieldThreeShowsDisabled() {
    Serial::Dcb dcb = HandleState();
    dcb.fDtrControl = 3;
    QVERIFY(Serial::SetState(ModBus::Port->Handle, dcb));
    QCOMPARE(HandleState().fDtrControl, 3u);
    QCOMPARE(Open().Dtr, QStringLiteral("Запрещен"));
    QCOMPARE(HandleState().fDtrControl, uint32_t{Serial::DtrControlDisable});
  }

  void cancelChangesNothing_data() {
    QTest::addColumn<QString>("close");
    QTest::newRow("Отмена") << "Отмена";
    QTest::newRow("Esc") << "Esc";
  }

  void cancelChangesNothing() {
    QFETCH(QString, close);
    const Serial::Dcb before = HandleState();
    Open(
        [](TPortConfigForm* form) {
          Choose(form->cbSpeed, "115200");
          Choose(form->cbByte, "7");
          Choose(form->cbParity, "Пробел (0)");
          Choose(form->cbStopBits, "1");
          Choose(form->cbDTR, "Обмен");
          Choose(form->cbRTS, "Разрешен");
          form->chbCTS->setChecked(true);
        },
        close);
    const Serial::Dcb after = HandleState();
    QVERIFY(std::memcmp(&before, &after, sizeof before) == 0);
    // The next showing reads the handle, not what was left in the controls.
    VerifyDefaults(Open({}, "Отмена"));
  }

  void refusedSettingIsNotReported() {
    const Serial::Dcb before = HandleState();
    Open([](TPortConfigForm* form) {
      Choose(form->cbSpeed, "38400");
      Choose(form->cbStopBits, "1,5");  // the line takes 1.5 stop bits only with 5 data bits
    });
    QCOMPARE(boxes_->Count(), 0);
    const Serial::Dcb after = HandleState();
    QVERIFY(std::memcmp(&before, &after, sizeof before) == 0);
    VerifyDefaults(Open({}, "Отмена"));
  }
};

QTEST_MAIN(PortConfigTest)
#include "PortConfigTest.moc"
