#pragma once
// The device's event journal, newest record first, read under the progress dialog; and
// the clearing of the journal in the device.

#include <QDateTime>
#include <QDialog>
#include <cstdint>

#include "device/LIR.h"
#include "ui_Journal.h"

class TJournalForm : public QDialog, public Ui::TJournalForm {
  Q_OBJECT

 public:
  explicit TJournalForm(QWidget* parent = nullptr);

  // Reads the whole journal of the unit into the list; never shows the dialog.
  void Init(uint8_t address);

  void btnRefreshClick();
  void btnClearClick();

  // The rows shown as a CSV file for spreadsheets (JournalSave.cpp), with the unit, the time
  // of reading and each record's own number in the unit; false after a box when not written.
  void btnSaveClick();
  bool SaveCsv(const QString& path);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ReadRecords(uint16_t latest, uint16_t count);
  void AddRow(int number, uint16_t k, const LIR::JournalRecord& record);
  void AccessError();

  uint8_t Address = 255;  // the unit given to the last Init
  QDateTime ReadTime;     // when the last Init read the journal
};

extern TJournalForm* JournalForm;
