#pragma once
// The unit's password: entered to unlock the unit while its access is denied, or set anew
// while access is granted. The unit decides; the dialog holds and compares no password.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>

#include "ui_Password.h"

class QKeyEvent;

class TPasswordForm : public QDialog, public Ui::TPasswordForm {
  Q_OBJECT

 public:
  explicit TPasswordForm(QWidget* parent = nullptr);

  // Chooses the mode from the unit's access state; never shows the form.
  void Init(uint8_t address);

  // True when the key press is discarded.
  bool edPasswordKeyPress(QKeyEvent* key);
  void btnOkClick();

  // What a password field makes of one character: the capital it stands for, or a null
  // character when the unit's password cannot hold it.
  static QChar PasswordChar(QChar c);
  // The field's text as code page 1251 bytes, as the unit's password is written.
  static std::string ToCp1251(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowMode(bool change);  // change mode, else enter mode

  uint8_t Address = 0;
};

extern TPasswordForm* PasswordForm;
