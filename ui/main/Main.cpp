#include "ui/main/Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTranslator>
#include <array>

#include "device/LIR.h"
#include "link/FrameDecode.h"
#include "link/ModBus.h"
#include "link/Traffic.h"
#include "platform/Ui.h"
#include "platform/UiQt.h"
#include "ui/common/Fit.h"
#include "ui/dialogs/Clock.h"
#include "ui/dialogs/Journal.h"
#include "ui/dialogs/Password.h"
#include "ui/dialogs/Progress.h"
#include "ui/dialogs/SetChannelsParam.h"
#include "ui/dialogs/Settings.h"
#include "ui/main/Images.h"
#include "ui/main/PortState.h"
#include "ui/main/StatePoll.h"
#include "ui/port/PortConfig.h"
#include "ui/port/PortSelect.h"

TMainForm* MainForm = nullptr;

namespace Main {

uint32_t SelectedAddress = 0;
uint32_t SelectedModel = 0;
int32_t SelectedChannel = 0;
bool PuskHeld = false, StopHeld = false, ControlHeld = false, KvitirHeld = false, SbrosHeld = false,
     RestartHeld = false;

const std::string HelpFile = "C:\\Rabota\\LIR\\Ирвалон.hlp";

int ChannelCount(uint32_t model) {
  if (model == LIR::Model4M) return 4;
  if (model == LIR::Model8M) return 8;
  return 12;
}

uint8_t HandledModel(uint8_t model) {
  return model == LIR::Model4M || model == LIR::Model8M ? model : uint8_t{LIR::Model12M};
}

std::string Bracketed(uint32_t address) {
  return "[" + std::to_string(address & 0xFF) + "]";
}

void MakeFixedDialog(QDialog* dialog) {
  dialog->setFixedSize(dialog->size());
  dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint);
}

bool Idle(const QWidget* window) {
  if (QApplication::activeModalWidget() || QApplication::activePopupWidget() ||
      !window->isEnabled())
    return false;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<TProgressForm*>(w) && w->isVisible()) return false;
  return !(PuskHeld || StopHeld || ControlHeld || KvitirHeld || SbrosHeld || RestartHeld);
}

}  // namespace Main

namespace {

using Main::SelectedAddress;

const QString kNoDevice = QStringLiteral(" Не выбрано устройство ");

// The design size of the device panel, from which its children keep their distances.
constexpr int kDevicePropWidth = 624;
constexpr int kDevicePropHeight = 297;

// Channel table columns: caption widths of the design.
constexpr int kColumnWidths[] = {35, 35, 35, 35, 75, 85, 35, 75, 75, 35, 35};

void DeviceError(const std::string& text) {
  Platform::MessageBox(text + " " + Main::Bracketed(SelectedAddress), "Внимание!",
                       Platform::MbOk | Platform::MbIconHand);
}

QString YesNo(bool value, const char* yes, const char* no) {
  return QString::fromUtf8(value ? yes : no);
}

QString ZvukText(uint8_t zvuk) {
  switch (zvuk) {
    case 0:
      return QStringLiteral("Нет");
    case 1:
      return QStringLiteral("1Гц");
    case 2:
      return QStringLiteral("2Гц");
    default:  // no such sound: the raw value rather than a guess
      return QString::number(zvuk);
  }
}

QStringList ChannelTexts(const LIR::ChannelParam& p) {
  return {QString::number(p.VrSrabat),
          QString::number(p.VrZaderj),
          YesNo(p.TypeInput, "Н.З.", "Н.Р."),
          YesNo(p.TypeChannel, "Сквозной", "Запоминает"),
          YesNo(p.ReleMode, "Сигнализация", "Блокировка"),
          YesNo(p.ToRele, "Да", "Нет"),
          YesNo(p.Srabat, "Разрешено", "Запрещено"),
          YesNo(p.Norm, "Разрешено", "Запрещено"),
          ZvukText(p.Zvuk),
          p.ReleNumber == 0 ? QStringLiteral("Нет") : QString::number(p.ReleNumber)};
}

// The channel table's first column: the lamp and the number close together, so that "12"
// shows beside the lamp in the column's 35 pixels (the style's own spacing leaves "…").
class LampAndNumber : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QIcon lamp = cell.icon;
    const QString number = cell.text;
    cell.icon = QIcon();
    cell.text.clear();
    cell.features &= ~(QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay);
    QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);  // ground, focus
    const bool selected = cell.state & QStyle::State_Selected;
    const QRect place(cell.rect.left() + 1, cell.rect.center().y() - 7, 16, 16);
    lamp.paint(painter, place, Qt::AlignCenter, selected ? QIcon::Selected : QIcon::Normal);
    const QRect text = cell.rect.adjusted(place.right() + 3 - cell.rect.left(), 0, -1, 0);
    style->drawItemText(painter, text, Qt::AlignLeft | Qt::AlignVCenter, cell.palette, true, number,
                        selected ? QPalette::HighlightedText : QPalette::Text);
  }
};

