#pragma once
// The traffic monitor's cells drawn once each into a long strip, newest to the right, every cell
// over its newer neighbour as the box draws them. The box copies its rows out of the strip, so a
// new frame costs the cells it adds, not every cell shown.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QStaticText>
#include <array>
#include <cstdint>
#include <functional>

class QWidget;

struct TCellLook {
  uint8_t Byte;
  bool Received;
};

class TTrafficStrip {
 public:
  static constexpr int kCellWidth = 20;
  static constexpr int kCellHeight = 16;

  // The cell of number q, counted from 0 at the last Clear.
  using CellAt = std::function<TCellLook(uint64_t q)>;

  // What was drawn is forgotten: the ring was cleared or changed.
  void Clear() { Valid = false; }

  // Draws the `shown` newest of the `recorded` cells as rows of `columns`, the newest at
  // (x0, y0) and each row kCellHeight above the one before, over the box's filled background.
  // False where it cannot be done exactly (a scaled screen, a font whose cells differ in width
  // or reach beyond their neighbours): the caller draws every cell itself.
  bool Paint(QPainter& canvas, const QWidget& box, uint64_t recorded, int shown, int columns,
             int x0, int y0, const CellAt& cellAt);

 private:
  static constexpr int kCapacity = 1600;  // cells; the strip stays a width the painter takes

  bool Measure(const QFont& font);
  void Rebuild(uint64_t oldest, uint64_t newest, const CellAt& cellAt);
  void Compact(uint64_t oldest);
  void Append(uint64_t newest, const CellAt& cellAt);
  void DrawCell(QPainter& canvas, int x, int y, TCellLook cell) const;
  int X(uint64_t q) const { return kCellWidth * static_cast<int>(q - Base); }

  // The font's cells, measured once per font.
  QFont Font;
  bool Measured = false, Fits = false, StaticText = false;
  int Advance = 0, Height = 0, Ascent = 0;
  int Spill = 0;    // columns of ink right of a cell's fill, over its newer neighbour
  int InkLeft = 0;  // columns of a cell's fill left of any ink
  std::array<QStaticText, 256> Texts;
  std::array<QString, 256> Strings;

  QColor Face, Text;
  QImage Image;
  bool Valid = false;
  uint64_t Base = 0;    // the cell at x = 0
  uint64_t First = 0;   // the oldest cell drawn; the strip is exact from the one after it
  uint64_t Newest = 0;  // the newest cell drawn
};
