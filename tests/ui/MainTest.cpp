// The main window on a simulated line: start-up, scan, tree, channel table, panel buttons
// and the traffic window, seen as the user sees them.

#include <QAbstractButton>
#include <QApplication>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include "Harness.h"
#include "device/LIR.h"
#include "link/ModBus.h"
#include "link/Traffic.h"
#include "ui/dialogs/Clock.h"
#include "ui/dialogs/Journal.h"
#include "ui/dialogs/Password.h"
#include "ui/dialogs/Progress.h"
#include "ui/dialogs/SetChannelsParam.h"
#include "ui/dialogs/Settings.h"
#include "ui/main/Images.h"
#include "ui/main/Main.h"
#include "ui/port/PortConfig.h"
#include "ui/port/PortSelect.h"

namespace {

constexpr uint8_t k4M = 1, k8M = 2, k12M = 3, kUnknown = 5, kLocked = 6;

TProgressForm* RunningProgress() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* p = qobject_cast<TProgressForm*>(w); p && p->isVisible()) return p;
  return nullptr;
}

QStringList RowTexts(int row) {
  QStringList texts;
  for (int c = 0; c < MainForm->Channels->columnCount(); ++c)
    texts << (MainForm->Channels->item(row, c) ? MainForm->Channels->item(row, c)->text() : "");
  return texts;
}

bool SameImage(const QIcon& icon, int index) {
  return !icon.isNull() && icon.pixmap(16, 16).toImage() == Images::Pixmap(index).toImage();
}

QTreeWidgetItem* Node(uint8_t address) {
  QTreeWidgetItem* root = MainForm->Net->topLevelItem(0);
  for (int i = 0; root && i < root->childCount(); ++i)
    if (root->child(i)->data(0, Qt::UserRole).toUInt() >> 8 == address) return root->child(i);
  return nullptr;
}

void Click(QTreeWidgetItem* item) {
  QTreeWidget* net = MainForm->Net;
  net->scrollToItem(item);
  QTest::mouseClick(net->viewport(), Qt::LeftButton, {}, net->visualItemRect(item).center());
}

void DoubleClick(QTreeWidgetItem* item) {
  Click(item);
  QTest::mouseDClick(MainForm->Net->viewport(), Qt::LeftButton, {},
                     MainForm->Net->visualItemRect(item).center());
}

}  // namespace

class MainTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }

  // Activates a unit's node and waits for its table.
  void Activate(uint8_t address) {
    QTreeWidgetItem* node = Node(address);
    QVERIFY(node);
    DoubleClick(node);
    QVERIFY(MainForm->Channels->isVisible());
  }

 private slots:
  void initTestCase() {
    std::vector<Sim::UnitSetup> units = {Gui::Unit(k4M, 5), Gui::Unit(k8M, 6), Gui::Unit(k12M, 7),
                                         Gui::Unit(kUnknown, 9), Gui::Unit(kLocked, 6, false)};
    line_ = std::make_unique<Gui::Line>(Sim::LineSetup{}, units);
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    QVERIFY(MainForm && PortSelectForm && TrafficForm);
  }

  void startUpWithThePortOpen() {
    QCOMPARE(boxes_->Count(), 0);
    QCOMPARE(QApplication::applicationName(), QStringLiteral("Ирвалон"));
    QCOMPARE(MainForm->windowTitle(), QStringLiteral("Ирвалон."));
    QVERIFY(MainForm->isVisible());
    QCOMPARE(MainForm->Net->topLevelItemCount(), 1);
    QCOMPARE(MainForm->Net->topLevelItem(0)->text(0), QStringLiteral("COM2"));
    QCOMPARE(MainForm->Net->topLevelItem(0)->childCount(), 0);
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" Не выбрано устройство "));
    QVERIFY(!MainForm->Channels->isVisible());
    for (QPushButton* b : MainForm->DeviceProp->findChildren<QPushButton*>())
      QVERIFY2(!b->isVisible(), qPrintable(b->objectName()));
    for (QToolButton* b :
         {MainForm->btnClock, MainForm->btnJournal, MainForm->btnSettings, MainForm->btnPassword,
          MainForm->btnGetChannelsParam, MainForm->btnSetChannelsParam})
      QVERIFY2(!b->isVisible(), qPrintable(b->objectName()));
    for (QToolButton* b : {MainForm->btnExit, MainForm->btnHelp, MainForm->btnPortSelect,
                           MainForm->btnPortConfig, MainForm->btnNetScan, MainForm->btnTraffic})
      QVERIFY2(b->isVisible(), qPrintable(b->objectName()));
    QStringList menus;
    for (QAction* a : MainForm->MainMenu->actions())
      if (a->isVisible()) menus << a->text();
    QCOMPARE(menus, (QStringList{"&Файл", "&Порт", "&Сеть", "П&омощь"}));
    QVERIFY(MainForm->actNetScan->isEnabled() && MainForm->actPortConfig->isEnabled());
    // The device actions stay enabled; only what reaches them is hidden.
    QVERIFY(MainForm->actClock->isEnabled());
    QCOMPARE(MainForm->btnNetScan->toolTip(), QStringLiteral("Сканировать сеть"));
    QCOMPARE(MainForm->actNetScan->statusTip(),
             QStringLiteral("Определение переченя подключенных сетевых устройств"));
    QCOMPARE(MainForm->btnTraffic->toolTip(), QStringLiteral("Трафик"));
    QCOMPARE(MainForm->Net->statusTip(), QStringLiteral("Список доступных устройств"));
    QVERIFY(MainForm->Net->toolTip().isEmpty());
  }

  void scanListsTheUnitsAndCancels() {
    TrafficForm->show();
    bool sawDisabled = false, portSelectStayedEnabled = true, trafficDisabled = false;
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
      TProgressForm* progress = RunningProgress();
      if (!progress) return;
      sawDisabled = sawDisabled || !MainForm->isEnabled();
      trafficDisabled = trafficDisabled || !TrafficForm->isEnabled();
      portSelectStayedEnabled = portSelectStayedEnabled && PortSelectForm->isEnabled();
      QCOMPARE(progress->windowTitle(), QStringLiteral("Сканирование сети"));
      QVERIFY(!MainForm->actNetScan->isEnabled());
      // Every unit of the line has been found by address 7: cancel there.
      if (progress->Label1->text() == QStringLiteral("Проверяется адрес : 7"))
        progress->btnCancel->click();
    });
    watch.start();
    MainForm->actNetScan->trigger();
    watch.stop();

    QVERIFY(sawDisabled);
    QVERIFY(trafficDisabled);
    QVERIFY(portSelectStayedEnabled);
    QVERIFY(MainForm->isEnabled() && TrafficForm->isEnabled());
    QVERIFY(!RunningProgress());
    QCOMPARE(boxes_->Count(), 0);
    QCOMPARE(MainForm->StatusBar->currentMessage(), QStringLiteral("Список доступных устройств."));
    QVERIFY(MainForm->actNetScan->isEnabled() && MainForm->actPortSelect->isEnabled() &&
            MainForm->actPortConfig->isEnabled());

    QTreeWidgetItem* root = MainForm->Net->topLevelItem(0);
    QStringList texts;
    QList<uint> data;
    for (int i = 0; i < root->childCount(); ++i) {
      texts << root->child(i)->text(0);
      data << root->child(i)->data(0, Qt::UserRole).toUInt();
    }
    QCOMPARE(texts, (QStringList{"[1] ЛИР-4М", "[2] ЛИР-8М", "[3] ЛИР-12М", "[5] Неопознанно",
                                 "[6] ЛИР-8М"}));
    QCOMPARE(data, (QList<uint>{1 * 256 + 5, 2 * 256 + 6, 3 * 256 + 7, 5 * 256 + 7, 6 * 256 + 6}));
    QVERIFY(!root->isExpanded());
    QVERIFY(MainForm->Net->selectedItems().isEmpty());
    // Cancelled while 7 was probed: 8 and above never asked.
    QCOMPARE(Sim().RequestCount(8), 0u);
    TrafficForm->hide();
    MainForm->Net->expandAll();
  }

  void selectionIsNotActivation() {
    Click(Node(k8M));
    QCOMPARE(Main::SelectedAddress, uint32_t{k8M});
    QCOMPARE(Main::SelectedModel, uint32_t{6});
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" Не выбрано устройство "));
    QVERIFY(!MainForm->Channels->isVisible());
    Click(MainForm->Net->topLevelItem(0));  // the port node changes nothing
    QCOMPARE(Main::SelectedAddress, uint32_t{k8M});
  }

  void activationReadsTheTable() {
    QVERIFY(Sim().SetChannelInput(k8M, 0, true));
    LIR::ChannelParams params{};
    params[0] = {900, 7, 1, 1, 1, 1, 0, 1, 1, 5};  // written to channel 5
    LIR::WriteChannelsParam(k8M, 4, 1, params);
    Activate(k8M);
    QCOMPARE(boxes_->Count(), 0);
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" [2] ЛИР-8М "));
    QCOMPARE(MainForm->Channels->rowCount(), 8);
    QCOMPARE(RowTexts(0), (QStringList{"1", "10", "0", "Н.Р.", "Запоминает", "Блокировка", "Нет",
                                       "Разрешено", "Разрешено", "Нет", "Нет"}));
    QCOMPARE(RowTexts(4), (QStringList{"5", "900", "7", "Н.З.", "Сквозной", "Сигнализация", "Да",
                                       "Запрещено", "Разрешено", "1Гц", "5"}));
    QVERIFY(SameImage(MainForm->Channels->item(0, 0)->icon(), Images::LampsRedLit));
    for (int row = 1; row < 8; ++row)
      QVERIFY(SameImage(MainForm->Channels->item(row, 0)->icon(), Images::LampsGreenLit));
    QVERIFY(MainForm->miDeviceStatus->menuAction()->isVisible());
    for (QPushButton* b : MainForm->DeviceProp->findChildren<QPushButton*>())
      QVERIFY2(b->isVisible(), qPrintable(b->objectName()));
    QVERIFY(MainForm->btnClock->isVisible() && MainForm->btnPassword->isVisible());
    Gui::Snapshot(MainForm, "main-window");
  }

  void fourChannelUnitByEnterKey() {
    const int controlX = MainForm->btnControl->x();
    Click(Node(k4M));
    MainForm->Net->setFocus();
    QTest::keyClick(MainForm->Net, Qt::Key_Return);
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" [1] ЛИР-4М "));
    QCOMPARE(MainForm->Channels->rowCount(), 4);
    QCOMPARE(RowTexts(3).first(), QStringLiteral("4"));
    QVERIFY(!MainForm->btnPusk->isVisible() && !MainForm->btnStop->isVisible());
    QVERIFY(MainForm->btnControl->isVisible());
    QCOMPARE(MainForm->btnControl->x(), controlX);  // the others keep their places
  }

  void unknownModelIsHandledAsTwelveChannels() {
    Activate(kUnknown);
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" [5] Неопознанно "));
    QCOMPARE(MainForm->Channels->rowCount(), 12);
    QVERIFY(MainForm->btnPusk->isVisible() && MainForm->btnStop->isVisible());
  }

  void failedReadsShowStarsAndOneMessage() {
    Activate(k12M);
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 2);
    MainForm->actGetChannelsParam->trigger();
    const QList<Gui::Box> seen = boxes_->Take();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].Title, QStringLiteral("Внимание!"));
    QCOMPARE(seen[0].Text, QStringLiteral("Ошибка при обращении к устройству [3]"));
    QCOMPARE(seen[0].Icon, QMessageBox::Critical);
    QCOMPARE(MainForm->Channels->rowCount(), 12);
    for (int row = 0; row < 12; ++row) {
      QCOMPARE(RowTexts(row).first(), QString::number(row + 1));
      QCOMPARE(RowTexts(row).mid(1), QStringList(10, "***"));
      QVERIFY(MainForm->Channels->item(row, 0)->icon().isNull());
    }
    // The state read alone failing: texts, no pictures, one message.
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(boxes_->Take().size(), 1);
    QCOMPARE(RowTexts(0).at(1), QStringLiteral("10"));
    QVERIFY(MainForm->Channels->item(0, 0)->icon().isNull());
  }

  void rowSelectionNamesTheChannelAndSpaceRereads() {
    MainForm->Channels->selectRow(2);
    QCOMPARE(Main::SelectedChannel, 2);
    QCOMPARE(MainForm->actSetChannelsParam->text(), QStringLiteral("&Изменить параметры канала 3"));
    QCOMPARE(MainForm->actSetChannelsParam->toolTip(),
             QStringLiteral("Изменить параметры канала 3"));
    QCOMPARE(MainForm->actSetChannelsParam->statusTip(),
             QStringLiteral("Изменение параметрв одного из каналов выбранного устройства"));
    const uint32_t before = Sim().RequestCount(k12M);
    MainForm->Channels->setFocus();
    QTest::keyClick(MainForm->Channels, Qt::Key_Space);
    QCOMPARE(Sim().RequestCount(k12M), before + 2);  // the state, then all parameters
    // A new reading of another unit keeps the channel.
    Activate(k8M);
    QCOMPARE(Main::SelectedChannel, 2);
  }

  void heldButtonSendsOneCommandPerTick() {
    Activate(k8M);
    int ticksHeld = 0;
    auto counter = connect(MainForm->Timer, &QTimer::timeout, this, [&] {
      if (Main::ControlHeld) ++ticksHeld;
    });
    const QPoint centre = MainForm->btnControl->rect().center();
    QTest::mousePress(MainForm->btnControl, Qt::LeftButton, {}, centre);
    QVERIFY(Main::ControlHeld);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodeControl), 0u);  // nothing from the press itself
    Gui::Pump(150);
    QTest::mouseRelease(MainForm->btnControl, Qt::LeftButton, {}, centre);
    QVERIFY(!Main::ControlHeld);
    const uint32_t sent = Sim().CommandCount(k8M, LIR::CodeControl);
    QVERIFY(sent >= 3);
    QCOMPARE(sent, uint32_t(ticksHeld));
    Gui::Pump(100);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodeControl), sent);
    QVERIFY(!MainForm->Timer->isActive());  // an idle program does not tick
    disconnect(counter);
  }

  void rightPressDoesNothing() {
    const uint32_t before = Sim().RequestCount(k8M);
    QTest::mousePress(MainForm->btnPusk, Qt::RightButton);
    QTest::mouseRelease(MainForm->btnPusk, Qt::RightButton);
    Gui::Pump(30);
    QCOMPARE(Sim().RequestCount(k8M), before);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodePusk), 0u);
  }

  void spaceBarHoldsAndEveryRepeatChecksAccess() {
    MainForm->btnPusk->setFocus();
    const uint32_t before = Sim().RequestCount(k8M);
    QTest::keyPress(MainForm->btnPusk, Qt::Key_Space);
    QVERIFY(Main::PuskHeld);
    Gui::Pump(40);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(MainForm->btnPusk, &repeat);
    Gui::Pump(40);
    QTest::keyRelease(MainForm->btnPusk, Qt::Key_Space);
    QVERIFY(!Main::PuskHeld);
    const uint32_t pusk = Sim().CommandCount(k8M, LIR::CodePusk);
    QVERIFY(pusk >= 2);
    QCOMPARE(Sim().RequestCount(k8M) - before, pusk + 2);  // two access checks
    Gui::Pump(50);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodePusk), pusk);
  }

  void refusedPressAndTheResetReread() {
    Activate(kLocked);
    const uint32_t before = Sim().RequestCount(kLocked);
    QTest::mousePress(MainForm->btnSbros, Qt::LeftButton);
    QList<Gui::Box> seen = boxes_->Take();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].Title, QStringLiteral("Отказано в доступе."));
    QCOMPARE(seen[0].Text, QStringLiteral("Невозможно обратится к устройству с адресом [6].\n"
                                          "Необходимо ввести пароль."));
    QCOMPARE(seen[0].Icon, QMessageBox::Critical);
    QVERIFY(!Main::SbrosHeld);
    QVERIFY(!MainForm->btnSbros->isDown());
    QTest::mouseRelease(MainForm->btnSbros, Qt::LeftButton);
    QCOMPARE(Sim().CommandCount(kLocked, LIR::CodeSbros), 0u);
    // The release re-read the table all the same: access check, state, parameters.
    QCOMPARE(Sim().RequestCount(kLocked), before + 3);

    // A silent unit: the two-space message at the press, then the table's own message.
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 3);
    QTest::mousePress(MainForm->btnSbros, Qt::LeftButton);
    QTest::mouseRelease(MainForm->btnSbros, Qt::RightButton);
    seen = boxes_->Take();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].Title, QStringLiteral("Внимание!"));
    QCOMPARE(seen[0].Text, QStringLiteral("Ошибка при обращении к  устройству [6]"));
    QCOMPARE(seen[1].Text, QStringLiteral("Ошибка при обращении к устройству [6]"));
  }

  void commandsGoToTheSelectedUnit() {
    Activate(k8M);
    Click(Node(k12M));  // selected, not activated
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" [2] ЛИР-8М "));
    QTest::mousePress(MainForm->btnKvitir, Qt::LeftButton);
    Gui::Pump(30);
    QTest::mouseRelease(MainForm->btnKvitir, Qt::LeftButton);
    QVERIFY(Sim().CommandCount(k12M, LIR::CodeKvitir) > 0);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodeKvitir), 0u);
  }

  void trafficWindowShowsTheFrames() {
    MainForm->btnTraffic->click();
    QVERIFY(TrafficForm->isVisible());
    TrafficForm->miClearClick();
    Activate(k8M);  // state and parameters: two requests, two answers
    const QStringList cells = TrafficForm->CellTexts();
    // Newest first: the parameters' answer ends the record, its request comes before it.
    const int answer = 5 + 2 * 3 * 8;
    QVERIFY(cells.size() >= answer + 8);
    QCOMPARE(cells.at(answer - 1), QStringLiteral(" 02"));  // the answer's address byte
    QCOMPARE(cells.at(answer + 7), QStringLiteral(" 02"));  // the request's address byte
    QCOMPARE(cells.at(answer + 6), QStringLiteral(" 03"));
    MainForm->btnTraffic->click();
    QVERIFY(!TrafficForm->isVisible());
  }

  void portNodeActivationOpensThePortChoice() {
    bool opened = false;
    boxes_->OnDialog([&](QWidget* dialog) {
      opened = dialog == PortSelectForm;
      QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    DoubleClick(MainForm->Net->topLevelItem(0));
    boxes_->OnDialog(nullptr);
    QVERIFY(opened);
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" Не выбрано устройство "));
    QVERIFY(!MainForm->Channels->isVisible());
    QCOMPARE(MainForm->Net->topLevelItem(0)->childCount(), 5);  // cancel changed nothing
  }

  void reconnectingEmptiesTheTree() {
    Activate(k8M);
    boxes_->OnDialog([](QWidget* dialog) {
      auto* select = qobject_cast<TPortSelectForm*>(dialog);
      if (!select) return;
      select->PortNamer->setEditText("COM2");
      QTest::keyClick(select->PortNamer, Qt::Key_Return);
    });
    MainForm->actPortSelect->trigger();
    boxes_->OnDialog(nullptr);
    QCOMPARE(boxes_->Count(), 0);
    QCOMPARE(MainForm->Net->topLevelItemCount(), 1);
    QCOMPARE(MainForm->Net->topLevelItem(0)->childCount(), 0);
    QVERIFY(!MainForm->Channels->isVisible());
    QCOMPARE(MainForm->DeviceProp->title(), QStringLiteral(" Не выбрано устройство "));
    QVERIFY(ModBus::Port->Connected);
    // The device in use survives a reconnection.
    QCOMPARE(Main::SelectedAddress, uint32_t{k8M});
  }

  void everyDeviceActionOpensItsDialog() {
    Main::SelectedAddress = k8M;  // the tree was emptied by the reconnection
    Main::SelectedModel = 6;
    const std::pair<QAction*, QDialog*> dialogs[] = {
        {MainForm->actClock, ClockForm},
        {MainForm->actSetChannelsParam, SetChannelsParamForm},
        {MainForm->actPassword, PasswordForm},
        {MainForm->actJournal, JournalForm},
        {MainForm->actSettings, SettingsForm},
        {MainForm->actPortConfig, PortConfigForm}};
    for (const auto& [action, dialog] : dialogs)
      QVERIFY2(Gui::RunDialog(*boxes_, action, dialog, [] {}), qPrintable(action->objectName()));
    QCOMPARE(boxes_->Count(), 0);
  }

  void exitAsksFirst() {
    boxes_->Answer(QMessageBox::No);
    MainForm->actExit->trigger();
    const QList<Gui::Box> seen = boxes_->Take();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].Title, QStringLiteral("Подтвердите"));
    QCOMPARE(seen[0].Text, QStringLiteral("Действительно хотите выйти?"));
    QCOMPARE(seen[0].Icon, QMessageBox::Question);
    QCOMPARE(seen[0].Buttons.size(), 2);
    QVERIFY(MainForm->isVisible());
  }

  void aboutAndHelp() {
    MainForm->N4->trigger();
    QList<Gui::Box> seen = boxes_->Take();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].Title, QStringLiteral("О программе"));
    QVERIFY(seen[0].Text.contains(QStringLiteral("Ирвалон")));
    QVERIFY(seen[0].Text.contains(QStringLiteral("версия")));
    QCOMPARE(seen[0].Icon, QMessageBox::Information);
    QCOMPARE(seen[0].Buttons, (QList<QMessageBox::StandardButton>{QMessageBox::Ok}));
    MainForm->actHelp->trigger();  // the help engine reports the missing file
    seen = boxes_->Take();
    QCOMPARE(seen.size(), 1);
    QVERIFY(seen[0].Text.contains(QStringLiteral("Ирвалон.hlp")));
  }
};

QTEST_MAIN(MainTest)
#include "MainTest.moc"
