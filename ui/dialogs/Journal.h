#pragma once
// Placeholder until the dialog is built.

#include <QDialog>
#include <cstdint>

class TJournalForm : public QDialog {
  Q_OBJECT

 public:
  explicit TJournalForm(QWidget* parent = nullptr);
  void Init(uint8_t address);
};

extern TJournalForm* JournalForm;
