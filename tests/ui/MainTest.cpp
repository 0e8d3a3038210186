// The main window on a simulated line, seen as the user sees it; its pictures and the progress
// dialog of its scan.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QWindow>

#include "Harness.h"
#include "device/LIR.h"
#include "ui/main/Images.h"

using namespace Qt::StringLiterals;

class MainTest : public QObject {
  Q_OBJECT

  // In address order: ЛИР-4М, ЛИР-8М, ЛИР-12М, an unrecognised model, a unit refusing access.
  static constexpr uint8_t k4M = 1, k8M = 2, k12M = 3, kUnknown = 5, kLocked = 6;
  const QString kNoDevice = u" Не выбрано устройство "_s;
  const QString kControls =
      u"|Channels|btnPusk|btnStop|btnControl|btnKvitir|btnSbros|btnRestart|"
      "btnSettings|btnClock|btnJournal|btnGetChannelsParam|"
      "btnSetChannelsParam|btnPassword|miDeviceStatus"_s;
  Gui::Line line_{Sim::LineSetup{},
                  {Gui::Unit(k4M, 5), Gui::Unit(k8M, 6), Gui::Unit(k12M, 7), Gui::Unit(kUnknown, 9),
                   Gui::Unit(kLocked, 6, false)}};
  Gui::Boxes boxes_;
  QStringList opened_;  // the dialogs that came up; all cancelled but an accepted port choice
  QString typed_;       // into the port choice; none: the name offered
  bool accept_ = true;

  Sim::Simulator& Sim() { return line_.Sim(); }
  QTreeWidgetItem* Root() { return MainForm->Net->topLevelItem(0); }
  QTreeWidgetItem* Node(int address) { return Root()->child(address - 1 - (address > 4)); }
  void Activate(int address) { Click(Node(address), true); }

  void Click(QTreeWidgetItem* item, bool twice = false) {
    MainForm->Net->scrollToItem(item);
    const QPoint at = MainForm->Net->visualItemRect(item).center();
    QTest::mouseClick(MainForm->Net->viewport(), Qt::LeftButton, {}, at);
    if (twice) QTest::mouseDClick(MainForm->Net->viewport(), Qt::LeftButton, {}, at);
  }

  // The device panel's caption, then the device controls that show.
  QString Panel() {
    QString shown = MainForm->DeviceProp->title();
    for (const QString& name : kControls.split('|', Qt::SkipEmptyParts)) {
      auto* w = MainForm->findChild<QWidget*>(name);
      auto* menu = qobject_cast<QMenu*>(w);
      if (menu ? menu->menuAction()->isVisible() : w->isVisible()) shown += "|" + name;
    }
    return shown;
  }

  // Enabled: main, traffic, port choice windows; scan, port choice, port configuration; network.
  QString Flags() {
    QString flags;
    for (QObject* o : std::initializer_list<QObject*>{
             MainForm, TrafficForm, PortSelectForm, MainForm->actNetScan, MainForm->actPortSelect,
             MainForm->actPortConfig, MainForm->miNet->menuAction()})
      flags += o->property("enabled").toBool() ? '1' : '0';
    return flags;
  }

  // A channel row's texts, then its picture: 17, 18 or none.
  QString Row(int row) {
    QString texts;
    for (int c = 0; c < 11; ++c)
      texts += MainForm->Channels->item(row, c)->text() + "|";
    const QImage lamp = MainForm->Channels->item(row, 0)->icon().pixmap(16).toImage();
    for (int index : {Images::LampsRedLit, Images::LampsGreenLit})
      if (!lamp.isNull() && lamp == Images::Pixmap(index).toImage())
        return texts + QString::number(index);
    return texts + "none";
  }

