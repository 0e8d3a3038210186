#pragma once
// The editor of one channel's parameters: read from the unit, changed by the user, written
// back after an access check.

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "device/LIR.h"
#include "ui_SetChannelsParam.h"

class TSetChannelsParamForm : public QDialog, public Ui::TSetChannelsParamForm {
  Q_OBJECT

 public:
  // No Qt parent: the dialog belongs to the application, not to the main window.
  explicit TSetChannelsParamForm(QWidget* parent = nullptr);

  // Fills the dialog from the unit (reporting a failed read itself); never shows it.
  void Init(uint8_t address, uint8_t model, uint8_t channel);

  void btnRefreshClick();
  void cbChannelNumberChange();
  void EnablebtnModify();
  void btnApplyClick();
  void btnOkClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  uint8_t Channel() const;
  std::string ChannelNumber() const;
  void SetCaption();
  void ShowParam(const LIR::ChannelParam& p);
  LIR::ChannelParam TakeParam() const;
  void Blank();
  void TransmissionFailure();
  void FitTime(QSpinBox* spin);
  QComboBox* FirstBlankList() const;
  // While they live, the program's own filling of the controls raises no change events.
  std::vector<QSignalBlocker> Silence();

  uint8_t Address = 0;
  uint8_t Model = 0;
};

extern TSetChannelsParamForm* SetChannelsParamForm;
