#pragma once
// RTU over TCP to a serial device server in raw mode: the calls of Serial.h on a socket. The
// POSIX and the Win32 layers hand a call here when its handle is a socket's (Owns).
// - The line settings belong to the server: SetState checks and remembers them, GetState
//   returns them, so the port configuration keeps working.
// - Reads keep the ReadFile time-outs of a serial line; a write first discards what was
//   received before it, as on a pseudo-terminal (the server may answer before send returns).
// - A closed or reset connection is a lost line (Fault::ConnectionDropped); a write to it
//   raises no signal.

#include <cstdint>
#include <string>

#include "platform/Serial.h"

namespace Serial::Tcp {

struct Address {
  std::string Host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  uint16_t Port = 0;
};

// "tcp://HOST:PORT", the scheme in any case; HOST a name or an IPv4 address, or an IPv6
// address in brackets; PORT 1..65535 in decimal. Nothing before or after.
bool ParseName(const std::string& name, Address& address);

// Resolves and connects within connectTimeoutMs; InvalidHandle and the fault otherwise.
Handle Open(const char* name, uint32_t connectTimeoutMs);
bool Owns(Handle handle);

bool SetTimeouts(Handle handle, const CommTimeouts& timeouts);
bool SetupQueues(Handle handle, uint32_t inQueue, uint32_t outQueue);
bool SetState(Handle handle, const Dcb& dcb);
bool GetState(Handle handle, Dcb& dcb);
bool Purge(Handle handle, uint32_t flags);
bool ReadBytes(Handle handle, void* buffer, uint32_t count, uint32_t& read);
bool WriteBytes(Handle handle, const void* buffer, uint32_t count, uint32_t& written);
bool Close(Handle handle);

}  // namespace Serial::Tcp
