#include "ui/dialogs/Journal.h"

TJournalForm* JournalForm = nullptr;

TJournalForm::TJournalForm(QWidget* parent) : QDialog(parent) {}
void TJournalForm::Init(uint8_t) {}
