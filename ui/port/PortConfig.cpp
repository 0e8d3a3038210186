#include "ui/port/PortConfig.h"

#include <QComboBox>
#include <algorithm>
#include <iterator>

#include "link/ModBus.h"
#include "platform/Serial.h"
#include "ui/main/Images.h"
#include "ui/main/Main.h"

TPortConfigForm* PortConfigForm = nullptr;

namespace {

// cbSpeed's items, index for index.
constexpr uint32_t kSpeeds[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};

constexpr uint16_t kDefaultFlags = 0x8091;
constexpr int kDtrShift = 4, kRtsShift = 12;

// Selects index when it is one of the list's; otherwise the list shows what it showed.
void Select(QComboBox* list, int index) {
  if (index >= 0 && index < list->count()) list->setCurrentIndex(index);
}

// A two-bit field of the flags: the list's choice, or the handle's value without one.
uint16_t Field(const QComboBox* list, uint32_t handleFlags, int shift) {
  const int index = list->currentIndex();
  return static_cast<uint16_t>(
      (index >= 0 ? static_cast<uint32_t>(index) : (handleFlags >> shift) & 3) << shift);
}

}  // namespace

TPortConfigForm::TPortConfigForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  Main::MakeFixedDialog(this);
  setWindowIcon(Images::Icon(Images::Tools));
  move(273, 110);
  // Nothing is chosen until the handle has been read.
  for (QComboBox* list : {cbSpeed, cbByte, cbParity, cbStopBits, cbDTR, cbRTS})
    list->setCurrentIndex(-1);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TPortConfigForm::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TPortConfigForm::FormShow() {
  setWindowTitle(QStringLiteral("Настройка порта: ") +
                 QString::fromStdString(ModBus::Port->PortName));
  PageCont->setCurrentIndex(0);
  // A device server takes its line settings from its own configuration, not from here.
  lblServer->setVisible(Serial::IsTcpName(ModBus::Port->PortName.c_str()));
  Serial::Dcb dcb{};
  // A handle that cannot be read leaves the controls as they were.
  if (!Serial::GetState(ModBus::Port->Handle, dcb)) return;

  const auto speed = std::find(std::begin(kSpeeds), std::end(kSpeeds), dcb.BaudRate);
  if (speed != std::end(kSpeeds)) cbSpeed->setCurrentIndex(int(speed - std::begin(kSpeeds)));
  Select(cbByte, dcb.ByteSize - 4);
  Select(cbParity, dcb.Parity);
  Select(cbStopBits, dcb.StopBits);

  const uint32_t flags = Serial::DcbFlags(dcb);
  chbCTS->setChecked(flags & (1u << 2));
  chbDSR->setChecked(flags & (1u << 3));
  const uint32_t dtr = (flags >> kDtrShift) & 3;
  cbDTR->setCurrentIndex(dtr == 3 ? 0 : int(dtr));
  cbRTS->setCurrentIndex(int((flags >> kRtsShift) & 3));
}

void TPortConfigForm::btnOkClick() {
  // Valid values for the fields this dialog does not set, and the handle's own values for
  // a list that has no choice.
  Serial::Dcb dcb = ModBus::Port->Dcb;
  Serial::Dcb current{};
  if (Serial::GetState(ModBus::Port->Handle, current)) dcb = current;

  if (cbSpeed->currentIndex() >= 0) dcb.BaudRate = kSpeeds[cbSpeed->currentIndex()];
  if (cbByte->currentIndex() >= 0) dcb.ByteSize = static_cast<uint8_t>(cbByte->currentIndex() + 4);
  if (cbParity->currentIndex() >= 0) dcb.Parity = static_cast<uint8_t>(cbParity->currentIndex());
  if (cbStopBits->currentIndex() >= 0)
    dcb.StopBits = static_cast<uint8_t>(cbStopBits->currentIndex());

  // From the default word: binary mode, TX continuing on XOFF and bit 15 stay, and parity
  // checking on input stays off whatever parity is chosen.
  const uint32_t handleFlags = Serial::DcbFlags(dcb);
  uint16_t flags = kDefaultFlags & ~((3u << kDtrShift) | (3u << kRtsShift));
  TMainForm::SetBit(flags, 2, chbCTS->isChecked() ? 1 : 0);
  TMainForm::SetBit(flags, 3, chbDSR->isChecked() ? 1 : 0);
  flags |= Field(cbDTR, handleFlags, kDtrShift);
  flags |= Field(cbRTS, handleFlags, kRtsShift);
  Serial::SetDcbFlags(dcb, flags);

  // What the line refuses is not reported: the next showing reads back what the handle has.
  Serial::SetState(ModBus::Port->Handle, dcb);
  accept();
}
