#include "device/LIR.h"

#include <cmath>

namespace LIR {
namespace {

using ModBus::RegisterArray;

constexpr uint16_t kJournalLatest = 517;
constexpr uint16_t kJournalCount = 518;
constexpr uint16_t kClock = 520;
constexpr uint16_t kSettings = 523;
constexpr uint16_t kCommand = 526;
constexpr uint16_t kCommonRele = 527;
constexpr uint16_t kPassword = 540;
constexpr uint16_t kNetAddress = 544;
constexpr uint16_t kChannelsState = 4;
constexpr uint16_t kDeviceType = 50;
constexpr uint16_t kJournalRecords = 1000;

// Day 0 of the date-time values, 30 December 1899, counted from 1 January 1970.
constexpr long kEpochOffset = 25569;
constexpr double kMinDateTime = -693593.0;  // 1 January of year 1
constexpr double kMaxDateTime = 2958466.0;  // the day after 31 December 9999
constexpr long kMsPerDay = 86400000;

uint8_t High(uint16_t reg) {
  return static_cast<uint8_t>(reg >> 8);
}
uint8_t Low(uint16_t reg) {
  return static_cast<uint8_t>(reg);
}
uint16_t Pack(unsigned high, unsigned low) {
  return static_cast<uint16_t>((high & 0xFF) << 8 | (low & 0xFF));
}

bool Bit(uint16_t reg, int bit) {
  return (reg >> bit) & 1;
}

// Days since 1 January 1970 of a proleptic Gregorian date (valid input assumed).
long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yoe = year - era * 400;
  const long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long z, int& year, int& month, int& day) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool Command(uint8_t address, uint16_t code) {
  return ModBus::WriteSingleRegister(address, kCommand, code);
}

bool WriteOne(uint8_t address, uint16_t reg, uint16_t value) {
  RegisterArray regs{};
  regs[0] = value;
  return ModBus::WriteMultipleRegisters(address, reg, 1, regs);
}

}  // namespace

bool EncodeDateTime(const DateTimeParts& p, double& dateTime) {
  if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
      p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 ||
      p.Minute > 59 || p.Second < 0 || p.Second > 59)
    return false;
  const double days = static_cast<double>(DaysFromCivil(p.Year, p.Month, p.Day) + kEpochOffset);
  const double time = (p.Hour * 3600 + p.Minute * 60 + p.Second) / 86400.0;
  // Before day 0 the fraction still counts forward from midnight of the day.
  dateTime = days >= 0 ? days + time : days - time;
  return true;
}

bool DecodeDateTime(double dateTime, DateTimeParts& p) {
  if (!std::isfinite(dateTime) || dateTime <= kMinDateTime - 1 || dateTime >= kMaxDateTime)
    return false;
  long days = static_cast<long>(std::trunc(dateTime));
  long ms = std::lround(std::fabs(dateTime - static_cast<double>(days)) * kMsPerDay);
  if (ms >= kMsPerDay) {  // rounded up to the next midnight
    ms -= kMsPerDay;
    ++days;
  }
  CivilFromDays(days - kEpochOffset, p.Year, p.Month, p.Day);
  if (p.Year < 1 || p.Year > 9999) return false;
  const long seconds = ms / 1000;
  p.Hour = static_cast<int>(seconds / 3600);
  p.Minute = static_cast<int>(seconds / 60 % 60);
  p.Second = static_cast<int>(seconds % 60);
  return true;
}

uint8_t CharToDeviceCode(unsigned char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(32 + (c - '0'));
  if (c >= 192 && c <= 200) return static_cast<uint8_t>(c - 191);  // А..И
  if (c >= 202 && c <= 217) return static_cast<uint8_t>(c - 192);  // К..Щ (Й has no code)
  switch (c) {
    case 218:  // Ъ
      return 28;
    case 219:  // Ы
      return 26;
    case 220:  // Ь
      return 27;
    case 221:  // Э
    case 222:  // Ю
    case 223:  // Я
      return static_cast<uint8_t>(c - 192);
    default:  // "_", Й and everything outside the device's alphabet
      return 0;
  }
}

