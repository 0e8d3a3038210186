// The configuration of the unit in use as a file: saved as the unit holds it, loaded only
// after the engineer has seen what it would change, and checked by reading it back.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <memory>
#include <string>
#include <vector>

#include "device/UnitConfig.h"
#include "platform/Ui.h"
#include "ui/common/Files.h"
#include "ui/dialogs/ConfigDiff.h"
#include "ui/dialogs/Progress.h"
#include "ui/main/Main.h"

namespace {

constexpr char kNothingWritten[] = "Ничего не записано.";
constexpr size_t kMostListed = 10;  // a longer box would not be read

QString Filter() {
  return QStringLiteral("Файлы конфигурации (*.json);;Все файлы (*)");
}

uint8_t Address() {
  return static_cast<uint8_t>(Main::SelectedAddress);
}

uint8_t Model() {
  return static_cast<uint8_t>(Main::SelectedModel);
}

std::string Unit() {
  return Main::Bracketed(Main::SelectedAddress);
}

std::string PathText(const QString& path) {
  return QDir::toNativeSeparators(path).toStdString();
}

void Error(const std::string& text, const char* title = "Внимание!") {
  Platform::MessageBox(text, title, Platform::MbOk | Platform::MbIconHand);
}

void Information(const std::string& text) {
  Platform::MessageBox(text, "Конфигурация устройства", Platform::MbOk | Platform::MbIconAsterisk);
}

// "ЛИР-8М"; a code the tool does not know is named as such, not as "неопознанный".
std::string ModelText(uint8_t model) {
  if (model == LIR::Model4M || model == LIR::Model8M || model == LIR::Model12M)
    return LIR::ModelName(model);
  return "прибора с кодом модели " + std::to_string(model);
}

// One line a difference, the first few of them.
std::string Listed(const std::vector<LIR::Difference>& differences) {
  std::string text;
  for (size_t i = 0; i < differences.size() && i < kMostListed; ++i) {
    const LIR::DifferenceText t = LIR::Describe(differences[i]);
    text += "\n" + t.Field + " — в устройстве " + t.InUnit + ", в файле " + t.InFile;
  }
  if (differences.size() > kMostListed)
    text += "\n… и ещё " + std::to_string(differences.size() - kMostListed);
  return text;
}

}  // namespace

TMainForm::ConfigRead TMainForm::ReadConfig(LIR::UnitConfig& config) {
  static const QString kSteps[] = {QStringLiteral("Читаются параметры каналов"),
                                   QStringLiteral("Читаются настройки"),
                                   QStringLiteral("Читается тип общего реле")};
  auto progress = std::make_unique<TProgressForm>();
  progress->setWindowTitle(QStringLiteral("Чтение конфигурации"));
  progress->Label1->setText(kSteps[0]);
  progress->pbProgress->setRange(0, LIR::kReadSteps);
  progress->pbProgress->setValue(0);
  progress->StartProgress();
  progress->Repaint();
  const bool read = LIR::ReadUnitConfig(Address(), Model(), config, [&progress](int done) {
    progress->pbProgress->setValue(done);
    if (done < LIR::kReadSteps) progress->Label1->setText(kSteps[done]);
    progress->Repaint();
    QCoreApplication::processEvents();  // where Cancel is seen
    return progress->Running;
  });
  const bool cancelled = !progress->Running;
  progress->StopProgress();
  if (read) return ConfigRead::Done;
  return cancelled ? ConfigRead::Cancelled : ConfigRead::Failed;
}

void TMainForm::actSaveConfigExecute() {
  const QString suggested =
      QStringLiteral("конфигурация-%1-%2-%3.json")
          .arg(Address())
          .arg(QString::fromStdString(LIR::ModelName(Model())))
          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
  const QString path = Files::AskSaveName(
      this, QStringLiteral("Сохранить конфигурацию устройства ") + QString::fromStdString(Unit()),
      suggested, Filter());
  if (!path.isEmpty()) SaveConfig(path);
}

