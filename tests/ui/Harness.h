#pragma once
// Shared by the GUI tests: the forms' headers, a simulated line linked as COM2 in a fresh
// current folder, a service answering the message boxes and dialogs the forms open, waiting.

#include <QApplication>
#include <QMessageBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/ModBus.h"
#include "link/Traffic.h"
#include "sim/Simulator.h"
#include "ui/dialogs/Progress.h"
#include "ui/main/Main.h"
#include "ui/port/PortSelect.h"

namespace Gui {

struct Box {
  QString Title, Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> Buttons;
  QString Over;  // the window it stands over (its transient parent); "child of X" for a Qt parent
};

// Records and answers every message box as it becomes the active modal widget: from the
// Answer queue, else OK, else No.
class Boxes : public QObject {
 public:
  Boxes();
  ~Boxes() override { qApp->removeEventFilter(this); }
  void Answer(QMessageBox::StandardButton button) { answers_.append(button); }
  // The next file dialog is given this name and accepted.
  void AnswerFile(const QString& path) { files_.append(path); }
  // Called once for every other modal dialog that comes up.
  void OnDialog(std::function<void(QWidget*)> handler) { onDialog_ = std::move(handler); }
  QList<Box> Take() { return std::exchange(seen_, {}); }  // the boxes seen since the last call
  // One line a box: "E Внимание!: Ошибка при обращении к устройству [3]" (E, W, Q, I icons).
  QStringList TakeTexts();
  int Count() const { return seen_.size(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Poll();
  QTimer timer_;
  QList<QMessageBox::StandardButton> answers_;
  QStringList files_;
  QList<Box> seen_;
  std::function<void(QWidget*)> onDialog_;
};

// Triggers the action and lets drive work the dialog when it comes up; a dialog left open is
// cancelled. True when the dialog was shown and is closed.
bool RunDialog(Boxes& boxes, QAction* action, QDialog* dialog, const std::function<void()>& drive);

// The master's requests, one line each: "3 0/24", "16 523/3 = 1 2 3", "6 526 = 4".
QStringList Requests(const std::vector<Sim::Frame>& log);

bool WaitFor(const std::function<bool()>& condition, int milliseconds);
void Pump(int milliseconds);

class Line {
 public:
  Line(const Sim::LineSetup& setup, const std::vector<Sim::UnitSetup>& units);
  ~Line();
  Sim::Simulator& Sim() { return *sim_; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  std::string previous_;
  std::unique_ptr<Sim::Simulator> sim_;
};

Sim::UnitSetup Unit(uint8_t address, uint8_t model, bool access = true);

// The columns whose title the header shows neither whole nor as its beginning and "…" in
// the room its section gives it, or has not as its tip.
QStringList UnfitTitles(QTableWidget* table);

// A picture for a person to look at, into LIR_SCREENSHOTS when set.
void Snapshot(QWidget* widget, const QString& name);

}  // namespace Gui
