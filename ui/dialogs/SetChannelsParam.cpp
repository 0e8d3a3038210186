#include "ui/dialogs/SetChannelsParam.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <algorithm>

#include "platform/Ui.h"
#include "ui/main/Main.h"

TSetChannelsParamForm* SetChannelsParamForm = nullptr;

namespace {

constexpr int kMaxTime = 900;

// Both sound bits set is no sound the unit knows: the read leaves the field alone, and
// this value has no item, so the list stays blank instead of showing a guess.
constexpr uint8_t kNoSound = 0xFF;

void Error(const std::string& text, const char* caption) {
  Platform::MessageBox(text, caption, Platform::MbOk | Platform::MbIconHand);
}

// "1".."count", after `first` when it is given.
QStringList Numbers(int count, const QString& first = QString()) {
  QStringList items;
  if (!first.isEmpty()) items << first;
  for (int i = 1; i <= count; ++i)
    items << QString::number(i);
  return items;
}

void SetItems(QComboBox* box, const QStringList& items) {
  QStringList now;
  for (int i = 0; i < box->count(); ++i)
    now << box->itemText(i);
  if (now == items) return;  // the user's channel change must not rebuild its own list
  box->clear();
  box->addItems(items);
}

void SetIndex(QComboBox* box, int index) {
  box->setCurrentIndex(index < box->count() ? index : -1);
}

}  // namespace

TSetChannelsParamForm::TSetChannelsParamForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  Main::MakeFixedDialog(this);

  for (QSpinBox* spin : {spinVrSrabat, spinVrZaderj}) {
    // Three digits at most; a value above the range is let through to be brought down
    // to it, rather than the keystroke being lost.
    if (auto* edit = spin->findChild<QLineEdit*>()) {
      edit->setMaxLength(3);
      edit->setValidator(
          new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,3}")), edit));
      connect(edit, &QLineEdit::textEdited, this, [this] { EnablebtnModify(); });
    }
    spin->installEventFilter(this);
    connect(spin, &QSpinBox::valueChanged, this, [this] { EnablebtnModify(); });
  }
  for (QComboBox* box :
       {cbTypeInput, cbTypeChannel, cbReleMode, cbToRele, cbSrabat, cbNorm, cbZvuk, cbReleNumber})
    connect(box, &QComboBox::currentIndexChanged, this, [this] { EnablebtnModify(); });
  connect(cbChannelNumber, &QComboBox::currentIndexChanged, this,
          [this] { cbChannelNumberChange(); });

  connect(btnRefresh, &QPushButton::clicked, this, [this] { btnRefreshClick(); });
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnApply, &QPushButton::clicked, this, [this] { btnApplyClick(); });
}

std::vector<QSignalBlocker> TSetChannelsParamForm::Silence() {
  std::vector<QSignalBlocker> blockers;
  for (QObject* control : std::initializer_list<QObject*>{
           cbChannelNumber, spinVrSrabat, spinVrZaderj, cbTypeInput, cbTypeChannel, cbReleMode,
           cbToRele, cbSrabat, cbNorm, cbZvuk, cbReleNumber})
    blockers.emplace_back(control);
  return blockers;
}

void TSetChannelsParamForm::Init(uint8_t address, uint8_t model, uint8_t channel) {
  const auto quiet = Silence();
  setWindowTitle(QStringLiteral("Параметры каналов устройства [") + QString::number(address) +
                 QStringLiteral("]"));
  int count = 0;
  if (model == LIR::Model4M) count = 4;
  if (model == LIR::Model8M) count = 8;
  if (model == LIR::Model12M) count = 12;
  if (count > 0) {
    SetItems(cbChannelNumber, Numbers(count));
    SetItems(cbReleNumber, Numbers(count, QStringLiteral("Нет")));
  }
  Address = address;
  Model = model;

  // The row remembered by the main window can lie beyond a smaller unit's channels: such a
  // request opens on channel 1, so that what is shown, read and written is one channel.
  cbChannelNumber->setCurrentIndex(channel < cbChannelNumber->count() ? channel : 0);

  LIR::ChannelParams params{};
  params[0].Zvuk = kNoSound;
  if (LIR::ReadChannelsParam(Address, Channel(), 1, params)) {
    SetCaption();
    ShowParam(params[0]);
  } else {
    Error("Ошибка при получении параметров канала " + ChannelNumber() + " от устройства " +
              Main::Bracketed(Address),
          "Внимание!");
    SetCaption();
    Blank();
  }
  btnApply->setEnabled(false);
}

uint8_t TSetChannelsParamForm::Channel() const {
  return static_cast<uint8_t>(std::max(cbChannelNumber->currentIndex(), 0));
}

std::string TSetChannelsParamForm::ChannelNumber() const {
  return std::to_string(Channel() + 1);
}

void TSetChannelsParamForm::SetCaption() {
  GB2->setTitle(QStringLiteral(" Параметры канала ") + QString::number(Channel() + 1) +
                QStringLiteral(" "));
}

