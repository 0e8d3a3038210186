#include "ui/dialogs/Settings.h"

#include <QLineEdit>
#include <QTreeWidgetItem>
#include <string>

#include "device/LIR.h"
#include "link/ModBus.h"
#include "platform/Ui.h"
#include "ui/common/Fit.h"
#include "ui/main/Images.h"
#include "ui/main/Main.h"

TSettingsForm* SettingsForm = nullptr;

namespace {

void Error(const std::string& text, const char* title) {
  Platform::MessageBox(text, title, Platform::MbOk | Platform::MbIconHand);
}

void Warning(const std::string& text) {
  Platform::MessageBox(text, "Внимание!", Platform::MbOk | Platform::MbIconExclamation);
}

// The items of a channel list by model; empty for a code the dialog does not know.
QStringList ChannelItems(uint8_t model) {
  if (model != LIR::Model4M && model != LIR::Model8M && model != LIR::Model12M) return {};
  // A ЛИР-4М takes no external buttons: its lists offer "Нет" alone.
  const int channels = model == LIR::Model4M ? 0 : Main::ChannelCount(model);
  QStringList items{QStringLiteral("Нет")};
  for (int channel = 1; channel <= channels; ++channel)
    items << QString::number(channel);
  return items;
}

}  // namespace

TSettingsForm::TSettingsForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  Main::MakeFixedDialog(this);
  setWindowIcon(Images::Icon(Images::Gears));
  if (auto* edit = seAddress->findChild<QLineEdit*>()) edit->setMaxLength(3);
  // A few pixels between a label and its list, a check box and the frame.
  for (QWidget* widget : findChildren<QWidget*>())
    if (qobject_cast<QLabel*>(widget) || qobject_cast<QCheckBox*>(widget)) Fit::FitText(widget, 4);

  for (const Entry& entry : Entries()) {
    connect(entry.Channel, &QComboBox::currentIndexChanged, this, [this] { OnChangeValues(); });
    connect(entry.Flag, &QCheckBox::toggled, this, [this] { OnChangeValues(); });
  }
  connect(cbCommonRele, &QComboBox::currentIndexChanged, this, [this] { OnChangeValues(); });
  connect(seAddress, &QSpinBox::textChanged, this, [this] { OnChangeValues(); });
  connect(btnRefresh, &QPushButton::clicked, this, [this] { btnRefreshClick(); });
  connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnApply, &QPushButton::clicked, this, [this] { btnApplyClick(); });
}

std::array<TSettingsForm::Entry, 6> TSettingsForm::Entries() const {
  // The order of the bytes in the unit's words, not the order on screen.
  return {{{cbControl, chbControl, 0, 8},
           {cbKvitir, chbKvitir, 0, 0},
           {cbPusk, chbPusk, 1, 8},
           {cbStop, chbStop, 1, 0},
           {cbRestart, chbRestart, 2, 8},
           {cbSbros, chbSbros, 2, 0}}};
}

void TSettingsForm::Init(uint8_t address, uint8_t model) {
  setWindowTitle(QStringLiteral("Настройки устройства [%1]").arg(address));
  const QStringList items = ChannelItems(model);
  if (!items.isEmpty()) {
    for (const Entry& entry : Entries()) {
      entry.Channel->clear();
      entry.Channel->addItems(items);
    }
  }
  Tag = uint32_t{address} * 256 + model;
  seAddress->setValue(address);

  bool error = false;
  ModBus::RegisterArray regs{};
  SettingsRead = LIR::ReadSettings(address, regs);
  if (SettingsRead) {
    ReadWords = {regs[0], regs[1], regs[2]};
    for (const Entry& entry : Entries()) {
      const auto byte = static_cast<uint16_t>((regs[entry.Word] >> entry.Shift) & 0xFF);
      const int channel = byte & 0x7F;
      // A channel outside the model's list leaves the entry blank rather than wrong.
      entry.Channel->setCurrentIndex(channel < entry.Channel->count() ? channel : -1);
      entry.Flag->setChecked(TMainForm::GetBit(byte, 7));
    }
  } else {
    for (const Entry& entry : Entries()) {
      entry.Channel->setCurrentIndex(-1);
      entry.Flag->setChecked(false);
    }
    error = true;
  }

  // A stored value other than 0 and 1 leaves the out-value alone: such a type is shown as
  // none rather than as one of the two.
  uint8_t type = 0xFF;
  ReleRead = LIR::ReadCommonReleType(address, type);
  if (ReleRead) {
    cbCommonRele->setCurrentIndex(type <= 1 ? type : -1);
  } else {
    cbCommonRele->setCurrentIndex(-1);
    error = true;
  }

  // Last: the fillings above ran OnChangeValues.
  btnApply->setEnabled(false);
  if (error)
    Error("Ошибка при получении параметров от устройства " + Main::Bracketed(address), "Внимание!");
}

