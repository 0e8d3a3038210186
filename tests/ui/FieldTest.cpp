// What the engineer on site gets beyond the operations on a unit, in the real forms on a
// simulated line: the traffic decoded, the journal and the configuration as files, the live
// lamps and the fault named.

#include <QClipboard>
#include <QFile>
#include <QHelpEvent>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QToolTip>

#include "Harness.h"
#include "device/UnitConfig.h"
#include "ui/dialogs/Clock.h"
#include "ui/dialogs/Journal.h"
#include "ui/main/Images.h"

using namespace Qt::StringLiterals;

class FieldTest : public QObject {
  Q_OBJECT

  Gui::Line line_{Sim::LineSetup{},
                  {Gui::Unit(2, 6), Gui::Unit(3, 6), Gui::Unit(4, 7), Gui::Unit(6, 6, false)}};
  Gui::Boxes boxes_;

  Sim::Simulator& Sim() { return line_.Sim(); }
  QString Path(const QString& name) { return QString::fromStdString(line_.Folder()) + "/" + name; }
  static QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  static void Use(uint8_t address, uint8_t model) {
    Main::SelectedAddress = address;
    Main::SelectedModel = model;
  }
  // The boxes, then the status bar.
  QStringList Seen() { return boxes_.TakeTexts() << MainForm->StatusBar->currentMessage(); }
  QStringList Writes() {
    return Gui::Requests(Sim().TakeLog()).filter(QRegularExpression("^(6|16) "));
  }

