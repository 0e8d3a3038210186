// The traffic monitor as the user sees it: cells judged by their pixels, the ring's wrap, the
// clear and the resize.

#include <QScreen>
#include <numeric>
#include <random>

#include "Harness.h"

using Frame = std::vector<uint8_t>;
using namespace Qt::StringLiterals;

class TrafficTest : public QObject {
  Q_OBJECT

  const Frame kRequest{0x01, 0x04, 0x00, 0x32, 0x00, 0x01, 0x90, 0x05};
  const Frame kAnswer{0x01, 0x04, 0x02, 0x00, 0x07, 0xF8, 0xF2};
  TTrafficForm* form_ = nullptr;
  Gui::Line line_{Sim::LineSetup{}, {Gui::Unit(1, 6)}};

  void Add(const Frame& bytes, uint8_t way) { form_->AddBytes(bytes.data(), bytes.size(), way); }

  // The last count cells of a row (0 the bottom one), left to right, as the window holds them
  // now with no event processed: 's' sent, 'r' received, '.' empty. Judged whatever the font:
  // a received cell by its own fill in the text colour, sampled where no glyph is (below the
  // baseline: hex digits have no descenders) and no older cell is drawn over it; a sent cell
  // by digits in the text colour on the face colour.
  QString Row(int row, int count) {
    const QImage picture = form_->screen()->grabWindow(form_->winId()).toImage();
    const QRect box = form_->pbBox->geometry();
    const QPalette& colours = form_->pbBox->palette();
    const QColor text = colours.color(QPalette::WindowText), face = colours.color(QPalette::Button);
    const QFontMetrics metrics(form_->pbBox->font());
    // The older cell to the left is drawn over this one's leading edge, as wide as its text.
    int left = 0, right = 20;
    for (int value = 0; value < 256; ++value) {
      const int width = metrics.horizontalAdvance(QString::asprintf(" %02X", value));
      left = std::max(left, width - 20 + 1);  // and a glyph's edge beyond it
      right = std::min(right, width);
    }
    const auto nearText = [&](QRgb pixel) {
      const auto distance = [pixel](const QColor& c) {
        return std::abs(qRed(pixel) - c.red()) + std::abs(qGreen(pixel) - c.green()) +
               std::abs(qBlue(pixel) - c.blue());
      };
      return distance(text) < distance(face);
    };
    QString cells;
    for (int k = count - 1; k >= 0; --k) {
      const int x = box.right() + 1 - 24 - 20 * k, y = box.bottom() + 1 - 16 - 16 * row;
      int area = 0, fill = 0, faceFill = 0, digits = 0;
      for (int dy = 0; dy < metrics.height() && y + dy <= box.bottom(); ++dy)
        for (int dx = left; dx < right; ++dx) {
          const QRgb pixel = picture.pixel(x + dx, y + dy) | 0xFF000000u;
          if (dy > metrics.ascent()) {
            ++area;
            fill += pixel == text.rgb();
            faceFill += pixel == face.rgb();
          } else if (dy >= metrics.height() - 16) {  // the older row above is drawn over the top
            digits += nearText(pixel);
          }
        }
      if (area == 0) return u"no fill to judge with this font"_s;
      cells += QLatin1Char(fill == area                     ? 'r'
                           : faceFill == area && digits > 0 ? 's'
                           : fill == 0 && digits == 0       ? '.'
                                                            : '?');
    }
    return cells;
  }

 private slots:
  void initTestCase() { QVERIFY(ModBus::Port->Open()); }

  void init() {
    TrafficForm = form_ = new TTrafficForm();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
  }

  void cleanup() {
    delete form_;
    QVERIFY(!TrafficForm);  // a freed monitor takes no more frames
  }

  // Read from the window with no event processed in between: drawn at once.
  void requestThenAnswerInTheirColours() {
    QCOMPARE(Row(0, 36), QString(36, '.'));
    Add(kRequest, ModBus::Sent);
    QCOMPARE(Row(0, 10), u"..ssssssss"_s);
    QCOMPARE(Row(1, 36), QString(36, '.'));
    Add(kAnswer, ModBus::Received);
    QCOMPARE(Row(0, 17), u"..ssssssssrrrrrrr"_s);
    QCOMPARE(form_->CellTexts().join(""), u" F2 F8 07 00 02 04 01 05 90 01 00 32 00 04 01"_s);
    Gui::Snapshot(form_, "traffic");
    Add({5, 200, 10, 255, 0}, ModBus::Received);
    QCOMPARE(form_->CellTexts().mid(0, 5), (QStringList{" 00", " FF", " 0A", " C8", " 05"}));
  }

