// Qt stands in for the Win32 windowing calls where there is no Win32.

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QWindow>
#include <chrono>
#include <thread>

#include "platform/UiQt.h"

namespace Platform {
namespace {

QPointer<QWidget> gApplicationWindow;

QWidget* Widget(Window window) {
  // Only a pointer that names a live widget is dereferenced.
  return IsWindow(window) ? static_cast<QWidget*>(window) : nullptr;
}

QMessageBox::Icon IconOf(uint32_t flags) {
  switch (flags & 0xF0) {
    case MbIconHand:
      return QMessageBox::Critical;
    case MbIconQuestion:
      return QMessageBox::Question;
    case MbIconExclamation:
      return QMessageBox::Warning;
    case MbIconAsterisk:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// The window a box stands over: the modal dialog in use, else the active window, else the
// application's window.
QWindow* OwnerWindow() {
  for (QWidget* w : {QApplication::activeModalWidget(), QApplication::activeWindow(),
                     static_cast<QWidget*>(gApplicationWindow)})
    if (w && w->isVisible() && w->windowHandle()) return w->windowHandle();
  return nullptr;
}

}  // namespace

void SetApplicationWindow(Window window) {
  gApplicationWindow = Widget(window);
}

int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  // No Qt parent: a disabled owner (the progress dialog disables the windows) would disable
  // its child windows too. Application-modal, as a Win32 box disables its owner; kept above
  // that window, and centred on it, as its transient child.
  QMessageBox box(IconOf(flags), QString::fromStdString(caption), QString::fromStdString(text));
  box.setWindowModality(Qt::ApplicationModal);
  const bool yesNo = (flags & 0x0F) == MbYesNo;
  if (yesNo) {
    box.addButton(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.addButton(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.setDefaultButton(QMessageBox::Yes);
  } else {
    box.addButton(QMessageBox::Ok)->setText(QStringLiteral("OK"));
  }
  if (QWindow* owner = OwnerWindow()) {
    box.adjustSize();  // the size it shows with, for the centring
    box.winId();       // its native window, to be given the owner before it is shown
    box.windowHandle()->setTransientParent(owner);
  }
  const int result = box.exec();
  if (yesNo) return result == QMessageBox::Yes ? IdYes : IdNo;
  return IdOk;
}

Window GetActiveWindow() {
  return QApplication::activeWindow();
}

void SetActiveWindow(Window window) {
  if (QWidget* w = Widget(window)) w->activateWindow();
}

std::vector<Window> ThreadWindows() {
  std::vector<Window> windows;
  for (QWidget* w : QApplication::topLevelWidgets())
    windows.push_back(w);
  return windows;
}

bool IsWindow(Window window) {
  if (!window) return false;
  for (QWidget* w : QApplication::allWidgets())
    if (w == window) return w->isWindow();
  return false;
}

bool IsWindowVisible(Window window) {
  QWidget* w = Widget(window);
  return w && w->isVisible();
}

bool IsWindowEnabled(Window window) {
  QWidget* w = Widget(window);
  return w && w->isEnabled();
}

void EnableWindow(Window window, bool enable) {
  if (QWidget* w = Widget(window)) w->setEnabled(enable);
}

void Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool WinHelp(const std::string& helpFile, uint32_t command, uintptr_t) {
  if (command != HelpFinder) return false;
  // The desktop opens the file if it can; a help engine that cannot find its file says so.
  const QString path = QString::fromStdString(helpFile);
  if (QFileInfo::exists(path) && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return true;
  MessageBox("Не удается найти файл справки\n" + helpFile, "Справка", MbOk | MbIconExclamation);
  return false;
}

}  // namespace Platform
