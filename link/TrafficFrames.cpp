// The traffic monitor's frames explained: the decoding of the frame under a cell as the box's
// tip, recording paused, the frames shown copied, every frame kept saved to a file.

#include <QClipboard>
#include <QDateTime>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QToolTip>
#include <set>

#include "link/Traffic.h"
#include "ui/common/Files.h"
#include "ui_Traffic.h"

namespace {

constexpr int kCellWidth = 20;
constexpr int kCellHeight = 16;

QString Lines(const std::vector<std::string>& lines, const QString& separator) {
  QStringList texts;
  for (const std::string& line : lines)
    texts << QString::fromStdString(line);
  return texts.join(separator);
}

}  // namespace

void TTrafficForm::SetUpFrames() {
  pmiPause = ui->pmiPause;
  pmiCopy = ui->pmiCopy;
  pmiSave = ui->pmiSave;
  Clock.start();
  // Watched while the user works in the main window: its tips show though it is not active.
  setAttribute(Qt::WA_AlwaysShowToolTips);
  pbBox->installEventFilter(this);
  connect(pmiCopy, &QAction::triggered, this, [this] { pmiCopyClick(); });
  connect(pmiSave, &QAction::triggered, this, [this] { pmiSaveClick(); });
}

QString TTrafficForm::FrameTip(const QPoint& at, QRect* cell) const {
  // A cell shows where the older cell to its left leaves it: the right end of its text.
  const int textWidth = QFontMetrics(pbBox->font()).horizontalAdvance(QStringLiteral(" 00"));
  long frame = -1;
  ForEachVisibleCell([&](int32_t slot, int x, int y) {
    const QRect shown(x + textWidth - kCellWidth, y, kCellWidth, kCellHeight);
    if (frame < 0 && shown.contains(at)) {
      frame = Frames.FrameAt(static_cast<uint32_t>(slot));
      if (cell) *cell = shown;
    }
  });
  return frame < 0 ? QString() : Lines(Frames.Describe(static_cast<size_t>(frame)), "\n");
}

QStringList TTrafficForm::ShownFrames() const {
  std::set<long> shown;
  ForEachVisibleCell(
      [&](int32_t slot, int, int) { shown.insert(Frames.FrameAt(static_cast<uint32_t>(slot))); });
  shown.erase(-1);
  QStringList lines;
  for (long frame : shown)
    lines << QString::fromStdString(Frames.Line(static_cast<size_t>(frame)));
  return lines;
}

void TTrafficForm::pmiCopyClick() {
  const QStringList lines = ShownFrames();
  if (!lines.isEmpty()) QGuiApplication::clipboard()->setText(lines.join('\n') + '\n');
}

void TTrafficForm::pmiSaveClick() {
  const QString suggested =
      QStringLiteral("трафик-%1.txt").arg(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss"));
  const QString path = Files::AskSaveName(this, QStringLiteral("Сохранить трафик"), suggested,
                                          QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"));
  if (!path.isEmpty()) SaveFrames(path);
}

bool TTrafficForm::SaveFrames(const QString& path) {
  std::string text;
  for (size_t i = 0; i < Frames.Size(); ++i)
    text += Frames.Line(i) + "\r\n";
  return Files::Write(path, text);
}

bool TTrafficForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched != pbBox || event->type() != QEvent::ToolTip)
    return QWidget::eventFilter(watched, event);
  auto* help = static_cast<QHelpEvent*>(event);
  QRect cell;
  const QString tip = FrameTip(help->pos(), &cell);
  if (tip.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    // Shown while the pointer stays on the cell; the next cell asks again.
    QToolTip::showText(help->globalPos(), tip, pbBox, cell);
  }
  return true;
}
