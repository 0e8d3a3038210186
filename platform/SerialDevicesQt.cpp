#include <QSerialPortInfo>
#include <utility>

#include "platform/UiQt.h"

namespace Platform {
namespace {

std::function<QList<SerialDevice>()> gSource;

}  // namespace

QList<SerialDevice> SerialDevices() {
  if (gSource) return gSource();
  QList<SerialDevice> devices;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef _WIN32
    const QString name = info.portName();  // COM3: what CreateFileA takes
#else
    const QString name = info.systemLocation();  // /dev/ttyUSB0: a relative name would not open
#endif
    devices.append({name, info.description()});
  }
  return devices;
}

void SetSerialDeviceSource(std::function<QList<SerialDevice>()> source) {
  gSource = std::move(source);
}

}  // namespace Platform
