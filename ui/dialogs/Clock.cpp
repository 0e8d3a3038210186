#include "ui/dialogs/Clock.h"

#include <QSignalBlocker>
#include <string>

#include "device/LIR.h"
#include "platform/Ui.h"
#include "ui/main/Main.h"

TClockForm* ClockForm = nullptr;

namespace {

// 1 January 1900, 00:00:00: shown when the unit's time is unknown.
constexpr double kDefaultDateTime = 2.0;

// The unit keeps the year as an offset from 2000 in one byte.
constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2255;

}  // namespace

TClockForm::TClockForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  Main::MakeFixedDialog(this);
  // No limits of the picker's own: a date the unit cannot hold is refused by Apply with a
  // message, where a clamping picker would silently show (and write) another date.
  DTDate->setDateRange(QDate(100, 1, 1), QDate(9999, 12, 31));
  // The first control of the tab order has the focus when the dialog first opens.
  btnRefresh->setFocus();
  connect(btnRefresh, &QPushButton::clicked, this, [this] { btnRefreshClick(); });
  connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnApply, &QPushButton::clicked, this, [this] { btnApplyClick(); });
  connect(DTDate, &QDateEdit::dateChanged, this, [this] { DTDateChange(); });
  connect(DTTime, &QTimeEdit::timeChanged, this, [this] { DTTimeChange(); });
}

void TClockForm::Init(uint8_t address) {
  setWindowTitle(QString::fromStdString("Текущее время устройства " + Main::Bracketed(address)));
  Address = address;
  btnApply->setEnabled(false);
  double value = kDefaultDateTime;
  const LIR::ClockResult read = LIR::ReadClockChecked(address, value);
  if (read == LIR::ClockResult::NoAnswer)
    Platform::MessageBox("Ошибка при получении времени от устройства " + Main::Bracketed(address) +
                             "\nВыбрано время по умолчанию.",
                         "Внимание!", Platform::MbIconHand);
  if (read == LIR::ClockResult::InvalidDate)
    Platform::MessageBox("Устройство " + Main::Bracketed(address) +
                             " передало неверные дату и время.\nВыбрано время по умолчанию.",
                         "Внимание!", Platform::MbIconHand);
  if (read != LIR::ClockResult::Ok) value = kDefaultDateTime;
  ShowDateTime(value);
}

void TClockForm::ShowDateTime(double dateTime) {
  LIR::DateTimeParts p;
  if (!LIR::DecodeDateTime(dateTime, p)) LIR::DecodeDateTime(kDefaultDateTime, p);
  const QSignalBlocker blockDate(DTDate);
  const QSignalBlocker blockTime(DTTime);
  DTDate->setDate(QDate(p.Year, p.Month, p.Day));
  DTTime->setTime(QTime(p.Hour, p.Minute, p.Second));
}

void TClockForm::DTDateChange() {
  btnApply->setEnabled(true);
}

void TClockForm::DTTimeChange() {
  btnApply->setEnabled(true);
}

void TClockForm::btnRefreshClick() {
  Init(Address);
}

void TClockForm::btnApplyClick() {
  btnApply->setEnabled(false);
  const QDate date = DTDate->date();
  const QTime time = DTTime->time();
  // Any other year would wrap in the unit's year byte and set a wrong date.
  if (date.year() < kFirstYear || date.year() > kLastYear) {
    Platform::MessageBox("Устройство " + Main::Bracketed(Address) +
                             " хранит даты с 2000 по 2255 год.\nДата не записана.",
                         "Внимание!", Platform::MbIconExclamation);
    btnApply->setEnabled(true);
    return;
  }
  switch (LIR::CheckAccess(Address)) {
    case LIR::AccessDenied:
      Platform::MessageBox("Невозможно изменить время устройства с адресом " +
                               Main::Bracketed(Address) + ".\nНеобходимо ввести пароль.",
                           "Отказано в доступе.", Platform::MbIconHand);
      Init(Address);
      return;
    case LIR::AccessGranted:
      break;
    default:
      ReportSendFailure();
      btnApply->setEnabled(true);
      return;
  }
  double value = kDefaultDateTime;
  const bool valid = LIR::EncodeDateTime(
      {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()}, value);
  if (!valid || !LIR::WriteClock(Address, value)) {
    ReportSendFailure();
    ShowDateTime(kDefaultDateTime);
  }
}

void TClockForm::ReportSendFailure() {
  Platform::MessageBox("Ошибка при передаче времени устройству " + Main::Bracketed(Address),
                       "Внимание!", Platform::MbIconHand);
}

void TClockForm::btnOKClick() {
  if (btnApply->isEnabled()) btnApplyClick();
  accept();
}
