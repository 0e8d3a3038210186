#pragma once
// The line settings of the open port's handle: shown as the handle has them, applied to
// the handle on OK. The port's own defaults are never changed, so the next opening of the
// port brings them back.

#include <QDialog>
#include <cstdint>

#include "ui_PortConfig.h"

class TPortConfigForm : public QDialog, public Ui::TPortConfigForm {
  Q_OBJECT

 public:
  explicit TPortConfigForm(QWidget* parent = nullptr);

  void FormShow();
  void btnOkClick();

 protected:
  void showEvent(QShowEvent* event) override;
};

extern TPortConfigForm* PortConfigForm;