// A menu item, an action of its own name, shows the action it stands for and triggers it.
void ShowAction(QAction* item, QAction* action) {
  const auto follow = [item, action] {
    item->setText(action->text());
    item->setIcon(action->icon());
    item->setToolTip(action->toolTip());
    item->setStatusTip(action->statusTip());
    item->setEnabled(action->isEnabled());
    item->setVisible(action->isVisible());
  };
  follow();
  QObject::connect(action, &QAction::changed, item, follow);
  QObject::connect(item, &QAction::triggered, action, &QAction::trigger);
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setupUi(this);
  setWindowIcon(Images::Icon(Images::Gears));
  miFile->menuAction()->setStatusTip(QStringLiteral("Комманды работы с файлом"));
  miOtions->menuAction()->setStatusTip(QStringLiteral("Настройка параметров программы"));
  miDeviceStatus->menuAction()->setStatusTip(QStringLiteral("Текущее состояние устройства"));
  miHelp->menuAction()->setToolTip(QStringLiteral("Помощь"));
  miHelp->menuAction()->setStatusTip(QStringLiteral("Подсказки по программе"));
  for (QMenu* menu : {miFile, miOtions, miNet, miDeviceStatus, miHelp})
    menu->setToolTipsVisible(false);

  const std::pair<QAction*, int> icons[] = {{actExit, Images::Door},
                                            {actPortConnection, Images::Plug},
                                            {actPortSelect, Images::ComPort},
                                            {actPortConfig, Images::Tools},
                                            {actNetScan, Images::NodeTree},
                                            {actClock, Images::Clock},
                                            {actJournal, Images::Notepad},
                                            {actSettings, Images::Gears},
                                            {actGetChannelsParam, Images::ArrowBlue},
                                            {actSetChannelsParam, Images::ArrowsBlue},
                                            {actPassword, Images::Key},
                                            {actHelp, Images::HelpBook}};
  for (const auto& [action, image] : icons)
    action->setIcon(Images::Icon(image));
  const std::pair<QAction*, QAction*> items[] = {{miExit, actExit},
                                                 {miPortSelect, actPortSelect},
                                                 {miPortConfig, actPortConfig},
                                                 {miNetCall, actNetScan},
                                                 {miSettings, actSettings},
                                                 {miClock, actClock},
                                                 {miJournal, actJournal},
                                                 {miGetChannelsParam, actGetChannelsParam},
                                                 {N2, actSetChannelsParam},
                                                 {miPassword, actPassword},
                                                 {N1, actHelp},
                                                 {pmiGetChannelsParam, actGetChannelsParam},
                                                 {pmiSetChannelsParam, actSetChannelsParam},
                                                 {miSaveConfig, actSaveConfig},
                                                 {miLoadConfig, actLoadConfig}};
  for (const auto& [item, action] : items)
    ShowAction(item, action);
  miFile->setSeparatorsCollapsible(false);  // Separator1 leads the menu and is drawn

  // Toolbar: the buttons share the actions; the gaps are the design's dividers.
  ToolBar->setFixedHeight(30);
  ToolBar->addSeparator()->setObjectName(QStringLiteral("Div1"));
  btnExit = AddToolButton(actExit, "btnExit");
  btnHelp = AddToolButton(actHelp, "btnHelp");
  auto gap = [this](const char* name, int width) {
    auto* spacer = new QWidget(ToolBar);
    spacer->setObjectName(QString::fromLatin1(name));
    spacer->setFixedWidth(width);
    ToolBar->addWidget(spacer);
  };
  gap("Div2", 27);
  btnPortSelect = AddToolButton(actPortSelect, "btnPortSelect");
  btnPortConfig = AddToolButton(actPortConfig, "btnPortConfig");
  btnNetScan = AddToolButton(actNetScan, "btnNetScan");
  gap("Div3", 26);
  btnSettings = AddToolButton(actSettings, "btnSettings");
  btnClock = AddToolButton(actClock, "btnClock");
  btnJournal = AddToolButton(actJournal, "btnJournal");
  btnGetChannelsParam = AddToolButton(actGetChannelsParam, "btnGetChannelsParam");
  btnSetChannelsParam = AddToolButton(actSetChannelsParam, "btnSetChannelsParam");
  btnPassword = AddToolButton(actPassword, "btnPassword");
  btnTraffic = AddToolButton(nullptr, "btnTraffic");
  btnTraffic->setIcon(Images::Icon(Images::Magnifier));
  btnTraffic->setToolTip(QStringLiteral("Трафик"));
  btnTraffic->setStatusTip(QStringLiteral("Позволяет отслеживать потоки входных/выходных данных"));
  connect(btnTraffic, &QToolButton::clicked, this, [this] { btnTrafficClick(); });

  // Device tree and panel.
  Splitter1->setSizes({165, width() - 168});
  Splitter1->setStretchFactor(1, 1);
  Net->viewport()->installEventFilter(this);
  Net->installEventFilter(this);
  connect(Net, &QTreeWidget::itemSelectionChanged, this, [this] { NetChange(); });
  DeviceProp->installEventFilter(this);

  Channels->setIconSize(QSize(16, 16));
  Channels->horizontalHeader()->setSectionsMovable(true);
  Channels->horizontalHeader()->setMinimumSectionSize(20);
  Channels->verticalHeader()->setDefaultSectionSize(Channels->fontMetrics().height() + 4);
  for (int c = 0; c < Channels->columnCount(); ++c)
    Channels->setColumnWidth(c, kColumnWidths[c]);
  Channels->setItemDelegateForColumn(0, new LampAndNumber(Channels));
  TTitleHeader::Install(Channels, 1);
  Channels->installEventFilter(this);
  Channels->viewport()->installEventFilter(this);
  connect(Channels->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection& deselected) {
            // Deselection first, then selection: the row selected last is the one kept.
            for (const QModelIndex& index : deselected.indexes())
              if (index.column() == 0) ChannelsSelectItem(index.row());
            for (const QModelIndex& index : selected.indexes())
              if (index.column() == 0) ChannelsSelectItem(index.row());
          });
  LIRPopupMenu = new QMenu(this);  // a menu in the form's file would be its central widget
  LIRPopupMenu->setObjectName(QStringLiteral("LIRPopupMenu"));
  LIRPopupMenu->addAction(pmiGetChannelsParam);
  LIRPopupMenu->addAction(pmiSetChannelsParam);
  connect(Channels, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { LIRPopupMenu->popup(Channels->viewport()->mapToGlobal(at)); });

  Panels = {{{btnPusk, &Main::PuskHeld, LIR::CmdPusk, false},
             {btnStop, &Main::StopHeld, LIR::CmdStop, false},
             {btnControl, &Main::ControlHeld, LIR::CmdControl, false},
             {btnKvitir, &Main::KvitirHeld, LIR::CmdKvitir, false},
             {btnSbros, &Main::SbrosHeld, LIR::CmdSbros, true},
             {btnRestart, &Main::RestartHeld, LIR::CmdRestart, false}}};
  for (PanelButton& panel : Panels) {
    panel.Button->setIcon(Images::Icon(Images::PushButton));
    panel.Button->setIconSize(QSize(16, 16));
    panel.Button->installEventFilter(this);
  }

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(1);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });

  connect(actExit, &QAction::triggered, this, [this] { actExitExecute(); });
  connect(actHelp, &QAction::triggered, this, [this] { actHelpExecute(); });
  connect(N4, &QAction::triggered, this, [this] { N4Click(); });
  connect(actPortConnection, &QAction::triggered, this, [this] { actPortConnectionExecute(); });
  connect(actPortSelect, &QAction::triggered, this, [this] { actPortSelectExecute(); });
  connect(actNetScan, &QAction::triggered, this, [this] { actNetScanExecute(); });
  connect(actSelectDevice, &QAction::triggered, this, [this] { actSelectDeviceExecute(); });
  connect(actGetChannelsParam, &QAction::triggered, this, [this] { actGetChannelsParamExecute(); });
  connect(actClock, &QAction::triggered, this, [this] { actClockExecute(); });
  connect(actSetChannelsParam, &QAction::triggered, this, [this] { actSetChannelsParamExecute(); });
  connect(actPassword, &QAction::triggered, this, [this] { actPasswordExecute(); });
  connect(actJournal, &QAction::triggered, this, [this] { actJournalExecute(); });
  connect(actSettings, &QAction::triggered, this, [this] { actSettingsExecute(); });
  connect(actPortConfig, &QAction::triggered, this, [this] { actPortConfigExecute(); });
  connect(actSaveConfig, &QAction::triggered, this, [this] { actSaveConfigExecute(); });
  connect(actLoadConfig, &QAction::triggered, this, [this] { actLoadConfigExecute(); });

  PortState = new TPortState(this, StatusBar, Timer);
  StatePoll = new TStatePoll(this, actPollState, Channels, StatusBar);
  ModBus::SetFailureSink(
      [this](uint8_t address, uint8_t function) { NoteFault(address, function); });

  resize(800, 394);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  LayOutDeviceProp();

  // The window's creation event: the port is opened before anything else exists.
  actPortConnectionExecute();
}

