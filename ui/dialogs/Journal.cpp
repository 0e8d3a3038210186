#include "ui/dialogs/Journal.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QResizeEvent>
#include <algorithm>
#include <memory>
#include <string>

#include "platform/Ui.h"
#include "ui/common/Fit.h"
#include "ui/dialogs/Progress.h"
#include "ui/main/Images.h"
#include "ui/main/Main.h"

TJournalForm* JournalForm = nullptr;

namespace {

constexpr uint16_t kRingSize = 1000;
constexpr int kColumnWidths[] = {59, 70, 70, 70, 70};
// The design's client size; the list grows with the window, the buttons keep to its
// lower right corner.
constexpr int kDesignWidth = 359, kDesignHeight = 349;

// The i-th record to read (from 0), newest first: latest downwards, then on from 1000.
// A latest record of 0 reads from 1000.
uint16_t RecordNumber(uint16_t latest, int i) {
  const int back = (latest - 1 - i) % kRingSize;
  return static_cast<uint16_t>((back + kRingSize) % kRingSize + 1);
}

// Two digits at least; a value of 100 or more is printed in full.
QString TwoDigits(int value) {
  return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString DateText(const LIR::JournalRecord& r) {
  return TwoDigits(r.Day) + '.' + TwoDigits(r.Month) + '.' + QString::number(2000 + r.Year);
}

QString TimeText(const LIR::JournalRecord& r) {
  return TwoDigits(r.Hour) + ':' + TwoDigits(r.Minute) + ':' + TwoDigits(r.Second);
}

}  // namespace

TJournalForm::TJournalForm(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  resize(kDesignWidth, kDesignHeight);
  // Narrower than this the buttons would overlap "Сохранить…" at the left.
  setMinimumSize(kDesignWidth, 120);
  setWindowIcon(Images::Icon(Images::Notepad));
  // Titles from the left, as a list view has them, in two lines where one is too narrow.
  Journal->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int c = 0; c < Journal->columnCount(); ++c)
    Journal->setColumnWidth(c, kColumnWidths[c]);
  TTitleHeader::Install(Journal, 2);
  Journal->verticalHeader()->setDefaultSectionSize(Journal->fontMetrics().height() + 4);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnRefresh, &QPushButton::clicked, this, [this] { btnRefreshClick(); });
  connect(btnClear, &QPushButton::clicked, this, [this] { btnClearClick(); });
  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  Fit::FitButtonText(btnSave, 2);
}

void TJournalForm::resizeEvent(QResizeEvent* event) {
  const int dx = width() - kDesignWidth, dy = height() - kDesignHeight;
  Journal->resize(351 + dx, 309 + dy);
  btnRefresh->move(70 + dx, 318 + dy);
  btnClear->move(168 + dx, 318 + dy);
  btnOk->move(266 + dx, 318 + dy);
  btnSave->move(4, 318 + dy);
  QDialog::resizeEvent(event);
}

void TJournalForm::AccessError() {
  Platform::MessageBox("Ошибка при обращении к  устройству " + Main::Bracketed(Address),
                       "Внимание!", Platform::MbOk | Platform::MbIconHand);
}

void TJournalForm::Init(uint8_t address) {
  setWindowTitle(QStringLiteral("Журнал устройства [%1]").arg(int{address}));
  Address = address;
  ReadTime = QDateTime::currentDateTime();
  Journal->setRowCount(0);
  btnClear->setEnabled(true);

  uint16_t latest = 0, count = 0;
  if (!LIR::ReadJournalInfo(address, latest, count)) {
    AccessError();
    btnClear->setEnabled(false);
    return;
  }
  // Outside the ring the reading order would ask for records the unit does not have.
  // Clearing is what sets such counters right, so Clear stays.
  if (latest > kRingSize || count > kRingSize) {
    Platform::MessageBox("Устройство " + Main::Bracketed(address) +
                             " передало неверные сведения о журнале: последняя запись " +
                             std::to_string(latest) + ", записей " + std::to_string(count) + ".",
                         "Внимание!", Platform::MbOk | Platform::MbIconHand);
    btnClear->setEnabled(count > 0);
    return;
  }
  if (count == 0) {
    btnClear->setEnabled(false);
    return;
  }
  ReadRecords(latest, count);
}

void TJournalForm::ReadRecords(uint16_t latest, uint16_t count) {
  auto progress = std::make_unique<TProgressForm>();
  progress->setWindowTitle(QStringLiteral("Чтение журнала"));
  progress->Label1->setText(QStringLiteral("Читается запись : 1"));
  progress->pbProgress->setMaximum(count);
  progress->pbProgress->setValue(1);
  // Over this dialog in its modal run (Refresh) a window that is not modal itself gets no
  // input, and Cancel could not be pressed.
  progress->setWindowModality(Qt::ApplicationModal);
  progress->StartProgress();

  int n = 0;
  bool failed = false;
  // A row a record, as read; the list is painted once at the end, since painting it a row at
  // a time costs as much as a quick transaction.
  Journal->setUpdatesEnabled(false);
  for (int i = 0; i < count; ++i) {
    LIR::JournalRecord record{};
    if (!LIR::ReadJournalRecord(Address, RecordNumber(latest, i), record)) {
      failed = true;
      break;
    }
    ++n;
    QProgressBar* bar = progress->pbProgress;
    bar->setValue(std::min(bar->value() + 1, bar->maximum()));
    progress->Label1->setText(QStringLiteral("Читается запись : %1").arg(n + 1));
    progress->Pump();
    if (!progress->Running) break;
    AddRow(n, RecordNumber(latest, i), record);
  }
  Journal->setUpdatesEnabled(true);
  progress->Settle();
  if (failed) AccessError();

  progress->StopProgress();
}

void TJournalForm::AddRow(int number, uint16_t k, const LIR::JournalRecord& record) {
  const int row = Journal->rowCount();
  Journal->insertRow(row);
  const QString texts[] = {QString::number(number), DateText(record), TimeText(record),
                           QString::number(record.Channel),
                           record.Alarm ? QStringLiteral("Авария") : QStringLiteral("Норма")};
  for (int c = 0; c < 5; ++c)
    Journal->setItem(row, c, new QTableWidgetItem(texts[c]));
  Journal->item(row, 0)->setData(Qt::UserRole, k);  // the unit's own number, for the file
}

void TJournalForm::btnRefreshClick() {
  Init(Address);
}

void TJournalForm::btnClearClick() {
  // Asked before anything reaches the unit: its journal cannot be had back.
  if (Platform::MessageBox("Очистить журнал?", "Подтвердите",
                           Platform::MbYesNo | Platform::MbIconQuestion) != Platform::IdYes)
    return;
  switch (LIR::CheckAccess(Address)) {
    case LIR::AccessNoAnswer:
      AccessError();
      btnClear->setEnabled(false);
      return;
    case LIR::AccessDenied:
      Platform::MessageBox("Невозможно очистить журнал устройства с адресом " +
                               Main::Bracketed(Address) + ".\nНеобходимо ввести пароль.",
                           "Отказано в доступе.", Platform::MbOk | Platform::MbIconHand);
      return;
    default:
      break;
  }
  // Unanswered, the unit's journal is not known to be gone: the list stays.
  if (!LIR::ClearJournal(Address)) {
    AccessError();
    return;
  }
  Journal->setRowCount(0);
  Journal->repaint();
  btnClear->setEnabled(false);
}
