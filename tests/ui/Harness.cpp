#include "Harness.h"

#include "ui/common/Fit.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPixmap>
#include <QStyleOptionHeader>
#include <QWindow>
#include <cstdlib>

namespace Gui {

Boxes::Boxes() {
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  timer_.start(10);
  qApp->installEventFilter(this);
}

bool Boxes::eventFilter(QObject* watched, QEvent* event) {
  // The forms are reused: a dialog is answered afresh at its next showing.
  if (event->type() == QEvent::Hide && watched->isWidgetType())
    watched->setProperty("answered", false);
  return false;
}

QStringList Boxes::TakeTexts() {
  QStringList texts;
  for (const Box& box : Take())  // the letters in QMessageBox::Icon's order
    texts << QString(QChar("-IWEQ"[box.Icon])) + " " + box.Title + ": " + box.Text;
  return texts;
}

void Boxes::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible() || modal->property("answered").toBool()) return;
  modal->setProperty("answered", true);
  if (auto* files = qobject_cast<QFileDialog*>(modal); files && !files_.isEmpty())
    return QTimer::singleShot(0, files, [files, path = files_.takeFirst()] {
      files->selectFile(path);
      // The name box keeps what it had while it has the focus: the name goes there too.
      if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(path);
      static_cast<QDialog*>(files)->accept();  // the file dialog's own, through the public slot
    });
  auto* box = qobject_cast<QMessageBox*>(modal);
  // A dialog's handler runs from the event loop, free to bring up boxes that are answered too.
  if (!box)
    return QTimer::singleShot(0, modal, [this, modal] {
      if (onDialog_) onDialog_(modal);
    });
  Box seen{box->windowTitle(), box->text(), box->icon(), {}, {}};
  for (QAbstractButton* b : box->buttons())
    seen.Buttons.append(box->standardButton(b));
  const QWindow* over = box->windowHandle() ? box->windowHandle()->transientParent() : nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (over && w->windowHandle() == over) seen.Over = w->objectName();
  if (box->parentWidget()) seen.Over = "child of " + box->parentWidget()->objectName();
  seen_.append(seen);
  QAbstractButton* button = answers_.isEmpty() ? nullptr : box->button(answers_.takeFirst());
  if (!button) button = box->button(QMessageBox::Ok);
  if (!button) button = box->button(QMessageBox::No);
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

QStringList Requests(const std::vector<Sim::Frame>& log) {
  QStringList requests;
  for (const Sim::Frame& frame : log) {
    const std::vector<uint8_t>& b = frame.Bytes;
    if (!frame.FromMaster || b.size() < 8) continue;
    QString line = QStringLiteral("%1 %2").arg(b[1]).arg(b[2] * 256 + b[3]);
    line += (b[1] == 6 ? QStringLiteral(" = %1") : QStringLiteral("/%1")).arg(b[4] * 256 + b[5]);
    for (size_t i = 7; b[1] == 16 && i + 3 < b.size(); i += 2)  // the values written
      line += (i == 7 ? QStringLiteral(" = %1") : QStringLiteral(" %1")).arg(b[i] * 256 + b[i + 1]);
    requests << line;
  }
  return requests;
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds) {
  return QTest::qWaitFor(condition, milliseconds);
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
  Sim::UnitSetup unit{address, model};
  unit.AccessGranted = access;
  return unit;
}

QStringList UnfitTitles(QTableWidget* table) {
  auto* header = qobject_cast<TTitleHeader*>(table->horizontalHeader());
  const QFontMetrics metrics(header ? header->font() : table->font());
  QStringList unfit;
  for (int c = 0; c < table->columnCount(); ++c) {
    const QString title = table->horizontalHeaderItem(c)->text();
    const QString shown = header ? header->ShownTitle(c) : title;
    QStyleOptionHeader section;
    section.rect = QRect(0, 0, table->columnWidth(c), table->horizontalHeader()->height());
    const QRect label = table->style()->subElementRect(QStyle::SE_HeaderLabel, &section, header);
    bool fit = table->horizontalHeaderItem(c)->toolTip() == title &&
               label.contains(metrics.boundingRect(label, Qt::AlignLeft | Qt::AlignTop, shown));
    // The title itself, or its beginning and "…".
    QString begins = shown;
    begins.replace('\n', ' ').remove(QChar(0x2026));
    fit = fit && (begins == title || (shown.endsWith(QChar(0x2026)) && title.startsWith(begins)));
    if (!fit) unfit << title;
  }
  return unfit;
}

void Snapshot(QWidget* widget, const QString& name) {
  const QString folder = qEnvironmentVariable("LIR_SCREENSHOTS");
  if (!folder.isEmpty() && QDir().mkpath(folder)) widget->grab().save(folder + "/" + name + ".png");
}

}  // namespace Gui