TMainForm::~TMainForm() {
  ModBus::SetFailureSink(nullptr);
  Timer->stop();
  MainForm = MainForm == this ? nullptr : MainForm;
}

QToolButton* TMainForm::AddToolButton(QAction* action, const char* name) {
  auto* button = new QToolButton(ToolBar);
  button->setObjectName(QString::fromLatin1(name));
  button->setFixedSize(26, 24);
  button->setAutoRaise(true);
  button->setIconSize(QSize(16, 16));
  if (action) button->setDefaultAction(action);
  // The toolbar's own action for the button hides it without hiding the shared action.
  button->setProperty("toolBarAction", QVariant::fromValue<QObject*>(ToolBar->addWidget(button)));
  return button;
}

void TMainForm::SetToolButtonVisible(QToolButton* button, bool visible) {
  if (auto* item = qobject_cast<QAction*>(button->property("toolBarAction").value<QObject*>()))
    item->setVisible(visible);
  ToolBar->layout()->activate();  // the toolbar closes up now, not at the next layout pass
}

bool TMainForm::GetBit(uint16_t Value, uint8_t Bit) {
  return Bit < 16 && (Value >> Bit) & 1;
}

void TMainForm::SetBit(uint16_t& Value, uint8_t Bit, int State) {
  if (Bit >= 16) return;
  const uint16_t mask = static_cast<uint16_t>(1u << Bit);
  if (State == 1) Value = static_cast<uint16_t>(Value | mask);
  if (State == 0) Value = static_cast<uint16_t>(Value & ~mask);
}

