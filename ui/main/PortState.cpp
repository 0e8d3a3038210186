#include "ui/main/PortState.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

#include "link/ModBus.h"
#include "platform/Ui.h"
#include "ui/main/Main.h"

namespace {

constexpr int kTickMs = 1000;
// Short, so that a server that does not answer holds the idle program only briefly...
constexpr uint32_t kReopenBoundMs = 200;
// ...and, once it has, is tried only every fifth tick.
constexpr int kPauseTicks = 4;

}  // namespace

TPortState::TPortState(QMainWindow* window, QStatusBar* bar, QTimer* panelTimer)
    : QObject(window), window_(window), bar_(bar) {
  lblPortState = new QLabel(bar);
  lblPortState->setObjectName(QStringLiteral("lblPortState"));
  bar->addPermanentWidget(lblPortState);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  // After the tick's commands, which met the loss.
  connect(panelTimer, &QTimer::timeout, this, [] { LetGoIfLost(); });
  timer_.start(kTickMs);
  // Told as soon as the request that met the loss has ended, not at the next tick.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          [this] { Refresh(); });
}

QString TPortState::FaultText(Serial::Fault fault) {
  using Serial::Fault;
  switch (fault) {
    case Fault::None:
      return {};
    case Fault::NoSuchPort:
      return QStringLiteral("нет такого порта");
    case Fault::PortBusy:
      return QStringLiteral("порт занят");
    case Fault::NoPermission:
      return QStringLiteral("нет прав доступа к порту");
    case Fault::NotALine:
      return QStringLiteral("это не последовательный порт");
    case Fault::BadName:
      return QStringLiteral("неверное имя порта");
    case Fault::HostNotFound:
      return QStringLiteral("узел не найден");
    case Fault::ConnectionRefused:
      return QStringLiteral("соединение отклонено");
    case Fault::HostUnreachable:
      return QStringLiteral("узел недоступен");
    case Fault::TimedOut:
      return QStringLiteral("нет ответа от узла");
    case Fault::ConnectionDropped:
      return QStringLiteral("соединение разорвано");
    case Fault::DeviceRemoved:
      return QStringLiteral("устройство отключено");
    case Fault::Other:
      break;
  }
  return QStringLiteral("ошибка системы");
}

TPortState::State TPortState::Now() {
  if (!ModBus::Port->Connected) return State::NotOpen;
  return ModBus::Port->Lost() ? State::Lost : State::Open;
}

QString TPortState::Name() const {
  return QString::fromStdString(ModBus::Port->PortName);
}

// The way the line went. A reopening that failed since has put its own fault in its place,
// but a line is lost only one way for its kind.
QString TPortState::LossText() const {
  Serial::Fault way = ModBus::Port->LastFault();
  if (!Serial::IsLoss(way))
    way = Serial::IsTcpName(ModBus::Port->PortName.c_str()) ? Serial::Fault::ConnectionDropped
                                                            : Serial::Fault::DeviceRemoved;
  return QStringLiteral("Порт %1 потерян: %2.").arg(Name(), FaultText(way));
}

void TPortState::ShowState(State state) {
  static const char* const kStates[] = {"не открыт", "открыт", "потерян"};
  const QString text = Name() + QStringLiteral(": ") + kStates[static_cast<int>(state)];
  if (lblPortState->text() != text) lblPortState->setText(text);
}

void TPortState::Say(const QString& text) {
  said_ = text;
  bar_->showMessage(text);
}

void TPortState::Opened() {
  told_ = Now();
  ShowState(told_);
  if (told_ == State::NotOpen)
    Say(QStringLiteral("Порт %1 не открыт: %2.").arg(Name(), FaultText(ModBus::Port->LastFault())));
  else if (!said_.isEmpty() && bar_->currentMessage() == said_)
    bar_->clearMessage();  // a failure of an earlier port no longer holds
}

void TPortState::Refresh() {
  const State now = Now();
  ShowState(now);
  if (now == told_) return;
  if (now == State::Lost) Say(LossText());
  if (now == State::Open && told_ == State::Lost)
    Say(QStringLiteral("Порт %1 снова открыт.").arg(Name()));
  told_ = now;
}

void TPortState::ScanStopped() {
  Refresh();
  Platform::MessageBox("Порт " + ModBus::Port->PortName + " потерян.\nСканирование прервано.",
                       "Внимание!", Platform::MbOk | Platform::MbIconHand);
  Say(LossText());
}

// A held panel button would try to reopen the port at every tick of its timer, a thousand
// times a second: a lost line lets it go, as a window left does. The user presses it again.
void TPortState::LetGoIfLost() {
  if (!ModBus::Port->Lost()) return;
  for (bool* held : {&Main::PuskHeld, &Main::StopHeld, &Main::ControlHeld, &Main::KvitirHeld,
                     &Main::SbrosHeld, &Main::RestartHeld})
    *held = false;
}

void TPortState::Tick() {
  Refresh();
  // A reopening holds the GUI thread: only when nothing under way waits on it.
  if (Now() != State::Lost || !Main::Idle(window_)) return;
  if (pauseTicks_ > 0) {
    --pauseTicks_;
    return;
  }
  QElapsedTimer waited;
  waited.start();
  if (!ModBus::Port->Reconnect(kReopenBoundMs) && waited.elapsed() >= kReopenBoundMs / 2)
    pauseTicks_ = kPauseTicks;
  Refresh();
}
