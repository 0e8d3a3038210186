#pragma once
// The one serial port of the program: its name and line settings, exclusive open, raw
// synchronous reads and writes. It knows nothing of Modbus.

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
  bool Close();
  // Both return the count the system reported; 0 on a handle that is not open.
  int32_t Write(const void* buffer, uint32_t count);
  int32_t Read(void* buffer, uint32_t count);

  Serial::Handle Handle;
  Serial::Dcb Dcb;
  bool Connected;
  uint32_t InQueueSize;
  uint32_t OutQueueSize;
  std::string PortName;
  Serial::CommTimeouts Timeouts;
};
