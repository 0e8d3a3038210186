#include "ui/dialogs/SetChannelsParam.h"

TSetChannelsParamForm* SetChannelsParamForm = nullptr;

TSetChannelsParamForm::TSetChannelsParamForm(QWidget* parent) : QDialog(parent) {}
void TSetChannelsParamForm::Init(uint8_t, uint8_t, uint8_t) {}
