#include "ui/common/Files.h"

#include <QFile>
#include <QFileDialog>
#include <QSaveFile>

#include "platform/Ui.h"

namespace Files {
namespace {

constexpr qint64 kMostRead = 16 * 1024 * 1024;  // far beyond any file of the tool's

void Refused(const char* what, const QString& path) {
  Platform::MessageBox(std::string(what) + "\n" + path.toStdString(), "Внимание!",
                       Platform::MbOk | Platform::MbIconHand);
}

}  // namespace

QString AskSaveName(QWidget* parent, const QString& title, const QString& suggested,
                    const QString& filter) {
  return QFileDialog::getSaveFileName(parent, title, suggested, filter);
}

QString AskOpenName(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

bool Write(const QString& path, const std::string& bytes) {
  QSaveFile file(path);
  const bool written = file.open(QIODevice::WriteOnly) &&
                       file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                           static_cast<qint64>(bytes.size()) &&
                       file.commit();
  if (!written) Refused("Не удается записать файл", path);
  return written;
}

bool Read(const QString& path, std::string& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMostRead) {
    Refused("Не удается прочитать файл", path);
    return false;
  }
  const QByteArray data = file.readAll();
  bytes.assign(data.constData(), static_cast<size_t>(data.size()));
  return true;
}

}  // namespace Files