  // The menu items that do not show their action as it is now: text, icon, tips, enabled,
  // visible.
  static QStringList Unmirrored() {
    QStringList differing;
    for (const QString pair :
         {"miExit actExit", "miPortSelect actPortSelect", "miPortConfig actPortConfig",
          "miNetCall actNetScan", "miSettings actSettings", "miClock actClock",
          "miJournal actJournal", "miGetChannelsParam actGetChannelsParam",
          "N2 actSetChannelsParam", "miPassword actPassword", "N1 actHelp",
          "pmiGetChannelsParam actGetChannelsParam", "pmiSetChannelsParam actSetChannelsParam",
          "miSaveConfig actSaveConfig", "miLoadConfig actLoadConfig"}) {
      QAction* item = MainForm->findChild<QAction*>(pair.section(' ', 0, 0));
      QAction* action = MainForm->findChild<QAction*>(pair.section(' ', 1));
      const auto shown = [](QAction* a) {
        return QStringList{
            a->text(),      QString::number(a->icon().cacheKey()), a->toolTip(),
            a->statusTip(), QString::number(a->isEnabled()),       QString::number(a->isVisible())};
      };
      if (!item || item == action || shown(item) != shown(action)) differing << pair;
    }
    return differing;
  }

  // The middle of a lamp: 0 the left (green) one, 1 the right (red) one.
  static QColor Lamp(int index, int lamp) {
    return Images::Pixmap(index).toImage().pixelColor(3 + 8 * lamp, 7);
  }

