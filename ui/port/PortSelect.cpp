#include "ui/port/PortSelect.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "link/ModBus.h"
#include "ui/common/Fit.h"
#include "ui/main/Main.h"
#include "ui/port/PortList.h"

TPortSelectForm* PortSelectForm = nullptr;

TPortSelectForm::TPortSelectForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  Main::MakeFixedDialog(this);
  Fit::FitText(Label1, 4);
  connect(PortNamer, &QComboBox::editTextChanged, this, [this] { FitPortName(); });
  PortList = new TPortList(PortNamer, {"COM1", "COM2", "COM3", "COM4", "COM5"});
  PortList->Refresh();
  // "COM2", or the port the command line named.
  PortNamer->setEditText(QString::fromStdString(ModBus::Port->PortName));
  PortNamer->installEventFilter(this);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TPortSelectForm::showEvent(QShowEvent* event) {
  PortList->Refresh();
  PortList->Start();  // adapters plugged in or pulled while the dialog is open
  QDialog::showEvent(event);
  FitPortName();  // the box has its size now
}

void TPortSelectForm::hideEvent(QHideEvent* event) {
  PortList->Stop();
  QDialog::hideEvent(event);
}

void TPortSelectForm::FitPortName() {
  // A name such as /dev/ttyUSB0 is condensed to show whole in the narrow box (the list
  // keeps its font).
  QLineEdit* edit = PortNamer->lineEdit();
  const QString name = edit->text();
  QFont font = edit->font();
  for (int stretch = 100; stretch >= 70; --stretch) {
    font.setStretch(stretch);
    if (QFontMetrics(font).horizontalAdvance(name) + 4 <= edit->width()) break;
  }
  edit->setFont(font);
  PortNamer->setToolTip(name);
}

void TPortSelectForm::btnOkClick() {
  ModBus::Port->PortName = PortNamer->currentText().toStdString();
  MainForm->actPortConnection->trigger();
  accept();
}

bool TPortSelectForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PortNamer && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      btnOk->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
