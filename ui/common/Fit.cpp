#include "ui/common/Fit.h"

#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>
#include <QTableWidget>

namespace Fit {

void FitText(QWidget* widget, int gap) {
  QFont font = widget->font();
  for (int stretch = 99; stretch >= 70 && widget->sizeHint().width() + gap > widget->width();
       --stretch) {
    font.setStretch(stretch);
    widget->setFont(font);
  }
}

void FitButtonText(QPushButton* button, int gap) {
  QStyleOptionButton option;
  option.initFrom(button);
  const int room =
      button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width() - gap;
  QFont font = button->font();
  for (int stretch = 99;
       stretch >= 70 && QFontMetrics(button->font()).horizontalAdvance(button->text()) > room;
       --stretch) {
    font.setStretch(stretch);
    button->setFont(font);
  }
}

}  // namespace Fit

TTitleHeader::TTitleHeader(int lines, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), Lines(lines) {}

TTitleHeader* TTitleHeader::Install(QTableWidget* table, int lines) {
  QHeaderView* old = table->horizontalHeader();
  auto* header = new TTitleHeader(lines, table);
  header->setSectionsMovable(old->sectionsMovable());
  header->setHighlightSections(old->highlightSections());
  header->setDefaultAlignment(old->defaultAlignment());
  header->setMinimumSectionSize(old->minimumSectionSize());
  QList<int> widths;
  for (int c = 0; c < table->columnCount(); ++c) {
    widths << table->columnWidth(c);
    if (QTableWidgetItem* title = table->horizontalHeaderItem(c)) title->setToolTip(title->text());
  }
  table->setHorizontalHeader(header);
  for (int c = 0; c < widths.size(); ++c)
    table->setColumnWidth(c, widths[c]);

  // Condensed only as far as it makes every title whole: a tighter font that still cuts
  // some of them is no gain.
  QFont font = header->font();
  for (int stretch = 100; stretch >= 75; --stretch) {
    font.setStretch(stretch);
    header->setFont(font);
    bool whole = true;
    QStringList shown;
    for (int c = 0; c < table->columnCount() && whole; ++c)
      whole = header->Wrap(c, shown);
    if (whole) return header;
  }
  font.setStretch(100);
  header->setFont(font);
  return header;
}

int TTitleHeader::LabelWidth(int logicalIndex) const {
  QStyleOptionHeader option;
  initStyleOption(&option);
  option.rect = QRect(0, 0, sectionSize(logicalIndex), height());
  // A pixel to spare: a glyph's ink may reach past its advance.
  return style()->subElementRect(QStyle::SE_HeaderLabel, &option, this).width() - 1;
}

bool TTitleHeader::Wrap(int logicalIndex, QStringList& lines) const {
  const QString title = model()->headerData(logicalIndex, Qt::Horizontal).toString();
  const int width = LabelWidth(logicalIndex);
  const QFontMetrics metrics(font());
  lines.clear();
  QString line;
  for (const QString& word : title.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
    // The last line takes what is left.
    if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width && lines.size() < Lines - 1) {
      lines << line;
      line = word;
    } else {
      line = longer;
    }
  }
  lines << line;
  bool whole = true;
  for (QString& shown : lines) {
    whole = whole && metrics.horizontalAdvance(shown) <= width;
    shown = metrics.elidedText(shown, Qt::ElideRight, width);
  }
  return whole;
}

QString TTitleHeader::ShownTitle(int logicalIndex) const {
  QStringList lines;
  Wrap(logicalIndex, lines);
  return lines.join(QLatin1Char('\n'));
}

void TTitleHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  QStyleOptionHeaderV2 option;
  initStyleOption(&option);
  initStyleOptionForIndex(&option, logicalIndex);
  option.rect = rect;
  option.text = ShownTitle(logicalIndex);
  option.textElideMode = Qt::ElideNone;  // shortened above, line by line
  style()->drawControl(QStyle::CE_Header, &option, painter, this);
}

QSize TTitleHeader::sectionSizeFromContents(int logicalIndex) const {
  QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
  size.setHeight(size.height() + (Lines - 1) * fontMetrics().lineSpacing());
  return size;
}
