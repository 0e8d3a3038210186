#pragma once
// Texts that fit the places the forms give them. The places were measured for a narrower
// font than the default of many systems; a text is condensed, wrapped or shortened with
// "…" (its whole text then a tip) rather than cut off.

#include <QHeaderView>

class QPushButton;
class QTableWidget;

namespace Fit {

// Condenses the widget's font until its text leaves `gap` pixels of its width free.
void FitText(QWidget* widget, int gap);
// Condenses a button's font until its text fits within its frame, with `gap` pixels to
// spare: a button's own size hint asks for more room than a narrow place gives.
void FitButtonText(QPushButton* button, int gap);

}  // namespace Fit

// A table's column titles, each within its column: wrapped at spaces into the header's
// lines, condensed if that makes every title whole, else a line ends in "…". A section's
// tip is its whole title.
class TTitleHeader : public QHeaderView {
  Q_OBJECT

 public:
  // Takes the place of the table's horizontal header, with its settings and widths.
  static TTitleHeader* Install(QTableWidget* table, int lines);

  // A section's title as the header shows it, lines joined by "\n".
  QString ShownTitle(int logicalIndex) const;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
  QSize sectionSizeFromContents(int logicalIndex) const override;

 private:
  TTitleHeader(int lines, QWidget* parent);
  int LabelWidth(int logicalIndex) const;
  // The lines of a title in the header's font; false when a line had to be shortened.
  bool Wrap(int logicalIndex, QStringList& lines) const;

  int Lines;
};
