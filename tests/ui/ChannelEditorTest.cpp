// The channel parameter editor on a simulated line, opened by the main window's launcher:
// what it shows, what it sends to the unit and in which order, and how it fails.

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <functional>

#include "Harness.h"
#include "device/LIR.h"
#include "link/ModBus.h"
#include "link/Traffic.h"
#include "ui/dialogs/SetChannelsParam.h"
#include "ui/main/Main.h"

namespace {

constexpr uint8_t k4M = 1, k8M = 2, k12M = 3, kLocked = 6;

TSetChannelsParamForm* Form() {
  return SetChannelsParamForm;
}

QStringList Items(QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i)
    items << box->itemText(i);
  return items;
}

QStringList Numbers(int count, const QString& first = QString()) {
  QStringList items;
  if (!first.isEmpty()) items << first;
  for (int i = 1; i <= count; ++i)
    items << QString::number(i);
  return items;
}

QList<QComboBox*> Lists() {
  TSetChannelsParamForm* f = Form();
  return {f->cbTypeInput, f->cbTypeChannel, f->cbReleMode, f->cbToRele,
          f->cbSrabat,    f->cbNorm,        f->cbZvuk,     f->cbReleNumber};
}

// What the eight lists show, in their order ("" for a list without selection).
QStringList Shown() {
  QStringList texts;
  for (QComboBox* box : Lists())
    texts << (box->currentIndex() < 0 ? QString() : box->currentText());
  return texts;
}

// Picks an item the way a user does on a closed list: Home, then Down.
void Choose(QComboBox* box, const QString& text) {
  QTest::keyClick(box, Qt::Key_Home);
  for (int i = 0; i < box->count() && box->currentText() != text; ++i)
    QTest::keyClick(box, Qt::Key_Down);
  QCOMPARE(box->currentText(), text);
}

void Type(QSpinBox* spin, const QString& text) {
  spin->selectAll();
  QTest::keyClick(spin, Qt::Key_Delete);
  QTest::keyClicks(spin, text);
}

// The master's requests as "function first/count" ("16 12/3 = 7 8 3216" with the values).
QStringList Requests(const std::vector<Sim::Frame>& log) {
  QStringList requests;
  for (const Sim::Frame& frame : log) {
    const std::vector<uint8_t>& b = frame.Bytes;
    if (!frame.FromMaster || b.size() < 8) continue;
    QString r = QStringLiteral("%1 %2/%3").arg(b[1]).arg(b[2] * 256 + b[3]).arg(b[4] * 256 + b[5]);
    if (b[1] == 16) {
      r += QStringLiteral(" =");
      for (size_t i = 7; i + 3 < b.size(); i += 2)
        r += QStringLiteral(" ") + QString::number(b[i] * 256 + b[i + 1]);
    }
    requests << r;
  }
  return requests;
}

const QString kState = QStringLiteral("4 4/1");   // the table: state word,
const QString kCheck = QStringLiteral("4 50/1");  // the access check
QString TableParams(int channels) {
  return QStringLiteral("3 0/%1").arg(3 * channels);
}
QString ChannelRead(int index) {
  return QStringLiteral("3 %1/3").arg(3 * index);
}

}  // namespace

class ChannelEditorTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Gui::Line> line_;
  std::unique_ptr<Gui::Boxes> boxes_;
  Sim::Simulator& Sim() { return line_->Sim(); }
  QStringList TakeRequests() { return Requests(Sim().TakeLog()); }

  void Use(uint8_t address, uint8_t model, int channel) {
    Main::SelectedAddress = address;
    Main::SelectedModel = model;
    Main::SelectedChannel = channel;
  }

  void SetChannel(uint8_t address, int index, uint16_t srabat, uint16_t zaderj, uint16_t flags) {
    QVERIFY(Sim().SetHolding(address, uint16_t(3 * index), srabat));
    QVERIFY(Sim().SetHolding(address, uint16_t(3 * index + 1), zaderj));
    QVERIFY(Sim().SetHolding(address, uint16_t(3 * index + 2), flags));
  }

  uint16_t Holding(uint8_t address, int reg) {
    uint16_t value = 0;
    Sim().Holding(address, uint16_t(reg), value);
    return value;
  }

  // Runs `launch` and `drive` inside the editor it shows; returns how often the editor was
  // shown. An editor that `drive` left open is cancelled, so a failed check cannot hang.
  int Edit(const std::function<void()>& launch, const std::function<void()>& drive) {
    int shown = 0;
    boxes_->OnDialog([&](QWidget* dialog) {
      if (dialog != Form()) {
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        return;
      }
      ++shown;
      drive();
      if (Form()->isVisible()) Form()->reject();
    });
    launch();
    boxes_->OnDialog(nullptr);
    return shown;
  }
  int Edit(const std::function<void()>& drive) {
    return Edit([] { MainForm->actSetChannelsParam->trigger(); }, drive);
  }

  void ExpectBox(const Gui::Box& box, const QString& title, const QString& text,
                 QMessageBox::Icon icon) {
    QCOMPARE(box.Title, title);
    QCOMPARE(box.Text, text);
    QCOMPARE(box.Icon, icon);
    QCOMPARE(box.Buttons, (QList<QMessageBox::StandardButton>{QMessageBox::Ok}));
  }

  void ExpectBlank() {
    QCOMPARE(Form()->spinVrSrabat->value(), 0);
    QCOMPARE(Form()->spinVrZaderj->value(), 0);
    QCOMPARE(Form()->spinVrSrabat->text(), QStringLiteral("0"));
    QCOMPARE(Shown(), QStringList(8, QString()));
  }

 private slots:
  void initTestCase() {
    line_ = std::make_unique<Gui::Line>(
        Sim::LineSetup{},
        std::vector<Sim::UnitSetup>{Gui::Unit(k4M, 5), Gui::Unit(k8M, 6), Gui::Unit(k12M, 7),
                                    Gui::Unit(kLocked, 6, false)});
    boxes_ = std::make_unique<Gui::Boxes>();
    CreateForms();
    QVERIFY(MainForm && Form());
    QCOMPARE(boxes_->Count(), 0);
  }

  void init() {
    Sim().ClearFaults();
    boxes_->Take();
    Sim().TakeLog();
  }

  void opensFilledFromTheUnit() {
    // Н.З., Запоминает, Сигнализация, common relay, journal on trip (bit 4 clear) but not
    // on return, 1 Hz, relay 11.
    SetChannel(k12M, 4, 123, 45, 0x0B00 | 1 | 4 | 8 | 64);
    Use(k12M, 7, 4);
    QStringList channels, relays, requests;
    bool applyEnabled = true;
    const int shown = Edit([&] {
      requests = TakeRequests();
      TSetChannelsParamForm* f = Form();
      QCOMPARE(f->windowTitle(), QStringLiteral("Параметры каналов устройства [3]"));
      QCOMPARE(f->GB2->title(), QStringLiteral(" Параметры канала 5 "));
      QCOMPARE(f->cbChannelNumber->currentText(), QStringLiteral("5"));
      channels = Items(f->cbChannelNumber);
      relays = Items(f->cbReleNumber);
      QCOMPARE(f->spinVrSrabat->value(), 123);
      QCOMPARE(f->spinVrZaderj->value(), 45);
      QCOMPARE(Shown(), (QStringList{"Н.З.", "Запоминает", "Сигнализация", "Да", "Разрешена",
                                     "Запрещена", "1Гц", "11"}));
      applyEnabled = f->btnApply->isEnabled();
      QCOMPARE(f->size(), QSize(314, 377));
      QCOMPARE(f->minimumSize(), f->maximumSize());
      // Every label reads whole at the program's font.
      for (QLabel* label : f->findChildren<QLabel*>()) {
        const int need =
            label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().width();
        const int room = label->wordWrap() ? label->height() : label->width();
        QVERIFY2(need <= room, qPrintable(label->text() + QString(" %1 %2").arg(need).arg(room)));
      }
      Gui::Snapshot(f, "channel-editor");
      f->btnCancel->click();
    });
    QCOMPARE(shown, 1);
    QCOMPARE(boxes_->Count(), 0);
    QVERIFY(!applyEnabled);
    QCOMPARE(channels, Numbers(12));
    QCOMPARE(relays, Numbers(12, "Нет"));
    QCOMPARE(requests, QStringList{ChannelRead(4)});  // one channel, one request
    // Cancel writes nothing; the launcher reads the table again.
    QCOMPARE(TakeRequests(), (QStringList{kState, TableParams(12)}));
  }

  void listsFollowTheModel() {
    // Channel 3 of a ЛИР-4М whose relay 7 has no item in its list.
    SetChannel(k4M, 2, 10, 0, 0x0700);
    Use(k4M, 5, 2);
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      QCOMPARE(Items(f->cbChannelNumber), Numbers(4));
      QCOMPARE(Items(f->cbReleNumber), Numbers(4, "Нет"));
      QCOMPARE(f->cbChannelNumber->currentText(), QStringLiteral("3"));
      QCOMPARE(f->GB2->title(), QStringLiteral(" Параметры канала 3 "));
      QCOMPARE(f->cbReleNumber->currentIndex(), -1);
      QCOMPARE(f->cbZvuk->currentText(), QStringLiteral("Нет звука"));
    });
    QCOMPARE(boxes_->Count(), 0);

    // Both sound bits set is no sound of the list either.
    SetChannel(k8M, 0, 10, 0, 0x00C0);
    Use(k8M, 6, 0);
    Edit([&] {
      QCOMPARE(Items(Form()->cbChannelNumber), Numbers(8));
      QCOMPARE(Items(Form()->cbReleNumber), Numbers(8, "Нет"));
      QCOMPARE(Form()->cbZvuk->currentIndex(), -1);
      QCOMPARE(Form()->cbReleNumber->currentText(), QStringLiteral("Нет"));
    });

    // A code no scan records (it hands unknown units on as 12М): the lists stay as they are.
    Use(k12M, 9, 6);
    Edit([&] {
      QCOMPARE(Items(Form()->cbChannelNumber), Numbers(8));
      QCOMPARE(Items(Form()->cbReleNumber), Numbers(8, "Нет"));
      QCOMPARE(Form()->cbChannelNumber->currentText(), QStringLiteral("7"));
    });
    TakeRequests();

    // The row remembered from a 12-channel unit is beyond a ЛИР-4М: channel 1 is shown,
    // read and written, never a channel the list does not hold.
    Use(k4M, 5, 11);
    QStringList requests;
    Edit([&] {
      QCOMPARE(Form()->cbChannelNumber->currentText(), QStringLiteral("1"));
      QCOMPARE(Form()->GB2->title(), QStringLiteral(" Параметры канала 1 "));
      QTest::keyClick(Form()->spinVrZaderj, Qt::Key_Up);
      Form()->btnApply->click();
      requests = TakeRequests();
    });
    QCOMPARE(requests, (QStringList{ChannelRead(0), kCheck, "16 0/3 = 10 1 32"}));
    QCOMPARE(boxes_->Count(), 0);
  }

  void silentUnitOpensBlankAndBlankListsAreRefused() {
    Use(k8M, 6, 1);
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
    QList<Gui::Box> atOpen;
    bool applyAtOpen = true, applyAfterChange = false, applyAfterRefusal = false;
    QStringList refusals;
    QStringList sentWhileRefused;
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      atOpen = boxes_->Take();
      TakeRequests();
      QCOMPARE(f->cbChannelNumber->currentText(), QStringLiteral("2"));
      QCOMPARE(f->GB2->title(), QStringLiteral(" Параметры канала 2 "));
      ExpectBlank();
      applyAtOpen = f->btnApply->isEnabled();
      Gui::Snapshot(f, "channel-editor-blank");

      // The user may still edit; blank lists then stop Apply, naming the first of them.
      QTest::keyClick(f->spinVrSrabat, Qt::Key_Up);
      applyAfterChange = f->btnApply->isEnabled();
      f->btnApply->click();
      for (QComboBox* box : Lists().mid(0, 6))
        Choose(box, box->itemText(1));
      f->btnApply->click();
      Choose(f->cbZvuk, "2Гц");
      f->btnApply->click();
      applyAfterRefusal = f->btnApply->isEnabled();
      for (const Gui::Box& box : boxes_->Take()) {
        QCOMPARE(box.Title, QStringLiteral("Внимание!"));
        QCOMPARE(box.Icon, QMessageBox::Warning);
        refusals << box.Text;
      }
      sentWhileRefused = TakeRequests();
    });
    QCOMPARE(atOpen.size(), 1);
    ExpectBox(atOpen[0], "Внимание!", "Ошибка при получении параметров канала 2 от устройства [2]",
              QMessageBox::Critical);
    QVERIFY(!applyAtOpen);
    QVERIFY(applyAfterChange);
    QCOMPARE(
        refusals,
        (QStringList{"Не выбрано значение поля \"Тип входа\".\nПараметры канала 2 не записаны.",
                     "Не выбрано значение поля \"Звуковая сигнализация\".\n"
                     "Параметры канала 2 не записаны.",
                     "Не выбрано значение поля \"Номер реле для канала\".\n"
                     "Параметры канала 2 не записаны."}));
    QVERIFY(applyAfterRefusal);
    QCOMPARE(sentWhileRefused, QStringList{});  // no access check, no write
  }

  void grantedApplyChecksThenWritesOneChannel() {
    SetChannel(k12M, 7, 300, 20, 0x0300 | 1 | 2 | 4 | 8 | 32 | 64);
    Use(k12M, 7, 7);
    QStringList requests, shownAfter;
    bool applyAfter = true;
    int srabatAfter = -1;
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      TakeRequests();
      Type(f->spinVrSrabat, "7");
      Type(f->spinVrZaderj, "8");
      for (QComboBox* box : Lists().mid(0, 6))
        Choose(box, box->itemText(0));
      Choose(f->cbZvuk, "2Гц");
      Choose(f->cbReleNumber, "12");
      QVERIFY(f->btnApply->isEnabled());
      f->btnApply->click();
      requests = TakeRequests();
      applyAfter = f->btnApply->isEnabled();
      srabatAfter = f->spinVrSrabat->value();
      shownAfter = Shown();
      f->btnCancel->click();
    });
    QCOMPARE(boxes_->Count(), 0);
    // Journal on trip "Запрещена" is bit 4 set; 2 Hz bit 7; relay 12 the high byte.
    QCOMPARE(requests, (QStringList{kCheck, "16 21/3 = 7 8 3216"}));
    QCOMPARE(Holding(k12M, 23), uint16_t{0x0C90});
    QCOMPARE(Holding(k12M, 21), uint16_t{7});
    QVERIFY(!applyAfter);
    QCOMPARE(srabatAfter, 7);
    QCOMPARE(shownAfter, (QStringList{"Н.Р.", "Запоминает", "Блокировка", "Нет", "Запрещена",
                                      "Запрещена", "2Гц", "12"}));
  }

  void okAppliesOnlyWhatChangedThenClosesAndRereads() {
    Use(k12M, 7, 0);
    Edit([&] {
      TakeRequests();
      Form()->btnOk->click();
    });
    QVERIFY(!Form()->isVisible());
    // No check and no write: the editor's table re-read, then the launcher's.
    QCOMPARE(TakeRequests(), (QStringList{kState, TableParams(12), kState, TableParams(12)}));

    Edit([&] {
      TakeRequests();
      QTest::keyClick(Form()->cbToRele, Qt::Key_Down);
      QTest::keyClick(Form()->cbToRele, Qt::Key_Return);  // Enter is OK
    });
    QCOMPARE(TakeRequests(), (QStringList{kCheck, "16 0/3 = 10 0 40", kState, TableParams(12),
                                          kState, TableParams(12)}));

    // Esc is Cancel: nothing written, the table read once.
    Edit([&] {
      TakeRequests();
      QTest::keyClick(Form()->cbToRele, Qt::Key_Up);
      QTest::keyClick(Form(), Qt::Key_Escape);
    });
    QCOMPARE(TakeRequests(), (QStringList{kState, TableParams(12)}));
    QCOMPARE(Holding(k12M, 2), uint16_t{40});
    QCOMPARE(boxes_->Count(), 0);
  }

  void timesStayWithinTheRange() {
    // Read above the range: shown as the bound, and written so by Apply.
    SetChannel(k12M, 9, 1200, 901, 0);
    Use(k12M, 7, 9);
    Edit([&] {
      QCOMPARE(Form()->spinVrSrabat->text(), QStringLiteral("900"));
      QCOMPARE(Form()->spinVrZaderj->value(), 900);
      QTest::keyClick(Form()->cbNorm, Qt::Key_Down);
      Form()->btnApply->click();
    });
    QCOMPARE(Holding(k12M, 27), uint16_t{900});
    QCOMPARE(Holding(k12M, 28), uint16_t{900});

    Use(k12M, 7, 10);
    QString tooLong, afterTab;
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      Type(f->spinVrZaderj, "1234");
      tooLong = f->spinVrZaderj->text();
      // Leaving the box fixes a value above the range.
      f->activateWindow();
      f->spinVrZaderj->setFocus();
      Type(f->spinVrZaderj, "999");
      f->spinVrSrabat->setFocus();
      afterTab = f->spinVrZaderj->text();
      // Enter while typing: OK writes the fixed value, and the box shows it.
      Type(f->spinVrSrabat, "950");
      QTest::keyClick(f->spinVrSrabat, Qt::Key_Return);
    });
    QCOMPARE(tooLong, QStringLiteral("123"));
    QCOMPARE(afterTab, QStringLiteral("900"));
    QCOMPARE(Form()->spinVrSrabat->text(), QStringLiteral("900"));
    QCOMPARE(Holding(k12M, 30), uint16_t{900});
    QCOMPARE(Holding(k12M, 31), uint16_t{900});

    // An emptied box reads as 0, for Apply and for what it shows afterwards.
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      Type(f->spinVrSrabat, "");
      QVERIFY(f->btnApply->isEnabled());
      f->btnApply->click();
      QCOMPARE(f->spinVrSrabat->text(), QStringLiteral("0"));
      QVERIFY(!f->btnApply->isEnabled());
    });
    QCOMPARE(Holding(k12M, 30), uint16_t{0});
    QCOMPARE(boxes_->Count(), 0);
  }

  void anotherChannelOrRefreshRereadsAndDropsEdits() {
    SetChannel(k8M, 5, 66, 6, 0x0600);
    SetChannel(k8M, 0, 11, 1, 0x0100);
    Use(k8M, 6, 0);
    QStringList onChange, onRefresh;
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      TakeRequests();
      QTest::keyClick(f->spinVrSrabat, Qt::Key_Up);
      Choose(f->cbChannelNumber, "6");
      onChange = TakeRequests();
      QCOMPARE(f->GB2->title(), QStringLiteral(" Параметры канала 6 "));
      QCOMPARE(f->spinVrSrabat->value(), 66);
      QCOMPARE(f->cbReleNumber->currentText(), QStringLiteral("6"));
      QVERIFY(!f->btnApply->isEnabled());

      Type(f->spinVrSrabat, "5");
      Sim().SetHolding(k8M, 15, 67);  // the unit changed meanwhile
      f->btnRefresh->click();
      onRefresh = TakeRequests();
      QCOMPARE(f->spinVrSrabat->value(), 67);
      QVERIFY(!f->btnApply->isEnabled());
    });
    // Each step down the list is a channel change, read once.
    QCOMPARE(onChange, (QStringList{ChannelRead(1), ChannelRead(2), ChannelRead(3), ChannelRead(4),
                                    ChannelRead(5)}));
    QCOMPARE(onRefresh, QStringList{ChannelRead(5)});
    QCOMPARE(Holding(k8M, 15), uint16_t{67});
    QCOMPARE(boxes_->Count(), 0);
  }

  void deniedApplyWritesNothingAndKeepsTheEdits() {
    Use(kLocked, 6, 3);
    const uint16_t before = Holding(kLocked, 9);
    QStringList requests;
    QList<Gui::Box> seen;
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      TakeRequests();
      Type(f->spinVrSrabat, "77");
      Choose(f->cbTypeInput, "Н.З.");
      f->btnApply->click();
      seen = boxes_->Take();
      requests = TakeRequests();
      QCOMPARE(f->spinVrSrabat->value(), 77);
      QCOMPARE(f->cbTypeInput->currentText(), QStringLiteral("Н.З."));
      QVERIFY(!f->btnApply->isEnabled());
      // OK after a further change: refused again, and the dialog closes anyway.
      QTest::keyClick(f->cbToRele, Qt::Key_Down);
      f->btnOk->click();
      seen += boxes_->Take();
    });
    QCOMPARE(requests, QStringList{kCheck});
    QCOMPARE(seen.size(), 2);
    for (const Gui::Box& box : seen)
      ExpectBox(box, "Отказано в доступе.",
                "Невозможно изменить параметры канала 4 устройства с адресом [6].\n"
                "Необходимо ввести пароль.",
                QMessageBox::Critical);
    QCOMPARE(TakeRequests(), (QStringList{kCheck, kState, TableParams(8), kState, TableParams(8)}));
    QCOMPARE(Holding(kLocked, 9), before);
  }

  void transmissionFailuresBlankTheControls() {
    Use(k8M, 6, 2);
    const QString failure = "Ошибка при передаче параметров канала 3 устройству [2]";
    // No answer to the access check.
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      TakeRequests();
      QTest::keyClick(f->spinVrSrabat, Qt::Key_Up);
      Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
      f->btnApply->click();
      const QList<Gui::Box> seen = boxes_->Take();
      QCOMPARE(seen.size(), 1);
      ExpectBox(seen[0], "Внимание!", failure, QMessageBox::Critical);
      QCOMPARE(TakeRequests(), QStringList{kCheck});
      QCOMPARE(f->GB2->title(), QStringLiteral(" Параметры канала 3 "));
      ExpectBlank();
      QVERIFY(!f->btnApply->isEnabled());  // the blanking is no change of the user's
    });

    // The check answered, the write not: the unit is silenced once the check's answer is in.
    // (A lost answer may hide a write that was carried out: hence the blank controls.)
    ModBus::SetTrafficSink([this](const uint8_t* bytes, uint16_t count, uint8_t direction) {
      TrafficForm->AddBytes(bytes, count, direction);
      if (direction == ModBus::Received && count == 7 && bytes[1] == 4)
        Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
    });
    Edit([&] {
      TSetChannelsParamForm* f = Form();
      TakeRequests();
      QTest::keyClick(f->spinVrSrabat, Qt::Key_Up);
      f->btnApply->click();
      ModBus::SetTrafficSink([](const uint8_t* bytes, uint16_t count, uint8_t direction) {
        TrafficForm->AddBytes(bytes, count, direction);
      });
      const QList<Gui::Box> seen = boxes_->Take();
      QCOMPARE(seen.size(), 1);
      ExpectBox(seen[0], "Внимание!", failure, QMessageBox::Critical);
      const QStringList requests = TakeRequests();
      QCOMPARE(requests.size(), 2);
      QCOMPARE(requests[0], kCheck);
      QVERIFY(requests[1].startsWith("16 6/3"));
      ExpectBlank();
      QVERIFY(!f->btnApply->isEnabled());
    });
  }

  // The table of the main window with the 12-channel unit in use.
  QTableWidget* Table() {
    Use(k12M, 7, 0);
    MainForm->EnableLIRControls();
    MainForm->actGetChannelsParamExecute();
    return MainForm->Channels;
  }
  QPoint RowCentre(int row) {
    return MainForm->Channels->visualItemRect(MainForm->Channels->item(row, 0)).center();
  }
  // The channel the editor opened on, after launching it.
  QString OpenedChannel(const std::function<void()>& launch) {
    QString channel;
    const int shown = Edit(launch, [&] {
      channel = Form()->cbChannelNumber->currentText();
      Form()->btnCancel->click();
    });
    return shown == 1 ? channel : QStringLiteral("shown %1 times").arg(shown);
  }

  void openedByTheAction() {
    Table();
    MainForm->ChannelsSelectItem(4);
    QCOMPARE(OpenedChannel([] { MainForm->actSetChannelsParam->trigger(); }), QStringLiteral("5"));
  }

  void openedByDoubleClickOnARow() {
    QTableWidget* table = Table();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, RowCentre(2));
    QCOMPARE(Main::SelectedChannel, 2);
    QCOMPARE(OpenedChannel(
                 [&] { QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, RowCentre(2)); }),
             QStringLiteral("3"));
  }

  void openedByEnterOnARow() {
    QTableWidget* table = Table();
    table->selectRow(7);
    table->setFocus();
    QCOMPARE(OpenedChannel([&] { QTest::keyClick(table, Qt::Key_Return); }), QStringLiteral("8"));
    // The launcher's re-read after the editor closed.
    TakeRequests();
  }
};

QTEST_MAIN(ChannelEditorTest)
#include "ChannelEditorTest.moc"
