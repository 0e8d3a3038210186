#pragma once
// The platform window of a Qt widget, for the calls of Ui.h.

#include <QList>
#include <QString>
#include <QWidget>
#include <functional>

#include "platform/Ui.h"

namespace Platform {

inline Window WindowOf(QWidget* widget) {
#ifdef _WIN32
  return widget ? reinterpret_cast<Window>(widget->winId()) : nullptr;
#else
  return widget;
#endif
}

// A serial device present now: the name that opens it, and what the system says it is (a USB
// adapter's product name; often empty for a built-in port).
struct SerialDevice {
  QString Name;
  QString Description;
};
QList<SerialDevice> SerialDevices();
// Puts `source` in the system's place (tests: pseudo-terminals, which the system does not list
// as serial devices); an empty function gives the system back.
void SetSerialDeviceSource(std::function<QList<SerialDevice>()> source);

}  // namespace Platform
