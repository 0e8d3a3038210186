#include "link/ModBus.h"

#include <algorithm>
#include <chrono>

namespace ModBus {
namespace {

TPort gPort;

std::function<void(const uint8_t*, uint16_t, uint8_t)> gSink;
std::function<void(uint8_t, uint8_t)> gFailureSink;

Error gError = Error::None;
uint8_t gException = 0;

using Clock = std::chrono::steady_clock;
// After a reopening that waited out its connect bound (a device server that does not answer),
// the transactions fail at once for this long instead of each waiting again: a held panel
// button would otherwise block the program for the whole bound at every tick.
constexpr auto kReopenPause = std::chrono::seconds(5);
Clock::time_point gReopenAfter;

constexpr uint16_t kMaxReadCount = 125;
constexpr uint16_t kMaxWriteCount = 123;
constexpr uint8_t kExceptionBit = 0x80;
constexpr uint16_t kExceptionLength = 5;
// After a spoilt answer: the silence that ends it, longer than a USB adapter's 16 ms latency
// timer may hold a packet back, and the most that is waited for it.
constexpr uint32_t kQuietMs = 50;
constexpr uint32_t kQuietLimitMs = 500;
// Large enough for any frame the counts above allow.
constexpr size_t kFrameSize = 2 * kMaxReadCount + 9;
using Frame = std::array<uint8_t, kFrameSize>;

bool Fail(Error error, uint8_t exception = 0) {
  gError = error;
  gException = exception;
  return false;
}

void Put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

uint16_t Get16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

void PutCrc(uint8_t* frame, size_t length) {
  const uint16_t crc = Crc16(frame, length);
  frame[length] = static_cast<uint8_t>(crc);
  frame[length + 1] = static_cast<uint8_t>(crc >> 8);
}

bool CrcMatches(const uint8_t* frame, size_t length) {
  return Crc16(frame, length) == (frame[length] | frame[length + 1] << 8);
}

bool IsException(const uint8_t* answer, uint8_t address, uint8_t function) {
  return answer[0] == address && answer[1] == (function | kExceptionBit);
}

// A lost port is tried once more by each transaction, so the next action finds a line that is
// back; fails at once within the pause.
bool Reopen() {
  const Clock::time_point start = Clock::now();
  if (start < gReopenAfter) return false;
  if (Port->Reconnect()) return true;
  if (Clock::now() - start >= std::chrono::milliseconds(Serial::ConnectTimeoutMs / 2))
    gReopenAfter = Clock::now() + kReopenPause;
  return false;
}

bool SendFrame(const uint8_t* bytes, uint16_t length) {
  if (Port->Write(bytes, length) != length)
    return Fail(Port->Lost() ? Error::PortLost : Error::WriteFailed);
  if (gSink) gSink(bytes, length, Sent);
  return true;
}

// One read for the whole answer: it is never pieced together from several. Only a complete
// answer is shown; what fell short is only told apart for LastError.
bool ReceiveFrame(uint8_t* buffer, uint16_t length, uint8_t address, uint8_t function) {
  const int32_t n = Port->Read(buffer, length);
  if (n == length) {
    if (gSink) gSink(buffer, length, Received);
    return true;
  }
  if (Port->Lost()) return Fail(Error::PortLost);
  if (n <= 0) return Fail(Error::NoAnswer);
  // An exception answer is shorter than every answer the master waits for.
  if (n == kExceptionLength && IsException(buffer, address, function) && CrcMatches(buffer, 3))
    return Fail(Error::Exception, buffer[2]);
  return Fail(Error::ShortAnswer);
}

// Sends the request in `frame` and reads its answer of `answerLength` bytes over it. The
// answer counts only when it is the answer to this request: another unit's answer, a late
// or stray one, or noise of the right length must never pass for this unit's data.
bool Exchange(Frame& frame, uint16_t requestLength, uint16_t answerLength) {
  const uint8_t address = frame[0], function = frame[1];
  // Reads answer with their byte count; writes repeat the request's bytes 2..5.
  const bool echoed = function == 6 || function == 16;
  std::array<uint8_t, 4> request;
  std::copy_n(frame.begin() + 2, request.size(), request.begin());
  const uint8_t byteCount = static_cast<uint8_t>(answerLength - 5);

  if (Port->Lost() && !Reopen()) return Fail(Error::PortLost);
  if (!SendFrame(frame.data(), requestLength)) return false;
  if (!ReceiveFrame(frame.data(), answerLength, address, function)) return false;
  if (!CrcMatches(frame.data(), answerLength - 2)) return Fail(Error::BadCrc);
  if (IsException(frame.data(), address, function)) return Fail(Error::Exception, frame[2]);
  if (frame[0] != address) return Fail(Error::WrongAddress);
  const bool matches =
      frame[1] == function &&
      (echoed ? std::equal(request.begin(), request.end(), &frame[2]) : frame[2] == byteCount);
  if (!matches) return Fail(Error::WrongAnswer);
  gReopenAfter = {};  // a line that answers again is tried again at once when it next goes
  gError = Error::None;
  gException = 0;
  return true;
}

bool Transact(Frame& frame, uint16_t requestLength, uint16_t answerLength) {
  const uint8_t address = frame[0], function = frame[1];
  if (Exchange(frame, requestLength, answerLength)) return true;
  // What is left of an answer that did not count (its tail after noise, the rest of a late
  // one) must not reach the line after the next request, where an answer of the same shape
  // would pass for that one's: no answer check can tell them apart.
  if (gError == Error::ShortAnswer || gError == Error::BadCrc || gError == Error::WrongAddress ||
      gError == Error::WrongAnswer)
    Port->DiscardUntilQuiet(kQuietMs, kQuietLimitMs);
  if (gFailureSink) gFailureSink(address, function);
  return false;
}

bool ReadRegisters(uint8_t function, uint8_t address, uint16_t first, uint16_t count,
                   RegisterArray& regs) {
  if (count == 0 || count > kMaxReadCount) return Fail(Error::BadCount);
  Frame frame;
  frame[0] = address;
  frame[1] = function;
  Put16(&frame[2], first);
  Put16(&frame[4], count);
  PutCrc(frame.data(), 6);
  if (!Transact(frame, 8, static_cast<uint16_t>(2 * count + 5))) return false;
  for (uint16_t k = 0; k < count; ++k)
    regs[k] = Get16(&frame[3 + 2 * k]);
  return true;
}

}  // namespace

TPort* Port = &gPort;

uint16_t Crc16(const uint8_t* bytes, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

bool ReadHoldingRegisters(uint8_t address, uint16_t first, uint16_t count, RegisterArray& regs) {
  return ReadRegisters(3, address, first, count, regs);
}

bool ReadInputRegisters(uint8_t address, uint16_t first, uint16_t count, RegisterArray& regs) {
  return ReadRegisters(4, address, first, count, regs);
}

bool WriteSingleRegister(uint8_t address, uint16_t reg, uint16_t value) {
  Frame frame;
  frame[0] = address;
  frame[1] = 6;
  Put16(&frame[2], reg);
  Put16(&frame[4], value);
  PutCrc(frame.data(), 6);
  return Transact(frame, 8, 8);
}

bool WriteMultipleRegisters(uint8_t address, uint16_t first, uint16_t count, RegisterArray regs) {
  if (count == 0 || count > kMaxWriteCount) return Fail(Error::BadCount);
  Frame frame;
  frame[0] = address;
  frame[1] = 16;
  Put16(&frame[2], first);
  Put16(&frame[4], count);
  frame[6] = static_cast<uint8_t>(2 * count);
  for (uint16_t k = 0; k < count; ++k)
    Put16(&frame[7 + 2 * k], regs[k]);
  const uint16_t dataEnd = static_cast<uint16_t>(7 + 2 * count);
  PutCrc(frame.data(), dataEnd);
  return Transact(frame, dataEnd + 2, 8);
}

Error LastError() {
  return gError;
}

uint8_t LastException() {
  return gException;
}

void SetFailureSink(std::function<void(uint8_t, uint8_t)> sink) {
  gFailureSink = std::move(sink);
}

void SetTrafficSink(std::function<void(const uint8_t*, uint16_t, uint8_t)> sink) {
  gSink = std::move(sink);
}

}  // namespace ModBus
