#include "ui/port/PortList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHash>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <utility>

#include "platform/UiQt.h"

namespace {

class DescribedEntry : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = TPortList::ShownText(index);
  }
};

}  // namespace

TPortList::TPortList(QComboBox* combo, QStringList fixed)
    : QObject(combo), combo_(combo), fixed_(std::move(fixed)) {
  combo_->setItemDelegate(new DescribedEntry(combo_));
  connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
}

QString TPortList::ShownText(const QModelIndex& entry) {
  const QString name = entry.data(Qt::DisplayRole).toString();
  const QString description = entry.data(DescriptionRole).toString();
  return description.isEmpty() ? name : name + QStringLiteral(" — ") + description;
}

void TPortList::Start() {
  timer_.start(1000);
}

void TPortList::Stop() {
  timer_.stop();
}

void TPortList::Refresh() {
  QStringList names = fixed_;
  QHash<QString, QString> descriptions;
  for (const Platform::SerialDevice& device : Platform::SerialDevices()) {
    if (!names.contains(device.Name)) names << device.Name;
    descriptions.insert(device.Name, device.Description.trimmed());
  }
  // Entries change in place, so an open popup keeps its place; removing the entry shown would
  // put another's name in the box.
  QLineEdit* edit = combo_->lineEdit();
  const QString typed = edit->text();
  const int cursor = edit->cursorPosition();
  for (int row = combo_->count() - 1; row >= 0; --row)
    if (!names.contains(combo_->itemText(row))) combo_->removeItem(row);
  for (int row = 0; row < names.size(); ++row) {
    if (combo_->itemText(row) != names[row]) combo_->insertItem(row, names[row]);
    const QString description = descriptions.value(names[row]);
    combo_->setItemData(row, description, DescriptionRole);
    combo_->setItemData(row, description.isEmpty() ? QVariant() : description, Qt::ToolTipRole);
  }
  while (combo_->count() > names.size())  // a name the system moved
    combo_->removeItem(combo_->count() - 1);
  if (edit->text() != typed) {
    edit->setText(typed);
    edit->setCursorPosition(cursor);
  }
  combo_->view()->setMinimumWidth(combo_->view()->sizeHintForColumn(0) + 24);
}
