#pragma once
// The windowing calls the forms make in the shape of the Win32 API: message boxes with the
// MessageBoxA flags, the enabling and activation of the GUI thread's windows, Sleep and the
// help engine. Win32 passes them through; elsewhere Qt stands in (UiQt.cpp).

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// MessageBoxA flags and results.
enum : uint32_t {
  MbOk = 0x00,
  MbYesNo = 0x04,
  MbIconHand = 0x10,
  MbIconQuestion = 0x20,
  MbIconExclamation = 0x30,
  MbIconAsterisk = 0x40
};
enum : int { IdOk = 1, IdCancel = 2, IdYes = 6, IdNo = 7 };

// A top-level window: an HWND on Windows, a QWidget* where Qt stands in.
using Window = void*;

// The application's window, owner of every message box.
void SetApplicationWindow(Window window);
// MessageBoxA(application window, text, caption, flags); texts in UTF-8, "\n" breaks lines.
int MessageBox(const std::string& text, const std::string& caption, uint32_t flags);

Window GetActiveWindow();
void SetActiveWindow(Window window);
std::vector<Window> ThreadWindows();  // EnumThreadWindows of the GUI thread
bool IsWindow(Window window);
bool IsWindowVisible(Window window);
bool IsWindowEnabled(Window window);
void EnableWindow(Window window, bool enable);

void Sleep(uint32_t milliseconds);

constexpr uint32_t HelpFinder = 11;
// WinHelpA(application window, file, command, data).
bool WinHelp(const std::string& helpFile, uint32_t command, uintptr_t data);

}  // namespace Platform
