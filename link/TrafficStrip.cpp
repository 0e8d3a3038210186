#include "link/TrafficStrip.h"

#include <QFontMetrics>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <cstring>

namespace {

QString CellString(int value) {
  return QStringLiteral(" %1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// The box of every pixel a text leaves on white, relative to where its cell begins.
QRect Ink(const QImage& image, QPoint origin) {
  int left = image.width(), right = -1, top = image.height(), bottom = -1;
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if (line[x] != 0xFFFFFFFFu) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom)).translated(-origin);
}

}  // namespace

bool TTrafficStrip::Measure(const QFont& font) {
  if (Measured && font == Font) return Fits;
  Font = font;
  Measured = true;
  Valid = false;
  const QFontMetrics metrics(font);
  Advance = metrics.horizontalAdvance(CellString(0));
  Height = metrics.height();
  Ascent = metrics.ascent();
  // Every cell as wide as the others, over its two neighbours in its row only, its text inside
  // its own lines and not past the next cell.
  Fits = Advance >= kCellWidth && Advance < 2 * kCellWidth;
  StaticText = true;
  Spill = 0;
  InkLeft = Advance;
  const QPoint origin(4, 4);
  QImage drawn(Advance + 2 * kCellWidth, Height + 2 * kCellHeight,
               QImage::Format_ARGB32_Premultiplied);
  QImage laidOut(drawn.size(), drawn.format());
  for (int value = 0; value < 256 && Fits; ++value) {
    Strings[value] = CellString(value);
    Texts[value] = QStaticText(Strings[value]);
    Texts[value].setTextFormat(Qt::PlainText);
    Texts[value].prepare(QTransform(), font);
    Fits = metrics.horizontalAdvance(Strings[value]) == Advance;
    drawn.fill(Qt::white);
    laidOut.fill(Qt::white);
    for (QImage* image : {&drawn, &laidOut}) {
      QPainter painter(image);
      painter.setFont(font);
      if (image == &drawn)
        painter.drawText(origin.x(), origin.y() + Ascent, Strings[value]);
      else
        painter.drawStaticText(origin, Texts[value]);
    }
    StaticText = StaticText && drawn == laidOut;
    const QRect ink = Ink(drawn, origin);
    if (ink.isNull()) continue;
    Spill = std::max(Spill, ink.right() + 1 - Advance);
    InkLeft = std::min(InkLeft, ink.left());
    Fits = Fits && ink.left() >= 0 && ink.top() >= 0 && ink.bottom() < Height && Spill < kCellWidth;
  }
  return Fits;
}

void TTrafficStrip::DrawCell(QPainter& canvas, int x, int y, TCellLook cell) const {
  canvas.fillRect(QRect(x, y, Advance, Height), cell.Received ? Text : Face);
  canvas.setPen(cell.Received ? Face : Text);
  if (StaticText)
    canvas.drawStaticText(x, y, Texts[cell.Byte]);
  else
    canvas.drawText(x, y + Ascent, Strings[cell.Byte]);
}

void TTrafficStrip::Rebuild(uint64_t oldest, uint64_t newest, const CellAt& cellAt) {
  if (Image.height() != Height)
    Image = QImage(kCapacity * kCellWidth + 2 * Advance, Height, QImage::Format_RGB32);
  Base = First = oldest;
  QPainter canvas(&Image);
  canvas.setFont(Font);
  // Newest first, each older cell over the one before, as the box draws them.
  for (uint64_t q = newest + 1; q-- > oldest;)
    DrawCell(canvas, X(q), 0, cellAt(q));
  Newest = newest;
  Valid = true;
}

void TTrafficStrip::Compact(uint64_t oldest) {
  // The cells still wanted moved to the strip's start as they are: cheaper than drawing them.
  const int from = X(oldest), width = X(Newest) + Advance + Spill - from;
  for (int y = 0; y < Image.height(); ++y) {
    uchar* line = Image.scanLine(y);
    std::memmove(line, line + from * 4, static_cast<size_t>(width) * 4);
  }
  Base = First = oldest;
}

void TTrafficStrip::Append(uint64_t newest, const CellAt& cellAt) {
  QPainter canvas(&Image);
  canvas.setFont(Font);
  for (uint64_t q = newest; q > Newest; --q)
    DrawCell(canvas, X(q), 0, cellAt(q));
  // The cell that was newest lies over the left edge of the one after it.
  canvas.setClipRect(QRect(X(Newest + 1), 0, Advance + Spill, Height));
  DrawCell(canvas, X(Newest), 0, cellAt(Newest));
  Newest = newest;
}

bool TTrafficStrip::Paint(QPainter& canvas, const QWidget& box, uint64_t recorded, int shown,
                          int columns, int x0, int y0, const CellAt& cellAt) {
  if (shown <= 0) return true;
  const QPalette& colours = box.palette();
  if (box.devicePixelRatioF() != 1.0 || shown > kCapacity / 2 || !Measure(box.font())) return false;
  if (colours.color(QPalette::Button) != Face || colours.color(QPalette::WindowText) != Text) {
    Face = colours.color(QPalette::Button);
    Text = colours.color(QPalette::WindowText);
    Valid = false;
  }
  const uint64_t newest = recorded - 1, oldest = recorded - static_cast<uint64_t>(shown);
  // Kept while some of its cells are still shown and no older one is wanted.
  const bool keep = Valid && oldest >= First && oldest <= Newest && newest >= Newest;
  const auto full = [&] { return X(newest) + Advance + Spill > Image.width(); };
  if (keep && full()) Compact(oldest);
  if (!keep || full())
    Rebuild(oldest, newest, cellAt);
  else if (newest > Newest)
    Append(newest, cellAt);

  // Row by row from the bottom, as the box draws them; in the strip a row's ends lie under
  // neighbours that are in other rows on the screen, so those edges are drawn here.
  const int inset = Advance - kCellWidth + Spill;
  for (int n0 = 0, y = y0; n0 < shown; n0 += columns, y -= kCellHeight) {
    const int n1 = std::min(shown, n0 + columns) - 1;
    const uint64_t right = newest - static_cast<uint64_t>(n0);
    const uint64_t left = newest - static_cast<uint64_t>(n1);
    const int xl = x0 - kCellWidth * (n1 - n0);
    canvas.drawImage(QPoint(xl + inset, y), Image,
                     QRect(X(left) + inset, 0, x0 + Advance - xl - inset, Height));
    const TCellLook oldest = cellAt(left);
    if (InkLeft >= inset) {  // the edge is the cell's fill only
      canvas.fillRect(QRect(xl, y, inset, Height), oldest.Received ? Text : Face);
    } else {
      canvas.setClipRect(QRect(xl, y, inset, Height));
      DrawCell(canvas, xl, y, oldest);
      canvas.setClipping(false);
    }
    if (Spill > 0) {
      canvas.setClipRect(QRect(x0 + Advance, y, Spill, Height));
      DrawCell(canvas, x0, y, cellAt(right));
      canvas.setClipping(false);
    }
  }
  return true;
}
