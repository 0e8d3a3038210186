#include "link/PortDef.h"

namespace {

Serial::Dcb DefaultDcb() {
  Serial::Dcb dcb{};
  dcb.DCBlength = sizeof(Serial::Dcb);
  dcb.BaudRate = 9600;
  Serial::SetDcbFlags(dcb, 0x8091);  // binary, DTR on, TX continues on XOFF, bit 15
  dcb.ByteSize = 8;
  dcb.Parity = Serial::NoParity;
  dcb.StopBits = Serial::TwoStopBits;
  return dcb;
}

Serial::CommTimeouts DefaultTimeouts() {
  Serial::CommTimeouts t{};
  t.ReadIntervalTimeout = 200;
  t.ReadTotalTimeoutMultiplier = 10;
  t.ReadTotalTimeoutConstant = 200;
  t.WriteTotalTimeoutMultiplier = 10;
  t.WriteTotalTimeoutConstant = 10;
  return t;
}

}  // namespace

TPort::TPort()
    : Handle(Serial::InvalidHandle),
      Dcb(DefaultDcb()),
      Connected(false),
      InQueueSize(1024),
      OutQueueSize(1024),
      PortName("COM2"),
      Timeouts(DefaultTimeouts()) {}

// A port still open at exit is closed here rather than left to the system.
TPort::~TPort() {
  Close();
}

bool TPort::Open() {
  if (Connected) return false;
  // The system takes the name up to its first NUL: such a name would open another device.
  if (PortName.find('\0') != std::string::npos) {
    Handle = Serial::InvalidHandle;
    return false;
  }
  Handle = Serial::OpenPort(PortName.c_str());
  if (Handle == Serial::InvalidHandle) return false;
  // As on Windows, a setting the driver refuses does not make the open fail.
  Serial::SetTimeouts(Handle, Timeouts);
  Serial::SetupQueues(Handle, InQueueSize, OutQueueSize);
  Serial::SetState(Handle, Dcb);
  Connected = true;
  return true;
}

bool TPort::Close() {
  if (!Connected) return false;
  if (!Serial::ClosePort(Handle)) return false;
  // A stale handle could name whatever the system opens next under the same number.
  Handle = Serial::InvalidHandle;
  Connected = false;
  return true;
}

int32_t TPort::Write(const void* buffer, uint32_t count) {
  uint32_t written = 0;
  Serial::WriteBytes(Handle, buffer, count, written);
  // Whatever arrived before the request cannot be its answer.
  Serial::Purge(Handle, Serial::PurgeRxClear);
  return static_cast<int32_t>(written);
}

int32_t TPort::Read(void* buffer, uint32_t count) {
  uint32_t read = 0;
  Serial::ReadBytes(Handle, buffer, count, read);
  return static_cast<int32_t>(read);
}
