#include "ui/port/PortSelect.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "link/ModBus.h"
#include "platform/UiQt.h"
#include "ui/common/Fit.h"
#include "ui/main/Main.h"

TPortSelectForm* PortSelectForm = nullptr;

TPortSelectForm::TPortSelectForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  Main::MakeFixedDialog(this);
  Fit::FitText(Label1, 4);
  connect(PortNamer, &QComboBox::editTextChanged, this, [this] { FitPortName(); });
  ListPorts();
  PortNamer->setEditText(QStringLiteral("COM2"));
  PortNamer->installEventFilter(this);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TPortSelectForm::ListPorts() {
  // The names of the list, then the serial devices this system has now (USB adapters
  // come and go); what the user typed stays.
  const QString typed = PortNamer->currentText();
  PortNamer->clear();
  PortNamer->addItems({"COM1", "COM2", "COM3", "COM4", "COM5"});
  for (const QString& name : Platform::SerialDeviceNames())
    if (PortNamer->findText(name) < 0) PortNamer->addItem(name);
  PortNamer->setEditText(typed);
  PortNamer->view()->setMinimumWidth(PortNamer->view()->sizeHintForColumn(0) + 24);
}

void TPortSelectForm::showEvent(QShowEvent* event) {
  ListPorts();
  QDialog::showEvent(event);
  FitPortName();  // the box has its size now
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
