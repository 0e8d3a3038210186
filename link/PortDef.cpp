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
      Timeouts(DefaultTimeouts()),
      lineState_(Dcb) {}

// A port still open at exit is closed here rather than left to the system.
TPort::~TPort() {
  Close();
}

bool TPort::OpenHandle(const Serial::Dcb& dcb, uint32_t connectTimeoutMs) {
  // The system takes the name up to its first NUL: such a name would open another device.
  if (PortName.find('\0') != std::string::npos) {
    Handle = Serial::InvalidHandle;
    fault_ = Serial::Fault::BadName;
    return false;
  }
  Handle = Serial::OpenPort(PortName.c_str(), connectTimeoutMs);
  if (Handle == Serial::InvalidHandle) {
    fault_ = Serial::LastFault();
    return false;
  }
  // As on Windows, a setting the driver refuses does not make the open fail.
  Serial::SetTimeouts(Handle, Timeouts);
  Serial::SetupQueues(Handle, InQueueSize, OutQueueSize);
  Serial::SetState(Handle, dcb);
  lineState_ = dcb;
  fault_ = Serial::Fault::None;
  return true;
}

bool TPort::Open() {
  if (Connected) return false;
  if (!OpenHandle(Dcb, Serial::ConnectTimeoutMs)) return false;
  Connected = true;
  return true;
}

bool TPort::Close() {
  if (!Connected) return false;
  if (!lost_ && !Serial::ClosePort(Handle)) return false;
  // A stale handle could name whatever the system opens next under the same number.
  Handle = Serial::InvalidHandle;
  Connected = false;
  lost_ = false;
  return true;
}

bool TPort::Reconnect(uint32_t connectTimeoutMs) {
  if (!Connected) return false;
  if (!lost_) return true;
  if (!OpenHandle(lineState_, connectTimeoutMs)) return false;
  lost_ = false;
  return true;
}

// A failed call on a line that has gone: the handle is dead for good. Released now, the device
// node is free for the adapter when it is plugged in again, under the same name.
void TPort::NoteLoss() {
  const Serial::Fault fault = Serial::LastFault();
  if (!Connected || lost_ || !Serial::IsLoss(fault)) return;
  Serial::ClosePort(Handle);
  Handle = Serial::InvalidHandle;
  lost_ = true;
  fault_ = fault;
}

int32_t TPort::Write(const void* buffer, uint32_t count) {
  // Read now, while the line is there: a handle that has gone tells nothing.
  Serial::Dcb state;
  if (!lost_ && Serial::GetState(Handle, state)) lineState_ = state;
  uint32_t written = 0;
  if (!Serial::WriteBytes(Handle, buffer, count, written)) NoteLoss();
  // Whatever arrived before the request cannot be its answer.
  if (!lost_) Serial::Purge(Handle, Serial::PurgeRxClear);
  return static_cast<int32_t>(written);
}

int32_t TPort::Read(void* buffer, uint32_t count) {
  uint32_t read = 0;
  if (!Serial::ReadBytes(Handle, buffer, count, read)) NoteLoss();
  return static_cast<int32_t>(read);
}

void TPort::DiscardUntilQuiet(uint32_t quietMs, uint32_t limitMs) {
  if (!Connected || lost_) return;
  Serial::CommTimeouts quiet = Timeouts;
  quiet.ReadIntervalTimeout = quietMs;
  quiet.ReadTotalTimeoutMultiplier = 0;
  quiet.ReadTotalTimeoutConstant = quietMs;
  if (!Serial::SetTimeouts(Handle, quiet)) return;
  uint8_t scrap[256];
  // Each read ends within quietMs; one that gets nothing has met the silence.
  for (uint32_t waited = 0; waited < limitMs; waited += quietMs)
    if (Read(scrap, sizeof scrap) <= 0) break;
  Serial::SetTimeouts(Handle, Timeouts);
}
