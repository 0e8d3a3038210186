#include "ui/dialogs/Password.h"

TPasswordForm* PasswordForm = nullptr;

TPasswordForm::TPasswordForm(QWidget* parent) : QDialog(parent) {}
void TPasswordForm::Init(uint8_t) {}
