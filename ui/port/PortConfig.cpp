#include "ui/port/PortConfig.h"

TPortConfigForm* PortConfigForm = nullptr;

TPortConfigForm::TPortConfigForm(QWidget* parent) : QDialog(parent) {}