void TMainForm::EnableLIRControls() {
  miDeviceStatus->menuAction()->setVisible(true);
  for (QAction* a : {actSaveConfig, actLoadConfig})
    a->setEnabled(true);
  for (QToolButton* b :
       {btnClock, btnJournal, btnSettings, btnGetChannelsParam, btnSetChannelsParam, btnPassword})
    SetToolButtonVisible(b, true);
  const bool fourChannels = Main::SelectedModel == LIR::Model4M;
  btnPusk->setVisible(!fourChannels);
  btnStop->setVisible(!fourChannels);
  for (QPushButton* b : {btnControl, btnKvitir, btnSbros, btnRestart})
    b->setVisible(true);
  Channels->setVisible(true);
}

void TMainForm::DisableLIRControls() {
  miDeviceStatus->menuAction()->setVisible(false);
  for (QAction* a : {actSaveConfig, actLoadConfig})
    a->setEnabled(false);
  DeviceProp->setTitle(kNoDevice);
  for (QToolButton* b :
       {btnClock, btnSettings, btnJournal, btnGetChannelsParam, btnSetChannelsParam, btnPassword})
    SetToolButtonVisible(b, false);
  for (QPushButton* b : {btnPusk, btnStop, btnControl, btnKvitir, btnSbros, btnRestart})
    b->setVisible(false);
  Channels->setVisible(false);
}

