#include "ui/main/Images.h"

#include <QCoreApplication>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <array>

// Q_INIT_RESOURCE declares a function of its own, which only works outside a namespace.
static void InitImagesResource() {
  Q_INIT_RESOURCE(Images);
}

namespace Images {
namespace {

constexpr int MaxSize = 1024;

constexpr std::array<const char*, Count> Files = {
    "00-door.svg",        "01-tools.svg",         "02-help-book.svg",       "03-node-tree.svg",
    "04-com-port.svg",    "05-clock.svg",         "06-notepad.svg",         "07-plug.svg",
    "08-arrows-blue.svg", "09-arrows-green.svg",  "10-arrows-magenta.svg",  "11-arrow-blue.svg",
    "12-arrow-green.svg", "13-arrow-magenta.svg", "14-magnifier.svg",       "15-lamps-dark.svg",
    "16-lamps-lit.svg",   "17-lamps-red-lit.svg", "18-lamps-green-lit.svg", "19-key.svg",
    "20-pushbutton.svg",  "21-gears.svg",
};

// The sizes an icon carries ready-made: the usual ones for 100% to 400% screens.
constexpr std::array<int, 6> IconSizes = {16, 20, 24, 32, 48, 64};

struct Cache {
  QHash<int, QPixmap> pixmaps;  // by index * (MaxSize + 1) + size
  std::array<QIcon, Count> icons;
  bool watched = false;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

// Pixmaps must not outlive the application object; a later one starts a fresh cache.
void Clear() {
  Cache& cache = TheCache();
  cache.pixmaps.clear();
  cache.icons.fill(QIcon());
  cache.watched = false;
}

void Watch() {
  Cache& cache = TheCache();
  if (cache.watched) return;
  qAddPostRoutine(Clear);
  cache.watched = true;
}

bool Valid(int index) {
  return index >= 0 && index < Count;
}

QPixmap Render(int index, int size) {
  QSvgRenderer renderer(QStringLiteral(":/images/") + QLatin1String(Files[index]));
  if (!renderer.isValid()) return {};
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter, QRectF(0, 0, size, size));
  painter.end();
  return QPixmap::fromImage(image);
}

}  // namespace

void Init() {
  static bool done = false;
  if (done) return;
  InitImagesResource();
  done = true;
}

QPixmap Pixmap(int index, int size) {
  if (!Valid(index) || size < 1 || size > MaxSize) return {};
  Init();
  Watch();
  QHash<int, QPixmap>& pixmaps = TheCache().pixmaps;
  const int key = index * (MaxSize + 1) + size;
  auto found = pixmaps.constFind(key);
  if (found != pixmaps.constEnd()) return *found;
  const QPixmap pixmap = Render(index, size);
  pixmaps.insert(key, pixmap);
  return pixmap;
}

QIcon Icon(int index) {
  if (!Valid(index)) return {};
  QIcon& icon = TheCache().icons[index];
  if (icon.isNull()) {
    for (int size : IconSizes) {
      const QPixmap pixmap = Pixmap(index, size);
      if (!pixmap.isNull()) icon.addPixmap(pixmap);
    }
  }
  return icon;
}

}  // namespace Images
