#include "ui/main/StatePoll.h"

#include <QAction>
#include <QMainWindow>
#include <QStatusBar>
#include <QTableWidget>
#include <algorithm>

#include "device/LIR.h"
#include "link/FrameDecode.h"
#include "ui/main/Images.h"
#include "ui/main/Main.h"

namespace {

constexpr int kTickMs = 1000;

}  // namespace

TStatePoll::TStatePoll(QMainWindow* window, QAction* action, QTableWidget* channels,
                       QStatusBar* bar)
    : QObject(window), window_(window), action_(action), channels_(channels), bar_(bar) {
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  connect(action_, &QAction::toggled, this, [this](bool on) {
    if (on)
      timer_.start();
    else
      timer_.stop();
  });
}

void TStatePoll::Shown(uint8_t address, int channels, int state) {
  address_ = address;
  count_ = channels;
  state_ = state;
}

void TStatePoll::Tick() {
  // The user's own work with the line comes first; the lamps wait for the next tick.
  if (Main::Idle(window_) && channels_->isVisible() && address_ >= 0) Poll();
}

bool TStatePoll::Poll() {
  uint16_t state = 0;
  if (!LIR::ReadChannelsState(static_cast<uint8_t>(address_), state)) {
    action_->setChecked(false);
    bar_->showMessage(
        QStringLiteral("Опрос состояния остановлен: устройство %1, %2.")
            .arg(QString::fromStdString(Main::Bracketed(static_cast<uint32_t>(address_))),
                 QString::fromStdString(
                     FrameDecode::FaultText(ModBus::LastError(), ModBus::LastException()))));
    return false;
  }
  const int rows = std::min(count_, channels_->rowCount());
  for (int i = 0; i < rows; ++i) {
    const bool lit = (state >> i) & 1;
    QTableWidgetItem* caption = channels_->item(i, 0);
    if (!caption || (state_ >= 0 && lit == bool((state_ >> i) & 1))) continue;
    caption->setIcon(Images::Icon(lit ? Images::LampsRedLit : Images::LampsGreenLit));
  }
  state_ = state;
  return true;
}
