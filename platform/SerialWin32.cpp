// Win32: every call goes straight to the API of the same meaning; the open also makes sure
// the name is a serial port.

#include "platform/Serial.h"

namespace Serial {

Handle OpenPort(const char* name) {
  HANDLE handle =
      ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  // A file or another device named like a port would take the frames: only a handle that
  // has a line state is a serial port.
  DCB probe{};
  probe.DCBlength = sizeof probe;
  if (handle != INVALID_HANDLE_VALUE && !::GetCommState(handle, &probe)) {
    ::CloseHandle(handle);
    ::SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

bool SetTimeouts(Handle handle, const CommTimeouts& timeouts) {
  CommTimeouts copy = timeouts;
  return ::SetCommTimeouts(handle, &copy) != 0;
}

bool SetupQueues(Handle handle, uint32_t inQueue, uint32_t outQueue) {
  return ::SetupComm(handle, inQueue, outQueue) != 0;
}

bool SetState(Handle handle, const Dcb& dcb) {
  Dcb copy = dcb;
  return ::SetCommState(handle, &copy) != 0;
}

bool GetState(Handle handle, Dcb& dcb) {
  return ::GetCommState(handle, &dcb) != 0;
}

bool Purge(Handle handle, uint32_t flags) {
  return ::PurgeComm(handle, flags) != 0;
}

bool ReadBytes(Handle handle, void* buffer, uint32_t count, uint32_t& read) {
  DWORD n = 0;
  const bool ok = ::ReadFile(handle, buffer, count, &n, nullptr) != 0;
  read = n;
  return ok;
}

bool WriteBytes(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
  DWORD n = 0;
  const bool ok = ::WriteFile(handle, buffer, count, &n, nullptr) != 0;
  written = n;
  return ok;
}

bool ClosePort(Handle handle) {
  return ::CloseHandle(handle) != 0;
}

}  // namespace Serial
