// The device settings dialog opened by its launcher on a simulated line.

#include <QLineEdit>

#include "Harness.h"
#include "ui/dialogs/Settings.h"

class SettingsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  const QString readError_ = "E Внимание!: Ошибка при получении параметров от устройства [2]";
  static QStringList Reads() { return {"3 523/3", "3 527/1"}; }  // the words, the relay type
  Sim::Simulator& Sim() { return line_->Sim(); }
  // The requests, the boxes, then, while the dialog is open, each entry as "channel/flag" in
  // the order of the bytes in the unit's words, the relay type, the address, "+" for Apply.
  QStringList Seen() {
    TSettingsForm* f = SettingsForm;
    QStringList seen = Gui::Requests(Sim().TakeLog()) + boxes_->TakeTexts(), shown;
    for (const QString entry : {"Control", "Kvitir", "Pusk", "Stop", "Restart", "Sbros"})
      shown << f->findChild<QComboBox*>("cb" + entry)->currentText() +
                   (f->findChild<QCheckBox*>("chb" + entry)->isChecked() ? "/x" : "/");
    shown << f->cbCommonRele->currentText() << f->seAddress->text();
    if (f->btnApply->isEnabled()) shown << "+";
    return f->isVisible() ? seen << shown.join(' ') : seen;
  }
  void Set(uint8_t unit, uint16_t w0, uint16_t w1, uint16_t w2, uint16_t relay) {
    QVERIFY(Sim().SetHolding(unit, 523, w0) && Sim().SetHolding(unit, 524, w1) &&
            Sim().SetHolding(unit, 525, w2) && Sim().SetHolding(unit, 527, relay));
  }
  // A granted Apply: the check, the three words, then the relay type.
  static QStringList Apply(int w0, int w1, int w2, int relay) {
    return {"4 50/1", QStringLiteral("16 523/3 = %1 %2 %3").arg(w0).arg(w1).arg(w2),
            QStringLiteral("16 527/1 = %1").arg(relay)};
  }
  // ЛИР-4М at 1, ЛИР-8М at 2 and 4, a ЛИР-8М without access at 5, ЛИР-12М at 7.
  static int Model(int unit) { return unit == 1 ? 5 : unit == 7 ? 7 : 6; }
  static QTreeWidgetItem* Node(int unit) { return MainForm->DeviceNode(unit * 256 + Model(unit)); }
  void Open(QTreeWidgetItem* node, const std::function<void(TSettingsForm*)>& drive) {
    MainForm->Net->setCurrentItem(node);
    QVERIFY(
        Gui::RunDialog(*boxes_, MainForm->actSettings, SettingsForm, [&] { drive(SettingsForm); }));
  }

 private slots:
  void initTestCase() {
    std::vector<Sim::UnitSetup> units;
    for (int unit : {1, 2, 4, 5, 7})
      units.push_back(Gui::Unit(uint8_t(unit), uint8_t(Model(unit)), unit != 5));
    line_ = std::make_unique<Gui::Line>(Sim::LineSetup{}, units);
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    MainForm->Net->clear();  // then the tree a scan leaves
    auto* port = new QTreeWidgetItem(MainForm->Net, {"COM2"});
    for (const Sim::UnitSetup& u : units)
      (new QTreeWidgetItem(port, {TMainForm::DeviceNodeText(u.Address, u.Model)}))
          ->setData(0, Qt::UserRole, u.Address * 256 + u.Model);
  }

  void init() {
    ModBus::SetTrafficSink(nullptr);  // the traffic window is not looked at here
    Sim().ClearFaults();
    Seen();
  }

  void readsAndWritesTheWords() {
    const QString notRead =
        "W Внимание!: Настройки устройства [2] не прочитаны.\nНажмите \"Обновить\".";
    Set(2, 0x8305, 0x8100, 0x8807, 1);
    Open(Node(2), [&](TSettingsForm* f) {
      QCOMPARE(Seen(), Reads() + QStringList{"3/x 5/ 1/x Нет/ 8/x 7/ Н.З. 2"});
      Set(2, 0x0583, 0x0001, 0x0887, 1);  // every flag turned over, and each box follows
      // The relay read unanswered: nothing is sent until the user chooses a type.
      ModBus::SetTrafficSink([this, n = 0](const uint8_t*, uint16_t, uint8_t dir) mutable {
        if (dir == ModBus::Received && ++n == 1) Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      });
      f->btnRefresh->click();
      f->cbPusk->setCurrentIndex(4);
      f->chbPusk->click();
      f->btnApply->click();
      QCOMPARE(Seen(), Reads() << readError_ << notRead << "5/ 3/x 4/x 1/ 8/ 7/x  2 +");
      f->cbCommonRele->setCurrentIndex(0);
      f->btnApply->click();  // both written, changed or not; the address not
      QCOMPARE(Seen(), Apply(0x0583, 0x8401, 0x0887, 0) << "5/ 3/x 4/x 1/ 8/ 7/x Н.Р. 2");
      // A type that is neither: shown as none, and the unit keeps it.
      QVERIFY(Sim().SetHolding(2, 527, 5));
      f->btnRefresh->click();
      f->chbStop->click();
      f->btnApply->click();
      QCOMPARE(Seen(), Reads() + Apply(0x0583, 0x8481, 0x0887, 0).mid(0, 2)
                           << "5/ 3/x 4/x 1/x 8/ 7/x  2");
      // Neither read answered: every box unticked, and nothing read to write.
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 2);
      f->btnRefresh->click();
      f->cbPusk->setCurrentIndex(1);
      f->btnApply->click();
      QCOMPARE(Seen(), Reads() << readError_ << notRead << "/ / 1/ / / /  2 +");
      f->btnRefresh->click();
      f->cbCommonRele->setCurrentIndex(1);
      f->btnOK->click();
    });
    QCOMPARE(Seen(), Reads() + Apply(0x0583, 0x8481, 0x0887, 1) + QStringList({"4 4/1", "3 0/24"}));
  }

  void fourChannelUnitWritesItsChannelsWhenBlank() {
    Set(1, 0x0080, 0x0381, 0x0000, 0);
    Open(Node(1), [&](TSettingsForm* f) {
      for (QComboBox* combo : f->findChildren<QComboBox*>())
        QCOMPARE(combo->count(), combo == f->cbCommonRele ? 2 : 1);
      QCOMPARE(Seen().last(), QStringLiteral("Нет/ Нет/x / /x Нет/ Нет/ Н.Р. 1"));
      f->chbPusk->click();  // a blank entry gives the channel last read, its flag the box's
      f->chbStop->click();
      f->btnApply->click();
      QCOMPARE(Seen(), Apply(0x80, 0x8301, 0, 0) << "Нет/ Нет/x /x / Нет/ Нет/ Н.Р. 1");
      f->btnOK->click();
    });
    QCOMPARE(Seen(), (QStringList{"4 4/1", "3 0/12"}));  // OK unchanged: the launcher's re-read
  }

  void enterOnTheFocusAfterNoAnswerWritesNothing() {
    Open(Node(2), [&](TSettingsForm* f) {
      f->seAddress->setValue(30);
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      f->btnApply->click();
      QTest::keyClick(f->focusWidget(), Qt::Key_Return);  // the user gives up
      QVERIFY(!f->isVisible());
    });
    QCOMPARE(Seen(), Reads() + QStringList({"4 50/1", "4 4/1", "3 0/24",
                                            "E Внимание!: Ошибка при передаче параметров "
                                            "устройству [2]"}));
  }

  void accessAndAddress() {
    QTreeWidgetItem *port = MainForm->Net->topLevelItem(0), *node = Node(4);
    const auto marks = [&] { return node->text(0) + MainForm->DeviceProp->title(); };
    MainForm->Net->setCurrentItem(node);
    const QString before = marks(), none = "Нет/ Нет/ Нет/ Нет/ Нет/ Нет/ Н.Р. ";
    Open(port, [&](TSettingsForm* f) {  // the unit's node is then to be found by its data
      f->btnOK->setFocus();
      f->cbPusk->setCurrentIndex(5);
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      f->btnApply->click();
      QCOMPARE(Seen(), Reads() << "4 50/1"
                               << "E Внимание!: Ошибка при передаче параметров устройству [4]"
                               << "Нет/ Нет/ 5/ Нет/ Нет/ Нет/ Н.Р. 4 +");
      QCOMPARE(f->focusWidget(), f->btnCancel);
      QVERIFY(Sim().SetAccess(4, false));
      f->btnApply->click();  // refused: the unit's values again
      QCOMPARE(Seen(), QStringList{"4 50/1"} + Reads()
                           << "E Отказано в доступе.: Невозможно изменить настройки устройства с "
                              "адресом [4].\nНеобходимо ввести пароль."
                           << none + "4");
      QVERIFY(Sim().SetAccess(4, true));
      for (const QString text : {"0", "300", "4x"}) {  // typed, not yet taken by the spin box
        f->seAddress->findChild<QLineEdit*>()->setText(text);
        f->btnApply->click();
        QCOMPARE(Seen(), QStringList{"W Внимание!: Недопустимый сетевой адрес: " + text +
                                     ".\nАдрес должен быть от 1 до 255."}
                             << none + text + " +");
      }
      for (int taken : {7, 5}) {  // access granted there, or denied
        f->seAddress->setValue(taken);
        Sim().ResetCounters();
        f->btnApply->click();
        QCOMPARE(Seen(),
                 Apply(0, 0, 0, 0)
                     << "4 50/1"
                     << QString("E Внимание!: Устройство с адресом [%1] уже есть в сети").arg(taken)
                     << none + "4 +");
        QCOMPARE(Sim().RequestCount(uint8_t(taken)), 1u);  // the probe
        QCOMPARE(marks(), before);
      }
      f->seAddress->setValue(20);
      f->btnApply->click();
      QCOMPARE(Seen(), Apply(0, 0, 0, 0) + QStringList({"4 50/1", "6 544 = 20", none + "20"}));
      QVERIFY(Gui::WaitFor([&] { return Sim().HasUnit(20) && !Sim().HasUnit(4); }, 2000));
      QCOMPARE(marks(), QStringLiteral("[***] ЛИР-8М [***] ЛИР - 8М "));
    });
  }
};

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
