// Win32: the windowing calls go straight to the API.

#include <string>

#include "platform/Ui.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace Platform {
namespace {

HWND gApplicationWindow = nullptr;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

HWND Hwnd(Window window) {
  return static_cast<HWND>(window);
}

BOOL CALLBACK Collect(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<Window>*>(list)->push_back(hwnd);
  return TRUE;
}

}  // namespace

void SetApplicationWindow(Window window) {
  gApplicationWindow = Hwnd(window);
}

int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  // The texts are UTF-8 in the sources; the wide call shows them whatever the code page.
  return ::MessageBoxW(gApplicationWindow, Wide(text).c_str(), Wide(caption).c_str(), flags);
}

Window GetActiveWindow() {
  return ::GetActiveWindow();
}

void SetActiveWindow(Window window) {
  ::SetActiveWindow(Hwnd(window));
}

std::vector<Window> ThreadWindows() {
  std::vector<Window> windows;
  ::EnumThreadWindows(::GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool IsWindow(Window window) {
  return ::IsWindow(Hwnd(window)) != 0;
}
bool IsWindowVisible(Window window) {
  return ::IsWindowVisible(Hwnd(window)) != 0;
}
bool IsWindowEnabled(Window window) {
  return ::IsWindowEnabled(Hwnd(window)) != 0;
}
void EnableWindow(Window window, bool enable) {
  ::EnableWindow(Hwnd(window), enable);
}

void Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

bool WinHelp(const std::string& helpFile, uint32_t command, uintptr_t data) {
  // WinHelpA takes the file name in the ANSI code page.
  const std::wstring wide = Wide(helpFile);
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(n > 0 ? n : 1), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), n, nullptr, nullptr);
  return ::WinHelpA(gApplicationWindow, ansi.c_str(), command, data) != 0;
}

}  // namespace Platform
