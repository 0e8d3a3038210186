#include "link/Traffic.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <algorithm>

#include "link/ModBus.h"
#include "ui_Traffic.h"

TTrafficForm* TrafficForm = nullptr;

namespace {

constexpr uint16_t kRingSize = 65535;
constexpr int kCellWidth = TTrafficStrip::kCellWidth;
constexpr int kCellHeight = TTrafficStrip::kCellHeight;
constexpr int kRightMargin = 24;

// The monitor whose sink the master holds: the one registered last.
TTrafficForm* gSinkOwner = nullptr;

QString CellText(uint8_t value) {
  return QStringLiteral(" %1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

void TPaintBox::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  if (OnPaint) OnPaint(canvas);
}

TTrafficForm::TTrafficForm(QWidget* parent) : QWidget(parent), ui(new Ui::TTrafficForm) {
  ui->setupUi(this);
  pbBox = ui->pbBox;
  pmMenu = ui->pmMenu;
  miClear = ui->miClear;
  move(28, 463);  // the client size comes from the form; the place is the frame's

  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(13);
  font.setBold(true);
  pbBox->setFont(font);
  pbBox->OnPaint = [this](QPainter& canvas) { pbBoxPaint(canvas); };
  connect(pbBox, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { pmMenu->popup(pbBox->mapToGlobal(at)); });
  connect(miClear, &QAction::triggered, this, [this] { miClearClick(); });
  SetUpFrames();

  SetArraySize(kRingSize);
  LastIndex = -1;
  Wrapped = false;
  ModBus::SetTrafficSink([this](const uint8_t* buffer, uint16_t count, uint8_t direction) {
    AddBytes(buffer, count, direction);
  });
  gSinkOwner = this;
}

TTrafficForm::~TTrafficForm() {
  // A newer monitor's sink is not this one's to stop.
  if (gSinkOwner == this) {
    ModBus::SetTrafficSink(nullptr);
    gSinkOwner = nullptr;
  }
  if (TrafficForm == this) TrafficForm = nullptr;
}

void TTrafficForm::SetArraySize(uint16_t size) {
  Bytes.resize(size);
  Directions.resize(size);
  // The newest byte must stay inside the ring.
  if (LastIndex >= size) LastIndex = static_cast<int32_t>(size) - 1;
  Frames = TFrameLog(size, static_cast<uint64_t>(LastIndex + 1));
  Strip.Clear();
}

void TTrafficForm::AddBytes(const uint8_t* buffer, uint16_t count, uint8_t direction) {
  if (count == 0 || Bytes.empty() || pmiPause->isChecked()) return;
  Frames.Add(Clock.elapsed(), direction, buffer, count);
  const int32_t last = static_cast<int32_t>(ArraySize()) - 1;
  for (uint16_t k = 0; k < count; ++k) {
    if (LastIndex < last) {
      ++LastIndex;
    } else {
      LastIndex = 0;
      Wrapped = true;
    }
    Bytes[LastIndex] = buffer[k];
    Directions[LastIndex] = direction;
  }
  Recorded += count;
  // A hidden box has nothing to draw; showing it paints it.
  if (pbBox->isVisible()) pbBox->repaint();
}

void TTrafficForm::Toggle() {
  if (isVisible()) {
    hide();
  } else {
    show();
    raise();
    activateWindow();
  }
}

void TTrafficForm::ForEachVisibleCell(
    const std::function<void(int32_t slot, int x, int y)>& cell) const {
  if (LastIndex < 0 || Bytes.empty()) return;
  const int32_t size = ArraySize();
  // Once wrapped, the bytes before slot 0 are the ring's last slots.
  const int32_t recorded = Wrapped ? size : LastIndex + 1;
  const int width = pbBox->width();
  int x = width - kRightMargin;
  int y = pbBox->height() - kCellHeight;
  for (int32_t n = 0; n < recorded; ++n) {
    cell((LastIndex - n + size) % size, x, y);
    if (x >= kCellWidth) {
      x -= kCellWidth;
    } else {
      x = width - kRightMargin;
      if (y < kCellHeight) return;
      y -= kCellHeight;
    }
  }
}

void TTrafficForm::pbBoxPaint(QPainter& canvas) {
  canvas.setFont(pbBox->font());
  const int32_t size = ArraySize();
  const int32_t recorded = LastIndex < 0 ? 0 : Wrapped ? size : LastIndex + 1;
  const int x0 = pbBox->width() - kRightMargin, y0 = pbBox->height() - kCellHeight;
  const int columns = x0 >= kCellWidth ? x0 / kCellWidth + 1 : 1;
  const int rows = y0 >= kCellHeight ? y0 / kCellHeight + 1 : 1;
  const int shown = static_cast<int>(std::min<int64_t>(recorded, int64_t{columns} * rows));
  const auto cellAt = [&](uint64_t q) {
    const auto age = static_cast<int32_t>((Recorded - 1 - q) % static_cast<uint64_t>(size));
    const int32_t slot = (LastIndex - age + size) % size;
    return TCellLook{Bytes[slot], Directions[slot] == ModBus::Received};
  };
  if (!Strip.Paint(canvas, *pbBox, Recorded, shown, columns, x0, y0, cellAt)) DrawEveryCell(canvas);
}

void TTrafficForm::DrawEveryCell(QPainter& canvas) const {
  const QPalette& colours = pbBox->palette();
  const QColor face = colours.color(QPalette::Button);
  const QColor text = colours.color(QPalette::WindowText);
  const QFontMetrics metrics(pbBox->font());
  canvas.setFont(pbBox->font());
  ForEachVisibleCell([&](int32_t slot, int x, int y) {
    const bool received = Directions[slot] == ModBus::Received;
    const QString cellText = CellText(Bytes[slot]);
    canvas.fillRect(QRect(x, y, metrics.horizontalAdvance(cellText), metrics.height()),
                    received ? text : face);
    canvas.setPen(received ? face : text);
    canvas.drawText(x, y + metrics.ascent(), cellText);
  });
}

void TTrafficForm::miClearClick() {
  LastIndex = -1;
  Wrapped = false;
  Recorded = 0;
  Strip.Clear();
  Frames.Clear();
  pbBox->repaint();  // the box, at once, as AddBytes draws it
}

QStringList TTrafficForm::CellTexts() const {
  QStringList texts;
  ForEachVisibleCell([&](int32_t slot, int, int) { texts.append(CellText(Bytes[slot])); });
  return texts;
}