void EncodePassword(const std::string& text, std::array<uint16_t, 4>& regs) {
  auto code = [&text](size_t i) -> unsigned {
    return i < text.size() ? CharToDeviceCode(static_cast<unsigned char>(text[i])) : 0;
  };
  for (size_t i = 0; i < 4; ++i)
    regs[i] = Pack(code(2 * i), code(2 * i + 1));
}

bool ReadChannelsParam(uint8_t address, uint8_t first, uint8_t count, ChannelParams& params) {
  // Twelve channels at most: more would not fit the caller's records.
  if (count == 0 || count > params.size()) return false;
  RegisterArray regs;
  if (!ModBus::ReadHoldingRegisters(address, static_cast<uint16_t>(3 * first),
                                    static_cast<uint16_t>(3 * count), regs))
    return false;
  for (size_t i = 0; i < count; ++i) {
    ChannelParam& p = params[i];
    const uint16_t flags = regs[3 * i + 2];
    p.VrSrabat = regs[3 * i];
    p.VrZaderj = regs[3 * i + 1];
    p.TypeInput = Bit(flags, 0);
    p.TypeChannel = Bit(flags, 1);
    p.ReleMode = Bit(flags, 2);
    p.ToRele = Bit(flags, 3);
    p.Srabat = !Bit(flags, 4);
    p.Norm = Bit(flags, 5);
    // Both sound bits set is no sound the unit knows: the caller's value stays.
    if (!Bit(flags, 6) && !Bit(flags, 7)) p.Zvuk = 0;
    if (Bit(flags, 6) && !Bit(flags, 7)) p.Zvuk = 1;
    if (!Bit(flags, 6) && Bit(flags, 7)) p.Zvuk = 2;
    p.ReleNumber = High(flags);
  }
  return true;
}

bool WriteChannelsParam(uint8_t address, uint8_t first, uint8_t count, ChannelParams params) {
  if (count == 0 || count > params.size()) return false;
  RegisterArray regs{};
  for (size_t i = 0; i < count; ++i) {
    const ChannelParam& p = params[i];
    uint16_t flags = static_cast<uint16_t>(p.ReleNumber << 8);
    if (p.TypeInput) flags |= 1;
    if (p.TypeChannel) flags |= 2;
    if (p.ReleMode) flags |= 4;
    if (p.ToRele) flags |= 8;
    if (!p.Srabat) flags |= 16;
    if (p.Norm) flags |= 32;
    if (p.Zvuk == 1) flags |= 64;
    if (p.Zvuk == 2) flags |= 128;
    regs[3 * i] = p.VrSrabat;
    regs[3 * i + 1] = p.VrZaderj;
    regs[3 * i + 2] = flags;
  }
  return ModBus::WriteMultipleRegisters(address, static_cast<uint16_t>(3 * first),
                                        static_cast<uint16_t>(3 * count), regs);
}

ClockResult ReadClockChecked(uint8_t address, double& dateTime) {
  RegisterArray regs;
  if (!ModBus::ReadHoldingRegisters(address, kClock, 3, regs)) return ClockResult::NoAnswer;
  const DateTimeParts parts{2000 + High(regs[1]), Low(regs[0]),  High(regs[0]),
                            Low(regs[1]),         High(regs[2]), Low(regs[2])};
  double value;
  if (!EncodeDateTime(parts, value)) return ClockResult::InvalidDate;
  dateTime = value;
  return ClockResult::Ok;
}

bool ReadClock(uint8_t address, double& dateTime) {
  return ReadClockChecked(address, dateTime) == ClockResult::Ok;
}

bool WriteClock(uint8_t address, double dateTime) {
  DateTimeParts p;
  if (!DecodeDateTime(dateTime, p)) return false;
  RegisterArray regs{};
  regs[0] = Pack(static_cast<unsigned>(p.Day), static_cast<unsigned>(p.Month));
  // The unit holds the year in one byte; outside 2000..2255 it wraps, as it always did.
  regs[1] = Pack(static_cast<unsigned>(((p.Year - 2000) % 256 + 256) % 256),
                 static_cast<unsigned>(p.Hour));
  regs[2] = Pack(static_cast<unsigned>(p.Minute), static_cast<unsigned>(p.Second));
  return ModBus::WriteMultipleRegisters(address, kClock, 3, regs);
}

