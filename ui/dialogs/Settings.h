#pragma once
// Placeholder until the dialog is built.

#include <QDialog>
#include <cstdint>

class TSettingsForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSettingsForm(QWidget* parent = nullptr);
  void Init(uint8_t address, uint8_t model);
};

extern TSettingsForm* SettingsForm;
