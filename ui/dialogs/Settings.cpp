#include "ui/dialogs/Settings.h"

TSettingsForm* SettingsForm = nullptr;

TSettingsForm::TSettingsForm(QWidget* parent) : QDialog(parent) {}
void TSettingsForm::Init(uint8_t, uint8_t) {}