bool TMainForm::SaveConfig(const QString& path) {
  LIR::UnitConfig config;
  switch (ReadConfig(config)) {
    case ConfigRead::Cancelled:
      return false;
    case ConfigRead::Failed:
      Error("Ошибка при получении параметров от устройства " + Unit() +
            "\nФайл конфигурации не записан.");
      return false;
    case ConfigRead::Done:
      break;
  }
  config.ReadTime =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
  if (!Files::Write(path, LIR::ToJson(config))) return false;
  StatusBar->showMessage(QStringLiteral("Конфигурация устройства %1 сохранена в файл %2")
                             .arg(QString::fromStdString(Unit()), QDir::toNativeSeparators(path)),
                         10000);
  // Such a file is refused when loaded: better known now than at the next unit.
  std::string unknown;
  for (int n = 0; n < LIR::ChannelsOf(config.Model); ++n)
    if (config.Params[static_cast<size_t>(n)].Zvuk == LIR::kUnknownSound)
      unknown += (unknown.empty() ? "" : ", ") + std::to_string(n + 1);
  if (!unknown.empty())
    Platform::MessageBox("Звук каналов " + unknown + " устройства " + Unit() +
                             " не определён, и в файле он пуст.\nЧтобы загрузить этот файл в "
                             "устройство, задайте в нём звук этих каналов.",
                         "Внимание!", Platform::MbOk | Platform::MbIconExclamation);
  return true;
}

void TMainForm::actLoadConfigExecute() {
  const QString path = Files::AskOpenName(
      this, QStringLiteral("Загрузить конфигурацию в устройство ") + QString::fromStdString(Unit()),
      Filter());
  if (!path.isEmpty()) LoadConfig(path);
}

std::vector<LIR::Difference> TMainForm::LoadConfig(const QString& path) {
  // Everything about the file is settled before anything is sent.
  std::string text, error;
  if (!Files::Read(path, text)) return {};
  LIR::UnitConfig file;
  if (!LIR::FromJson(text, file, error)) {
    Error(error + "\n" + PathText(path) + "\n" + kNothingWritten);
    return {};
  }
  if (file.Model != Model()) {
    Error("Файл конфигурации для " + ModelText(file.Model) + ", а устройство " + Unit() + " — " +
          ModelText(Model()) + ".\n" + kNothingWritten);
    return {};
  }

  LIR::UnitConfig unit;
  switch (ReadConfig(unit)) {
    case ConfigRead::Cancelled:
      return {};
    case ConfigRead::Failed:
      Error("Ошибка при получении параметров от устройства " + Unit() + "\n" + kNothingWritten);
      return {};
    case ConfigRead::Done:
      break;
  }
  const std::vector<LIR::Difference> differences = LIR::Compare(unit, file);
  if (differences.empty()) {
    Information("Конфигурация устройства " + Unit() + " совпадает с файлом.\n" + kNothingWritten);
    return {};
  }

  TConfigDiffForm form(this);
  form.Init(Address(), path, file, differences);
  if (form.exec() != QDialog::Accepted) return differences;
  switch (LIR::CheckAccess(Address())) {
    case LIR::AccessGranted:
      break;
    case LIR::AccessDenied:
      Error("Невозможно записать конфигурацию в устройство с адресом " + Unit() +
                ".\nНеобходимо ввести пароль.",
            "Отказано в доступе.");
      return differences;
    default:
      Error("Ошибка при передаче параметров устройству " + Unit() + "\n" + kNothingWritten);
      return differences;
  }
  ReportWritten(file, LIR::WriteUnitConfig(Address(), file));
  actGetChannelsParamExecute();  // the table shows what the unit holds now
  return differences;
}

void TMainForm::ReportWritten(const LIR::UnitConfig& file, bool written) {
  // A write that failed may have been taken in part: what the unit holds is read in any case.
  const std::string failed =
      written ? std::string()
              : "Ошибка при передаче параметров устройству " + Unit() + ": записано не всё.\n";
  LIR::UnitConfig unit;
  switch (ReadConfig(unit)) {
    case ConfigRead::Cancelled:
      if (written)
        Information("Конфигурация из файла записана в устройство " + Unit() +
                    ".\nПроверка записанного отменена.");
      else
        Error(failed + "Проверка записанного отменена.");
      return;
    case ConfigRead::Failed:
      Error(failed + "Ошибка при получении параметров от устройства " + Unit() +
            ": записанное не проверено.");
      return;
    case ConfigRead::Done:
      break;
  }
  const std::vector<LIR::Difference> left = LIR::Compare(unit, file);
  if (left.empty()) {
    Information("Конфигурация из файла записана в устройство " + Unit() +
                ".\nПрочитанное из устройства совпадает с файлом.");
    return;
  }
  Error(failed + "После записи в устройстве " + Unit() +
        " отличаются от файла значений: " + std::to_string(left.size()) + Listed(left));
}
