#pragma once
// The choice of the serial port: a name typed or picked, then the port is reopened.

#include <QDialog>

#include "ui_PortSelect.h"

class TPortList;

class TPortSelectForm : public QDialog, public Ui::TPortSelectForm {
  Q_OBJECT

 public:
  explicit TPortSelectForm(QWidget* parent = nullptr);

  void btnOkClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FitPortName();
  TPortList* PortList;  // the names offered, following the system's serial devices
};

extern TPortSelectForm* PortSelectForm;
