#pragma once
// Placeholder until the dialog is built.

#include <QDialog>
#include <cstdint>

class TClockForm : public QDialog {
  Q_OBJECT

 public:
  explicit TClockForm(QWidget* parent = nullptr);
  void Init(uint8_t address);
};

extern TClockForm* ClockForm;