void TSetChannelsParamForm::ShowParam(const LIR::ChannelParam& p) {
  spinVrSrabat->setValue(p.VrSrabat);  // above the range: shown as its bound
  spinVrZaderj->setValue(p.VrZaderj);
  cbTypeInput->setCurrentIndex(p.TypeInput ? 1 : 0);
  cbTypeChannel->setCurrentIndex(p.TypeChannel ? 1 : 0);
  cbReleMode->setCurrentIndex(p.ReleMode ? 1 : 0);
  cbToRele->setCurrentIndex(p.ToRele ? 1 : 0);
  cbSrabat->setCurrentIndex(p.Srabat ? 1 : 0);
  cbNorm->setCurrentIndex(p.Norm ? 1 : 0);
  SetIndex(cbZvuk, p.Zvuk);
  SetIndex(cbReleNumber, p.ReleNumber);
}

LIR::ChannelParam TSetChannelsParamForm::TakeParam() const {
  LIR::ChannelParam p{};
  p.VrSrabat = static_cast<uint16_t>(spinVrSrabat->value());
  p.VrZaderj = static_cast<uint16_t>(spinVrZaderj->value());
  p.TypeInput = cbTypeInput->currentIndex() != 0;
  p.TypeChannel = cbTypeChannel->currentIndex() != 0;
  p.ReleMode = cbReleMode->currentIndex() != 0;
  p.ToRele = cbToRele->currentIndex() != 0;
  p.Srabat = cbSrabat->currentIndex() != 0;
  p.Norm = cbNorm->currentIndex() != 0;
  p.Zvuk = static_cast<uint8_t>(cbZvuk->currentIndex());
  p.ReleNumber = static_cast<uint8_t>(cbReleNumber->currentIndex());
  return p;
}

void TSetChannelsParamForm::Blank() {
  const auto quiet = Silence();
  spinVrSrabat->setValue(0);
  spinVrZaderj->setValue(0);
  for (QComboBox* box :
       {cbTypeInput, cbTypeChannel, cbReleMode, cbToRele, cbSrabat, cbNorm, cbZvuk, cbReleNumber})
    box->setCurrentIndex(-1);
}

void TSetChannelsParamForm::EnablebtnModify() {
  btnApply->setEnabled(true);
}

void TSetChannelsParamForm::cbChannelNumberChange() {
  Init(Address, Model, Channel());
}

void TSetChannelsParamForm::btnRefreshClick() {
  Init(Address, Model, Channel());
}

void TSetChannelsParamForm::FitTime(QSpinBox* spin) {
  // What the box shows is what gets written: the typed text, not the last value the box
  // accepted. No number reads as 0.
  bool number = false;
  const int typed = spin->text().toInt(&number);
  const QSignalBlocker quiet(spin);
  spin->setValue(number ? std::clamp(typed, 0, kMaxTime) : 0);
}

QComboBox* TSetChannelsParamForm::FirstBlankList() const {
  for (QComboBox* box :
       {cbTypeInput, cbTypeChannel, cbReleMode, cbToRele, cbSrabat, cbNorm, cbZvuk, cbReleNumber})
    if (box->currentIndex() < 0) return box;
  return nullptr;
}

void TSetChannelsParamForm::btnApplyClick() {
  FitTime(spinVrSrabat);
  FitTime(spinVrZaderj);
  // A blank list has no value to send; guessing one would change the unit behind the
  // user's back.
  if (QComboBox* blank = FirstBlankList()) {
    QString field;
    for (QLabel* label : findChildren<QLabel*>())
      if (label->buddy() == blank) field = label->text();
    if (field.endsWith(QLatin1Char(':'))) field.chop(1);
    Platform::MessageBox("Не выбрано значение поля \"" + field.toStdString() +
                             "\".\nПараметры канала " + ChannelNumber() + " не записаны.",
                         "Внимание!", Platform::MbOk | Platform::MbIconExclamation);
    return;
  }

  btnApply->setEnabled(false);
  switch (LIR::CheckAccess(Address)) {
    case LIR::AccessGranted:
      break;
    case LIR::AccessDenied:
      Error("Невозможно изменить параметры канала " + ChannelNumber() + " устройства с адресом " +
                Main::Bracketed(Address) + ".\nНеобходимо ввести пароль.",
            "Отказано в доступе.");
      return;
    default:
      TransmissionFailure();
      return;
  }
  LIR::ChannelParams params{};
  params[0] = TakeParam();
  if (!LIR::WriteChannelsParam(Address, Channel(), 1, params)) TransmissionFailure();
}

void TSetChannelsParamForm::TransmissionFailure() {
  Error("Ошибка при передаче параметров канала " + ChannelNumber() + " устройству " +
            Main::Bracketed(Address),
        "Внимание!");
  // What the unit now holds is unknown: nothing that looks like its values stays shown.
  SetCaption();
  Blank();
}

void TSetChannelsParamForm::btnOkClick() {
  if (btnApply->isEnabled()) btnApplyClick();
  accept();
  if (MainForm) MainForm->actGetChannelsParamExecute();
}

bool TSetChannelsParamForm::eventFilter(QObject* watched, QEvent* event) {
  // Before the spin box's own handling, which would drop a typed value above the range
  // or an emptied text and go back to the previous value.
  if (auto* spin = qobject_cast<QSpinBox*>(watched)) {
    if (event->type() == QEvent::FocusOut) FitTime(spin);
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) FitTime(spin);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TSetChannelsParamForm::showEvent(QShowEvent* event) {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}