QTreeWidgetItem* TMainForm::DeviceNode(uint32_t data) const {
  QTreeWidgetItem* root = Net->topLevelItem(0);
  for (int i = 0; root && i < root->childCount(); ++i)
    if (root->child(i)->data(0, Qt::UserRole).toUInt() == data) return root->child(i);
  return nullptr;
}

QString TMainForm::DeviceNodeText(uint8_t address, uint8_t model) {
  const char* suffix = "] Неопознанно";
  if (model == LIR::Model4M) suffix = "] ЛИР-4М";
  if (model == LIR::Model8M) suffix = "] ЛИР-8М";
  if (model == LIR::Model12M) suffix = "] ЛИР-12М";
  return QStringLiteral("[") + QString::number(address) + QString::fromUtf8(suffix);
}

void TMainForm::actExitExecute() {
  if (Platform::MessageBox("Действительно хотите выйти?", "Подтвердите",
                           Platform::MbYesNo | Platform::MbIconQuestion) == Platform::IdYes)
    close();
}

void TMainForm::actHelpExecute() {
  Platform::WinHelp(Main::HelpFile, Platform::HelpFinder, 0);
}

void TMainForm::N4Click() {
  Platform::MessageBox(
      "Ирвалон, версия " LIR_VERSION
      "\nСервисная программа приборов ЛИР-4М, ЛИР-8М, ЛИР-12М:\nпараметры каналов, часы, "
      "журнал, настройки и пароль по линии Modbus RTU.",
      "О программе", Platform::MbOk | Platform::MbIconAsterisk);
}

void TMainForm::actPortConnectionExecute() {
  Net->clear();
  DisableLIRControls();
  if (ModBus::Port->Connected) ModBus::Port->Close();
  const bool open = ModBus::Port->Open();
  if (open) new QTreeWidgetItem(Net, {QString::fromStdString(ModBus::Port->PortName)});
  actPortConfig->setEnabled(open);
  actNetScan->setEnabled(open);
  miNet->menuAction()->setEnabled(open);
  PortState->Opened();
  if (!open)
    Platform::MessageBox(
        "Не удается создать дескриптор порта\nВозможно порт используется другим приложением",
        "Ошибка.", Platform::MbOk | Platform::MbIconHand);
}

void TMainForm::actPortSelectExecute() {
  PortSelectForm->exec();
}

