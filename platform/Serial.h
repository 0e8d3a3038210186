#pragma once
// Serial communications in the shape of the Win32 calls the port object is written against.
// On Windows these pass straight through to the API; elsewhere they are built on termios
// with the same contract (see SerialPosix.cpp). A name "tcp://HOST:PORT" opens a TCP
// connection to a serial device server in raw mode instead, behind the same calls
// (SerialTcp.cpp), so nothing above this layer knows the difference.

#include <cstdint>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace Serial {

#ifdef _WIN32
using Handle = HANDLE;
using Dcb = DCB;
using CommTimeouts = COMMTIMEOUTS;
inline const Handle InvalidHandle = INVALID_HANDLE_VALUE;
#else
using Handle = intptr_t;  // a file descriptor
constexpr Handle InvalidHandle = -1;

// The Win32 DCB, field for field, so the flag word and its bits mean the same everywhere.
struct Dcb {
  uint32_t DCBlength;
  uint32_t BaudRate;
  uint32_t fBinary : 1;
  uint32_t fParity : 1;
  uint32_t fOutxCtsFlow : 1;
  uint32_t fOutxDsrFlow : 1;
  uint32_t fDtrControl : 2;
  uint32_t fDsrSensitivity : 1;
  uint32_t fTXContinueOnXoff : 1;
  uint32_t fOutX : 1;
  uint32_t fInX : 1;
  uint32_t fErrorChar : 1;
  uint32_t fNull : 1;
  uint32_t fRtsControl : 2;
  uint32_t fAbortOnError : 1;
  uint32_t fDummy2 : 17;
  uint16_t wReserved;
  uint16_t XonLim;
  uint16_t XoffLim;
  uint8_t ByteSize;
  uint8_t Parity;
  uint8_t StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  uint16_t wReserved1;
};

struct CommTimeouts {
  uint32_t ReadIntervalTimeout;
  uint32_t ReadTotalTimeoutMultiplier;
  uint32_t ReadTotalTimeoutConstant;
  uint32_t WriteTotalTimeoutMultiplier;
  uint32_t WriteTotalTimeoutConstant;
};
#endif

static_assert(sizeof(Dcb) == 28, "DCB must keep the Win32 layout");

// Values of the DCB fields, as Win32 names them.
enum : uint8_t { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
enum : uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };
enum : uint32_t { DtrControlDisable = 0, DtrControlEnable = 1, DtrControlHandshake = 2 };
enum : uint32_t {
  RtsControlDisable = 0,
  RtsControlEnable = 1,
  RtsControlHandshake = 2,
  RtsControlToggle = 3
};
constexpr uint32_t PurgeRxClear = 0x0008;
constexpr uint32_t MaxDword = 0xFFFFFFFFu;

// Why a call failed, in the terms a user is told; each failing call of a thread sets it, as
// GetLastError does.
enum class Fault : uint8_t {
  None,
  NoSuchPort,         // no device of that name (a pulled adapter that is not back yet)
  PortBusy,           // held by another program, or by another handle of ours
  NoPermission,       // the system does not let this user open it
  NotALine,           // it opens but is no serial line (a file, a terminal master)
  BadName,            // a tcp:// name that does not parse, or a name the system would cut
  HostNotFound,       // the host name resolves to no address (in time)
  ConnectionRefused,  // nobody listens on that port
  HostUnreachable,    // no route to the host
  TimedOut,           // a connection or a write that did not finish in time
  ConnectionDropped,  // the device server closed or reset the connection
  DeviceRemoved,      // the line's device has gone (a pulled adapter, a closed terminal)
  Other,
};
Fault LastFault();
// The two faults after which the handle is dead for good: only a new open brings the line back.
inline bool IsLoss(Fault fault) {
  return fault == Fault::DeviceRemoved || fault == Fault::ConnectionDropped;
}

// "tcp://" in any case; whether the rest is a valid HOST:PORT is the open's business.
bool IsTcpName(const char* name);
// How long an open of a tcp:// name may take, name lookup and connection together.
constexpr uint32_t ConnectTimeoutMs = 1000;

// The 32 bits that follow BaudRate, as one word (0x8091 is binary mode, DTR on, TX
// continues on XOFF and the reserved bit 15).
inline uint32_t DcbFlags(const Dcb& dcb) {
  uint32_t flags;
  std::memcpy(&flags, reinterpret_cast<const unsigned char*>(&dcb) + 8, sizeof flags);
  return flags;
}
inline void SetDcbFlags(Dcb& dcb, uint32_t flags) {
  std::memcpy(reinterpret_cast<unsigned char*>(&dcb) + 8, &flags, sizeof flags);
}

// CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL). A
// missing device fails at once; a tcp:// name waits at most connectTimeoutMs.
Handle OpenPort(const char* name, uint32_t connectTimeoutMs = ConnectTimeoutMs);
bool SetTimeouts(Handle handle, const CommTimeouts& timeouts);         // SetCommTimeouts
bool SetupQueues(Handle handle, uint32_t inQueue, uint32_t outQueue);  // SetupComm
bool SetState(Handle handle, const Dcb& dcb);                          // SetCommState
bool GetState(Handle handle, Dcb& dcb);                                // GetCommState
bool Purge(Handle handle, uint32_t flags);                             // PurgeComm
// A read that the time-outs end early succeeds with what came; a read or write fails when the
// line has gone (LastFault then tells which way, IsLoss is true) or the handle is not open.
bool ReadBytes(Handle handle, void* buffer, uint32_t count, uint32_t& read);  // ReadFile
bool WriteBytes(Handle handle, const void* buffer, uint32_t count,
                uint32_t& written);  // WriteFile
bool ClosePort(Handle handle);       // CloseHandle

#ifndef _WIN32
// The purge after a write as on a real line (drain, wait out the wire, flush) or as on a
// pseudo-terminal (flush where the write begins). Chosen at the open by the kind of device;
// tests set it to run the real line's purge on a pseudo-terminal.
bool UseLinePurge(Handle handle, bool line);
// Whether RTS toggle (the RS-485 transceiver's direction) goes to the kernel's RS-485 mode, as
// on a real line, or is only remembered, as on a pseudo-terminal, which has no RTS. Chosen at
// the open by the kind of device; tests set it to see the kernel's answer on a pseudo-terminal.
bool UseKernelRs485(Handle handle, bool kernel);
#endif

}  // namespace Serial
