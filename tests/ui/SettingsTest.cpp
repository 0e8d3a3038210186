// The device settings dialog on a simulated line, opened through its launcher: what it
// shows, what it writes and in which order, and what it refuses.

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "Harness.h"
#include "link/ModBus.h"
#include "link/Traffic.h"
#include "ui/dialogs/Progress.h"
#include "ui/dialogs/Settings.h"
#include "ui/main/Main.h"

namespace {

constexpr uint8_t k4M = 1, k8M = 2, k12M = 3, kMover = 4, kLocked = 5, kOther = 7;
constexpr uint16_t kSettings = 523, kRele = 527;

// The requests the master sent, as "address f<function> r<register> n<count>" (or "=value"
// for a single write).
QStringList Requests(const std::vector<Sim::Frame>& frames) {
  QStringList requests;
  for (const Sim::Frame& frame : frames) {
    const std::vector<uint8_t>& b = frame.Bytes;
    if (!frame.FromMaster || b.size() < 6) continue;
    requests << QStringLiteral("%1 f%2 r%3 %4%5")
                    .arg(b[0])
                    .arg(b[1])
                    .arg(b[2] << 8 | b[3])
                    .arg(b[1] == 6 ? "=" : "n")
                    .arg(b[4] << 8 | b[5]);
  }
  return requests;
}

// Every entry as "channel shown/flag", in the order of the bytes in the unit's words.
QStringList Entries(TSettingsForm* f) {
  QStringList shown;
  const std::pair<QComboBox*, QCheckBox*> entries[] = {
      {f->cbControl, f->chbControl}, {f->cbKvitir, f->chbKvitir},   {f->cbPusk, f->chbPusk},
      {f->cbStop, f->chbStop},       {f->cbRestart, f->chbRestart}, {f->cbSbros, f->chbSbros}};
  for (const auto& [combo, flag] : entries)
    shown << (combo->currentIndex() < 0 ? "-" : combo->currentText()) +
                 (flag->isChecked() ? "/x" : "/");
  return shown;
}

QString TreeTexts() {
  QStringList texts;
  for (QTreeWidgetItemIterator it(MainForm->Net); *it; ++it)
    texts << (*it)->text(0);
  return texts.join('|');
}

// Makes the answer to the request after the first answer of that function fail (a unit
// that acts and stays silent for Silent, one that refuses for Exception).
class FaultAfter {
 public:
  FaultAfter(Sim::Simulator& sim, uint8_t function, Sim::FaultKind kind) {
    ModBus::SetTrafficSink([&sim, function, kind, this](const uint8_t* b, uint16_t n, uint8_t dir) {
      if (!armed_ || dir != ModBus::Received || n < 2 || b[1] != function) return;
      armed_ = false;
      sim.InjectFault(kind, 0, 1);
    });
  }
  ~FaultAfter() {
    ModBus::SetTrafficSink(
        [](const uint8_t* b, uint16_t n, uint8_t dir) { TrafficForm->AddBytes(b, n, dir); });
  }

