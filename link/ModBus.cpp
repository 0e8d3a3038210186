#include "link/ModBus.h"

namespace ModBus {
namespace {

TPort gPort;

std::function<void(const uint8_t*, uint16_t, uint8_t)> gSink;

constexpr uint16_t kMaxReadCount = 125;
constexpr uint16_t kMaxWriteCount = 123;
// Large enough for any frame the counts above allow.
constexpr size_t kFrameSize = 2 * kMaxReadCount + 9;
using Frame = std::array<uint8_t, kFrameSize>;

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

bool SendFrame(const uint8_t* bytes, uint16_t length) {
  if (Port->Write(bytes, length) != length) return false;
  if (gSink) gSink(bytes, length, Sent);
  return true;
}

// One read for the whole answer: it is never pieced together from several.
bool ReceiveFrame(uint8_t* buffer, uint16_t length) {
  if (Port->Read(buffer, length) != length) return false;
  if (gSink) gSink(buffer, length, Received);
  return true;
}

// The exception test compares the address; a good answer bearing another address is
// accepted, as the devices have always been answered.
bool IsException(const uint8_t* answer, uint8_t address, uint8_t function) {
  return answer[0] == address && answer[1] == (function | 0x80);
}

bool ReadRegisters(uint8_t function, uint8_t address, uint16_t first, uint16_t count,
                   RegisterArray& regs) {
  if (count == 0 || count > kMaxReadCount) return false;
  Frame frame;
  frame[0] = address;
  frame[1] = function;
  Put16(&frame[2], first);
  Put16(&frame[4], count);
  PutCrc(frame.data(), 6);
  if (!SendFrame(frame.data(), 8)) return false;

  const uint16_t dataEnd = static_cast<uint16_t>(3 + 2 * count);
  if (!ReceiveFrame(frame.data(), dataEnd + 2)) return false;
  if (IsException(frame.data(), address, function)) return false;
  if (!CrcMatches(frame.data(), dataEnd)) return false;
  for (uint16_t k = 0; k < count; ++k)
    regs[k] = Get16(&frame[3 + 2 * k]);
  return true;
}

// Functions 6 and 16 are acknowledged by an 8-byte answer.
bool ReceiveAcknowledge(uint8_t address, uint8_t function) {
  Frame frame;
  if (!ReceiveFrame(frame.data(), 8)) return false;
  if (IsException(frame.data(), address, function)) return false;
  return CrcMatches(frame.data(), 6);
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
  if (!SendFrame(frame.data(), 8)) return false;
  return ReceiveAcknowledge(address, 6);
}

bool WriteMultipleRegisters(uint8_t address, uint16_t first, uint16_t count, RegisterArray regs) {
  if (count == 0 || count > kMaxWriteCount) return false;
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
  if (!SendFrame(frame.data(), dataEnd + 2)) return false;
  return ReceiveAcknowledge(address, 16);
}

void SetTrafficSink(std::function<void(const uint8_t*, uint16_t, uint8_t)> sink) {
  gSink = std::move(sink);
}

}  // namespace ModBus
