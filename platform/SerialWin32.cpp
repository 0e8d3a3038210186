// Win32: every call goes straight to the API of the same meaning; the open also makes sure
// the name is a serial port. A tcp:// name is a Winsock socket instead (SerialTcp.cpp), and
// every call hands its handle over there. Failures are kept as a Fault for the port object.

#include "platform/Serial.h"
#include "platform/SerialShared.h"
#include "platform/SerialTcp.h"

namespace Serial {
namespace {

Fault OpenFault(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DEV_NOT_EXIST:
      return Fault::NoSuchPort;
    case ERROR_ACCESS_DENIED:  // for a COM port: opened by another program
    case ERROR_SHARING_VIOLATION:
      return Fault::PortBusy;
    default:
      return Fault::Other;
  }
}

// Drivers differ in what they answer once a USB adapter has been pulled: QtSerialPort takes
// ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND, ERROR_OPERATION_ABORTED and ERROR_INVALID_HANDLE
// for a vanished device (qserialport_win.cpp), users of other drivers report
// ERROR_ACCESS_DENIED and ERROR_GEN_FAILURE, and Wine gives ERROR_NOT_READY when a COM port's
// pseudo-terminal has closed. None of them comes from a line that is only silent.
Fault IoFault(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NOT_READY:
      return Fault::DeviceRemoved;
    default:
      return Fault::Other;
  }
}

bool Check(BOOL ok) {
  return ok != 0 || Fail(IoFault(::GetLastError()));
}

}  // namespace

Fault LastFault() {
  return tLastFault;
}

Handle OpenPort(const char* name, uint32_t connectTimeoutMs) {
  if (IsTcpName(name)) return Tcp::Open(name, connectTimeoutMs);
  HANDLE handle =
      ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail(OpenFault(::GetLastError()));
    return INVALID_HANDLE_VALUE;
  }
  // A file or another device named like a port would take the frames: only a handle that
  // has a line state is a serial port.
  DCB probe{};
  probe.DCBlength = sizeof probe;
  if (!::GetCommState(handle, &probe)) {
    ::CloseHandle(handle);
    ::SetLastError(ERROR_INVALID_HANDLE);
    Fail(Fault::NotALine);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

bool SetTimeouts(Handle handle, const CommTimeouts& timeouts) {
  if (Tcp::Owns(handle)) return Tcp::SetTimeouts(handle, timeouts);
  CommTimeouts copy = timeouts;
  return Check(::SetCommTimeouts(handle, &copy));
}

bool SetupQueues(Handle handle, uint32_t inQueue, uint32_t outQueue) {
  if (Tcp::Owns(handle)) return Tcp::SetupQueues(handle, inQueue, outQueue);
  return Check(::SetupComm(handle, inQueue, outQueue));
}

bool SetState(Handle handle, const Dcb& dcb) {
  if (Tcp::Owns(handle)) return Tcp::SetState(handle, dcb);
  Dcb copy = dcb;
  return Check(::SetCommState(handle, &copy));
}

bool GetState(Handle handle, Dcb& dcb) {
  if (Tcp::Owns(handle)) return Tcp::GetState(handle, dcb);
  return Check(::GetCommState(handle, &dcb));
}

bool Purge(Handle handle, uint32_t flags) {
  if (Tcp::Owns(handle)) return Tcp::Purge(handle, flags);
  return Check(::PurgeComm(handle, flags));
}

bool ReadBytes(Handle handle, void* buffer, uint32_t count, uint32_t& read) {
  if (Tcp::Owns(handle)) return Tcp::ReadBytes(handle, buffer, count, read);
  DWORD n = 0;
  const bool ok = Check(::ReadFile(handle, buffer, count, &n, nullptr));
  read = n;
  return ok;
}

bool WriteBytes(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
  if (Tcp::Owns(handle)) return Tcp::WriteBytes(handle, buffer, count, written);
  DWORD n = 0;
  const bool ok = Check(::WriteFile(handle, buffer, count, &n, nullptr));
  written = n;
  return ok && (n == count || Fail(Fault::TimedOut));
}

bool ClosePort(Handle handle) {
  if (Tcp::Owns(handle)) return Tcp::Close(handle);
  return ::CloseHandle(handle) != 0 || Fail(Fault::Other);
}

}  // namespace Serial