  static QWidget* Form(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == name) return w;
    return nullptr;
  }

  void Dialog(QWidget* dialog) {
    opened_ << dialog->objectName();
    if (dialog != PortSelectForm || !accept_) return qobject_cast<QDialog*>(dialog)->reject();
    if (!typed_.isEmpty()) PortSelectForm->PortNamer->setEditText(typed_);
    PortSelectForm->btnOk->click();
  }

 private slots:
  void initTestCase() {
    boxes_.OnDialog([this](QWidget* dialog) { Dialog(dialog); });
    CreateForms();
  }

  void startUpWithThePortOpen() {
    QCOMPARE(boxes_.Count(), 0);
    QCOMPARE(qApp->applicationName() + "|" + MainForm->windowTitle(), u"Ирвалон|Ирвалон."_s);
    QCOMPARE(MainForm->Net->topLevelItemCount(), 1);
    QCOMPARE(Root()->text(0) + "|" + QString::number(Root()->childCount()), u"COM2|0"_s);
    QCOMPARE(Panel(), kNoDevice);
    QCOMPARE(MainForm->actNetScan->toolTip() + "|" + MainForm->actNetScan->statusTip(),
             u"Сканировать сеть|Определение переченя подключенных сетевых устройств"_s);
    // Each menu's items by name, the File menu's leading separator drawn; additions follow.
    for (const QString line :
         {"miFile Separator1 miExit", "miOtions miPortSelect miPortConfig", "miNet miNetCall",
          "miDeviceStatus miSettings miClock miJournal miGetChannelsParam N2 miPassword "
          "Separator2 miSaveConfig miLoadConfig Separator3 actPollState",
          "miHelp N1 N3 N4", "LIRPopupMenu pmiGetChannelsParam pmiSetChannelsParam"}) {
      auto* menu = MainForm->findChild<QMenu*>(line.section(' ', 0, 0));
      QStringList names{menu->objectName()};
      for (QAction* item : menu->actions())
        names << item->objectName();
      QCOMPARE(names.mid(0, int(line.count(' ')) + 1).join(' '), line);
    }
    QVERIFY(!MainForm->miFile->actionGeometry(MainForm->miFile->actions().value(0)).isEmpty());
    QCOMPARE(Unmirrored(), QStringList{});
  }

  void scanListsTheUnitsAndCancels() {
    MainForm->btnTraffic->click();
    QSet<QString> during;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<TProgressForm*>(w); progress && progress->isVisible()) {
          if (during.isEmpty()) QTest::mouseMove(MainForm->btnNetScan);  // the pointer goes on
          during << Flags() + " " + MainForm->StatusBar->currentMessage() + Unmirrored().join(' ');
          // Every unit of the line has been found by address 7.
          if (progress->Label1->text().endsWith(" 7")) progress->btnCancel->click();
        }
    });
    watch.start(5);
    // From the menu, as the user does, the pointer then going over the tool bar: the hints
    // shown on the way do not replace the scan's text.
    QMenuBar* bar = MainForm->MainMenu;
    QMenu* menu = MainForm->miNet;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    const QPoint item = menu->actionGeometry(menu->actions().value(0)).center();
    QTest::mouseMove(menu, item);
    QTest::mouseClick(menu, Qt::LeftButton, {}, item);
    QCOMPARE(during, QSet<QString>{u"0010000 Пожалуйста, подождите..."_s});
    QCOMPARE(Flags(), u"1111111"_s);
    QCOMPARE(MainForm->StatusBar->currentMessage(), u"Список доступных устройств."_s);
    QStringList nodes;
    for (int i = 0; i < Root()->childCount(); ++i)
      nodes << Root()->child(i)->text(0) + " " + Root()->child(i)->data(0, Qt::UserRole).toString();
    QCOMPARE(nodes, (QStringList{"[1] ЛИР-4М 261", "[2] ЛИР-8М 518", "[3] ЛИР-12М 775",
                                 "[5] Неопознанно 1287", "[6] ЛИР-8М 1542"}));
    QVERIFY(!Root()->isExpanded());
    QCOMPARE(Sim().RequestCount(8), 0u);
    MainForm->btnTraffic->click();
    QVERIFY(!TrafficForm->isVisible());
    MainForm->Net->expandAll();
  }

  void selectionThenActivationShowsTheTable() {
    Click(Node(k8M));
    QCOMPARE(QString::asprintf("%u %u", Main::SelectedAddress, Main::SelectedModel), u"2 6"_s);
    QCOMPARE(Panel(), kNoDevice);
    Click(Root());  // the port node changes nothing
    QCOMPARE(Main::SelectedAddress, uint32_t{k8M});
    QVERIFY(Sim().SetChannelInput(k8M, 0, true));
    LIR::ChannelParams params{};
    params[0] = {900, 7, 1, 1, 1, 1, 0, 1, 1, 5};
    LIR::WriteChannelsParam(k8M, 4, 1, params);  // channel 5
    const QPoint at = MainForm->Net->visualItemRect(Node(k8M)).center();
    QTest::mouseDClick(MainForm->Net->viewport(), Qt::RightButton, {}, at);  // not an activation
    QCOMPARE(Panel() + opened_.join(' '), kNoDevice);
    Activate(k8M);
    QCOMPARE(Panel(), " [2] ЛИР-8М " + kControls);
    QCOMPARE(MainForm->Channels->rowCount(), 8);
    QCOMPARE(Row(0), u"1|10|0|Н.Р.|Запоминает|Блокировка|Нет|Разрешено|Разрешено|Нет|Нет|17"_s);
    QCOMPARE(Row(4), u"5|900|7|Н.З.|Сквозной|Сигнализация|Да|Запрещено|Разрешено|1Гц|5|18"_s);
    for (int row = 1; row < 8; ++row)
      QVERIFY(Row(row).endsWith("|18"));
    Gui::Snapshot(MainForm, "main-window");

    // ЛИР-4М by the Enter key: no Пуск/Стоп, the others keep their places.
    const int controlX = MainForm->btnControl->x();
    Click(Node(k4M));
    QTest::keyClick(MainForm->Net, Qt::Key_Return);
    QCOMPARE(Panel(), " [1] ЛИР-4М " + QString(kControls).remove("|btnPusk|btnStop"));
    QCOMPARE(MainForm->Channels->rowCount(), 4);
    QCOMPARE(MainForm->btnControl->x(), controlX);
    Activate(kUnknown);
    QCOMPARE(Panel(), " [5] Неопознанно " + kControls);
    QCOMPARE(MainForm->Channels->rowCount(), 12);
    // Beside its lamp, each number shows whole in the 35-pixel column: the cells of 10, 11
    // and 12 differ, and no digit reaches the cell's right edge.
    QTableWidget* table = MainForm->Channels;
    QCOMPARE(table->columnWidth(0), 35);
    const QColor ink = table->palette().color(QPalette::Text);
    QList<QImage> numbers;
    for (int row : {9, 10, 11}) {
      const QRect cell = table->visualItemRect(table->item(row, 0));
      numbers << table->viewport()->grab(cell).toImage();
      for (int y = 0; y < numbers.last().height(); ++y) {
        const QColor edge = numbers.last().pixelColor(numbers.last().width() - 1, y);
        QVERIFY2(qAbs(edge.lightness() - ink.lightness()) > 100, qPrintable(QString::number(row)));
      }
    }
    QVERIFY(numbers[0] != numbers[1] && numbers[1] != numbers[2] && numbers[0] != numbers[2]);
    QCOMPARE(Gui::UnfitTitles(table), QStringList{});  // shortened with "…", whole as tips
  }

  // The device panel at its design size and larger: the table at 2, 15, 620 × 243 of the
  // 624 × 297 design follows all four edges, the buttons the right and bottom ones.
  void devicePanelLayout() {
    const QSize now = MainForm->DeviceProp->size();
    for (const QSize& size : {QSize(624, 297), QSize(700, 340), now}) {
      MainForm->DeviceProp->resize(size);
      const int dx = size.width() - 624, dy = size.height() - 297;
      QCOMPARE(MainForm->Channels->geometry(), QRect(2, 15, 620 + dx, 243 + dy));
      QCOMPARE(MainForm->btnRestart->geometry(), QRect(528 + dx, 267 + dy, 90, 25));
    }
  }

  void failedReadsShowStarsAndOneMessage() {
    Activate(k12M);
    const QStringList message{"E Внимание!: Ошибка при обращении к устройству [3]"};
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 2);
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(boxes_.TakeTexts(), message);
    QCOMPARE(MainForm->Channels->rowCount(), 12);
    for (int row = 0; row < 12; ++row)
      QCOMPARE(Row(row), QString::number(row + 1) + QString("|***").repeated(10) + "|none");
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);  // the state read alone
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(boxes_.TakeTexts(), message);
    QVERIFY(Row(0).startsWith("1|10|0|") && Row(0).endsWith("|none"));
  }

  void rowSelectionNamesTheChannelAndSpaceRereads() {
    MainForm->Channels->selectRow(2);
    QCOMPARE(Main::SelectedChannel, 2);
    QAction* edit = MainForm->actSetChannelsParam;
    QCOMPARE(edit->text() + "|" + edit->toolTip() + "|" + edit->statusTip(),
             u"&Изменить параметры канала 3|Изменить параметры канала 3|"
             "Изменение параметрв одного из каналов выбранного устройства"_s);
    QCOMPARE(Unmirrored(), QStringList{});  // N2 and the popup's item say so too
    QTableWidget* table = MainForm->Channels;
    QTest::mouseDClick(table->viewport(), Qt::RightButton, {},
                       table->visualItemRect(table->item(2, 0)).center());
    QCOMPARE(opened_, QStringList{});  // the editor opens on a left double-click only
    const uint32_t before = Sim().RequestCount(k12M);
    QTest::keyClick(MainForm->Channels, Qt::Key_Space);
    QCOMPARE(Sim().RequestCount(k12M), before + 2);  // the state, then all parameters
    MainForm->findChild<QAction*>("pmiGetChannelsParam")->trigger();
    QCOMPARE(Sim().RequestCount(k12M), before + 4);
    Activate(k8M);
    QCOMPARE(Main::SelectedChannel, 2);
  }

  void heldButtonsSendOneCommandPerTick() {
    int ticksHeld = 0;
    auto counter =
        connect(MainForm->Timer, &QTimer::timeout, this, [&] { ticksHeld += Main::ControlHeld; });
    QTest::mousePress(MainForm->btnControl, Qt::LeftButton);
    QVERIFY(Main::ControlHeld);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodeControl), 0u);  // nothing from the press itself
    Gui::Pump(150);
    QTest::mouseRelease(MainForm->btnControl, Qt::LeftButton);
    disconnect(counter);
    const uint32_t sent = Sim().CommandCount(k8M, LIR::CodeControl);
    QVERIFY(!Main::ControlHeld && sent >= 3);
    QCOMPARE(sent, uint32_t(ticksHeld));
    Gui::Pump(100);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodeControl), sent);
    QVERIFY(!MainForm->Timer->isActive());  // an idle program does not tick

    // The space bar: an access check at the press and at every auto-repeat.
    const uint32_t before = Sim().RequestCount(k8M);
    MainForm->btnPusk->setFocus();
    QTest::keyPress(MainForm->btnPusk, Qt::Key_Space);
    QVERIFY(Main::PuskHeld);
    Gui::Pump(40);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(MainForm->btnPusk, &repeat);
    Gui::Pump(40);
    QTest::keyRelease(MainForm->btnPusk, Qt::Key_Space);
    const uint32_t pusk = Sim().CommandCount(k8M, LIR::CodePusk);
    QVERIFY(!Main::PuskHeld && pusk >= 2);
    QCOMPARE(Sim().RequestCount(k8M) - before, pusk + 2);

    Click(Node(k12M));  // selected, not activated: the commands go there
    QTest::mousePress(MainForm->btnKvitir, Qt::LeftButton);
    Gui::Pump(30);
    QTest::mouseRelease(MainForm->btnKvitir, Qt::LeftButton);
    QCOMPARE(MainForm->DeviceProp->title(), u" [2] ЛИР-8М "_s);
    QVERIFY(Sim().CommandCount(k12M, LIR::CodeKvitir) > 0);
    QCOMPARE(Sim().CommandCount(k8M, LIR::CodeKvitir), 0u);
  }

  // A held button the user can no longer release is let go: no command goes on unseen, and
  // being let go is no release (Сброс does not re-read the table).
  void heldButtonLetGoWhenItCannotBeReleased() {
    Activate(k8M);
    MainForm->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(MainForm));
    QPushButton* sbros = MainForm->btnSbros;
    for (const QString way :
         {"password lapsed", "focus moved", "window left", "hidden", "disabled"}) {
      const bool key = way == "password lapsed" || way == "focus moved";
      (key ? static_cast<QWidget*>(sbros) : MainForm->Channels)->setFocus();
      if (key) QTest::keyPress(sbros, Qt::Key_Space);
      if (!key) QTest::mousePress(sbros, Qt::LeftButton);
      QVERIFY(Main::SbrosHeld);
      Gui::Pump(20);
      TProgressForm progress;
      if (way == "password lapsed") {
        QVERIFY(Sim().SetAccess(k8M, false));
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
        QApplication::sendEvent(sbros, &repeat);  // refused, and the box takes the key-up
        QVERIFY(Sim().SetAccess(k8M, true));
      }
      if (way == "focus moved") MainForm->Channels->setFocus();
      if (way == "window left") TrafficForm->Toggle();
      if (way == "hidden") MainForm->DisableLIRControls();  // as a scan does
      if (way == "disabled") progress.StartProgress();
      QVERIFY2(Gui::WaitFor([] { return !Main::SbrosHeld; }, 2000), qPrintable(way));
      const uint32_t sent = Sim().RequestCount(k8M);
      Gui::Pump(50);
      QVERIFY2(Sim().RequestCount(k8M) == sent, qPrintable(way));
      if (!key) QTest::mouseRelease(sbros, Qt::LeftButton);
      progress.StopProgress();
      if (TrafficForm->isVisible()) TrafficForm->Toggle();
      MainForm->EnableLIRControls();
      MainForm->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(MainForm));
    }
    boxes_.TakeTexts();
  }

  void refusedPressAndTheResetReread() {
    Activate(kLocked);
    const uint32_t before = Sim().RequestCount(kLocked);
    QTest::mousePress(MainForm->btnSbros, Qt::RightButton);  // does nothing
    QTest::mousePress(MainForm->btnSbros, Qt::LeftButton);
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"E Отказано в доступе.: Невозможно обратится к "
                         "устройству с адресом [6].\nНеобходимо ввести пароль."});
    QVERIFY(!Main::SbrosHeld && !MainForm->btnSbros->isDown());
    QTest::mouseRelease(MainForm->btnSbros, Qt::LeftButton);
    QCOMPARE(Sim().CommandCount(kLocked, LIR::CodeSbros), 0u);
    QCOMPARE(Sim().RequestCount(kLocked), before + 3);  // access check, state, parameters

    // A silent unit: the two-space text at the press, the table's own at the release.
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 3);
    QTest::mousePress(MainForm->btnSbros, Qt::LeftButton);
    QTest::mouseRelease(MainForm->btnSbros, Qt::RightButton);
    QCOMPARE(boxes_.TakeTexts(),
             (QStringList{"E Внимание!: Ошибка при обращении к  устройству [6]",
                          "E Внимание!: Ошибка при обращении к устройству [6]"}));
  }

  void portChoiceAndDeviceActionsOpenTheirDialogs() {
    Click(Root(), true);  // the port node; OK on the name offered
    QVERIFY(ModBus::Port->Connected);
    QCOMPARE(Root()->childCount(), 0);
    QCOMPARE(Panel(), kNoDevice);
    QCOMPARE(Main::SelectedAddress, uint32_t{kLocked});  // the device in use survives
    for (const char* item :
         {"miClock", "N2", "miPassword", "miJournal", "miSettings", "miPortConfig"})
      MainForm->findChild<QAction*>(item)->trigger();
    QCOMPARE(opened_,
             (QStringList{"PortSelectForm", "ClockForm", "SetChannelsParamForm", "PasswordForm",
                          "JournalForm", "SettingsForm", "PortConfigForm"}));

    typed_ = "COM7";  // no such port: the box, the network gone, the name kept
    MainForm->actPortSelect->trigger();
    QCOMPARE(boxes_.TakeTexts(), QStringList{"E Ошибка.: Не удается создать дескриптор порта\n"
                                             "Возможно порт используется другим приложением"});
    QCOMPARE(MainForm->Net->topLevelItemCount(), 0);
    QCOMPARE(Flags(), u"1110100"_s);
    QCOMPARE(PortSelectForm->PortNamer->currentText(), u"COM7"_s);
    typed_ = "COM2";
    accept_ = false;
    MainForm->actPortSelect->trigger();
    QCOMPARE(ModBus::Port->PortName, std::string("COM7"));
    accept_ = true;
    MainForm->actPortSelect->trigger();
    QCOMPARE(Root()->text(0), u"COM2"_s);
    QCOMPARE(Flags(), u"1111111"_s);
  }

  void exitAboutAndHelp() {
    boxes_.Answer(QMessageBox::No);
    for (QAction* action : {MainForm->actExit, MainForm->N4, MainForm->actHelp})
      action->trigger();
    QVERIFY(MainForm->isVisible());
    const QStringList seen = boxes_.TakeTexts();
    QCOMPARE(seen.value(0), u"Q Подтвердите: Действительно хотите выйти?"_s);
    QVERIFY(seen.value(1).startsWith(u"I О программе: "_s) &&
            seen.value(1).contains(u"Ирвалон"_s) && seen.value(1).contains(u"версия"_s));
    QVERIFY(seen.size() == 3 && seen[2].contains(u"Ирвалон.hlp"_s));
  }

  void everyPictureDraws() {
    for (int i = 0; i < Images::Count; ++i) {
      const QImage alpha = Images::Pixmap(i).toImage().convertToFormat(QImage::Format_Alpha8);
      const uchar* bits = alpha.constBits();  // drawn on a transparent ground, not a filled square
      QVERIFY2(alpha.size() == QSize(16, 16) && std::count(bits, bits + 256, 255) >= 20 &&
                   std::count(bits, bits + 256, 0) > 0 && !Images::Icon(i).isNull(),
               qPrintable(QString::number(i)));
    }
    for (int index : {-1, Images::Count, 1000})
      QVERIFY(Images::Icon(index).isNull() && Images::Pixmap(index).isNull());
    QVERIFY(Images::Pixmap(Images::Door, 0).isNull() && Images::Pixmap(Images::Door, -16).isNull());
  }

  void lampsReadAsTheirStates() {
    const QColor green = Lamp(Images::LampsLit, 0), red = Lamp(Images::LampsLit, 1);
    const QColor greenDark = Lamp(Images::LampsDark, 0), redDark = Lamp(Images::LampsDark, 1);
    QVERIFY(green.green() >= 160 && green.green() - qMax(green.red(), green.blue()) >= 80);
    QVERIFY(red.red() >= 200 && red.red() - qMax(red.green(), red.blue()) >= 100);
    // Dark, yet still telling which lamp is which.
    QVERIFY(greenDark.lightness() * 2 < green.lightness() && greenDark.green() > greenDark.red());
    QVERIFY(redDark.lightness() * 2 < red.lightness() && redDark.red() > redDark.green());
    // The one-lit pairs are made of the same lamps, in the same places.
    QCOMPARE((QList{Lamp(Images::LampsRedLit, 0), Lamp(Images::LampsRedLit, 1),
                    Lamp(Images::LampsGreenLit, 0), Lamp(Images::LampsGreenLit, 1)}),
             (QList{greenDark, red, green, redDark}));
  }

  // The main and traffic windows are shown, the port choice hidden.
  void progressDisablesTheVisibleEnabledWindows() {
    TProgressForm progress;
    QWidget off;                              // disabled by someone else
    auto late = std::make_unique<QWidget>();  // opened during the run
    off.setEnabled(false);
    off.show();
    MainForm->btnTraffic->click();
    progress.StopProgress();  // without a start: nothing
    QVERIFY(!progress.Running && !progress.isModal());
    progress.StartProgress();
    QVERIFY(progress.Running && progress.isVisible() && progress.isEnabled());
    QCOMPARE(Flags(), u"0011110"_s);
    late->show();
    progress.StartProgress();
    QVERIFY(late->isEnabled());
    progress.StopProgress();
    QVERIFY(!progress.Running && !progress.isVisible() && !off.isEnabled());
    QCOMPARE(Flags(), u"1111111"_s);
    TrafficForm->setEnabled(false);  // by someone else after the run: not the dialog's to enable
    progress.StopProgress();
    progress.StartProgress();
    late.reset();  // destroyed during the run
    progress.StopProgress();
    QVERIFY(!TrafficForm->isEnabled());
    TrafficForm->setEnabled(true);

    for (const QString& way : QStringList{"Отмена", "Enter", "Esc", "close box"}) {
      progress.StartProgress();
      QVERIFY(QTest::qWaitForWindowExposed(&progress));
      if (way == "Отмена") QTest::mouseClick(progress.btnCancel, Qt::LeftButton);
      if (way == "Enter") QTest::keyClick(progress.btnCancel, Qt::Key_Return);  // it has the focus
      if (way == "Esc") QTest::keyClick(&progress, Qt::Key_Escape);
      if (way == "close box") progress.windowHandle()->close();
      QVERIFY2(!progress.Running && !progress.isVisible() && Flags() == "1111111", qPrintable(way));
    }
  }

  // Labels and check boxes leave room before the control or frame that follows them; the
  // port's name shows whole in its box, and as its tip.
  void textsFitTheirPlaces() {
    for (const char* name : {"SettingsForm", "PortSelectForm"}) {
      QWidget* form = Form(name);
      form->show();
      QStringList crowded;
      for (QWidget* w : form->findChildren<QWidget*>()) {
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QCheckBox*>(w)) continue;
        const int room = std::min(w->width(), w->parentWidget()->width() - 2 - w->x());
        if (w->sizeHint().width() + 3 > room) crowded << w->objectName();
      }
      QVERIFY2(crowded.isEmpty(), qPrintable(name + (": " + crowded.join(' '))));
      form->hide();
    }
    QComboBox* port = PortSelectForm->PortNamer;
    port->setEditText(u"/dev/ttyS0"_s);
    const QFontMetrics metrics(port->lineEdit()->font());
    QVERIFY(metrics.horizontalAdvance(port->currentText()) + 4 <= port->lineEdit()->width());
    QCOMPARE(port->toolTip(), u"/dev/ttyS0"_s);
    port->setEditText(u"COM2"_s);
  }

  // A box stands over the window in use, the modal dialog or else the active window, so it
  // cannot fall behind it; it has no Qt parent, which would pass on a disabling.
  void boxesStandOverTheWindowInUse() {
    MainForm->N4->trigger();  // the about box
    Main::SelectedAddress = kLocked;
    auto* clock = qobject_cast<QDialog*>(Form("ClockForm"));
    QVERIFY(Gui::RunDialog(boxes_, MainForm->actClock, clock, [clock] {
      auto* apply = clock->findChild<QPushButton*>("btnApply");
      apply->setEnabled(true);
      apply->click();  // refused
    }));
    boxes_.OnDialog([this](QWidget* dialog) { Dialog(dialog); });
    QStringList over;
    for (const Gui::Box& box : boxes_.Take())
      over << box.Title + " " + box.Over;
    QCOMPARE(over, (QStringList{u"О программе MainForm"_s, u"Отказано в доступе. ClockForm"_s}));
  }

  // Enter presses the focused button, as on Windows, and the dialog's OK from anywhere else.
  // Late: OK and Refresh work on the units and the port.
  void enterPressesTheFocusedButton() {
    const QStringList dialogs{
        "SetChannelsParamForm btnOk cbChannelNumber btnRefresh btnCancel btnApply",
        "SettingsForm btnOK cbPusk btnRefresh btnCancel btnApply",
        "ClockForm btnOK DTDate btnRefresh btnCancel btnApply",
        "PasswordForm btnOk edPassword btnCancel",
        "JournalForm btnOk Journal btnRefresh btnClear",
        "PortConfigForm btnOk cbSpeed btnCancel",
        "PortSelectForm btnOk PortNamer btnCancel"};
    for (const QString& line : dialogs) {
      const QStringList names = line.split(' ');
      QWidget* dialog = Form(names[0]);
      auto* ok = dialog->findChild<QPushButton*>(names[1]);
      for (const QString& name : names.mid(2)) {
        dialog->show();
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        auto* focus = dialog->findChild<QWidget*>(name);
        focus->setEnabled(true);
        focus->setFocus();
        QSignalSpy pressed(qobject_cast<QPushButton*>(focus) ? focus : ok, SIGNAL(clicked()));
        QSignalSpy okPressed(ok, SIGNAL(clicked()));
        QTest::keyClick(focus, Qt::Key_Return);
        QVERIFY2(pressed.count() == 1 && okPressed.count() == int(focus == ok || name == names[2]),
                 qPrintable(line + ": " + name));
        dialog->hide();
      }
    }
  }

  // The window closed by its close box during a scan: the scan stops at its next step, and
  // the program's event loop ends. Driven as the other tests drive the forms, then from the
  // program's loop. Last: the program ends here.
  void closingDuringAScanEndsTheProgram() {
    uint32_t requestsAtClose = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<TProgressForm*>(w); progress && progress->isVisible()) {
          if (requestsAtClose) progress->close();  // ran on: stopped here, to fail below
          if (requestsAtClose || progress->Label1->text().section(' ', -1).toInt() < 4) continue;
          requestsAtClose = Sim().TotalRequests();
          MainForm->windowHandle()->close();
        }
    });
    watch.start(5);
    for (bool loop : {false, true}) {
      requestsAtClose = 0;
      MainForm->show();
      if (!loop) MainForm->actNetScan->trigger();
      if (loop) {
        QTimer::singleShot(0, &watch, [] { MainForm->actNetScan->trigger(); });
        QTimer::singleShot(5000, &watch, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
      }
      QVERIFY(requestsAtClose > 0 && !MainForm->isVisible());
      QCOMPARE(Sim().TotalRequests(), requestsAtClose);
    }
  }
};

QTEST_MAIN(MainTest)
#include "MainTest.moc"
