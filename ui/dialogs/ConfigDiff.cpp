#include "ui/dialogs/ConfigDiff.h"

#include <QDir>
#include <QHeaderView>

#include "ui/main/Images.h"
#include "ui/main/Main.h"

TConfigDiffForm::TConfigDiffForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  setWindowIcon(Images::Icon(Images::Gears));
  Differences->verticalHeader()->setDefaultSectionSize(Differences->fontMetrics().height() + 4);
  Differences->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(btnWrite, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TConfigDiffForm::Init(uint8_t address, const QString& path, const LIR::UnitConfig& file,
                           const std::vector<LIR::Difference>& differences) {
  const QString unit = QString::fromStdString(Main::Bracketed(address));
  setWindowTitle(QStringLiteral("Загрузка конфигурации в устройство ") + unit);
  // Where the file came from: the engineer may hold several of them.
  QString source =
      QStringLiteral("Файл: ") + QDir::toNativeSeparators(path) +
      QStringLiteral("\nСохранён с устройства ") +
      QString::fromStdString(Main::Bracketed(file.Address) + " " + LIR::ModelName(file.Model));
  if (!file.ReadTime.empty())
    source += QStringLiteral(", ") + QString::fromStdString(file.ReadTime);
  lblFile->setText(source);
  lblCount->setText(QStringLiteral("В устройстве %1 отличаются от файла значений: %2")
                        .arg(unit)
                        .arg(differences.size()));

  Differences->setRowCount(static_cast<int>(differences.size()));
  int row = 0;
  for (const LIR::Difference& difference : differences) {
    const LIR::DifferenceText text = LIR::Describe(difference);
    const std::string cells[] = {text.Field, text.InUnit, text.InFile};
    for (int c = 0; c < 3; ++c)
      Differences->setItem(row, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
    ++row;
  }
  Differences->resizeColumnsToContents();
  for (int c = 0; c < 2; ++c)  // room to read the values apart
    Differences->setColumnWidth(c, Differences->columnWidth(c) + 12);
  Differences->setCurrentCell(-1, -1);
  btnCancel->setFocus();
}
