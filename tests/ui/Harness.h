#pragma once
// What the GUI tests share: a line of simulated units linked as COM2 in a fresh current
// folder, an answering service for the message boxes and modal dialogs that the forms
// open, and waiting while the event loop runs.

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

class QAction;
class QDialog;
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/Simulator.h"

namespace Gui {

struct Box {
  QString Title;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> Buttons;
};

// Answers every message box as soon as it is the active modal widget, and records it.
// Answers are taken from a queue; with the queue empty, Yes/No boxes get No... unless
// told otherwise, OK boxes get OK.
class Boxes : public QObject {
 public:
  Boxes();
  ~Boxes() override;
  void Answer(QMessageBox::StandardButton button) { answers_.append(button); }
  // Called once for every other modal dialog that comes up (the dialog under test).
  void OnDialog(std::function<void(QWidget*)> handler) { onDialog_ = std::move(handler); }
  QList<Box> Take();  // the boxes seen since the last call
  // The same, one line each: icon letter (E error, W warning, Q question, I information),
  // title, text: "E Внимание!: Ошибка при обращении к устройству [3]".
  QStringList TakeTexts();
  int Count() const { return seen_.size(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Poll();
  QTimer timer_;
  QList<QMessageBox::StandardButton> answers_;
  QList<Box> seen_;
  std::function<void(QWidget*)> onDialog_;
};

// Triggers the action and, when the dialog comes up modal, lets drive work it; a dialog
// that drive leaves open is then cancelled. True when the dialog was shown and is closed.
bool RunDialog(Boxes& boxes, QAction* action, QDialog* dialog, const std::function<void()>& drive);

// The master's requests in a simulator log, one line each: "3 0/24" (function, first
// register, count), "16 523/3 = 1 2 3" (and the values written), "6 526 = 4".
QStringList Requests(const std::vector<Sim::Frame>& log);

// Runs the event loop until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& condition, int milliseconds);
void Pump(int milliseconds);  // runs the event loop for that long

// A fresh folder made current, with the simulator's terminal linked in it as COM2.
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

// Saves a picture of the widget for a person to look at (into LIR_SCREENSHOTS if set).
void Snapshot(QWidget* widget, const QString& name);

}  // namespace Gui