void TMainForm::actNetScanExecute() {
  StatusBar->showMessage(QStringLiteral("Пожалуйста, подождите..."));
  Scanning = true;
  DisableLIRControls();
  for (QAction* a : {actNetScan, actPortSelect, actPortConfig})
    a->setEnabled(false);
  auto* progress = new TProgressForm();
  Net->clear();
  auto* root = new QTreeWidgetItem(Net, {QString::fromStdString(ModBus::Port->PortName)});
  progress->setWindowTitle(QStringLiteral("Сканирование сети"));
  progress->Label1->setText(QStringLiteral("Проверяется адрес : 1"));
  progress->pbProgress->setMaximum(255);
  progress->pbProgress->setValue(1);
  progress->StartProgress();

  bool lost = false;
  for (int address = 0; address < 256 && progress->Running; ++address) {
    QProgressBar* bar = progress->pbProgress;
    bar->setValue(std::min(bar->value() + 1, bar->maximum()));
    progress->Label1->setText(QStringLiteral("Проверяется адрес : ") + QString::number(address));
    progress->repaint();
    uint8_t model = 0;
    if (LIR::ReadDeviceType(static_cast<uint8_t>(address), model)) {
      auto* node =
          new QTreeWidgetItem(root, {DeviceNodeText(static_cast<uint8_t>(address), model)});
      node->setData(0, Qt::UserRole, address * 256 + Main::HandledModel(model));
    } else if (ModBus::LastError() == ModBus::Error::PortLost) {
      lost = true;
      break;  // the addresses left would tell nothing
    }
    QCoreApplication::processEvents();  // where Cancel is seen
  }

  progress->StopProgress();
  delete progress;
  for (QAction* a : {actNetScan, actPortSelect, actPortConfig})
    a->setEnabled(true);
  Scanning = false;
  if (lost) return PortState->ScanStopped();
  StatusBar->showMessage(QStringLiteral("Список доступных устройств."));
}

void TMainForm::NetChange() {
  const QList<QTreeWidgetItem*> selected = Net->selectedItems();
  if (selected.isEmpty() || !selected.first()->parent()) return;
  const uint32_t data = selected.first()->data(0, Qt::UserRole).toUInt();
  Main::SelectedModel = data & 0xFF;
  Main::SelectedAddress = data >> 8;
}

void TMainForm::actSelectDeviceExecute() {
  const QList<QTreeWidgetItem*> selected = Net->selectedItems();
  if (!selected.isEmpty() && selected.first()->parent()) {
    EnableLIRControls();
    DeviceProp->setTitle(QStringLiteral(" ") + selected.first()->text(0) + QStringLiteral(" "));
    actGetChannelsParamExecute();
  } else {
    DisableLIRControls();
    DeviceProp->setTitle(kNoDevice);
    actPortSelectExecute();
  }
}

void TMainForm::actGetChannelsParamExecute() {
  Channels->setRowCount(0);
  const int count = Main::ChannelCount(Main::SelectedModel);
  const auto address = static_cast<uint8_t>(SelectedAddress);
  uint16_t state = 0;
  const bool stateRead = LIR::ReadChannelsState(address, state);
  LIR::ChannelParams params{};
  const bool paramsRead = LIR::ReadChannelsParam(address, 0, static_cast<uint8_t>(count), params);
  if (!stateRead || !paramsRead) DeviceError("Ошибка при обращении к устройству");

  Channels->setRowCount(count);
  for (int i = 0; i < count; ++i) {
    auto* caption = new QTableWidgetItem(QString::number(i + 1));
    if (stateRead)
      caption->setIcon(Images::Icon(
          GetBit(state, static_cast<uint8_t>(i)) ? Images::LampsRedLit : Images::LampsGreenLit));
    Channels->setItem(i, 0, caption);
    const QStringList texts =
        paramsRead ? ChannelTexts(params[static_cast<size_t>(i)]) : QStringList(10, "***");
    for (int c = 0; c < texts.size(); ++c)
      Channels->setItem(i, c + 1, new QTableWidgetItem(texts[c]));
  }
  Channels->viewport()->update();
  StatePoll->Shown(address, count, stateRead ? state : -1);
}

void TMainForm::ChannelsSelectItem(int row) {
  Main::SelectedChannel = row;
  const QString number = QString::number(Main::SelectedChannel + 1);
  actSetChannelsParam->setText(QStringLiteral("&Изменить параметры канала ") + number);
  actSetChannelsParam->setToolTip(QStringLiteral("Изменить параметры канала ") + number);
  actSetChannelsParam->setStatusTip(
      QStringLiteral("Изменение параметрв одного из каналов выбранного устройства"));
}