 private:
  bool armed_ = true;
};

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }

  uint16_t Reg(uint8_t address, uint16_t reg) {
    uint16_t value = 0;
    Sim().Holding(address, reg, value);
    return value;
  }
  void SetWords(uint8_t address, uint16_t w0, uint16_t w1, uint16_t w2) {
    const uint16_t words[] = {w0, w1, w2};
    for (uint16_t i = 0; i < 3; ++i)
      Sim().SetHolding(address, kSettings + i, words[i]);
  }
  QStringList Words(uint8_t address) {
    QStringList words;
    for (uint16_t r = kSettings; r < kSettings + 3; ++r)
      words << QString::number(Reg(address, r), 16);
    return words;
  }
  // The boxes seen, as "<E|W> title: text" (error or warning icon).
  QStringList TakeBoxes() {
    QStringList texts;
    for (const Gui::Box& box : boxes_->Take())
      texts << QStringLiteral("%1 %2: %3")
                   .arg(box.Icon == QMessageBox::Critical ? "E" : "W", box.Title, box.Text);
    return texts;
  }
  QStringList TakeRequests() { return Requests(Sim().TakeLog()); }

  // Selects the unit's node and runs the launcher; body drives the dialog while it is shown
  // (Cancel closes it if body leaves it open).
  void Open(QTreeWidgetItem* node, const std::function<void(TSettingsForm*)>& body) {
    MainForm->Net->setCurrentItem(node);
    bool shown = false;
    boxes_->OnDialog([&](QWidget* dialog) {
      auto* form = qobject_cast<TSettingsForm*>(dialog);
      if (!form) return;
      shown = true;
      body(form);
      if (form->isVisible()) form->btnCancel->click();
    });
    MainForm->actSettings->trigger();
    boxes_->OnDialog(nullptr);
    QVERIFY(shown);
    QVERIFY(!SettingsForm->isVisible());
  }
  void Open(uint8_t address, const std::function<void(TSettingsForm*)>& body) {
    Open(Node(address), body);
  }
  static QTreeWidgetItem* Node(uint8_t address) {
    QTreeWidgetItem* root = MainForm->Net->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i)
      if (root->child(i)->data(0, Qt::UserRole).toUInt() >> 8 == address) return root->child(i);
    return nullptr;
  }

 private slots:
  void initTestCase() {
    line_ = std::make_unique<Gui::Line>(
        Sim::LineSetup{},
        std::vector<Sim::UnitSetup>{Gui::Unit(k4M, 5), Gui::Unit(k8M, 6), Gui::Unit(k12M, 7),
                                    Gui::Unit(kMover, 6), Gui::Unit(kLocked, 6, false),
                                    Gui::Unit(kOther, 7)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    // A scan, cancelled once the last unit has been probed.
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<TProgressForm*>(w);
            p && p->isVisible() && p->Label1->text().section(' ', -1).toInt() >= kOther)
          p->btnCancel->click();
    });
    watch.start(5);
    MainForm->actNetScan->trigger();
    watch.stop();
    MainForm->Net->expandAll();
    QCOMPARE(MainForm->Net->topLevelItem(0)->childCount(), 6);
  }

  void init() {
    Sim().ClearFaults();
    boxes_->Take();
  }

  void showsTheUnitsSettings() {
    SetWords(k8M, 0x8305, 0x8100, 0x8807);
    Sim().SetHolding(k8M, kRele, 1);
    Open(k8M, [&](TSettingsForm* f) {
      QCOMPARE(f->windowTitle(), QStringLiteral("Настройки устройства [2]"));
      QCOMPARE(Entries(f), (QStringList{"3/x", "5/", "1/x", "Нет/", "8/x", "7/"}));
      QCOMPARE(f->cbCommonRele->currentText(), QStringLiteral("Н.З."));
      QCOMPARE(f->seAddress->value(), 2);
      QCOMPARE(f->cbPusk->count(), 9);
      QVERIFY(!f->btnApply->isEnabled());
      QCOMPARE(f->size(), QSize(542, 244));
      Gui::Snapshot(f, "settings");
      // At the 8-point font nothing is cut off, and every label stands level with its row.
      for (QWidget* w : f->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(w) || qobject_cast<QCheckBox*>(w))
          QVERIFY2(w->sizeHint().width() <= w->width(), qPrintable(w->objectName()));
        if (auto* b = qobject_cast<QPushButton*>(w))
          QVERIFY(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width());
      }
      const QWidget* rows[][3] = {
          {f->Label1, f->cbPusk, f->chbPusk},       {f->Label2, f->cbStop, f->chbStop},
          {f->Label3, f->cbControl, f->chbControl}, {f->Label4, f->cbKvitir, f->chbKvitir},
          {f->Label5, f->cbSbros, f->chbSbros},     {f->Label6, f->cbRestart, f->chbRestart}};
      for (const auto& row : rows)
        for (const QWidget* w : {row[1], row[2]})
          QVERIFY(qAbs(w->geometry().center().y() - row[0]->geometry().center().y()) <= 3);
    });
    // A second showing: every flag turned over, each box follows.
    SetWords(k8M, 0x0583, 0x0001, 0x0887);
    Sim().SetHolding(k8M, kRele, 0);
    Open(k8M, [&](TSettingsForm* f) {
      QCOMPARE(Entries(f), (QStringList{"5/", "3/x", "Нет/", "1/", "8/", "7/x"}));
      QCOMPARE(f->cbCommonRele->currentText(), QStringLiteral("Н.Р."));
      QVERIFY(!f->btnApply->isEnabled());
    });
    // Twelve channels: the lists grow again.
    SetWords(k12M, 0x0C00, 0, 0);
    Open(k12M, [&](TSettingsForm* f) {
      QCOMPARE(f->cbSbros->count(), 13);
      QCOMPARE(f->cbControl->currentText(), QStringLiteral("12"));
    });
    QCOMPARE(TakeBoxes(), QStringList());
  }

  void fourChannelUnitKeepsItsChannelsWhenBlank() {
    SetWords(k4M, 0x0080, 0x0381, 0x0000);
    Open(k4M, [&](TSettingsForm* f) {
      for (QComboBox* combo : f->findChildren<QComboBox*>())
        if (combo != f->cbCommonRele) QCOMPARE(combo->count(), 1);
      QCOMPARE(Entries(f), (QStringList{"Нет/", "Нет/x", "-/", "-/x", "Нет/", "Нет/"}));
      // The blank entries give the unit's own channels, their flags come from the boxes.
      f->chbPusk->click();
      f->chbStop->click();
      Sim().TakeLog();
      f->btnApply->click();
      QCOMPARE(TakeRequests(), (QStringList{"1 f4 r50 n1", "1 f16 r523 n3", "1 f16 r527 n1"}));
      QCOMPARE(Words(k4M), (QStringList{"80", "8301", "0"}));
    });
    QCOMPARE(TakeBoxes(), QStringList());
  }

  void silentUnitLeavesTheControlsEmpty() {
    SetWords(k8M, 0x8181, 0x8181, 0x8181);
    Open(k8M, [](TSettingsForm*) {});  // every box ticked at this showing
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 2);
    Open(k8M, [&](TSettingsForm* f) {
      QCOMPARE(TakeBoxes(),
               QStringList{"E Внимание!: Ошибка при получении параметров от устройства [2]"});
      QCOMPARE(Entries(f), QStringList(6, "-/"));
      QCOMPARE(f->cbCommonRele->currentIndex(), -1);
      QVERIFY(!f->btnApply->isEnabled());
      // Nothing read: the blank entries have nothing to give, so nothing is sent, and the
      // dialog stays for a refresh.
      f->cbPusk->setCurrentIndex(1);
      Sim().TakeLog();
      f->btnApply->click();
      QCOMPARE(TakeBoxes(), QStringList{"W Внимание!: Настройки устройства [2] не прочитаны.\n"
                                        "Нажмите \"Обновить\"."});
      QCOMPARE(TakeRequests(), QStringList());
      QVERIFY(f->isVisible() && f->btnApply->isEnabled());
      f->btnRefresh->click();
      QCOMPARE(Entries(f), QStringList(6, "1/x"));
      QVERIFY(!f->btnApply->isEnabled());
    });
    QCOMPARE(TakeBoxes(), QStringList());
  }

  void relayType() {
    // A type the unit should not hold is shown as none.
    Sim().SetHolding(k8M, kRele, 2);
    Open(k8M, [&](TSettingsForm* f) { QCOMPARE(f->cbCommonRele->currentIndex(), -1); });
    QCOMPARE(TakeBoxes(), QStringList());
    // The relay read alone fails; an Apply from there writes "Н.Р.".
    Sim().SetHolding(k8M, kRele, 1);
    FaultAfter fault(Sim(), 3, Sim::FaultKind::Silent);
    Open(k8M, [&](TSettingsForm* f) {
      QCOMPARE(TakeBoxes(),
               QStringList{"E Внимание!: Ошибка при получении параметров от устройства [2]"});
      QCOMPARE(f->cbCommonRele->currentIndex(), -1);
      QCOMPARE(Entries(f), QStringList(6, "1/x"));
      f->chbStop->click();
      f->btnApply->click();
      QCOMPARE(Reg(k8M, kRele), 0);
      QCOMPARE(Words(k8M), (QStringList{"8181", "8101", "8181"}));
    });
  }

  void accessDeniedShowsTheUnitsValuesAgain() {
    SetWords(kLocked, 0, 0x0200, 0);
    const QString denied =
        "E Отказано в доступе.: Невозможно изменить настройки устройства с "
        "адресом [5].\nНеобходимо ввести пароль.";
    Open(kLocked, [&](TSettingsForm* f) {
      f->cbPusk->setCurrentIndex(5);
      f->chbStop->click();
      Sim().TakeLog();
      f->btnApply->click();
      QCOMPARE(TakeBoxes(), QStringList{denied});
      QCOMPARE(TakeRequests(), (QStringList{"5 f4 r50 n1", "5 f3 r523 n3", "5 f3 r527 n1"}));
      QCOMPARE(Entries(f), (QStringList{"Нет/", "Нет/", "2/", "Нет/", "Нет/", "Нет/"}));
      QVERIFY(!f->btnApply->isEnabled());
      // OK with an edit: the same refusal, then the dialog closes.
      f->chbStop->click();
      f->btnOK->click();
      QCOMPARE(TakeBoxes(), QStringList{denied});
    });
    QCOMPARE(Words(kLocked), (QStringList{"0", "200", "0"}));
  }

  void closingWithoutApplySendsNothing() {
    const QStringList reread{"2 f4 r4 n1", "2 f3 r0 n24"};  // the launcher's channel table
    const QStringList words = Words(k8M);
    const std::function<void(TSettingsForm*)> closings[] = {
        [](TSettingsForm* f) { f->btnOK->click(); },
        [](TSettingsForm* f) {
          f->chbPusk->click();
          f->btnCancel->click();
        },
        [](TSettingsForm* f) {
          f->cbStop->setCurrentIndex(4);
          QTest::keyClick(f, Qt::Key_Escape);
        },
        [](TSettingsForm* f) {
          f->seAddress->setValue(9);
          f->close();  // the close box
        }};
    for (const auto& close : closings) {
      Open(k8M, [&](TSettingsForm* f) {
        Sim().TakeLog();
        close(f);
      });
      QCOMPARE(TakeRequests(), reread);
    }
    QCOMPARE(Words(k8M), words);
    QCOMPARE(TakeBoxes(), QStringList());
  }

  void grantedApplyWritesInOrder() {
    SetWords(k8M, 0, 0, 0);
    Sim().SetHolding(k8M, kRele, 1);
    Open(k8M, [&](TSettingsForm* f) {
      const std::tuple<QComboBox*, int, QCheckBox*> edits[] = {{f->cbPusk, 4, f->chbPusk},
                                                               {f->cbControl, 8, f->chbControl},
                                                               {f->cbKvitir, 2, nullptr},
                                                               {f->cbSbros, 6, f->chbSbros},
                                                               {f->cbRestart, 1, f->chbRestart}};
      for (const auto& [combo, index, flag] : edits) {
        combo->setCurrentIndex(index);
        if (flag) flag->click();
      }
      Sim().TakeLog();
      f->btnApply->click();
      QCOMPARE(TakeRequests(), (QStringList{"2 f4 r50 n1", "2 f16 r523 n3", "2 f16 r527 n1"}));
      QCOMPARE(Words(k8M), (QStringList{"8802", "8400", "8186"}));
      QCOMPARE(Reg(k8M, kRele), 1);  // written unchanged
      QVERIFY(!f->btnApply->isEnabled());
      QCOMPARE(TakeBoxes(), QStringList());

      // The settings refused by the unit: one message, the relay still written, the edit kept.
      f->cbStop->setCurrentIndex(3);
      f->cbCommonRele->setCurrentIndex(0);
      {
        FaultAfter fault(Sim(), 4, Sim::FaultKind::Exception);
        f->btnApply->click();
      }
      QCOMPARE(TakeBoxes(),
               QStringList{"E Внимание!: Ошибка при передаче параметров устройству [2]"});
      QCOMPARE(TakeRequests(), (QStringList{"2 f4 r50 n1", "2 f16 r523 n3", "2 f16 r527 n1"}));
      QCOMPARE(Words(k8M), (QStringList{"8802", "8400", "8186"}));
      QCOMPARE(Reg(k8M, kRele), 0);
      QCOMPARE(f->cbStop->currentText(), QStringLiteral("3"));
      QVERIFY(!f->btnApply->isEnabled());

      // No answer to the check: nothing written, Apply again, the focus on Cancel.
      f->btnOK->setFocus();
      f->cbCommonRele->setCurrentIndex(1);
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      f->btnApply->click();
      QCOMPARE(TakeBoxes(),
               QStringList{"E Внимание!: Ошибка при передаче параметров устройству [2]"});
      QCOMPARE(TakeRequests(), QStringList{"2 f4 r50 n1"});
      QCOMPARE(Reg(k8M, kRele), 0);
      QVERIFY(f->btnApply->isEnabled());
      QCOMPARE(f->focusWidget(), f->btnCancel);
    });
  }

  void addressFieldRefusals() {
    Open(k8M, [&](TSettingsForm* f) {
      auto* edit = f->seAddress->findChild<QLineEdit*>();
      Sim().TakeLog();
      // Text typed and not yet taken by the spin box counts, as it is what the user sees.
      for (const QString& text : QStringList{"0", "300", "4x", ""}) {
        edit->setText(text);
        f->btnApply->click();
        QCOMPARE(TakeBoxes(), QStringList{"W Внимание!: Недопустимый сетевой адрес: " + text +
                                          ".\nАдрес должен быть от 1 до 255."});
        QVERIFY(f->btnApply->isEnabled());
      }
      f->seAddress->setValue(0);
      f->btnOK->click();  // the same refusal, then the dialog closes as OK always does
      QCOMPARE(TakeBoxes().size(), 1);
      QVERIFY(!f->isVisible());
      QCOMPARE(TakeRequests(), QStringList());
    });
  }

  void addressInUseIsNotTaken() {
    const QString tree = TreeTexts(), caption = MainForm->DeviceProp->title();
    for (uint8_t taken : {kOther, kLocked}) {  // access granted there, or denied
      SetWords(k8M, 0, 0, 0);
      Open(k8M, [&](TSettingsForm* f) {
        f->chbSbros->click();
        f->seAddress->setValue(taken);
        Sim().TakeLog();
        f->btnApply->click();
        QCOMPARE(TakeBoxes(),
                 QStringList{QStringLiteral("E Внимание!: Устройство с адресом [%1] уже "
                                            "есть в сети")
                                 .arg(taken)});
        QCOMPARE(TakeRequests(), (QStringList{"2 f4 r50 n1", "2 f16 r523 n3", "2 f16 r527 n1",
                                              QStringLiteral("%1 f4 r50 n1").arg(taken)}));
        QCOMPARE(Words(k8M), (QStringList{"0", "0", "80"}));
        QCOMPARE(f->seAddress->value(), 2);
        QVERIFY(f->btnApply->isEnabled());
      });
      QVERIFY(Sim().HasUnit(k8M));
    }
    QCOMPARE(TreeTexts(), tree);
    QCOMPARE(MainForm->DeviceProp->title(), caption);
  }

  void freeAddressMovesTheUnit() {
    // The selection moved on to the port node: the unit's own node is marked all the same.
    MainForm->Net->setCurrentItem(Node(kMover));
    QTreeWidgetItem* node = Node(kMover);
    Open(MainForm->Net->topLevelItem(0), [&](TSettingsForm* f) {
      QCOMPARE(f->windowTitle(), QStringLiteral("Настройки устройства [4]"));
      f->seAddress->setValue(20);
      Sim().TakeLog();
      f->btnApply->click();
      QCOMPARE(TakeBoxes(), QStringList());
      QCOMPARE(TakeRequests(), (QStringList{"4 f4 r50 n1", "4 f16 r523 n3", "4 f16 r527 n1",
                                            "20 f4 r50 n1", "4 f6 r544 =20"}));
      QVERIFY(Gui::WaitFor([&] { return Sim().HasUnit(20) && !Sim().HasUnit(kMover); }, 2000));
      QCOMPARE(TreeTexts(), QStringLiteral("COM2|[1] ЛИР-4М|[2] ЛИР-8М|[3] ЛИР-12М|[***] ЛИР-8М|"
                                           "[5] ЛИР-8М|[7] ЛИР-12М"));
      QCOMPARE(node->data(0, Qt::UserRole).toUInt(), kMover * 256u + 6);
      QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" [***] ЛИР - 8М "));
      QVERIFY(!f->btnApply->isEnabled());
      // The dialog still addresses the old address, where nobody answers now.
      f->btnRefresh->click();
      QCOMPARE(TakeBoxes(),
               QStringList{"E Внимание!: Ошибка при получении параметров от устройства [4]"});
      QCOMPARE(TakeRequests(), (QStringList{"4 f3 r523 n3", "4 f3 r527 n1"}));
    });
    QCOMPARE(Main::SelectedAddress, uint32_t{kMover});
    QCOMPARE(TakeBoxes(), QStringList{"E Внимание!: Ошибка при обращении к устройству [4]"});
  }
};

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
