// The line where it really is: a port that goes and comes back under the same name, as the main
// window tells it and finds it again; the port list following the system; a line behind a
// serial device server.

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStatusBar>

#include "Harness.h"
#include "device/LIR.h"
#include "platform/UiQt.h"
#include "sim/DeviceServer.h"
#include "ui/main/PortState.h"
#include "ui/port/PortConfig.h"
#include "ui/port/PortList.h"

using namespace Qt::StringLiterals;

class LineTest : public QObject {
  Q_OBJECT

  Gui::Line line_{Sim::LineSetup{}, {Gui::Unit(1, 6), Gui::Unit(2, 5)}};
  Gui::Boxes boxes_;

  Sim::Simulator& Sim() { return line_.Sim(); }
  static QString State() {
    return MainForm->findChild<QLabel*>(u"lblPortState"_s)->text() + " | " +
           MainForm->StatusBar->currentMessage();
  }
  static QStringList Tree() {
    QStringList nodes;
    for (QTreeWidgetItem* root = MainForm->Net->topLevelItem(0);
         root && nodes.size() < root->childCount();)
      nodes << root->child(nodes.size())->text(0);
    return nodes;
  }
  void Activate(int row) {
    MainForm->Net->setCurrentItem(MainForm->Net->topLevelItem(0)->child(row));
    MainForm->actSelectDevice->trigger();
  }

 private slots:
  void initTestCase() {
    CreateForms();
    QCOMPARE(State(), u"COM2: открыт | "_s);
  }