void TMainForm::btnTrafficClick() {
  TrafficForm->Toggle();
}

void TMainForm::actClockExecute() {
  ClockForm->Init(static_cast<uint8_t>(SelectedAddress));
  ClockForm->exec();
}

void TMainForm::actSetChannelsParamExecute() {
  SetChannelsParamForm->Init(static_cast<uint8_t>(SelectedAddress),
                             static_cast<uint8_t>(Main::SelectedModel),
                             static_cast<uint8_t>(Main::SelectedChannel));
  SetChannelsParamForm->exec();
  actGetChannelsParamExecute();
}

void TMainForm::actPasswordExecute() {
  PasswordForm->Init(static_cast<uint8_t>(SelectedAddress));
  PasswordForm->exec();
}

void TMainForm::actJournalExecute() {
  JournalForm->Init(static_cast<uint8_t>(SelectedAddress));
  JournalForm->exec();
}

void TMainForm::actSettingsExecute() {
  SettingsForm->Init(static_cast<uint8_t>(SelectedAddress),
                     static_cast<uint8_t>(Main::SelectedModel));
  SettingsForm->exec();
  actGetChannelsParamExecute();
}

void TMainForm::actPortConfigExecute() {
  PortConfigForm->exec();
}

TMainForm::PanelButton* TMainForm::Panel(QObject* button) {
  for (PanelButton& panel : Panels)
    if (panel.Button == button) return &panel;
  return nullptr;
}

bool TMainForm::PanelMouseDown(PanelButton& panel, Qt::MouseButton button) {
  if (button != Qt::LeftButton) return true;
  switch (LIR::CheckAccess(static_cast<uint8_t>(SelectedAddress))) {
    case LIR::AccessGranted:
      *panel.Held = true;  // the command goes out at the next tick, not from here
      StartTimerIfHeld();
      return true;
    case LIR::AccessDenied:
      *panel.Held = false;  // the box takes the release
      Platform::MessageBox("Невозможно обратится к устройству с адресом " +
                               Main::Bracketed(SelectedAddress) + ".\nНеобходимо ввести пароль.",
                           "Отказано в доступе.", Platform::MbOk | Platform::MbIconHand);
      return false;
    case LIR::AccessNoAnswer:
      *panel.Held = false;
      DeviceError("Ошибка при обращении к  устройству");
      return false;
    default:
      return true;
  }
}

void TMainForm::PanelMouseUp(PanelButton& panel) {
  *panel.Held = false;
  if (!panel.RereadOnRelease) return;
  Platform::Sleep(100);
  actGetChannelsParamExecute();
}

void TMainForm::StartTimerIfHeld() {
  // An idle program does not wake a thousand times a second: the timer runs while a
  // button is held.
  for (const PanelButton& panel : Panels)
    if (*panel.Held) {
      if (!Timer->isActive()) Timer->start();
      return;
    }
}

void TMainForm::NoteFault(uint8_t address, uint8_t function) {
  // A scan's silent addresses are its answer, not faults; a lost port is told by its label.
  const ModBus::Error error = ModBus::LastError();
  if (Scanning || error == ModBus::Error::PortLost) return;
  const QString text =
      QStringLiteral("Устройство %1, функция %2: %3.")
          .arg(QString::fromStdString(Main::Bracketed(address)), QString::number(function),
               QString::fromStdString(FrameDecode::FaultText(error, ModBus::LastException())));
  // A held panel button fails a thousand times a second: the text is set once.
  if (StatusBar->currentMessage() != text) StatusBar->showMessage(text);
}

void TMainForm::TimerTimer() {
  bool any = false;
  for (const PanelButton& panel : Panels) {
    if (!*panel.Held) continue;
    any = true;
    panel.Command(static_cast<uint8_t>(SelectedAddress));
  }
  if (!any) Timer->stop();
}

