#pragma once
// The real-time clock of a unit: read when the dialog opens, edited in two pickers and
// written back after an access check.

#include <QDialog>
#include <cstdint>

#include "ui_Clock.h"

class TClockForm : public QDialog, public Ui::TClockForm {
  Q_OBJECT

 public:
  explicit TClockForm(QWidget* parent = nullptr);

  // Reads the unit's clock into the pickers; reports its own failures; never shows the form.
  void Init(uint8_t address);

  void btnRefreshClick();
  void btnApplyClick();
  void btnOKClick();
  void DTDateChange();
  void DTTimeChange();

 private:
  // Fills both pickers without counting as the user's change.
  void ShowDateTime(double dateTime);
  void ReportSendFailure();

  uint8_t Address = 0;
};

extern TClockForm* ClockForm;
