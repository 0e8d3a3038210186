#include "ui/dialogs/Password.h"

#include <QKeyEvent>
#include <QValidator>
#include <algorithm>

#include "device/LIR.h"
#include "platform/Ui.h"
#include "ui/main/Main.h"

TPasswordForm* PasswordForm = nullptr;

namespace {

constexpr int kPasswordLength = 8;

// Code page 1251 byte of the characters that matter here (-1 for any other): ASCII, the
// 64 Cyrillic letters А..я and Ё, ё, which the filter must know to refuse.
int Cp1251Byte(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x80) return u;
  if (u >= 0x0410 && u <= 0x044F) return u - 0x0410 + 192;
  if (u == 0x0401) return 168;
  if (u == 0x0451) return 184;
  return -1;
}

QChar FromCp1251Byte(int b) {
  return b >= 192 ? QChar(static_cast<char16_t>(0x0410 + b - 192)) : QChar(b);
}

// Digits, '_' and the letters А..я without Й and й: what the unit's password alphabet
// holds, lower case standing for the capitals.
bool InPasswordAlphabet(int b) {
  return b == '_' || (b >= '0' && b <= '9') || (b >= 192 && b != 201 && b != 233);
}

// Every way text enters a field (typing, pasting, dropping) ends here, so the key filter
// and a paste cannot disagree. The length limit is kept here too, after the filter: the
// field's own limit would cut a pasted text before the characters the unit cannot take are
// dropped from it.
class PasswordValidator : public QValidator {
 public:
  using QValidator::QValidator;

  State validate(QString& input, int& pos) const override {
    QString kept;
    int cursor = 0;
    for (int i = 0; i < input.size(); ++i) {
      const QChar c = TPasswordForm::PasswordChar(input[i]);
      if (c.isNull()) continue;
      kept += c;
      if (i < pos) ++cursor;
    }
    // Only what was just inserted, which ends at the cursor, can be too much.
    const int excess = static_cast<int>(kept.size()) - kPasswordLength;
    if (excess > 0) {
      cursor = std::max(0, cursor - excess);
      kept.remove(cursor, excess);
    }
    input = kept;
    pos = cursor;
    return Acceptable;
  }
};

}  // namespace

TPasswordForm::TPasswordForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  Main::MakeFixedDialog(this);
  for (QLineEdit* field : {edPassword, edConfirmation}) {
    field->setValidator(new PasswordValidator(field));
    field->installEventFilter(this);
  }
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QChar TPasswordForm::PasswordChar(QChar c) {
  int b = Cp1251Byte(c);
  if (!InPasswordAlphabet(b)) return QChar();
  if (b >= 224) b -= 32;
  return FromCp1251Byte(b);
}

std::string TPasswordForm::ToCp1251(const QString& text) {
  std::string bytes;
  for (QChar c : text) {
    const int b = Cp1251Byte(c);
    if (b >= 0) bytes += static_cast<char>(b);
  }
  return bytes;
}

bool TPasswordForm::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == edPassword || watched == edConfirmation) && event->type() == QEvent::KeyPress)
    return edPasswordKeyPress(static_cast<QKeyEvent*>(event));
  return QDialog::eventFilter(watched, event);
}

bool TPasswordForm::edPasswordKeyPress(QKeyEvent* key) {
  // Shortcuts (paste among them) and keys that type nothing (Backspace, Enter, Esc, the
  // arrows) go on; whatever a shortcut inserts meets the validator.
  if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString text = key->text();
  if (text.size() != 1 || !text[0].isPrint()) return false;
  return PasswordChar(text[0]).isNull();
}

void TPasswordForm::Init(uint8_t address) {
  edPassword->setFocus();
  Address = address;
  const uint8_t access = LIR::CheckAccess(address);
  ShowMode(access == LIR::AccessGranted);
  if (access == LIR::AccessNoAnswer)
    Platform::MessageBox("Ошибка при обращении к устройству " + Main::Bracketed(address),
                         "Внимание!", Platform::MbIconHand);
}

void TPasswordForm::ShowMode(bool change) {
  // Change mode has two rows; enter mode's one row stands in the middle of the panel.
  const std::string caption = change ? "Смена пароля устройства " : "Пароль устройства ";
  setWindowTitle(QString::fromStdString(caption + Main::Bracketed(Address)));
  edPassword->clear();
  edConfirmation->clear();
  Label1->setText(change ? QStringLiteral("Новый пароль:") : QStringLiteral("Пароль:"));
  Label1->move(12, change ? 19 : 34);
  edPassword->move(123, change ? 15 : 30);
  edConfirmation->setVisible(change);
  Label2->setVisible(change);
}

void TPasswordForm::btnOkClick() {
  if (edPassword->text().size() < kPasswordLength) {
    Platform::MessageBox("Пароль должен содержать 8 символов.", "Предупреждение",
                         Platform::MbIconExclamation);
    return;
  }
  const bool changeMode = !edConfirmation->isHidden();
  if (changeMode && edConfirmation->text() != edPassword->text()) {
    Platform::MessageBox("Подтверждение пароля не совпадает с самим паролем.", "Предупреждение.",
                         Platform::MbIconExclamation);
    return;
  }
  if (!LIR::WritePassword(Address, ToCp1251(edPassword->text())))
    Platform::MessageBox("Ошибка при передаче пароля устройству " + Main::Bracketed(Address),
                         "Внимание!", Platform::MbIconHand);
  if (LIR::CheckAccess(Address) == LIR::AccessDenied)
    Platform::MessageBox("Введен неверный пароль.", "Ошибка.", Platform::MbIconHand);
  accept();
}
