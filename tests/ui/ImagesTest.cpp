// The pictures: every one draws, bad indices are harmless, and the lamps read as the
// channel states they stand for.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <QtTest>
#include <cstdlib>

#include "ui/main/Images.h"

namespace {

// The mean colour of the 2 x 2 pixels at the middle of a lamp (lamp 0 left, 1 right).
QColor LampCentre(int index, int lamp) {
  const QImage image = Images::Pixmap(index, 16).toImage().convertToFormat(QImage::Format_ARGB32);
  const int x0 = lamp == 0 ? 3 : 11;
  int r = 0, g = 0, b = 0;
  for (int y = 7; y <= 8; ++y) {
    for (int x = x0; x <= x0 + 1; ++x) {
      const QColor c = image.pixelColor(x, y);
      r += c.red();
      g += c.green();
      b += c.blue();
    }
  }
  return QColor(r / 4, g / 4, b / 4);
}

bool Close(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 6 && std::abs(a.green() - b.green()) <= 6 &&
         std::abs(a.blue() - b.blue()) <= 6;
}

QByteArray Name(const QColor& c) {
  return c.name().toLatin1();
}

}  // namespace

class ImagesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { Images::Init(); }

  void everyPictureDraws_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < Images::Count; ++i)
      QTest::addRow("%02d", i) << i;
  }

  void everyPictureDraws() {
    QFETCH(int, index);
    const QPixmap pixmap = Images::Pixmap(index);
    QVERIFY(!pixmap.isNull());
    QCOMPARE(pixmap.size(), QSize(16, 16));
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int opaque = 0, clear = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        const int alpha = qAlpha(image.pixel(x, y));
        opaque += alpha == 255;
        clear += alpha == 0;
      }
    }
    QVERIFY2(opaque >= 20, qPrintable(QString::number(opaque)));
    QVERIFY(clear > 0);  // drawn on a transparent ground, not a filled square

    const QIcon icon = Images::Icon(index);
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(16).size(), QSize(16, 16));
    QCOMPARE(Images::Pixmap(index, 40).size(), QSize(40, 40));
  }

  // A slip in the index table would show one picture under two indices.
  void everyPictureDiffers() {
    QSet<QByteArray> seen;
    for (int i = 0; i < Images::Count; ++i) {
      const QImage image = Images::Pixmap(i).toImage().convertToFormat(QImage::Format_ARGB32);
      seen.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                             static_cast<int>(image.sizeInBytes())));
    }
    QCOMPARE(seen.size(), Images::Count);
  }

  void outOfRangeIsNull() {
    for (int index : {-1, Images::Count, 1000}) {
      QVERIFY(Images::Icon(index).isNull());
      QVERIFY(Images::Pixmap(index).isNull());
    }
    QVERIFY(Images::Pixmap(Images::Door, 0).isNull());
    QVERIFY(Images::Pixmap(Images::Door, -16).isNull());
  }

  void lampsReadAsTheirStates() {
    const QColor greenLit = LampCentre(Images::LampsLit, 0);
    const QColor redLit = LampCentre(Images::LampsLit, 1);
    const QColor greenDark = LampCentre(Images::LampsDark, 0);
    const QColor redDark = LampCentre(Images::LampsDark, 1);

    QVERIFY2(greenLit.green() >= 160, Name(greenLit));
    QVERIFY2(greenLit.green() - std::max(greenLit.red(), greenLit.blue()) >= 80, Name(greenLit));
    QVERIFY2(redLit.red() >= 200, Name(redLit));
    QVERIFY2(redLit.red() - std::max(redLit.green(), redLit.blue()) >= 100, Name(redLit));

    // Dark, yet still telling which lamp is which.
    QVERIFY2(greenDark.lightness() * 2 < greenLit.lightness(), Name(greenDark));
    QVERIFY2(redDark.lightness() * 2 < redLit.lightness(), Name(redDark));
    QVERIFY2(greenDark.green() > greenDark.red(), Name(greenDark));
    QVERIFY2(redDark.red() > redDark.green(), Name(redDark));

    // The one-lit pairs are made of the same lamps, in the same places.
    QVERIFY(Close(LampCentre(Images::LampsRedLit, 0), greenDark));
    QVERIFY(Close(LampCentre(Images::LampsRedLit, 1), redLit));
    QVERIFY(Close(LampCentre(Images::LampsGreenLit, 0), greenLit));
    QVERIFY(Close(LampCentre(Images::LampsGreenLit, 1), redDark));
  }

  // For a person to judge: all pictures at 16 px on light and dark ground, and at 4x.
  void contactSheet() {
    const char* folder = std::getenv("LIR_SCREENSHOTS");
    if (!folder || !*folder) QSKIP("LIR_SCREENSHOTS is not set");
    constexpr int PerRow = 11, Cell = 72, Band = 112;
    QImage sheet(PerRow * Cell, (Images::Count + PerRow - 1) / PerRow * Band,
                 QImage::Format_ARGB32);
    sheet.fill(QColor(0xf0, 0xf0, 0xf0));
    QPainter painter(&sheet);
    for (int i = 0; i < Images::Count; ++i) {
      const int x = i % PerRow * Cell + 4, y = i / PerRow * Band + 4;
      const QImage image = Images::Pixmap(i).toImage();
      painter.drawImage(x, y, image);
      painter.fillRect(x + 20, y, 16, 16, Qt::white);
      painter.drawImage(x + 20, y, image);
      painter.fillRect(x + 40, y, 16, 16, QColor(0x30, 0x30, 0x30));
      painter.drawImage(x + 40, y, image);
      painter.fillRect(x, y + 20, 64, 64, Qt::white);
      painter.drawImage(x, y + 20, image.scaled(64, 64));
    }
    painter.end();
    QDir().mkpath(QString::fromLocal8Bit(folder));
    QVERIFY(sheet.save(QString::fromLocal8Bit(folder) + "/images-sheet.png"));
  }
};

QTEST_MAIN(ImagesTest)
#include "ImagesTest.moc"
