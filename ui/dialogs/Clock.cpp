#include "ui/dialogs/Clock.h"

TClockForm* ClockForm = nullptr;

TClockForm::TClockForm(QWidget* parent) : QDialog(parent) {}
void TClockForm::Init(uint8_t) {}
