#pragma once
// The ЛИР unit's register map: one function per block of registers, each one Modbus
// transaction, converting between registers and the program's records. Nothing here shows
// a message; the calling window does.

#include <array>
#include <cstdint>
#include <string>

#include "link/ModBus.h"

namespace LIR {

// Model codes read from the low byte of input register 50.
enum : uint8_t { Model4M = 5, Model8M = 6, Model12M = 7 };

// Results of CheckAccess.
enum : uint8_t { AccessDenied = 0, AccessGranted = 1, AccessNoAnswer = 2 };

// Panel command codes written to register 526.
enum : uint16_t {
  CodePusk = 1,
  CodeStop = 2,
  CodeControl = 4,
  CodeKvitir = 8,
  CodeSbros = 16,
  CodeRestart = 32
};

struct ChannelParam {
  uint16_t VrSrabat, VrZaderj;
  uint8_t TypeInput, TypeChannel, ReleMode, ToRele, Srabat, Norm, Zvuk, ReleNumber;
};
using ChannelParams = std::array<ChannelParam, 12>;

struct JournalRecord {
  uint8_t Day, Month, Year, Hour, Minute, Second;
  uint16_t Channel;
  uint8_t Alarm;
};

// Outcome of a clock read: a unit can answer with registers that are no date at all.
enum class ClockResult { Ok, NoAnswer, InvalidDate };

uint8_t CharToDeviceCode(unsigned char cp1251);
void EncodePassword(const std::string& cp1251Text, std::array<uint16_t, 4>& regs);

bool ReadChannelsParam(uint8_t address, uint8_t first, uint8_t count, ChannelParams& params);
bool WriteChannelsParam(uint8_t address, uint8_t first, uint8_t count, ChannelParams params);
// dateTime counts days since 30 December 1899 with the time of day as the fraction.
bool ReadClock(uint8_t address, double& dateTime);
ClockResult ReadClockChecked(uint8_t address, double& dateTime);
bool WriteClock(uint8_t address, double dateTime);
bool ReadSettings(uint8_t address, ModBus::RegisterArray& regs);
bool WriteSettings(uint8_t address, ModBus::RegisterArray regs);
bool CmdPusk(uint8_t address);
bool CmdStop(uint8_t address);
bool CmdControl(uint8_t address);
bool CmdKvitir(uint8_t address);
bool CmdSbros(uint8_t address);
bool CmdRestart(uint8_t address);
bool ReadCommonReleType(uint8_t address, uint8_t& type);
bool WriteCommonReleType(uint8_t address, bool type);
bool WritePassword(uint8_t address, const std::string& cp1251Text);
bool WriteNetAddress(uint8_t address, uint8_t newAddress);
bool ReadChannelsState(uint8_t address, uint16_t& state);
bool ReadDeviceType(uint8_t address, uint8_t& type);
uint8_t CheckAccess(uint8_t address);
bool ClearJournal(uint8_t address);
bool ReadJournalInfo(uint8_t address, uint16_t& latest, uint16_t& count);
bool ReadJournalRecord(uint8_t address, uint16_t k, JournalRecord& rec);

// The calendar of the date-time values (proleptic Gregorian, day 0 = 30 December 1899).
struct DateTimeParts {
  int Year, Month, Day, Hour, Minute, Second;
};
bool EncodeDateTime(const DateTimeParts& parts, double& dateTime);  // false: not a valid date
bool DecodeDateTime(double dateTime, DateTimeParts& parts);  // to the second; false: out of range

}  // namespace LIR
