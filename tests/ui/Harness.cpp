#include "Harness.h"

#include <unistd.h>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPointer>
#include <QTest>
#include <cstdlib>

namespace Gui {

Boxes::Boxes() {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  timer_.start();
  qApp->installEventFilter(this);
}

Boxes::~Boxes() {
  qApp->removeEventFilter(this);
  timer_.stop();
}

bool Boxes::eventFilter(QObject* watched, QEvent* event) {
  // The forms are reused: a dialog hidden is answered afresh at its next showing.
  if (event->type() == QEvent::Hide && watched->isWidgetType())
    watched->setProperty("answered", false);
  return false;
}

QList<Box> Boxes::Take() {
  QList<Box> seen = seen_;
  seen_.clear();
  return seen;
}

QStringList Boxes::TakeTexts() {
  QStringList texts;
  for (const Box& box : Take()) {
    const char* icon = box.Icon == QMessageBox::Critical      ? "E"
                       : box.Icon == QMessageBox::Warning     ? "W"
                       : box.Icon == QMessageBox::Question    ? "Q"
                       : box.Icon == QMessageBox::Information ? "I"
                                                              : "-";
    texts << QString::fromLatin1(icon) + " " + box.Title + ": " + box.Text;
  }
  return texts;
}

QStringList Requests(const std::vector<Sim::Frame>& log) {
  QStringList requests;
  for (const Sim::Frame& frame : log) {
    const std::vector<uint8_t>& b = frame.Bytes;
    if (!frame.FromMaster || b.size() < 8) continue;
    const int first = b[2] * 256 + b[3], word = b[4] * 256 + b[5];
    QString line = QStringLiteral("%1 %2").arg(b[1]).arg(first);
    if (b[1] == 6) {
      line += QStringLiteral(" = %1").arg(word);
    } else {
      line += QStringLiteral("/%1").arg(word);
      if (b[1] == 16) {
        line += QStringLiteral(" =");
        for (size_t i = 7; i + 3 < b.size(); i += 2)
          line += QStringLiteral(" %1").arg(b[i] * 256 + b[i + 1]);
      }
    }
    requests << line;
  }
  return requests;
}

void Boxes::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible() || modal->property("answered").toBool()) return;
  modal->setProperty("answered", true);
  auto* box = qobject_cast<QMessageBox*>(modal);
  if (!box) {
    // From the event loop, not from inside this poll: the handler may bring up a box of
    // its own, which this timer must then be free to answer.
    QPointer<QWidget> dialog(modal);
    QTimer::singleShot(0, this, [this, dialog] {
      if (dialog && onDialog_) onDialog_(dialog);
    });
    return;
  }
  Box seen;
  seen.Title = box->windowTitle();
  seen.Text = box->text();
  seen.Icon = box->icon();
  for (QAbstractButton* b : box->buttons())
    seen.Buttons.append(box->standardButton(b));
  seen_.append(seen);
  QMessageBox::StandardButton answer = QMessageBox::NoButton;
  if (!answers_.isEmpty()) answer = answers_.takeFirst();
  QAbstractButton* button = answer != QMessageBox::NoButton ? box->button(answer) : nullptr;
  if (!button) button = box->button(QMessageBox::Ok);
  if (!button) button = box->button(QMessageBox::No);
  // Clicked from the event loop, not from inside this poll.
  QTimer::singleShot(0, button, [button] { button->click(); });
}

bool RunDialog(Boxes& boxes, QAction* action, QDialog* dialog, const std::function<void()>& drive) {
  bool shown = false;
  boxes.OnDialog([&](QWidget* modal) {
    if (modal != dialog) return;
    shown = true;
    drive();
    if (dialog->isVisible()) dialog->reject();
  });
  action->trigger();
  boxes.OnDialog(nullptr);
  return shown && !dialog->isVisible();
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > milliseconds) return false;
    QTest::qWait(5);
  }
  return true;
}

void Pump(int milliseconds) {
  QTest::qWait(milliseconds);
}

Line::Line(const Sim::LineSetup& setup, const std::vector<Sim::UnitSetup>& units) {
  char pattern[] = "/tmp/lirguiXXXXXX";
  folder_ = mkdtemp(pattern) ? pattern : "/tmp";
  previous_ = QDir::currentPath().toStdString();
  QDir::setCurrent(QString::fromStdString(folder_));
  sim_ = std::make_unique<Sim::Simulator>(setup, units);
  if (!sim_->Start(folder_ + "/COM2")) qFatal("simulator: %s", sim_->LastError().c_str());
}

Line::~Line() {
  sim_->Stop();
  QDir::setCurrent(QString::fromStdString(previous_));
  QDir(QString::fromStdString(folder_)).removeRecursively();
}

Sim::UnitSetup Unit(uint8_t address, uint8_t model, bool access) {
  Sim::UnitSetup unit;
  unit.Address = address;
  unit.Model = model;
  unit.AccessGranted = access;
  return unit;
}

void Snapshot(QWidget* widget, const QString& name) {
  const char* folder = std::getenv("LIR_SCREENSHOTS");
  if (!folder || !*folder) return;
  QDir().mkpath(QString::fromLocal8Bit(folder));
  widget->grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
}

}  // namespace Gui