  void ringWrapsResizesAndClears() {
    form_->hide();  // records all the same
    Frame fill(65535);
    std::iota(fill.begin(), fill.end(), 0);
    Add(fill, ModBus::Sent);
    QVERIFY(form_->LastIndex == 65534 && !form_->Wrapped);
    Add({0xAB}, ModBus::Received);
    QVERIFY(form_->LastIndex == 0 && form_->Wrapped && form_->Bytes[0] == 0xAB &&
            form_->Directions[0] == ModBus::Received);
    form_->show();
    // Newest first across the wrap: slot 0, then 65534 and down (their bytes 0xFE, 0xFD...).
    const QStringList texts = form_->CellTexts();
    QCOMPARE(texts.size(), 144);  // 36 a row, 4 rows
    QCOMPARE(texts.mid(0, 2) + texts.mid(143), (QStringList{" AB", " FE", " 70"}));
    QVERIFY(
        Gui::WaitFor([&] { return Row(0, 3) == "ssr" && Row(3, 36) == QString(36, 's'); }, 5000));

    form_->resize(412, 46);
    QVERIFY(
        Gui::WaitFor([&] { return Row(1, 20) == QString(20, 's') && Row(0, 2) == "sr"; }, 5000));
    QCOMPARE(form_->CellTexts().size(), 40);  // 20 a row, 2 rows

    QCOMPARE(form_->pmMenu->actions().value(0)->text(), u"Очистить"_s);  // the box's popup
    form_->pmMenu->actions().value(0)->trigger();
    QVERIFY(!form_->Wrapped && form_->CellTexts().isEmpty());
    QCOMPARE(Row(0, 20), QString(20, '.'));  // the box is empty on the screen at once
    Add({1, 2, 3}, ModBus::Sent);
    QCOMPARE(Row(0, 5), u"..sss"_s);
    QCOMPARE(form_->CellTexts(), (QStringList{" 03", " 02", " 01"}));
  }

  // The box as drawn frame by frame is every cell drawn afresh, pixel for pixel: across the
  // ends of rows, the ring's wrap, frames longer than the box, resizes, a time hidden, a clear,
  // another font and other colours.
  void drawnAsEveryCellAfresh() {
    QWidget* box = form_->pbBox;
    const auto afresh = [&] {
      const QImage shown = form_->screen()->grabWindow(form_->winId()).toImage();
      QImage cells(box->size(), QImage::Format_RGB32);
      cells.fill(box->palette().color(box->backgroundRole()));
      QPainter canvas(&cells);
      form_->DrawEveryCell(canvas);
      canvas.end();
      return shown.copy(box->geometry()).convertToFormat(QImage::Format_RGB32) == cells;
    };
    const auto resize = [&](int width, int height) {
      form_->resize(width, height);
      return Gui::WaitFor([&] { return box->size() == QSize(width, height); }, 5000);
    };
    form_->SetArraySize(700);
    std::mt19937 random(7);
    for (int frame = 0; frame < 400; ++frame) {
      if (frame == 120) QVERIFY(resize(412, 46));
      if (frame == 180) QVERIFY(resize(900, 130));
      if (frame == 200) form_->hide();
      if (frame == 210) {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
        QVERIFY(Gui::WaitFor(afresh, 5000));
      }
      if (frame == 260) form_->miClearClick();
      if (frame == 300) {
        QFont font = box->font();
        font.setPixelSize(15);
        box->setFont(font);
      }
      if (frame == 350) {
        QPalette colours = box->palette();
        colours.setColor(QPalette::Button, Qt::yellow);
        box->setPalette(colours);
      }
      Frame bytes(frame % 40 == 39 ? 600 : 1 + random() % 30);
      for (uint8_t& b : bytes)
        b = uint8_t(random());
      Add(bytes, uint8_t(random() % 2));
      if (form_->isVisible()) QVERIFY2(afresh(), qPrintable(QString::number(frame)));
    }
  }

  // A newer monitor has taken the master's frames: freeing the older one leaves them to it.
  void aNewerMonitorKeepsTheFrames() {
    auto* newer = new TTrafficForm();
    delete form_;
    TrafficForm = form_ = newer;
    ModBus::RegisterArray regs{};
    QVERIFY(ModBus::ReadInputRegisters(1, 4, 1, regs));
    QCOMPARE(newer->LastIndex, 14);  // the request and its answer
  }
};

QTEST_MAIN(TrafficTest)
#include "TrafficTest.moc"