  // The far end goes during the scan and is back at once: the scan stops at the probe that met
  // the loss, the next action reopens the port; then it goes for longer, and the idle program
  // finds it again. The tree stays throughout.
  void lostMidScanAndFoundAgain() {
    QTimer watch;
    bool gone = false;
    connect(&watch, &QTimer::timeout, this, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<TProgressForm*>(w);
            progress && progress->isVisible() && progress->Label1->text().endsWith(" 4") && !gone) {
          gone = true;
          Sim().Stop();
          QVERIFY(Sim().Start(line_.Folder() + "/COM2"));  // a new terminal under the old name
          Sim().ResetCounters();
        }
    });
    watch.start(5);
    MainForm->actNetScan->trigger();
    watch.stop();
    QCOMPARE(boxes_.TakeTexts(),
             QStringList{"E Внимание!: Порт COM2 потерян.\nСканирование прервано."});
    QCOMPARE(Sim().TotalRequests(), 0u);  // no probe after the loss, none by a reopening
    QCOMPARE(State(), u"COM2: потерян | Порт COM2 потерян: устройство отключено."_s);
    QCOMPARE(Tree(), (QStringList{"[1] ЛИР-8М", "[2] ЛИР-4М"}));
    QVERIFY(MainForm->actNetScan->isEnabled() && MainForm->actPortSelect->isEnabled() &&
            MainForm->actPortConfig->isEnabled());

    Activate(0);
    QCOMPARE(MainForm->Channels->rowCount(), 8);
    QVERIFY(
        Gui::WaitFor([] { return State() == u"COM2: открыт | Порт COM2 снова открыт."_s; }, 1000));

    // A held button is let go at the tick that meets the loss, instead of trying every tick.
    int heldWhileLost = 0;
    auto count = connect(MainForm->Timer, &QTimer::timeout, this,
                         [&] { heldWhileLost += ModBus::Port->Lost() && Main::ControlHeld; });
    QTest::mousePress(MainForm->btnControl, Qt::LeftButton);
    QVERIFY(Gui::WaitFor([this] { return Sim().CommandCount(1, LIR::CodeControl) > 0; }, 1000));
    Sim().Stop();
    QVERIFY(Gui::WaitFor([] { return !Main::ControlHeld; }, 1000));
    QTest::mouseRelease(MainForm->btnControl, Qt::LeftButton);
    disconnect(count);
    QCOMPARE(heldWhileLost, 0);
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(boxes_.TakeTexts(), QStringList{"E Внимание!: Ошибка при обращении к устройству [1]"});
    Gui::Pump(1500);  // tried while idle, and not there
    QCOMPARE(State(), u"COM2: потерян | Порт COM2 потерян: устройство отключено."_s);
    QVERIFY(Sim().Start(line_.Folder() + "/COM2"));
    QVERIFY(
        Gui::WaitFor([] { return State() == u"COM2: открыт | Порт COM2 снова открыт."_s; }, 3000));
    QCOMPARE(boxes_.Count(), 0);
    QCOMPARE(Tree(), (QStringList{"[1] ЛИР-8М", "[2] ЛИР-4М"}));
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(boxes_.Count(), 0);
  }

  // An adapter plugged in and pulled while the dialog is open. The system's devices are links
  // in a folder here: the system does not list pseudo-terminals.
  void portListFollowsTheSystem() {
    const QString dev = QString::fromStdString(line_.Folder()) + "/dev", usb = dev + "/ttyUSB0";
    QVERIFY(QDir().mkpath(dev));
    Platform::SetSerialDeviceSource([dev] {
      QList<Platform::SerialDevice> devices;
      for (const QFileInfo& link : QDir(dev).entryInfoList(QDir::System))
        devices.append({link.filePath(), "Адаптер " + link.fileName()});
      return devices;
    });
    QComboBox* names = PortSelectForm->PortNamer;
    QStringList seen;  // the entries after the fixed ones, then the box's text
    const auto look = [&] {
      QStringList shown;
      for (int row = 5; row < names->count(); ++row)
        shown << TPortList::ShownText(names->model()->index(row, 0));
      seen << shown.join(',') + " | " + names->currentText();
    };
    QVERIFY(Gui::RunDialog(boxes_, MainForm->actPortSelect, PortSelectForm, [&] {
      names->setEditText(u"tcp://"_s);
      QFile::link(QString::fromStdString(Sim().TerminalPath()), usb);
      Gui::WaitFor([&] { return names->count() == 6; }, 3000);
      look();
      names->setCurrentIndex(5);  // chosen: the name alone
      look();
      QFile::remove(usb);
      Gui::WaitFor([&] { return names->count() == 5; }, 3000);
      look();
    }));
    Platform::SetSerialDeviceSource(nullptr);
    QCOMPARE(seen, (QStringList{usb + " — Адаптер ttyUSB0 | tcp://",
                                usb + " — Адаптер ttyUSB0 | " + usb, " | " + usb}));
  }

  // The line behind a serial device server: its name typed in the port choice, a scan, the
  // channel table, the port configuration's note; the connection dropped, and back.
  void throughADeviceServer() {
    Sim::DeviceServer server;
    std::string error;
    QVERIFY2(server.Start(Sim().TerminalPath(), 0, error), error.c_str());
    const QString name = u"tcp://127.0.0.1:"_s + QString::number(server.Port());
    QStringList notes;
    for (const QString& port : {u"COM2"_s, name}) {
      QVERIFY(Gui::RunDialog(boxes_, MainForm->actPortSelect, PortSelectForm, [&] {
        PortSelectForm->PortNamer->setEditText(port);
        PortSelectForm->btnOk->click();
      }));
      QVERIFY(Gui::RunDialog(boxes_, MainForm->actPortConfig, PortConfigForm, [&] {
        const QLabel* note = PortConfigForm->lblServer;
        notes << port + (note->isVisible() ? " server" : " line");
        QVERIFY(note->heightForWidth(note->width()) <= note->height());  // shown whole
      }));
    }
    QCOMPARE(notes, (QStringList{u"COM2 line"_s, name + " server"}));
    QCOMPARE(State(), name + u": открыт | "_s);
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<TProgressForm*>(w);
            progress && progress->isVisible() && progress->Label1->text().endsWith(" 3"))
          progress->btnCancel->click();
    });
    watch.start(5);
    MainForm->actNetScan->trigger();
    watch.stop();
    QCOMPARE(Tree(), (QStringList{"[1] ЛИР-8М", "[2] ЛИР-4М"}));
    Activate(0);
    QCOMPARE(MainForm->Channels->rowCount(), 8);
    QCOMPARE(MainForm->Channels->item(0, 1)->text(), u"10"_s);
    QCOMPARE(boxes_.Count(), 0);

    server.Stop();
    MainForm->actGetChannelsParam->trigger();
    QCOMPARE(boxes_.TakeTexts(), QStringList{"E Внимание!: Ошибка при обращении к устройству [1]"});
    QCOMPARE(State(), name + ": потерян | Порт " + name + " потерян: соединение разорвано.");
    QVERIFY(server.Start(Sim().TerminalPath(), name.section(':', -1).toUShort(), error));
    QVERIFY(Gui::WaitFor(
        [&] { return State() == name + ": открыт | Порт " + name + " снова открыт."; }, 3000));
  }
};

QTEST_MAIN(LineTest)
#include "LineTest.moc"
