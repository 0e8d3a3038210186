// The unit's configuration saved to a file and loaded into another unit, in the real forms on
// a simulated line: what the engineer is shown before anything is written, and what is never
// written.

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "Harness.h"
#include "device/UnitConfig.h"
#include "ui/dialogs/ConfigDiff.h"

using namespace Qt::StringLiterals;

class ConfigTest : public QObject {
  Q_OBJECT

  // ЛИР-8М at 2, 3 and 5 (5 without access), ЛИР-12М at 4.
  Gui::Line line_{Sim::LineSetup{},
                  {Gui::Unit(2, 6), Gui::Unit(3, 6), Gui::Unit(4, 7), Gui::Unit(5, 6, false)}};
  Gui::Boxes boxes_;

  Sim::Simulator& Sim() { return line_.Sim(); }
  QString Path(const QString& name) { return QString::fromStdString(line_.Folder()) + "/" + name; }
  static void Use(uint8_t address, uint8_t model) {
    Main::SelectedAddress = address;
    Main::SelectedModel = model;
  }
  QStringList Writes() {
    return Gui::Requests(Sim().TakeLog()).filter(QRegularExpression("^(6|16) "));
  }
  // What a file may carry: the channels' registers, the settings words and the relay type.
  static QList<uint16_t> Registers() {
    QList<uint16_t> regs{523, 524, 525, 527};
    for (uint16_t reg = 0; reg < 24; ++reg)
      regs.insert(reg, reg);
    return regs;
  }
  QList<uint16_t> Carried(uint8_t unit) {
    QList<uint16_t> values;
    for (uint16_t reg : Registers()) {
      uint16_t value = 0xDEAD;
      Sim().Holding(unit, reg, value);
      values << value;
    }
    return values;
  }
  void SetCarried(uint8_t unit, const QList<uint16_t>& values) {
    for (int i = 0; i < values.size(); ++i)
      QVERIFY(Sim().SetHolding(unit, Registers()[i], values[i]));
  }
  // Loads the file through the menu's action; `drive` gets the differences dialog with its
  // rows as "field|in the unit|in the file".
  void Load(const QString& path, const std::function<void(TConfigDiffForm*, QStringList)>& drive) {
    boxes_.AnswerFile(path);
    boxes_.OnDialog([&](QWidget* modal) {
      auto* form = qobject_cast<TConfigDiffForm*>(modal);
      QVERIFY(form);
      QStringList rows;
      for (int row = 0; row < form->Differences->rowCount(); ++row)
        rows << QStringList{form->Differences->item(row, 0)->text(),
                            form->Differences->item(row, 1)->text(),
                            form->Differences->item(row, 2)->text()}
                    .join('|');
      drive(form, rows);
      if (form->isVisible()) form->reject();
    });
    MainForm->actLoadConfig->trigger();
    RejectDialogs();
  }
  // A dialog no step expects is closed and named, so that the test fails rather than waits.
  QStringList unexpected_;
  void RejectDialogs() {
    boxes_.OnDialog([this](QWidget* modal) {
      unexpected_ << modal->objectName();
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    });
  }

 private slots:
  void initTestCase() {
    CreateForms();
    ModBus::SetTrafficSink(nullptr);
  }

  void init() {
    Sim().ClearFaults();
    Sim().TakeLog();
    boxes_.Take();
    MainForm->EnableLIRControls();  // as a unit's node does
    RejectDialogs();
  }

  void cleanup() { QCOMPARE(std::exchange(unexpected_, {}), QStringList{}); }

