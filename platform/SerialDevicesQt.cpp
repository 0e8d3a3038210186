#include <QSerialPortInfo>

#include "platform/UiQt.h"

namespace Platform {

QStringList SerialDeviceNames() {
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef _WIN32
    names.append(info.portName());  // COM3: what CreateFileA takes
#else
    names.append(info.systemLocation());  // /dev/ttyUSB0: a relative name would not open
#endif
  }
  return names;
}

}  // namespace Platform
