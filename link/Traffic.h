#pragma once
// The traffic monitor: a ring of every complete frame the master sent or received, the
// newest bytes shown in hexadecimal, sent and received told apart by their colours.

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QPainter>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "link/FrameLog.h"
#include "link/TrafficStrip.h"

namespace Ui {
class TTrafficForm;
}

// A paint box: what it shows is drawn by its owner on every paint.
class TPaintBox : public QWidget {
  Q_OBJECT

 public:
  explicit TPaintBox(QWidget* parent = nullptr) : QWidget(parent) {}
  std::function<void(QPainter& canvas)> OnPaint;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class TTrafficForm : public QWidget {
  Q_OBJECT

 public:
  explicit TTrafficForm(QWidget* parent = nullptr);
  ~TTrafficForm() override;

  // Records a complete frame (direction 0 sent, 1 received) and redraws at once.
  void AddBytes(const uint8_t* buffer, uint16_t count, uint8_t direction);

  uint16_t ArraySize() const { return static_cast<uint16_t>(Bytes.size()); }
  void SetArraySize(uint16_t size);

  // Shows and fronts the window if it is hidden, hides it if it is shown.
  void Toggle();

  void pbBoxPaint(QPainter& canvas);
  // Every cell drawn afresh: where the strip cannot serve, and what it must match.
  void DrawEveryCell(QPainter& canvas) const;
  void miClearClick();

  // The texts of the cells the box shows now, newest first, laid out as the paint does.
  QStringList CellTexts() const;

  TPaintBox* pbBox;
  QMenu* pmMenu;
  QAction* miClear;

  std::vector<uint8_t> Bytes;
  std::vector<uint8_t> Directions;
  int32_t LastIndex = -1;
  bool Wrapped = false;

  // The frames behind the ring, explained (TrafficFrames.cpp): the decoding of the frame
  // under a cell as the box's tip; recording paused; the frames shown copied, all saved.
  TFrameLog Frames{0};
  QAction *pmiPause, *pmiCopy, *pmiSave;
  QString FrameTip(const QPoint& at, QRect* cell = nullptr) const;  // empty off any frame
  QStringList ShownFrames() const;  // one line a frame, oldest first
  void pmiCopyClick();
  void pmiSaveClick();
  bool SaveFrames(const QString& path);  // every frame kept, one line each; UTF-8

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<Ui::TTrafficForm> ui;
  QElapsedTimer Clock;  // the frames' times, from the monitor's creation at start-up
  void SetUpFrames();
  void ForEachVisibleCell(const std::function<void(int32_t slot, int x, int y)>& cell) const;
  uint64_t Recorded = 0;  // bytes since the last clear: the strip's cell numbers
  TTrafficStrip Strip;
};

extern TTrafficForm* TrafficForm;
