#include "ui/dialogs/Progress.h"

#include <QCoreApplication>
#include <QStyle>

#include "platform/UiQt.h"
#include "ui_Progress.h"

TProgressForm::TProgressForm() : QDialog(nullptr), ui(new Ui::TProgressForm) {
  ui->setupUi(this);
  Label1 = ui->Label1;
  pbProgress = ui->pbProgress;
  btnCancel = ui->btnCancel;
  // A fixed border with the close box only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

TProgressForm::~TProgressForm() {
  // A caller whose clean-up did not stop the run must not leave the application disabled.
  StopProgress();
}

void TProgressForm::StartProgress() {
  if (Running) return;
  // Saved before anything is disabled: the disabling may move the activation.
  SavedActiveWindow = Platform::GetActiveWindow();
  const Platform::Window self = Platform::WindowOf(this);
  for (Platform::Window window : Platform::ThreadWindows()) {
    if (window == self) continue;
    if (Platform::IsWindowVisible(window) && Platform::IsWindowEnabled(window)) {
      Platform::EnableWindow(window, false);
      DisabledWindows.push_back(window);
    }
  }
  show();
  raise();
  activateWindow();
  Running = true;
}

void TProgressForm::StopProgress() {
  if (!Running) return;
  // Enabled first: a disabled window cannot be activated.
  for (Platform::Window window : DisabledWindows)
    if (Platform::IsWindow(window)) Platform::EnableWindow(window, true);
  std::vector<Platform::Window>().swap(DisabledWindows);
  Platform::SetActiveWindow(SavedActiveWindow);
  SavedActiveWindow = nullptr;
  hide();
  Running = false;
  pbProgress->setUpdatesEnabled(true);
}

void TProgressForm::Repaint() {
  repaint();
}

void TProgressForm::Pump() {
  Unpainted = true;
  // A read shorter than one period is not held up by painting the windows it disabled.
  if (LastPump.isValid()) {
    if (LastPump.elapsed() < kPumpMs) return;
    Settle();
    QCoreApplication::processEvents();  // where Cancel is seen
  }
  LastPump.start();
  // The bar repaints itself on every new value; between pumps it waits for the next one.
  if (Running) pbProgress->setUpdatesEnabled(false);
}

void TProgressForm::Settle() {
  pbProgress->setUpdatesEnabled(true);
  if (Unpainted && isVisible()) Repaint();
  Unpainted = false;
}

void TProgressForm::btnCancelClick() {
  close();
}

void TProgressForm::FormClose() {
  StopProgress();
}

// Every way of closing ends here: the Cancel button and the close box through the close
// event's reject, Esc through reject itself.
void TProgressForm::done(int result) {
  FormClose();
  QDialog::done(result);
}
