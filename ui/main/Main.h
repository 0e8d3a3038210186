#pragma once
// The start-up, the main window and the device in use.

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ui_Main.h"

class QDialog;
class QToolButton;
class QTreeWidgetItem;
class TPortState;
class TStatePoll;
namespace LIR {
struct Difference;
struct UnitConfig;
}  // namespace LIR

// The start-up that follows the application object: title, help file, the long-lived forms
// in their order (creating the main window opens the port), then the main window is shown.
void CreateForms();

namespace Main {

// The device the user works with, and the row last selected in the channel table.
extern uint32_t SelectedAddress;
extern uint32_t SelectedModel;
extern int32_t SelectedChannel;

// One per panel button: true while the user holds it.
extern bool PuskHeld, StopHeld, ControlHeld, KvitirHeld, SbrosHeld, RestartHeld;

extern const std::string HelpFile;

// Number of channel rows for a model code: 4, 8 or 12 (12 for an unknown code).
int ChannelCount(uint32_t model);
// The model code a unit is handled as: 5, 6 or 7 (7 for an unknown code).
uint8_t HandledModel(uint8_t model);
// A unit as the messages name it: its address in decimal between square brackets.
std::string Bracketed(uint32_t address);
// A dialog with a single fixed border and the system menu (close box) only, at the size of
// its form.
void MakeFixedDialog(QDialog* dialog);
// Nothing under way waits on the line or on `window`: no dialog, menu or progress open (a scan
// has its progress), no panel button held. The program's own traffic goes only then.
bool Idle(const QWidget* window);

}  // namespace Main

class TMainForm : public QMainWindow, public Ui::TMainForm {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  static bool GetBit(uint16_t Value, uint8_t Bit);
  static void SetBit(uint16_t& Value, uint8_t Bit, int State);

  void EnableLIRControls();
  void DisableLIRControls();

  // The device node of the tree whose data is address * 256 + model; nullptr if none.
  QTreeWidgetItem* DeviceNode(uint32_t data) const;
  // The text of a device node: "[" address "] ЛИР-8М", "] Неопознанно" for unknown codes.
  static QString DeviceNodeText(uint8_t address, uint8_t model);

  // Action handlers.
  void actExitExecute();
  void actHelpExecute();
  void N4Click();
  void actPortConnectionExecute();
  void actPortSelectExecute();
  void actNetScanExecute();
  void actSelectDeviceExecute();
  void actGetChannelsParamExecute();
  void btnTrafficClick();
  // Launchers of the dialogs: Init with the device in use, then shown modally.
  void actClockExecute();
  void actSetChannelsParamExecute();
  void actPasswordExecute();
  void actJournalExecute();
  void actSettingsExecute();
  void actPortConfigExecute();

  // The configuration of the unit in use as a file (UnitConfigFile.cpp): the actions ask for
  // the file's name, then call these.
  void actSaveConfigExecute();
  void actLoadConfigExecute();
  // Reads the unit under the progress dialog and writes the file; false, after a box, when
  // the unit or the file failed, and false without one when the user cancelled the reading.
  bool SaveConfig(const QString& path);
  // Refuses a damaged or foreign file, or one for another model, with a box; otherwise shows
  // where the unit differs from the file and, once the user chose "Записать" and the unit
  // grants access, writes the file's values, reads them back and says what still differs.
  // Gives what differed before writing, as the dialog showed it, whether it was then written
  // or not; empty when the file was refused, the unit could not be read, or nothing differed.
  std::vector<LIR::Difference> LoadConfig(const QString& path);

  // Event handlers.
  void NetChange();
  void ChannelsSelectItem(int row);
  void TimerTimer();

  // Toolbar buttons (each shows its action); the Div/Div entries are separators.
  QToolButton *btnExit, *btnHelp, *btnPortSelect, *btnPortConfig, *btnNetScan, *btnSettings,
      *btnClock, *btnJournal, *btnGetChannelsParam, *btnSetChannelsParam, *btnPassword, *btnTraffic;
  QMenu* LIRPopupMenu;
  QTimer* Timer;
  TPortState* PortState;  // lblPortState in the status bar, and the reopening of a lost port
  TStatePoll* StatePoll;  // the live lamps of "Опрос состояния"

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct PanelButton {
    QPushButton* Button;
    bool* Held;
    bool (*Command)(uint8_t address);
    bool RereadOnRelease;
  };
  // In the order the tick sends their commands.
  std::array<PanelButton, 6> Panels;
  PanelButton* Panel(QObject* button);
  // False when the press was refused with a message.
  bool PanelMouseDown(PanelButton& panel, Qt::MouseButton button);
  void PanelMouseUp(PanelButton& panel);
  QToolButton* AddToolButton(QAction* action, const char* name);
  void SetToolButtonVisible(QToolButton* button, bool visible);
  void LayOutDeviceProp();
  void StartTimerIfHeld();
  // Which fault a failed transaction met, in the status bar beside the windows' own messages.
  void NoteFault(uint8_t address, uint8_t function);
  // The configuration of the unit in use, under the progress dialog.
  enum class ConfigRead { Done, Failed, Cancelled };
  ConfigRead ReadConfig(LIR::UnitConfig& config);
  // After a write: what still differs from the file, in one box.
  void ReportWritten(const LIR::UnitConfig& file, bool written);
  bool Scanning = false;
};

extern TMainForm* MainForm;
