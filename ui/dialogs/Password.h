#pragma once
// Placeholder until the dialog is built.

#include <QDialog>
#include <cstdint>

class TPasswordForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPasswordForm(QWidget* parent = nullptr);
  void Init(uint8_t address);
};

extern TPasswordForm* PasswordForm;
