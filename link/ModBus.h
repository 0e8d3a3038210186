#pragma once
// The line's Modbus RTU master: functions 3, 4, 6 and 16. Each call is one transaction on
// Port: the request goes out, the answer of the expected length is read in one read bounded
// by the port's time-outs, checked, and the result is true or false. Nothing is retried.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "link/PortDef.h"

namespace ModBus {

using RegisterArray = std::array<uint16_t, 1025>;

// Direction of a frame handed to the traffic sink.
enum : uint8_t { Sent = 0, Received = 1 };

extern TPort* Port;  // valid from program start to exit, created with the defaults

uint16_t Crc16(const uint8_t* bytes, size_t length);

// An answer counts only when it is the answer to the request: its CRC, address, function, byte
// count (reads) or echo (writes) must match. Counts outside what a frame can carry (reads
// 1..125, writes 1..123) fail without sending.
bool ReadHoldingRegisters(uint8_t address, uint16_t first, uint16_t count, RegisterArray& regs);
bool ReadInputRegisters(uint8_t address, uint16_t first, uint16_t count, RegisterArray& regs);
bool WriteSingleRegister(uint8_t address, uint16_t reg, uint16_t value);
bool WriteMultipleRegisters(uint8_t address, uint16_t first, uint16_t count, RegisterArray regs);

// Why the last transaction failed; None after a success.
enum class Error : uint8_t {
  None,
  BadCount,      // refused before sending: a count no frame can carry
  WriteFailed,   // the request did not go out whole
  NoAnswer,      // nothing came within the time-outs
  ShortAnswer,   // the answer was cut short
  BadCrc,        // the answer's checksum does not match
  Exception,     // the unit answered with an exception (LastException gives its code)
  WrongAddress,  // an answer from another address
  WrongAnswer,   // an answer of another function, length or echo: not for this request
  PortLost,      // the line has gone (Port->Lost(), Port->LastFault() says how), or is not back
};
// A transaction on a lost port first tries one Port->Reconnect(). When that try waits out its
// connect bound (a device server that does not answer), the transactions of the next 5 seconds
// fail with PortLost at once, without trying; an answered transaction ends the pause.
Error LastError();
uint8_t LastException();  // the exception code when LastError() is Exception, else 0

// Told of every failed transaction, after LastError() has been set: the unit's address and
// the function asked. An empty function stops the telling.
void SetFailureSink(std::function<void(uint8_t address, uint8_t function)> sink);

// Receives every complete frame sent or received; an empty function stops the recording.
void SetTrafficSink(
    std::function<void(const uint8_t* bytes, uint16_t count, uint8_t direction)> sink);

}  // namespace ModBus
