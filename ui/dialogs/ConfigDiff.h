#pragma once
// What loading a configuration file would change in the unit: each value that differs, as
// the unit holds it and as the file has it. Writing is the caller's, after "Записать".

#include <QDialog>
#include <cstdint>
#include <vector>

#include "device/UnitConfig.h"
#include "ui_ConfigDiff.h"

class TConfigDiffForm : public QDialog, public Ui::TConfigDiffForm {
  Q_OBJECT

 public:
  explicit TConfigDiffForm(QWidget* parent = nullptr);

  // Fills the dialog for the unit at that address; never shows it.
  void Init(uint8_t address, const QString& path, const LIR::UnitConfig& file,
            const std::vector<LIR::Difference>& differences);
};
