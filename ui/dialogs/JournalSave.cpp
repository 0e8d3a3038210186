// The journal as it is shown, saved as a CSV file for spreadsheets in Russian locales: the
// unit and the time of reading first, then the rows with each record's own number in the unit.

#include <string>
#include <vector>

#include "device/JournalFile.h"
#include "device/UnitConfig.h"
#include "ui/common/Files.h"
#include "ui/dialogs/Journal.h"
#include "ui/main/Main.h"

void TJournalForm::btnSaveClick() {
  const QString suggested = QStringLiteral("журнал-%1-%2.csv")
                                .arg(Address)
                                .arg(ReadTime.toString(QStringLiteral("yyyyMMdd-HHmmss")));
  const QString path = Files::AskSaveName(this, QStringLiteral("Сохранить журнал"), suggested,
                                          QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"));
  if (!path.isEmpty()) SaveCsv(path);
}

bool TJournalForm::SaveCsv(const QString& path) {
  // The journal is read from the unit in use, whose model the main window holds.
  const std::string unit =
      Main::Bracketed(Address) + " " + LIR::ModelName(static_cast<uint8_t>(Main::SelectedModel));
  std::vector<std::vector<std::string>> rows = {
      {"Журнал устройства", unit},
      {"Время чтения", ReadTime.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toStdString()},
      {}};
  std::vector<std::string> titles;
  for (int c = 0; c < Journal->columnCount(); ++c)
    titles.push_back(Journal->horizontalHeaderItem(c)->text().toStdString());
  titles.push_back("Номер записи в устройстве");
  rows.push_back(titles);
  for (int row = 0; row < Journal->rowCount(); ++row) {
    std::vector<std::string> fields;
    for (int c = 0; c < Journal->columnCount(); ++c)
      fields.push_back(Journal->item(row, c)->text().toStdString());
    fields.push_back(Journal->item(row, 0)->data(Qt::UserRole).toString().toStdString());
    rows.push_back(fields);
  }
  return Files::Write(path, LIR::CsvText(rows));
}