bool ReadSettings(uint8_t address, RegisterArray& regs) {
  RegisterArray answer;
  if (!ModBus::ReadHoldingRegisters(address, kSettings, 3, answer)) return false;
  for (size_t i = 0; i < 3; ++i)
    regs[i] = answer[i];
  return true;
}

bool WriteSettings(uint8_t address, RegisterArray regs) {
  return ModBus::WriteMultipleRegisters(address, kSettings, 3, regs);
}

bool CmdPusk(uint8_t address) {
  return Command(address, CodePusk);
}
bool CmdStop(uint8_t address) {
  return Command(address, CodeStop);
}
bool CmdControl(uint8_t address) {
  return Command(address, CodeControl);
}
bool CmdKvitir(uint8_t address) {
  return Command(address, CodeKvitir);
}
bool CmdSbros(uint8_t address) {
  return Command(address, CodeSbros);
}
bool CmdRestart(uint8_t address) {
  return Command(address, CodeRestart);
}

bool ReadCommonReleType(uint8_t address, uint8_t& type) {
  RegisterArray regs;
  if (!ModBus::ReadHoldingRegisters(address, kCommonRele, 1, regs)) return false;
  // A value other than 0 and 1 is no relay type: the caller's value stays.
  if (Low(regs[0]) == 0) type = 0;
  if (Low(regs[0]) == 1) type = 1;
  return true;
}

bool WriteCommonReleType(uint8_t address, bool type) {
  return WriteOne(address, kCommonRele, type ? 1 : 0);
}

bool WritePassword(uint8_t address, const std::string& text) {
  std::array<uint16_t, 4> codes;
  EncodePassword(text, codes);
  RegisterArray regs{};
  for (size_t i = 0; i < codes.size(); ++i)
    regs[i] = codes[i];
  return ModBus::WriteMultipleRegisters(address, kPassword, 4, regs);
}

bool WriteNetAddress(uint8_t address, uint8_t newAddress) {
  return ModBus::WriteSingleRegister(address, kNetAddress, newAddress);
}

bool ReadChannelsState(uint8_t address, uint16_t& state) {
  RegisterArray regs;
  if (!ModBus::ReadInputRegisters(address, kChannelsState, 1, regs)) return false;
  state = regs[0];
  return true;
}

bool ReadDeviceType(uint8_t address, uint8_t& type) {
  RegisterArray regs;
  if (!ModBus::ReadInputRegisters(address, kDeviceType, 1, regs)) return false;
  type = Low(regs[0]);
  return true;
}

uint8_t CheckAccess(uint8_t address) {
  RegisterArray regs;
  if (!ModBus::ReadInputRegisters(address, kDeviceType, 1, regs)) return AccessNoAnswer;
  return regs[0] >= 0x8000 ? AccessGranted : AccessDenied;
}

bool ClearJournal(uint8_t address) {
  return WriteOne(address, kJournalCount, 0);
}

bool ReadJournalInfo(uint8_t address, uint16_t& latest, uint16_t& count) {
  RegisterArray regs;
  if (!ModBus::ReadHoldingRegisters(address, kJournalLatest, 2, regs)) return false;
  latest = regs[0];
  count = regs[1];
  return true;
}

bool ReadJournalRecord(uint8_t address, uint16_t k, JournalRecord& rec) {
  RegisterArray regs;
  const uint16_t first = static_cast<uint16_t>(kJournalRecords + 4 * (k - 1));
  if (!ModBus::ReadInputRegisters(address, first, 4, regs)) return false;
  rec.Day = High(regs[0]);
  rec.Month = Low(regs[0]);
  rec.Year = High(regs[1]);
  rec.Hour = Low(regs[1]);
  rec.Minute = High(regs[2]);
  rec.Second = Low(regs[2]);
  rec.Alarm = Bit(regs[3], 7);
  rec.Channel = regs[3] & 0x7F;
  return true;
}

}  // namespace LIR
