#pragma once
// The progress of a long run of device requests (the network scan, the journal reading).
// The caller runs its loop on the GUI thread, pumps messages per step and polls Running;
// while the dialog runs every other window of the application is disabled.

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <memory>
#include <vector>

#include "platform/Ui.h"

namespace Ui {
class TProgressForm;
}

class TProgressForm : public QDialog {
  Q_OBJECT

 public:
  // No Qt parent: the dialog belongs to the application, as a child of a window that
  // StartProgress disables would be disabled with it.
  TProgressForm();
  ~TProgressForm() override;

  void StartProgress();
  void StopProgress();
  // Paints the dialog now, after the caller changed its texts or the bar.
  void Repaint();
  // For a loop of quick steps: paints and takes the queued input (Cancel) at most every
  // kPumpMs, so a fast line is not slowed by the dialog; Settle paints what a skipped step left.
  static constexpr int kPumpMs = 40;
  void Pump();
  void Settle();

  void btnCancelClick();

  QLabel* Label1;
  QProgressBar* pbProgress;
  QPushButton* btnCancel;

  bool Running = false;

 protected:
  void done(int result) override;

 private:
  void FormClose();

  std::unique_ptr<Ui::TProgressForm> ui;
  QElapsedTimer LastPump;
  bool Unpainted = false;

  Platform::Window SavedActiveWindow = nullptr;
  std::vector<Platform::Window> DisabledWindows;
};