bool TMainForm::event(QEvent* event) {
  // The hints of what the pointer passes over while the scan pumps messages (the menu
  // just left, the tool bar) must not take the place of the scan's own text.
  if (event->type() == QEvent::StatusTip && Scanning) return true;
  return QMainWindow::event(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (PanelButton* panel = Panel(watched)) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
        // A refused press showed a box; the button must not stay down behind it.
        return !PanelMouseDown(*panel, static_cast<QMouseEvent*>(event)->button());
      case QEvent::MouseButtonRelease:
        PanelMouseUp(*panel);
        return false;
      case QEvent::KeyPress:
        // Every auto-repeat is a new press with a new access check.
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space)
          return !PanelMouseDown(*panel, Qt::LeftButton);
        return false;
      case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && !key->isAutoRepeat()) PanelMouseUp(*panel);
        return false;
      }
      // The release would go elsewhere, or nowhere: let go, which is no release (Сброс does
      // not re-read).
      case QEvent::FocusOut:
      case QEvent::WindowDeactivate:
      case QEvent::Hide:
        *panel->Held = false;
        return false;
      case QEvent::EnabledChange:
        if (!panel->Button->isEnabled()) *panel->Held = false;
        return false;
      default:
        return false;
    }
  }
  if (watched == DeviceProp && event->type() == QEvent::Resize) {
    LayOutDeviceProp();
    return false;
  }
  const bool leftDoubleClick = event->type() == QEvent::MouseButtonDblClick &&
                               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
  if (watched == Net->viewport() && leftDoubleClick) {
    actSelectDeviceExecute();  // the press before it has selected the node
    return true;
  }
  if (watched == Channels->viewport() && leftDoubleClick) {
    actSetChannelsParamExecute();  // any double-click in the list, on a row or below them
    return true;
  }
  if (watched == Net && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      actSelectDeviceExecute();
      return true;
    }
  }
  if (watched == Channels && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Space) {
      actGetChannelsParamExecute();
      return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      actSetChannelsParamExecute();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::LayOutDeviceProp() {
  // The table follows all four edges, the panel buttons the right and bottom ones.
  const int dx = DeviceProp->width() - kDevicePropWidth;
  const int dy = DeviceProp->height() - kDevicePropHeight;
  Channels->setGeometry(2, 15, 620 + dx, 243 + dy);
  const int lefts[] = {78, 168, 258, 348, 438, 528};
  QPushButton* buttons[] = {btnPusk, btnStop, btnControl, btnKvitir, btnSbros, btnRestart};
  for (int i = 0; i < 6; ++i)
    buttons[i]->setGeometry(lefts[i] + dx, 267 + dy, 90, 25);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  event->accept();
  // A scan or a journal reading under way stops at its next step, sending nothing more;
  // then closing the main window ends the program, whatever other window is open.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* progress = qobject_cast<TProgressForm*>(window)) progress->btnCancelClick();
  QCoreApplication::quit();
}

void CreateForms() {
  Images::Init();
  QApplication::setApplicationName(QStringLiteral("Ирвалон"));
  // Qt's own dialogs (the file dialog of the additions) speak the program's language too;
  // without Qt's translations they stay in English.
  auto* qt = new QTranslator(qApp);
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  for (const QString& folder : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                QCoreApplication::applicationDirPath() + "/translations"})
    if (qt->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) break;
  if (qt->isEmpty() || !QCoreApplication::installTranslator(qt)) delete qt;
  QFont font = QApplication::font();
  font.setPointSize(8);
  QApplication::setFont(font);

  MainForm = new TMainForm();
  Platform::SetApplicationWindow(Platform::WindowOf(MainForm));
  PortSelectForm = new TPortSelectForm();
  ClockForm = new TClockForm();
  SetChannelsParamForm = new TSetChannelsParamForm();
  PortConfigForm = new TPortConfigForm();
  PasswordForm = new TPasswordForm();
  JournalForm = new TJournalForm();
  SettingsForm = new TSettingsForm();
  TrafficForm = new TTrafficForm();
  MainForm->show();
}
