// The channel parameter editor opened by the main window's launcher on a simulated line.

#include "Harness.h"
#include "ui/dialogs/SetChannelsParam.h"

class ChannelEditorTest : public QObject {
  Q_OBJECT

  // ЛИР-4М at 5, ЛИР-8М at 6, ЛИР-12М at 7, and a ЛИР-8М without access at 8.
  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }
  void Silence() { Sim().InjectFault(Sim::FaultKind::Silent, 0, 1); }
  static TSetChannelsParamForm* F() { return SetChannelsParamForm; }
  static QStringList Table(int rows) { return {"4 4/1", QString("3 0/%1").arg(3 * rows)}; }
  // The requests, the boxes, then, while the editor is open, "channel: times, the lists' item
  // indexes (items in the channel and relay lists)" and "+" while Apply is enabled.
  QStringList Seen() {
    QStringList seen = Gui::Requests(Sim().TakeLog()) + boxes_->TakeTexts();
    QStringList state{F()->cbChannelNumber->currentText() + ":", F()->spinVrSrabat->text(),
                      F()->spinVrZaderj->text()};
    for (QComboBox* box : {F()->cbTypeInput, F()->cbTypeChannel, F()->cbReleMode, F()->cbToRele,
                           F()->cbSrabat, F()->cbNorm, F()->cbZvuk, F()->cbReleNumber})
      state << QString::number(box->currentIndex());
    state << QString("(%1/%2)").arg(F()->cbChannelNumber->count()).arg(F()->cbReleNumber->count());
    if (F()->btnApply->isEnabled()) state << "+";
    return F()->isVisible() ? seen << state.join(' ') : seen;
  }
  static void Type(QSpinBox* spin, const QString& text) {
    spin->selectAll();
    QTest::keyClick(spin, Qt::Key_Delete);
    QTest::keyClicks(spin, text);
  }
  void SetChannel(uint8_t unit, int index, uint16_t srabat, uint16_t zaderj, uint16_t flags) {
    QVERIFY(Sim().SetHolding(unit, uint16_t(3 * index), srabat) &&
            Sim().SetHolding(unit, uint16_t(3 * index + 1), zaderj) &&
            Sim().SetHolding(unit, uint16_t(3 * index + 2), flags));
  }
  enum How { kAction, kDoubleClick, kEnter };
  void Edit(uint8_t unit, int channel, How how, const std::function<void()>& drive) {
    Main::SelectedAddress = unit;
    Main::SelectedModel = unit == 8 ? 6 : unit;
    Main::SelectedChannel = how == kAction ? channel : 0;
    QTableWidget* table = MainForm->Channels;
    const QPoint row = table->visualItemRect(table->item(channel, 0)).center();
    QAction launch;
    connect(&launch, &QAction::triggered, this, [&] {
      if (how == kAction) MainForm->actSetChannelsParam->trigger();
      if (how == kDoubleClick) QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, row);
      if (how == kDoubleClick) QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, row);
      if (how == kEnter) table->selectRow(channel);
      if (how == kEnter) QTest::keyClick(table, Qt::Key_Return);
    });
    QVERIFY(Gui::RunDialog(*boxes_, &launch, F(), drive));
  }

 private slots:
  void initTestCase() {
    line_ = std::make_unique<Gui::Line>(
        Sim::LineSetup{}, std::vector<Sim::UnitSetup>{Gui::Unit(5, 5), Gui::Unit(6, 6),
                                                      Gui::Unit(7, 7), Gui::Unit(8, 6, false)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    Main::SelectedAddress = Main::SelectedModel = 7;  // a table to open the editor from
    MainForm->EnableLIRControls();
    MainForm->actGetChannelsParamExecute();
  }

  void init() {
    Sim().ClearFaults();
    Seen();
  }

  void twelveChannelUnit() {
    // Channel 5: Н.З., Сигнализация, common relay, journal on trip only, 1 Hz, relay 11.
    SetChannel(7, 4, 123, 901, 0x0B00 | 1 | 4 | 8 | 64);
    SetChannel(7, 5, 300, 20, 0x0300 | 1 | 2 | 4 | 8 | 32 | 64);
    Edit(7, 4, kAction, [&] {
      QCOMPARE(Seen(), (QStringList{"3 12/3", "5: 123 900 1 0 1 1 1 0 1 11 (12/13)"}));
      QCOMPARE(F()->windowTitle() + F()->GB2->title() + F()->cbTypeInput->currentText(),
               QStringLiteral("Параметры каналов устройства [7] Параметры канала 5 Н.З."));
      QTest::keyClick(F()->spinVrSrabat, Qt::Key_Up);
      QTest::keyClick(F()->cbChannelNumber, Qt::Key_Down);  // the edit dropped
      QCOMPARE(Seen(), (QStringList{"3 15/3", "6: 300 20 1 1 1 1 1 1 1 3 (12/13)"}));
      F()->cbZvuk->setCurrentIndex(2);
      F()->cbReleNumber->setCurrentIndex(12);
      F()->activateWindow();
      F()->spinVrZaderj->setFocus();
      Type(F()->spinVrZaderj, "999");
      F()->spinVrSrabat->setFocus();  // leaving the box brings it into range
      QCOMPARE(F()->spinVrZaderj->text(), QStringLiteral("900"));
      Type(F()->spinVrSrabat, "950");
      QTest::keyClick(F()->spinVrSrabat, Qt::Key_Return);  // OK, the value still being typed
    });
    // 2 Hz is bit 7, relay 12 the high byte: 0x0CAF; then the table read twice, as after OK.
    QCOMPARE(Seen(), (QStringList{"4 50/1", "16 15/3 = 900 900 3247"} + Table(12) + Table(12)));
  }

  void fourChannelUnitOpensBeyondItsChannelsOnChannel1() {
    SetChannel(5, 0, 10, 0, 0x0700);  // relay 7: no item on a ЛИР-4М
    Edit(5, 11, kAction, [&] {
      QCOMPARE(Seen(), (QStringList{"3 0/3", "1: 10 0 0 0 0 0 1 0 0 -1 (4/5)"}));
      F()->cbReleNumber->setCurrentIndex(1);
      F()->btnApply->click();
      QCOMPARE(Seen(),
               (QStringList{"4 50/1", "16 0/3 = 10 0 256", "1: 10 0 0 0 0 0 1 0 0 1 (4/5)"}));
      F()->btnOk->click();
    });
    QCOMPARE(Seen(), Table(4) + Table(4));  // OK with nothing more to write
  }

  void failuresLeaveTheControlsBlank() {
    const QString blank = "2: 0 0 -1 -1 -1 -1 -1 -1 -1 -1 (8/9)";
    Silence();
    Edit(6, 1, kDoubleClick, [&] {
      QCOMPARE(Seen(), (QStringList{"3 3/3",
                                    "E Внимание!: Ошибка при получении параметров "
                                    "канала 2 от устройства [6]",
                                    blank}));
      QTest::keyClick(F()->spinVrSrabat, Qt::Key_Up);
      F()->btnApply->click();
      QCOMPARE(Seen(), (QStringList{"W Внимание!: Не выбрано значение поля \"Тип входа\".\n"
                                    "Параметры канала 2 не записаны.",
                                    "2: 1 0 -1 -1 -1 -1 -1 -1 -1 -1 (8/9) +"}));
      F()->btnRefresh->click();
      QTest::keyClick(F()->spinVrSrabat, Qt::Key_Up);
      Silence();
      F()->btnApply->click();  // blanked: the write may have been carried out
      QCOMPARE(Seen(), (QStringList{"3 3/3", "4 50/1",
                                    "E Внимание!: Ошибка при передаче "
                                    "параметров канала 2 устройству [6]",
                                    blank}));
    });
  }

  void deniedApplyWritesNothingAndKeepsTheEdits() {
    const QString denied =
        "E Отказано в доступе.: Невозможно изменить параметры канала 4 "
        "устройства с адресом [8].\nНеобходимо ввести пароль.";
    Edit(8, 3, kEnter, [&] {
      Type(F()->spinVrSrabat, "77");
      F()->btnApply->click();
      QCOMPARE(Seen(), (QStringList{"3 9/3", "4 50/1", denied, "4: 77 0 0 0 0 0 1 1 0 0 (8/9)"}));
      QTest::keyClick(F()->cbToRele, Qt::Key_Down);
      F()->btnOk->click();  // refused again, and closed
    });
    QCOMPARE(Seen(), (QStringList{"4 50/1"} + Table(8) + Table(8) << denied));
  }
};

QTEST_MAIN(ChannelEditorTest)
#include "ChannelEditorTest.moc"
