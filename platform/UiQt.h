#pragma once
// The platform window of a Qt widget, for the calls of Ui.h.

#include <QStringList>
#include <QWidget>

#include "platform/Ui.h"

namespace Platform {

inline Window WindowOf(QWidget* widget) {
#ifdef _WIN32
  return widget ? reinterpret_cast<Window>(widget->winId()) : nullptr;
#else
  return widget;
#endif
}

// The serial devices present now, by the names that open them.
QStringList SerialDeviceNames();

}  // namespace Platform
