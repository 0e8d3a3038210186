#pragma once
// The one serial port of the program: its name and line settings, exclusive open, raw
// synchronous reads and writes. It knows nothing of Modbus.
//
// A line can go while the port is open: a USB adapter pulled, a device server's connection
// dropped (the name "tcp://HOST:PORT" reaches a serial device server). The port then counts as
// lost: still in use (Connected), its dead handle released at once so the device can come back
// under its name, every Read and Write failing until Reconnect opens the same name again.

#include <cstdint>
#include <string>

#include "platform/Serial.h"

class TPort {
 public:
  TPort();
  ~TPort();
  TPort(const TPort&) = delete;
  TPort& operator=(const TPort&) = delete;

  bool Open();
  // Closes a lost port too (its handle is gone already).
  bool Close();
  // Both return the count the system reported; 0 on a handle that is not open.
  int32_t Write(const void* buffer, uint32_t count);
  int32_t Read(void* buffer, uint32_t count);

  // True from the moment a Read or Write met a line that has gone until a Reconnect succeeds
  // (or Close).
  bool Lost() const { return lost_; }
  // On a lost port, opens PortName again with the line settings the handle had at its last
  // Write and with Timeouts; true at once on a port that is not lost, false on one that is not
  // open. A missing device fails at once; a tcp:// name waits at most connectTimeoutMs.
  bool Reconnect(uint32_t connectTimeoutMs = Serial::ConnectTimeoutMs);
  // Reads and drops what arrives until nothing has come for quietMs, for at most about
  // limitMs, then the Timeouts hold again.
  void DiscardUntilQuiet(uint32_t quietMs, uint32_t limitMs);
  // Why the last Open or Reconnect failed, or how the line was lost; None once open.
  Serial::Fault LastFault() const { return fault_; }

  Serial::Handle Handle;
  Serial::Dcb Dcb;
  bool Connected;
  uint32_t InQueueSize;
  uint32_t OutQueueSize;
  std::string PortName;
  Serial::CommTimeouts Timeouts;

 private:
  bool OpenHandle(const Serial::Dcb& dcb, uint32_t connectTimeoutMs);
  void NoteLoss();

  bool lost_ = false;
  Serial::Fault fault_ = Serial::Fault::None;
  Serial::Dcb lineState_;  // the handle's line settings as of the last Write
};