  void savedFromOneUnitAndLoadedIntoAnother() {
    QList<uint16_t> two;
    for (int n = 0; n < 8; ++n) {
      const int sound = n % 3 == 1 ? 0x40 : n % 3 == 2 ? 0x80 : 0;
      two << uint16_t(100 + n) << uint16_t(10 + n)
          << uint16_t((n % 9) << 8 | (n * 0x25 & 0x3F) | sound);
    }
    two << 0x8305 << 0x0100 << 0x8807 << 1;
    QList<uint16_t> three = two;
    three[7] = 40;       // channel 3's delay
    three[14] ^= 0x01;   // channel 5's input type
    three[25] = 0x8100;  // "Пуск" locked
    three[27] = 0;       // the relay's type
    SetCarried(2, two);
    SetCarried(3, three);

    // Saved through the menu: the file dialog, the reading, the file.
    Use(2, 6);
    const QString path = Path("unit2.json");
    boxes_.AnswerFile(path);
    MainForm->actSaveConfig->trigger();
    QCOMPARE(boxes_.TakeTexts(), QStringList{});
    QCOMPARE(Writes(), QStringList{});
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QJsonObject file = QJsonDocument::fromJson(saved.readAll()).object();
    QCOMPARE(file.value("modelName").toString(), u"ЛИР-8М"_s);
    QCOMPARE(file.value("address").toInt(), 2);
    const QJsonArray channels = file.value("channels").toArray();
    QCOMPARE(channels.size() * 100 + channels[2].toObject().value("VrZaderj").toInt(), 812);
    QCOMPARE(file.value("settings").toObject().value("Restart").toObject().value("channel").toInt(),
             8);
    for (const char* never : {"password", "clock", "netAddress"})
      QVERIFY(!file.contains(never));

    // Into unit 3: first shown and cancelled, nothing sent but the reading.
    Use(3, 6);
    const QStringList differences = {
        "Канал 3: Время задержки|40|12", "Канал 5: Тип входа|Н.З.|Н.Р.",
        "Блокировка кнопки \"Пуск\"|Да|Нет", "Общее реле (тип)|Н.Р.|Н.З."};
    Load(path, [&](TConfigDiffForm* form, const QStringList& rows) {
      QCOMPARE(rows, differences);
      QCOMPARE(form->windowTitle(), u"Загрузка конфигурации в устройство [3]"_s);
      QVERIFY(form->lblFile->text().contains(u"Сохранён с устройства [2] ЛИР-8М"_s));
      Gui::Snapshot(form, "config-diff");
      form->btnCancel->click();
    });
    QCOMPARE(Writes(), QStringList{});
    QCOMPARE(Carried(3), three);
    QCOMPARE(boxes_.TakeTexts(), QStringList{});

    // Written, but the settings' write goes unanswered: the relay is not written either, and the
    // reading back names what was left.
    Load(path, [&](TConfigDiffForm* form, const QStringList&) {
      ModBus::SetTrafficSink([this, n = 0](const uint8_t*, uint16_t, uint8_t way) mutable {
        if (way == ModBus::Received && ++n == 2)  // the access check, the channels
          Sim().InjectFault(Sim::FaultKind::Exception, 0, 1);
      });
      form->btnWrite->click();
    });
    ModBus::SetTrafficSink(nullptr);
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"E Внимание!: Ошибка при передаче параметров устройству [3]: записано не "
                         "всё.\nПосле записи в устройстве [3] отличаются от файла значений: 2"
                         "\nБлокировка кнопки \"Пуск\" — в устройстве Да, в файле Нет"
                         "\nОбщее реле (тип) — в устройстве Н.Р., в файле Н.З."});
    QCOMPARE(Writes().replaceInStrings(QRegularExpression(" = .*"), ""),
             (QStringList{"16 0/24", "16 523/3"}));

    // Written whole: what the file may carry is the same in both units, and only that was sent.
    Load(path, [&](TConfigDiffForm* form, const QStringList& rows) {
      QCOMPARE(rows, differences.mid(2));
      form->btnWrite->click();
    });
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"I Конфигурация устройства: Конфигурация из файла записана в устройство "
                         "[3].\nПрочитанное из устройства совпадает с файлом."});
    QCOMPARE(Writes().replaceInStrings(QRegularExpression(" = .*"), ""),
             (QStringList{"16 0/24", "16 523/3", "16 527/1"}));
    QCOMPARE(Carried(3), two);
    uint16_t address = 0;
    QVERIFY(Sim().Holding(3, 544, address) && address == 3);

    // Nothing left to write: said so, and nothing is.
    QCOMPARE(MainForm->LoadConfig(path).size(), size_t(0));
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"I Конфигурация устройства: Конфигурация устройства [3] "
                         "совпадает с файлом.\nНичего не записано."});
    QCOMPARE(Writes(), QStringList{});
  }

  void refusedFilesWriteNothing() {
    Use(4, 7);
    const QString twelve = Path("unit4.json"), damaged = Path("damaged.json");
    QVERIFY(MainForm->SaveConfig(twelve) && QFile::copy(twelve, damaged) &&
            QFile::resize(damaged, QFileInfo(damaged).size() / 2));
    Use(3, 6);
    const QList<uint16_t> before = Carried(3);
    Sim().TakeLog();
    boxes_.Take();
    const std::pair<QString, QString> refusals[] = {
        {twelve, "Файл конфигурации для ЛИР-12М, а устройство [3] — ЛИР-8М.\nНичего не записано."},
        {damaged,
         "Файл не является файлом конфигурации прибора ЛИР.\n" + damaged + "\nНичего не записано."},
        {Path("missing.json"), "Не удается прочитать файл\n" + Path("missing.json")}};
    for (const auto& [path, text] : refusals) {
      QVERIFY(MainForm->LoadConfig(path).empty());
      QCOMPARE(boxes_.TakeTexts(), QStringList{"E Внимание!: " + text});
    }
    QCOMPARE(Gui::Requests(Sim().TakeLog()), QStringList{});  // not even a reading
    QCOMPARE(Carried(3), before);

    // Cancelled while the unit is read: no box, nothing written.
    Sim().InjectFault(Sim::FaultKind::Late, 300, 1);
    QTimer::singleShot(100, [] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<TProgressForm*>(w); progress && progress->isVisible())
          progress->btnCancel->click();
    });
    QVERIFY(MainForm->LoadConfig(Path("unit2.json")).empty());
    QCOMPARE(Gui::Requests(Sim().TakeLog()), QStringList{"3 0/24"});
    QCOMPARE(boxes_.TakeTexts(), QStringList{});

    // A sound the unit holds that is none of the three: saved, said so, and refused when loaded.
    Use(4, 7);
    const QString unknown = Path("unknown.json");
    QVERIFY(Sim().SetHolding(4, 5, 0xC0) && MainForm->SaveConfig(unknown));
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"W Внимание!: Звук каналов 2 устройства [4] не определён, и в файле он "
                         "пуст.\nЧтобы загрузить этот файл в устройство, задайте в нём звук этих "
                         "каналов."});
    QVERIFY(MainForm->LoadConfig(unknown).empty());
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"E Внимание!: В файле не задан звук канала 2: такую конфигурацию записать "
                         "в прибор нельзя.\n" +
                         unknown + "\nНичего не записано."});
    QCOMPARE(Writes(), QStringList{});

    // A unit that wants its password: shown, then refused at "Записать".
    Use(5, 6);
    Load(Path("unit2.json"), [](TConfigDiffForm* form, const QStringList& rows) {
      QVERIFY(!rows.isEmpty());
      form->btnWrite->click();
    });
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"E Отказано в доступе.: Невозможно записать конфигурацию "
                         "в устройство с адресом [5].\nНеобходимо ввести пароль."});
    QCOMPARE(Writes(), QStringList{});
  }
};

QTEST_MAIN(ConfigTest)
#include "ConfigTest.moc"
