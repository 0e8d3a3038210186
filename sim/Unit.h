#pragma once
// One ЛИР unit: its registers and how it acts on what the master writes. Pure model: no I/O,
// no clock of its own; every call that depends on time is handed the present moment.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Simulator.h"

namespace Sim {

// The present moment as the unit sees it: the host's local wall time (milliseconds since
// 1970-01-01 00:00 local, ignoring leap seconds) and a monotonic time for short delays.
struct Now {
  int64_t LocalMs = 0;
  int64_t SteadyMs = 0;
};

// Modbus exception codes.
constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalDataAddress = 2;
constexpr uint8_t kIllegalDataValue = 3;
constexpr uint8_t kDeviceFailure = 4;

// Panel command codes of register 526.
constexpr uint16_t kCmdPusk = 1;
constexpr uint16_t kCmdStop = 2;
constexpr uint16_t kCmdControl = 4;
constexpr uint16_t kCmdKvitir = 8;
constexpr uint16_t kCmdSbros = 16;
constexpr uint16_t kCmdRestart = 32;

constexpr uint16_t kJournalSize = 1000;
constexpr uint16_t kJournalFirstReg = 1000;
constexpr int64_t kLampTestMs = 1000;

// Device character codes of the password, from a cp1251 byte and back (0 when the code has
// no character).
uint8_t DeviceCode(uint8_t cp1251);
uint8_t DeviceChar(uint8_t code);
std::array<uint16_t, 4> EncodePassword(const std::string& cp1251);
// True when every character is in the password alphabet: digits, '_', А..Я without Й.
bool IsPasswordChar(uint8_t cp1251);
int ChannelCount(uint8_t model);

// Civil date and time, as the clock registers and the journal records hold them.
struct DateTime {
  int Year = 2000, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
};
int64_t DaysFromCivil(int year, int month, int day);
DateTime CivilFromSeconds(int64_t seconds);  // seconds since 1970-01-01 00:00
bool ValidDateTime(const DateTime& t);
int64_t SecondsFromCivil(const DateTime& t);

class Unit {
 public:
  Unit(const UnitSetup& setup, const Now& now);

  uint8_t Address() const { return address_; }
  uint8_t Model() const { return model_; }
  bool Access() const { return access_; }

  // Modbus side. Each returns 0 when the unit carried the request out, else the exception
  // code it answers with; a refused write changes nothing.
  uint8_t ReadHolding(uint16_t first, uint16_t count, std::vector<uint16_t>& values,
                      const Now& now) const;
  uint8_t ReadInput(uint16_t first, uint16_t count, std::vector<uint16_t>& values,
                    const Now& now) const;
  uint8_t Write(uint16_t first, const std::vector<uint16_t>& values, const Now& now);
  // A new address accepted by a write; the unit takes it once its answer has gone out.
  bool TakePendingAddress(uint8_t& address);

  // Direct state for tests and the control port: no access check, no value check.
  bool Holding(uint16_t reg, uint16_t& value, const Now& now) const;
  bool SetHolding(uint16_t reg, uint16_t value, const Now& now);
  bool Input(uint16_t reg, uint16_t& value, const Now& now) const;
  void SetAddress(uint8_t address) { address_ = address; }
  void SetAccess(bool granted) { access_ = granted; }
  void SetModel(uint8_t model) { model_ = model; }
  bool SetChannelInput(uint8_t channel, bool active, const Now& now);  // channel from 0
  bool ChannelInput(uint8_t channel) const { return channel < 16 && (inputs_ >> channel) & 1; }
  void SetClockRegisters(uint16_t r520, uint16_t r521, uint16_t r522);
  void SetJournal(uint16_t count, uint16_t latest, const Now& now);
  std::string Password() const;  // cp1251, '?' for a code without a character
  uint32_t CommandCount(uint16_t code) const;
  void ResetCounters();
  bool PumpRunning() const { return pump_; }
  bool SoundSilenced() const { return silenced_; }

 private:
  bool Readable(uint16_t reg) const;
  bool Writable(uint16_t reg) const;
  uint16_t HoldingValue(uint16_t reg, const Now& now) const;
  uint16_t InputValue(uint16_t reg, const Now& now) const;
  uint16_t State(const Now& now) const;
  std::array<uint16_t, 3> ClockRegisters(const Now& now) const;
  uint8_t CheckValues(uint16_t first, const std::vector<uint16_t>& values, const Now& now) const;
  void SetClock(const std::array<uint16_t, 3>& regs, const Now& now);
  void Command(uint16_t code, const Now& now);
  void Trip(int channel, const Now& now);
  void BackToNormal(int channel, const Now& now);
  void AddRecord(int channel, bool alarm, const Now& now);
  int64_t DeviceSeconds(const Now& now) const;

  uint8_t address_;
  uint8_t model_;
  bool access_;
  std::array<uint16_t, 4> password_;
  std::array<uint16_t, 36> params_{};
  std::array<uint16_t, 3> settings_{};  // 523..525
  uint16_t lastCommand_ = 0;            // 526
  uint16_t releType_ = 0;               // 527
  int64_t clockOffsetMs_ = 0;           // device time minus host local time
  bool clockFrozen_ = false;
  std::array<uint16_t, 3> frozenClock_{};
  uint16_t inputs_ = 0;
  uint16_t tripped_ = 0;
  int64_t lampUntilMs_ = 0;  // steady time until which the lamp test lights every channel
  bool pump_ = false;
  bool silenced_ = false;
  std::array<uint32_t, 6> commands_{};
  std::array<std::array<uint16_t, 4>, kJournalSize> journal_{};
  uint16_t latest_ = 0;  // 517
  uint16_t count_ = 0;   // 518
  bool pendingAddress_ = false;
  uint8_t newAddress_ = 0;
};

}  // namespace Sim
