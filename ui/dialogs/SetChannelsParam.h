#pragma once
// Placeholder until the dialog is built.

#include <QDialog>
#include <cstdint>

class TSetChannelsParamForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSetChannelsParamForm(QWidget* parent = nullptr);
  void Init(uint8_t address, uint8_t model, uint8_t channel);
};

extern TSetChannelsParamForm* SetChannelsParamForm;