void TSettingsForm::OnChangeValues() {
  btnApply->setEnabled(true);
}

void TSettingsForm::btnRefreshClick() {
  Init(Address(), Model());
}

void TSettingsForm::btnApplyClick() {
  Apply();
}

void TSettingsForm::btnOKClick() {
  // Like every dialog's OK: whatever Apply said, even a refusal of the input, the dialog
  // closes; nothing was sent then.
  if (btnApply->isEnabled()) Apply();
  accept();
}

bool TSettingsForm::AddressField(uint8_t& address) const {
  // The text, not value(): a spin box can hold typed text it has not taken yet.
  const QString text = seAddress->text();
  bool number = false;
  const int value = text.trimmed().toInt(&number, 10);
  // 0 is the broadcast address: no unit would ever answer there again.
  if (!number || value < 1 || value > 255) {
    Warning("Недопустимый сетевой адрес: " + text.toStdString() +
            ".\nАдрес должен быть от 1 до 255.");
    return false;
  }
  address = static_cast<uint8_t>(value);
  return true;
}

bool TSettingsForm::BuildWords(std::array<uint16_t, 3>& words) const {
  words = {};
  for (const Entry& entry : Entries()) {
    uint16_t byte = 0;
    if (entry.Channel->currentIndex() >= 0)
      byte = static_cast<uint16_t>(entry.Channel->currentIndex());
    else if (SettingsRead)  // a blank entry keeps the unit's own channel
      byte = static_cast<uint16_t>((ReadWords[entry.Word] >> entry.Shift) & 0x7F);
    else
      return false;
    TMainForm::SetBit(byte, 7, entry.Flag->isChecked() ? 1 : 0);
    words[entry.Word] = static_cast<uint16_t>(words[entry.Word] | byte << entry.Shift);
  }
  return true;
}

bool TSettingsForm::Apply() {
  const uint8_t address = Address();
  uint8_t newAddress = 0;
  if (!AddressField(newAddress)) return false;
  std::array<uint16_t, 3> words{};
  // A blank relay list after a good read keeps the unit's own type; after a failed one
  // there is nothing to keep.
  const bool rele = cbCommonRele->currentIndex() >= 0;
  if (!BuildWords(words) || (!rele && !ReleRead)) {
    Warning("Настройки устройства " + Main::Bracketed(address) +
            " не прочитаны.\nНажмите \"Обновить\".");
    return false;
  }

  btnApply->setEnabled(false);
  switch (LIR::CheckAccess(address)) {
    case LIR::AccessGranted:
      break;
    case LIR::AccessDenied:
      Error("Невозможно изменить настройки устройства с адресом " + Main::Bracketed(address) +
                ".\nНеобходимо ввести пароль.",
            "Отказано в доступе.");
      Init(address, Model());
      return true;
    default:
      Error("Ошибка при передаче параметров устройству " + Main::Bracketed(address), "Внимание!");
      btnApply->setEnabled(true);
      btnCancel->setFocus();
      return true;
  }

  ModBus::RegisterArray regs{};
  std::copy(words.begin(), words.end(), regs.begin());
  bool error = !LIR::WriteSettings(address, regs);
  if (rele && !LIR::WriteCommonReleType(address, cbCommonRele->currentIndex() == 1)) error = true;

  if (newAddress != address) {
    // Only a probe: whoever answers at the new address, the unit must not move there.
    if (LIR::CheckAccess(newAddress) == LIR::AccessNoAnswer) {
      LIR::WriteNetAddress(address, newAddress);
      MarkMovedUnit();
    } else {
      Error("Устройство с адресом " + Main::Bracketed(newAddress) + " уже есть в сети",
            "Внимание!");
      seAddress->setValue(address);
    }
  }
  if (error)
    Error("Ошибка при передаче параметров устройству " + Main::Bracketed(address), "Внимание!");
  return true;
}

void TSettingsForm::MarkMovedUnit() const {
  // The unit's address is unknown until the next scan.
  struct Marks {
    uint8_t Model;
    const char* Node;
    const char* Caption;
  };
  static const Marks kMarks[] = {{LIR::Model4M, "[***] ЛИР-4М", " [***] ЛИР - 4М "},
                                 {LIR::Model8M, "[***] ЛИР-8М", " [***] ЛИР - 8М "},
                                 {LIR::Model12M, "[***] ЛИР-12М", " [***] ЛИР - 12М "}};
  if (!MainForm) return;
  for (const Marks& marks : kMarks) {
    if (marks.Model != Model()) continue;
    // The unit's own node: the tree's selection may be on the port node.
    if (QTreeWidgetItem* node = MainForm->DeviceNode(Tag))
      node->setText(0, QString::fromUtf8(marks.Node));
    MainForm->DeviceProp->setTitle(QString::fromUtf8(marks.Caption));
  }
}
