#pragma once
// The choice of the serial port: a name typed or picked, then the port is reopened.

#include <QDialog>

#include "ui_PortSelect.h"

class TPortSelectForm : public QDialog, public Ui::TPortSelectForm {
  Q_OBJECT

 public:
  explicit TPortSelectForm(QWidget* parent = nullptr);

  void btnOkClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void ListPorts();
  void FitPortName();
};

extern TPortSelectForm* PortSelectForm;
