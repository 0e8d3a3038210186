#pragma once
// Placeholder until the dialog is built.

#include <QDialog>
#include <cstdint>

class TPortConfigForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPortConfigForm(QWidget* parent = nullptr);
};

extern TPortConfigForm* PortConfigForm;