  // The traffic box's tip at the cell k places left of the newest one.
  static QString Tip(int k) {
    QWidget* box = TrafficForm->pbBox;
    const QPoint at(box->width() - 24 - 20 * k + 12, box->height() - 8);
    QHelpEvent help(QEvent::ToolTip, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  }

  static bool LampLit(int row) {
    const QImage lamp = MainForm->Channels->item(row, 0)->icon().pixmap(16).toImage();
    return lamp == Images::Pixmap(Images::LampsRedLit).toImage();
  }

 private slots:
  void initTestCase() { CreateForms(); }

  void namesAndHints() {
    QStringList missing;
    for (QAction* a : {TrafficForm->pmiPause, TrafficForm->pmiCopy, TrafficForm->pmiSave})
      if (a->toolTip().isEmpty() || a->statusTip().isEmpty()) missing << a->objectName();
    QCOMPARE(missing, QStringList{});
    QCOMPARE(TrafficForm->pmMenu->actions().value(0), TrafficForm->miClear);
    QVERIFY(TrafficForm->pmiPause->isCheckable());
    // The file dialogs the additions open are in Russian like the rest.
    QCOMPARE(QCoreApplication::translate("QFileDialog", "&Save"), u"&Сохранить"_s);
  }

  void trafficDecodedPausedCopiedSaved() {
    TTrafficForm* t = TrafficForm;
    t->show();
    QVERIFY(QTest::qWaitForWindowExposed(t));
    uint16_t state = 0;
    QVERIFY(Sim().SetChannelInput(2, 2, true) && LIR::ReadChannelsState(2, state));
    const QStringList answer = Tip(0).split('\n'), request = Tip(7).split('\n');
    QVERIFY2(answer[0].startsWith(u"Ответ, "_s) && answer[0].endsWith(u" мс после запроса"_s),
             qPrintable(answer[0]));
    QCOMPARE(answer.mid(1),
             (QStringList{"Адрес: 2", "Функция: 4 (чтение входных регистров)", "Байтов данных: 2",
                          QString::asprintf("4 = %u (0x%04X)", state, state),
                          "Контрольная сумма: верна"}));
    QVERIFY(request[0].startsWith(u"Запрос, "_s) && request.value(5).startsWith(u"Ответ через "_s));
    QCOMPARE(request.mid(1, 4), (QStringList{"Адрес: 2", "Функция: 4 (чтение входных регистров)",
                                             "Регистр 4", "Контрольная сумма: верна"}));
    // Answers that are not the answer, as the line gave them.
    Sim().InjectFault(Sim::FaultKind::OtherAddress, 9, 1);
    QVERIFY(!LIR::ReadChannelsState(2, state));
    QCOMPARE(Tip(0).split('\n').value(1), u"Адрес: 9 — ответ другого устройства: запрос был к 2"_s);
    Sim().InjectFault(Sim::FaultKind::Corrupt, 0, 1);
    QVERIFY(!LIR::ReadChannelsState(2, state));
    QVERIFY(Tip(0).split('\n').last().startsWith(u"Контрольная сумма: неверна"_s));
    QToolTip::hideText();
    QVERIFY(Gui::WaitFor([] { return !QToolTip::isVisible(); }, 2000));
    QCOMPARE(Tip(60), QString());  // a cell with no byte
    // Paused: nothing recorded until pressed again.
    const int32_t last = t->LastIndex;
    t->pmiPause->trigger();
    QVERIFY(LIR::ReadChannelsState(2, state) && t->LastIndex == last);
    t->pmiPause->trigger();
    QVERIFY(LIR::ReadChannelsState(2, state));
    // All eight frames are shown: copied, and saved alike.
    t->pmiCopy->trigger();
    const QStringList copied = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(copied.size(), 8);
    QVERIFY(copied[0].startsWith(u"Запрос, "_s) && copied[0].contains(u"\t02 04 00 04 00 01 "_s) &&
            copied[0].contains(u"\tАдрес: 2; Функция: 4"_s));
    QVERIFY(copied[3].contains(u"Адрес: 9 — ответ другого устройства"_s));
    QVERIFY(t->SaveFrames(Path("traffic.txt")));
    QCOMPARE(QString::fromUtf8(Read(Path("traffic.txt"))).split("\r\n", Qt::SkipEmptyParts),
             copied);
    t->hide();
  }

  void journalSavedAsCsv() {
    QVERIFY(Sim().SetJournal(2, 3, 2));  // records 2, 1, 1000, newest first
    Use(2, 6);
    const QString path = Path("journal.csv");
    QStringList shown;
    QVERIFY(Gui::RunDialog(boxes_, MainForm->actJournal, JournalForm, [&] {
      QTableWidget* list = JournalForm->Journal;
      for (int row = 0; row < list->rowCount(); ++row) {
        QStringList texts;
        for (int c = 0; c < list->columnCount(); ++c)
          texts << list->item(row, c)->text();
        shown << texts.join(';');
      }
      QPushButton* save = JournalForm->btnSave;  // left of the others, its text whole
      QStyleOptionButton frame;
      frame.initFrom(save);
      QVERIFY(
          save->geometry().right() < JournalForm->btnRefresh->x() &&
          save->fontMetrics().horizontalAdvance(save->text()) <=
              save->style()->subElementRect(QStyle::SE_PushButtonContents, &frame, save).width());
      boxes_.AnswerFile(path);
      save->click();
    }));
    const QByteArray file = Read(path);
    QVERIFY(file.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(file.mid(3)).split("\r\n");
    QCOMPARE(lines.value(0), u"Журнал устройства;[2] ЛИР-8М"_s);
    QVERIFY2(QRegularExpression(u"^Время чтения;\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d$"_s)
                 .match(lines.value(1))
                 .hasMatch(),
             qPrintable(lines.value(1)));
    QCOMPARE(
        lines.mid(2),
        QStringList({"", "Номер записи;Дата;Время;Канал;Тип срабатывания;Номер записи в устройстве",
                     shown.value(0) + ";2", shown.value(1) + ";1", shown.value(2) + ";1000", ""}));
  }

  void lampsPolledAndFaultsNamed() {
    QCOMPARE(MainForm->actPollState->isChecked(), false);  // off at start
    QVERIFY(MainForm->miDeviceStatus->actions().contains(MainForm->actPollState) &&
            MainForm->actPollState->isCheckable());
    Use(3, 6);
    MainForm->show();
    MainForm->EnableLIRControls();
    MainForm->actGetChannelsParam->trigger();
    const QString kind = MainForm->Channels->item(1, 1)->text();
    QVERIFY(!LampLit(1));
    Sim().TakeLog();
    MainForm->actPollState->setChecked(true);
    QVERIFY(Sim().SetChannelInput(3, 1, true));
    QVERIFY(Gui::WaitFor([] { return LampLit(1); }, 2500));
    // Only the state is read, and only the lamps change.
    const QStringList polled = Gui::Requests(Sim().TakeLog());
    QVERIFY2(!polled.isEmpty() && polled.filter(QRegularExpression("^4 ")) == polled,
             qPrintable(polled.join(", ")));
    QCOMPARE(MainForm->Channels->item(1, 1)->text(), kind);

    // A dialog open holds the polling: nothing goes out for the lamps behind it.
    QVERIFY(Gui::RunDialog(boxes_, MainForm->actClock, ClockForm, [&] {
      Sim().TakeLog();
      Gui::Pump(2200);
      QCOMPARE(Gui::Requests(Sim().TakeLog()), QStringList{});
    }));

    // A failed read stops the polling and says why; the lamps stay as they were.
    Sim().InjectFault(Sim::FaultKind::Silent, 0, 1);
    QVERIFY(Gui::WaitFor([] { return !MainForm->actPollState->isChecked(); }, 3000));
    QCOMPARE(MainForm->StatusBar->currentMessage(),
             u"Опрос состояния остановлен: устройство [3], нет ответа."_s);
    QVERIFY(LampLit(1));
    Gui::Pump(1200);
    QCOMPARE(Gui::Requests(Sim().TakeLog()).size(), 1);  // the failed one, then none

    // Any failed transaction names its fault beside the window's own message.
    Sim().InjectFault(Sim::FaultKind::OtherAddress, 9, 1);
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(Seen(), (QStringList{u"E Внимание!: Ошибка при обращении к устройству [3]"_s,
                                  u"Устройство [3], функция 4: ответ с другого адреса."_s}));
    Sim().InjectFault(Sim::FaultKind::Exception, 0, 1);
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(Seen().value(1), u"Устройство [3], функция 4: исключение 4 (отказ устройства)."_s);
  }
};

QTEST_MAIN(FieldTest)
#include "FieldTest.moc"
