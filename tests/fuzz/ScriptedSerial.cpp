#include "ScriptedSerial.h"

#include <algorithm>
#include <cstring>

#include "platform/Serial.h"

namespace Scripted {
namespace {

std::vector<uint8_t> gWritten;
const uint8_t* gAnswer = nullptr;
size_t gSize = 0, gAt = 0;
int gReads = 0;
constexpr Serial::Handle kHandle = 3;

}  // namespace

void SetAnswer(const uint8_t* bytes, size_t size) {
  gAnswer = bytes;
  gSize = size;
  gAt = 0;
  gReads = 0;
  gWritten.clear();
}

const std::vector<uint8_t>& Written() {
  return gWritten;
}

int Reads() {
  return gReads;
}

size_t BytesRead() {
  return gAt;
}

}  // namespace Scripted

namespace Serial {

Handle OpenPort(const char* name, uint32_t) {
  return name && *name ? Scripted::kHandle : InvalidHandle;
}

Fault LastFault() {
  return Fault::None;
}

bool SetTimeouts(Handle handle, const CommTimeouts&) {
  return handle == Scripted::kHandle;
}

bool SetupQueues(Handle handle, uint32_t, uint32_t) {
  return handle == Scripted::kHandle;
}

bool SetState(Handle handle, const Dcb&) {
  return handle == Scripted::kHandle;
}

bool GetState(Handle handle, Dcb& dcb) {
  dcb = Dcb{};
  return handle == Scripted::kHandle;
}

bool Purge(Handle handle, uint32_t) {
  return handle == Scripted::kHandle;
}

bool ReadBytes(Handle handle, void* buffer, uint32_t count, uint32_t& read) {
  using namespace Scripted;
  read = handle == kHandle ? static_cast<uint32_t>(std::min<size_t>(count, gSize - gAt)) : 0;
  if (read > 0) std::memcpy(buffer, gAnswer + gAt, read);
  gAt += read;
  ++gReads;
  return handle == kHandle;
}

bool WriteBytes(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
  written = handle == Scripted::kHandle ? count : 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  Scripted::gWritten.insert(Scripted::gWritten.end(), bytes, bytes + written);
  return written == count;
}

bool ClosePort(Handle handle) {
  return handle == Scripted::kHandle;
}

bool UseLinePurge(Handle handle, bool) {
  return handle == Scripted::kHandle;
}

bool UseKernelRs485(Handle handle, bool) {
  return handle == Scripted::kHandle;
}

}  // namespace Serial
