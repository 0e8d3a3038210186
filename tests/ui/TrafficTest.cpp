// The traffic monitor as the user sees it: cells read from the picture of the box, the
// ring's wrap, the clear, the resize, and the frames of the real master on a simulated line.

#include <QContextMenuEvent>
#include <QFontInfo>
#include <QScreen>
#include <QTest>
#include <vector>

#include "Harness.h"
#include "device/LIR.h"
#include "link/ModBus.h"
#include "link/Traffic.h"

namespace {

using Frame = std::vector<uint8_t>;
const Frame kRequest{0x01, 0x04, 0x00, 0x32, 0x00, 0x01, 0x90, 0x05};
const Frame kAnswer{0x01, 0x04, 0x02, 0x00, 0x07, 0xF8, 0xF2};

// The box painted afresh.
QImage Rendered(TTrafficForm* form) {
  return form->pbBox->grab().toImage();
}

// What the window holds now, nothing painted for the asking: shows whether a redraw happened.
QImage OnScreen(TTrafficForm* form) {
  const QRect box = form->pbBox->geometry();
  return form->screen()
      ->grabWindow(form->winId(), box.x(), box.y(), box.width(), box.height())
      .toImage();
}

// The cell `index` of row `row`, both counted from the bottom right, judged by its pixels:
// 's' sent, 'r' received, '.' empty, '?' anything else.
char CellAt(TTrafficForm* form, const QImage& picture, int row, int index) {
  const QPalette& palette = form->pbBox->palette();
  const QRgb face = palette.color(QPalette::Button).rgb();
  const QRgb text = palette.color(QPalette::WindowText).rgb();
  const QRgb window = palette.color(QPalette::Window).rgb();
  const QRect cell =
      QRect(picture.width() - 24 - 20 * index, picture.height() - 16 - 16 * row, 20, 16)
          .intersected(picture.rect());
  int faceCount = 0, textCount = 0, windowCount = 0;
  for (int y = cell.top(); y <= cell.bottom(); ++y)
    for (int x = cell.left(); x <= cell.right(); ++x) {
      const QRgb pixel = picture.pixel(x, y) | 0xFF000000u;
      faceCount += pixel == face;
      textCount += pixel == text;
      windowCount += pixel == window;
    }
  const int area = cell.width() * cell.height();
  if (windowCount == area) return '.';
  // The face may be the window's own colour: a sent cell is told by its dark digits.
  if (textCount * 2 > area && faceCount > 5) return 'r';
  if (faceCount * 2 > area && textCount > 5) return 's';
  return '?';
}

// The last `count` cells of a row as they stand, left to right.
QString Row(TTrafficForm* form, int row, int count, const QImage& picture) {
  QString cells;
  for (int k = count - 1; k >= 0; --k)
    cells += QLatin1Char(CellAt(form, picture, row, k));
  return cells;
}

QString Row(TTrafficForm* form, int row, int count) {
  return Row(form, row, count, Rendered(form));
}

QString Cells(char kind, int count) {
  return QString(count, QLatin1Char(kind));
}

void Add(TTrafficForm* form, const Frame& frame, uint8_t direction) {
  form->AddBytes(frame.data(), static_cast<uint16_t>(frame.size()), direction);
}

// The cell texts of frames, newest frame first, newest byte first.
QStringList Texts(const std::vector<Frame>& frames) {
  QStringList texts;
  for (const Frame& frame : frames)
    for (auto b = frame.rbegin(); b != frame.rend(); ++b)
      texts << QString::asprintf(" %02X", *b);
  return texts;
}

}  // namespace

class TrafficTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    form_ = new TTrafficForm();
    TrafficForm = form_;
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
  }

  void cleanup() {
    delete form_;
    form_ = nullptr;
    QVERIFY(TrafficForm == nullptr);
  }

  void newFormIsEmptyAtItsDesignSize() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Трафик."));
    QCOMPARE(form_->pbBox->size(), QSize(732, 78));
    QCOMPARE(form_->pos(), QPoint(28, 463));
    const QFontInfo font(form_->pbBox->font());
    QVERIFY(font.fixedPitch() && font.bold());
    QCOMPARE(font.pixelSize(), 13);

    QCOMPARE(form_->ArraySize(), uint16_t(65535));
    QCOMPARE(form_->Directions.size(), size_t(65535));
    QCOMPARE(form_->LastIndex, -1);
    QVERIFY(!form_->Wrapped);
    QVERIFY(form_->CellTexts().isEmpty());
    QCOMPARE(Row(form_, 0, 36), Cells('.', 36));
  }

  // Read from the window itself with no event processed in between: drawn at once.
  void requestThenAnswerAreToldApartByColour() {
    Add(form_, kRequest, ModBus::Sent);
    QCOMPARE(Row(form_, 0, 10, OnScreen(form_)), ".." + Cells('s', 8));
    QCOMPARE(Row(form_, 1, 36, OnScreen(form_)), Cells('.', 36));
    QCOMPARE(form_->CellTexts(), Texts({kRequest}));

    Add(form_, kAnswer, ModBus::Received);
    QCOMPARE(Row(form_, 0, 17, OnScreen(form_)), ".." + Cells('s', 8) + Cells('r', 7));
    QCOMPARE(form_->CellTexts(), Texts({kAnswer, kRequest}));
    Gui::Snapshot(form_, "traffic");
  }

  void cellTextIsSpaceAndTwoUpperCaseDigits() {
    Add(form_, {5, 200, 10, 255, 0}, ModBus::Received);
    QCOMPARE(form_->CellTexts(), (QStringList{" 00", " FF", " 0A", " C8", " 05"}));
  }

  void clearFromThePopupMenuEmptiesTheBox() {
    Add(form_, kRequest, ModBus::Sent);
    Add(form_, kAnswer, ModBus::Received);
    const QPoint at(100, 40);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, form_->pbBox->mapToGlobal(at));
    QApplication::sendEvent(form_->pbBox, &click);
    QVERIFY(Gui::WaitFor([&] { return form_->pmMenu->isVisible(); }, 5000));
    QCOMPARE(form_->pmMenu->actions(), QList<QAction*>{form_->miClear});
    QCOMPARE(form_->miClear->text(), QStringLiteral("Очистить"));
    QTest::mouseClick(form_->pmMenu, Qt::LeftButton, {},
                      form_->pmMenu->actionGeometry(form_->miClear).center());
    QVERIFY(Gui::WaitFor([&] { return !form_->pmMenu->isVisible(); }, 5000));

    QCOMPARE(form_->LastIndex, -1);
    QVERIFY(form_->CellTexts().isEmpty());
    QCOMPARE(Row(form_, 0, 36), Cells('.', 36));

    Add(form_, kAnswer, ModBus::Received);
    QCOMPARE(Row(form_, 0, 9), ".." + Cells('r', 7));
    QCOMPARE(form_->CellTexts(), Texts({kAnswer}));
  }

  void ringWrapsAfterItsLastSlot() {
    form_->hide();  // records without drawing
    Frame fill(65535);
    for (size_t k = 0; k < fill.size(); ++k)
      fill[k] = static_cast<uint8_t>(k * 7);
    Add(form_, fill, ModBus::Sent);
    QCOMPARE(form_->LastIndex, 65534);
    QVERIFY(!form_->Wrapped);
    QCOMPARE(form_->Bytes[0], fill[0]);
    QCOMPARE(form_->Bytes[65534], fill[65534]);

    Add(form_, {0xAB}, ModBus::Received);
    QCOMPARE(form_->LastIndex, 0);
    QVERIFY(form_->Wrapped);
    QCOMPARE(form_->Bytes[0], uint8_t(0xAB));
    QCOMPARE(form_->Directions[0], uint8_t(ModBus::Received));

    // The newest byte first, then the ring's last slots.
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    const QStringList texts = form_->CellTexts();
    QCOMPARE(texts.size(), 144);
    QCOMPARE(texts[0], QStringLiteral(" AB"));
    QCOMPARE(texts[1], QString::asprintf(" %02X", fill[65534]));
    QCOMPARE(texts[143], QString::asprintf(" %02X", fill[65534 - 142]));
    QCOMPARE(Row(form_, 0, 3), QStringLiteral("ssr"));
    QCOMPARE(Row(form_, 3, 36), Cells('s', 36));
    Gui::Snapshot(form_, "traffic-full");

    form_->miClearClick();
    QVERIFY(!form_->Wrapped);
    QCOMPARE(Row(form_, 0, 36), Cells('.', 36));
    Add(form_, {1, 2, 3}, ModBus::Sent);
    QCOMPARE(form_->LastIndex, 2);
    QCOMPARE(form_->CellTexts(), (QStringList{" 03", " 02", " 01"}));
  }

  void wrappedRingShowsNoMoreThanItHolds() {
    form_->SetArraySize(10);
    Frame bytes;
    for (uint8_t k = 1; k <= 15; ++k)
      bytes.push_back(k);
    Add(form_, bytes, ModBus::Sent);
    QVERIFY(form_->Wrapped);
    QCOMPARE(form_->LastIndex, 4);
    QCOMPARE(form_->CellTexts(),
             (QStringList{" 0F", " 0E", " 0D", " 0C", " 0B", " 0A", " 09", " 08", " 07", " 06"}));
    QCOMPARE(Row(form_, 0, 12), ".." + Cells('s', 10));
  }

  void resizeChangesHowManyCellsFit() {
    Frame bytes(200);
    for (size_t k = 0; k < bytes.size(); ++k)
      bytes[k] = static_cast<uint8_t>(k);
    Add(form_, bytes, ModBus::Sent);
    QCOMPARE(form_->CellTexts().size(), 144);  // 36 a row, 4 rows
    QCOMPARE(Row(form_, 3, 36), Cells('s', 36));

    form_->resize(412, 46);
    QVERIFY(Gui::WaitFor([&] { return form_->pbBox->size() == QSize(412, 46); }, 5000));
    QCOMPARE(form_->CellTexts().size(), 40);  // 20 a row, 2 rows
    QCOMPARE(form_->CellTexts()[0], QStringLiteral(" C7"));
    QCOMPARE(Row(form_, 0, 20), Cells('s', 20));
    QCOMPARE(Row(form_, 1, 20), Cells('s', 20));
    // The newest byte moved with the bottom right corner.
    Add(form_, {0x42}, ModBus::Received);
    QCOMPARE(Row(form_, 0, 2), QStringLiteral("sr"));
  }

  void toggleShowsAndHides() {
    form_->Toggle();
    QVERIFY(!form_->isVisible());
    Add(form_, kRequest, ModBus::Sent);  // recorded while hidden
    form_->Toggle();
    QVERIFY(form_->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    QCOMPARE(Row(form_, 0, 9), "." + Cells('s', 8));
  }

  void framesOfTheMasterReachTheBox() {
    Gui::Line line(Sim::LineSetup(), {Gui::Unit(1, LIR::Model8M)});
    ModBus::Port->PortName = "COM2";
    QVERIFY(ModBus::Port->Open());
    uint8_t type = 0;
    QVERIFY(LIR::ReadDeviceType(1, type));
    QCOMPARE(type, uint8_t(LIR::Model8M));

    const std::vector<Sim::Frame> log = line.Sim().TakeLog();
    QCOMPARE(log.size(), size_t(2));
    QVERIFY(log[0].FromMaster && !log[1].FromMaster);
    QCOMPARE(form_->CellTexts(), Texts({log[1].Bytes, log[0].Bytes}));
    QCOMPARE(Row(form_, 0, 16, OnScreen(form_)), "." + Cells('s', 8) + Cells('r', 7));

    // A freed monitor takes no more frames.
    delete form_;
    form_ = nullptr;
    QVERIFY(LIR::ReadDeviceType(1, type));
    ModBus::Port->Close();
  }

 private:
  TTrafficForm* form_ = nullptr;
};

QTEST_MAIN(TrafficTest)
#include "TrafficTest.moc"
