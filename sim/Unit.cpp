#include "sim/Unit.h"

#include <algorithm>

namespace Sim {

namespace {

constexpr uint16_t kStateReg = 4;
constexpr uint16_t kTypeReg = 50;
constexpr uint16_t kLatestReg = 517;
constexpr uint16_t kCountReg = 518;
constexpr uint16_t kClockReg = 520;
constexpr uint16_t kSettingsReg = 523;
constexpr uint16_t kCommandReg = 526;
constexpr uint16_t kReleTypeReg = 527;
constexpr uint16_t kPasswordReg = 540;
constexpr uint16_t kAddressReg = 544;
constexpr uint16_t kJournalLastReg = kJournalFirstReg + 4 * kJournalSize - 1;

// Bits of a channel's register 3n+2 that the unit acts on.
constexpr uint16_t kPassThrough = 0x02;
constexpr uint16_t kTripNotLogged = 0x10;
constexpr uint16_t kReturnLogged = 0x20;

// A fresh unit: trip time 10, no delay, latching, trips and returns both logged.
constexpr uint16_t kDefaultTripTime = 10;
constexpr uint16_t kDefaultFlags = kReturnLogged;

constexpr uint8_t kLastDeviceCode = 41;

bool InRange(uint32_t v, uint32_t lo, uint32_t hi) {
  return v >= lo && v <= hi;
}

int CommandIndex(uint16_t code) {
  switch (code) {
    case kCmdPusk:
      return 0;
    case kCmdStop:
      return 1;
    case kCmdControl:
      return 2;
    case kCmdKvitir:
      return 3;
    case kCmdSbros:
      return 4;
    case kCmdRestart:
      return 5;
    default:
      return -1;
  }
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::array<uint16_t, 3> PackDateTime(const DateTime& t) {
  return {static_cast<uint16_t>(t.Day << 8 | t.Month),
          static_cast<uint16_t>(((t.Year - 2000) & 0xFF) << 8 | t.Hour),
          static_cast<uint16_t>(t.Minute << 8 | t.Second)};
}

DateTime UnpackDateTime(const std::array<uint16_t, 3>& r) {
  DateTime t;
  t.Day = r[0] >> 8;
  t.Month = r[0] & 0xFF;
  t.Year = 2000 + (r[1] >> 8);
  t.Hour = r[1] & 0xFF;
  t.Minute = r[2] >> 8;
  t.Second = r[2] & 0xFF;
  return t;
}

}  // namespace

uint8_t DeviceCode(uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(32 + c - '0');
  if (c >= 192 && c <= 200) return static_cast<uint8_t>(c - 191);  // А..И
  if (c >= 202 && c <= 217) return static_cast<uint8_t>(c - 192);  // К..Щ
  if (c == 218) return 28;                                         // Ъ
  if (c == 219) return 26;                                         // Ы
  if (c == 220) return 27;                                         // Ь
  if (c >= 221 && c <= 223) return static_cast<uint8_t>(c - 192);  // Э Ю Я
  return 0;                                                        // '_' and the rest
}

uint8_t DeviceChar(uint8_t code) {
  if (code == 0) return '_';
  if (code <= 9) return static_cast<uint8_t>(code + 191);
  if (code <= 25) return static_cast<uint8_t>(code + 192);
  if (code == 26) return 219;
  if (code == 27) return 220;
  if (code == 28) return 218;
  if (code <= 31) return static_cast<uint8_t>(code + 192);
  if (code <= kLastDeviceCode) return static_cast<uint8_t>('0' + code - 32);
  return 0;
}

std::array<uint16_t, 4> EncodePassword(const std::string& text) {
  std::array<uint16_t, 4> regs{};
  for (size_t i = 0; i < 8; ++i) {
    uint8_t code = i < text.size() ? DeviceCode(static_cast<uint8_t>(text[i])) : 0;
    regs[i / 2] |= static_cast<uint16_t>(i % 2 == 0 ? code << 8 : code);
  }
  return regs;
}

bool IsPasswordChar(uint8_t c) {
  return c == '_' || (c >= '0' && c <= '9') || (c >= 192 && c <= 223 && c != 201);
}

int ChannelCount(uint8_t model) {
  return model == 5 ? 4 : model == 6 ? 8 : 12;
}

int64_t DaysFromCivil(int year, int month, int day) {
  const int64_t y = year - (month <= 2);
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTime CivilFromSeconds(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, 86400);
  const int64_t secs = seconds - days * 86400;
  const int64_t z = days + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  DateTime t;
  t.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.Year = static_cast<int>(yoe + era * 400 + (t.Month <= 2));
  t.Hour = static_cast<int>(secs / 3600);
  t.Minute = static_cast<int>(secs / 60 % 60);
  t.Second = static_cast<int>(secs % 60);
  return t;
}

bool ValidDateTime(const DateTime& t) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.Month < 1 || t.Month > 12 || t.Day < 1) return false;
  bool leap = (t.Year % 4 == 0 && t.Year % 100 != 0) || t.Year % 400 == 0;
  int days = kDays[t.Month - 1] + (t.Month == 2 && leap ? 1 : 0);
  return t.Day <= days && InRange(t.Hour, 0, 23) && InRange(t.Minute, 0, 59) &&
         InRange(t.Second, 0, 59);
}

int64_t SecondsFromCivil(const DateTime& t) {
  return DaysFromCivil(t.Year, t.Month, t.Day) * 86400 + t.Hour * 3600 + t.Minute * 60 + t.Second;
}

Unit::Unit(const UnitSetup& setup, const Now& now)
    : address_(setup.Address),
      model_(setup.Model),
      access_(setup.AccessGranted),
      password_(EncodePassword(setup.Password)) {
  for (int n = 0; n < 12; ++n) {
    params_[3 * n] = kDefaultTripTime;
    params_[3 * n + 2] = kDefaultFlags;
  }
  // Inputs already active at power-up show as tripped, without journal entries.
  inputs_ = setup.Inputs & static_cast<uint16_t>((1u << ChannelCount(model_)) - 1);
  tripped_ = inputs_;
  SetJournal(setup.JournalCount, setup.JournalLatest, now);
}

bool Unit::Readable(uint16_t reg) const {
  return reg <= 35 || reg == kLatestReg || reg == kCountReg ||
         InRange(reg, kClockReg, kReleTypeReg) || reg == kAddressReg;
}

bool Unit::Writable(uint16_t reg) const {
  return reg <= 35 || reg == kCountReg || InRange(reg, kClockReg, kReleTypeReg) ||
         InRange(reg, kPasswordReg, kAddressReg);
}

uint8_t Unit::ReadHolding(uint16_t first, uint16_t count, std::vector<uint16_t>& values,
                          const Now& now) const {
  if (count == 0 || count > 125) return kIllegalDataValue;
  for (uint32_t r = first; r < uint32_t{first} + count; ++r) {
    if (r > 0xFFFF || !Readable(static_cast<uint16_t>(r))) return kIllegalDataAddress;
  }
  values.clear();
  for (uint32_t r = first; r < uint32_t{first} + count; ++r) {
    values.push_back(HoldingValue(static_cast<uint16_t>(r), now));
  }
  return 0;
}

uint8_t Unit::ReadInput(uint16_t first, uint16_t count, std::vector<uint16_t>& values,
                        const Now& now) const {
  if (count == 0 || count > 125) return kIllegalDataValue;
  for (uint32_t r = first; r < uint32_t{first} + count; ++r) {
    if (!(r == kStateReg || r == kTypeReg || InRange(r, kJournalFirstReg, kJournalLastReg))) {
      return kIllegalDataAddress;
    }
  }
  values.clear();
  for (uint32_t r = first; r < uint32_t{first} + count; ++r) {
    values.push_back(InputValue(static_cast<uint16_t>(r), now));
  }
  return 0;
}

uint8_t Unit::CheckValues(uint16_t first, const std::vector<uint16_t>& values,
                          const Now& now) const {
  if (values.empty() || values.size() > 123) return kIllegalDataValue;
  const uint32_t last = first + static_cast<uint32_t>(values.size()) - 1;
  for (uint32_t r = first; r <= last; ++r) {
    if (r > 0xFFFF || !Writable(static_cast<uint16_t>(r))) return kIllegalDataAddress;
  }
  // While access is denied the password is the only thing the unit takes.
  const bool passwordOnly = first >= kPasswordReg && last <= kPasswordReg + 3;
  if (!access_ && !passwordOnly) return kIllegalFunction;
  const bool touchesPassword = first <= kPasswordReg + 3 && last >= kPasswordReg;
  if (touchesPassword && (first > kPasswordReg || last < kPasswordReg + 3)) {
    return kIllegalDataValue;
  }
  if (first <= kClockReg + 2 && last >= kClockReg) {
    std::array<uint16_t, 3> clock = ClockRegisters(now);
    for (uint32_t r = kClockReg; r <= kClockReg + 2u; ++r) {
      if (r >= first && r <= last) clock[r - kClockReg] = values[r - first];
    }
    if (!ValidDateTime(UnpackDateTime(clock))) return kIllegalDataValue;
  }
  for (uint32_t r = first; r <= last; ++r) {
    const uint16_t v = values[r - first];
    bool bad = false;
    if (r == kCountReg) bad = v != 0;
    if (r == kCommandReg) bad = CommandIndex(v) < 0;
    if (r == kReleTypeReg) bad = (v & 0xFF) > 1;
    if (r == kAddressReg) bad = v == 0 || v > 255;
    if (access_ && InRange(r, kPasswordReg, kPasswordReg + 3)) {
      bad = (v >> 8) > kLastDeviceCode || (v & 0xFF) > kLastDeviceCode;
    }
    if (bad) return kIllegalDataValue;
  }
  return 0;
}

uint8_t Unit::Write(uint16_t first, const std::vector<uint16_t>& values, const Now& now) {
  if (uint8_t refused = CheckValues(first, values, now)) return refused;
  const uint32_t last = first + static_cast<uint32_t>(values.size()) - 1;
  bool command = false;
  for (uint32_t r = first; r <= last; ++r) {
    const uint16_t v = values[r - first];
    if (r <= 35) params_[r] = v;
    if (r == kCountReg) count_ = 0;  // records stay in memory, the count forgets them
    if (InRange(r, kSettingsReg, kSettingsReg + 2)) settings_[r - kSettingsReg] = v;
    if (r == kReleTypeReg) releType_ = v;
    if (r == kCommandReg) command = true;
    if (r == kAddressReg && v != address_) {
      pendingAddress_ = true;
      newAddress_ = static_cast<uint8_t>(v);
    }
  }
  if (first <= kClockReg + 2 && last >= kClockReg) {
    std::array<uint16_t, 3> clock = ClockRegisters(now);
    for (uint32_t r = kClockReg; r <= kClockReg + 2u; ++r) {
      if (r >= first && r <= last) clock[r - kClockReg] = values[r - first];
    }
    SetClock(clock, now);
  }
  if (first <= kPasswordReg && last >= kPasswordReg + 3) {
    std::array<uint16_t, 4> written;
    std::copy_n(values.begin() + (kPasswordReg - first), 4, written.begin());
    if (access_) {
      password_ = written;
    } else {
      access_ = written == password_;
    }
  }
  // The command acts last, on the parameters this same request may have written.
  if (command) Command(values[kCommandReg - first], now);
  return 0;
}

bool Unit::TakePendingAddress(uint8_t& address) {
  if (!pendingAddress_) return false;
  pendingAddress_ = false;
  address = newAddress_;
  return true;
}

bool Unit::Holding(uint16_t reg, uint16_t& value, const Now& now) const {
  if (InRange(reg, kPasswordReg, kPasswordReg + 3)) {
    value = password_[reg - kPasswordReg];
    return true;
  }
  if (!Readable(reg)) return false;
  value = HoldingValue(reg, now);
  return true;
}

bool Unit::SetHolding(uint16_t reg, uint16_t value, const Now& now) {
  if (reg <= 35) {
    params_[reg] = value;
  } else if (reg == kLatestReg) {
    latest_ = value;
  } else if (reg == kCountReg) {
    count_ = value;
  } else if (InRange(reg, kClockReg, kClockReg + 2)) {
    std::array<uint16_t, 3> clock = ClockRegisters(now);
    clock[reg - kClockReg] = value;
    SetClockRegisters(clock[0], clock[1], clock[2]);
  } else if (InRange(reg, kSettingsReg, kSettingsReg + 2)) {
    settings_[reg - kSettingsReg] = value;
  } else if (reg == kCommandReg) {
    lastCommand_ = value;
  } else if (reg == kReleTypeReg) {
    releType_ = value;
  } else if (InRange(reg, kPasswordReg, kPasswordReg + 3)) {
    password_[reg - kPasswordReg] = value;
  } else if (reg == kAddressReg && InRange(value, 1, 255)) {
    address_ = static_cast<uint8_t>(value);
  } else {
    return false;
  }
  return true;
}

bool Unit::Input(uint16_t reg, uint16_t& value, const Now& now) const {
  if (!(reg == kStateReg || reg == kTypeReg || InRange(reg, kJournalFirstReg, kJournalLastReg))) {
    return false;
  }
  value = InputValue(reg, now);
  return true;
}

uint16_t Unit::HoldingValue(uint16_t reg, const Now& now) const {
  if (reg <= 35) return params_[reg];
  if (reg == kLatestReg) return latest_;
  if (reg == kCountReg) return count_;
  if (InRange(reg, kClockReg, kClockReg + 2)) return ClockRegisters(now)[reg - kClockReg];
  if (InRange(reg, kSettingsReg, kSettingsReg + 2)) return settings_[reg - kSettingsReg];
  if (reg == kCommandReg) return lastCommand_;
  if (reg == kReleTypeReg) return releType_;
  if (reg == kAddressReg) return address_;
  return 0;
}

uint16_t Unit::InputValue(uint16_t reg, const Now& now) const {
  if (reg == kStateReg) return State(now);
  if (reg == kTypeReg) return static_cast<uint16_t>(model_ | (access_ ? 0x8000 : 0));
  const int offset = reg - kJournalFirstReg;
  return journal_[offset / 4][offset % 4];
}

uint16_t Unit::State(const Now& now) const {
  if (now.SteadyMs < lampUntilMs_) {
    return static_cast<uint16_t>(tripped_ | ((1u << ChannelCount(model_)) - 1));
  }
  return tripped_;
}

int64_t Unit::DeviceSeconds(const Now& now) const {
  return FloorDiv(now.LocalMs + clockOffsetMs_, 1000);
}

std::array<uint16_t, 3> Unit::ClockRegisters(const Now& now) const {
  if (clockFrozen_) return frozenClock_;
  return PackDateTime(CivilFromSeconds(DeviceSeconds(now)));
}

void Unit::SetClock(const std::array<uint16_t, 3>& regs, const Now& now) {
  // The written second starts now, so a read right after gives back what was written.
  clockOffsetMs_ = SecondsFromCivil(UnpackDateTime(regs)) * 1000 - now.LocalMs;
  clockFrozen_ = false;
}

void Unit::SetClockRegisters(uint16_t r520, uint16_t r521, uint16_t r522) {
  frozenClock_ = {r520, r521, r522};
  clockFrozen_ = true;
}

bool Unit::SetChannelInput(uint8_t channel, bool active, const Now& now) {
  if (channel >= ChannelCount(model_)) return false;
  const uint16_t bit = static_cast<uint16_t>(1u << channel);
  if (active == ((inputs_ & bit) != 0)) return true;
  if (active) {
    inputs_ |= bit;
    if (!(tripped_ & bit)) Trip(channel, now);
  } else {
    inputs_ &= static_cast<uint16_t>(~bit);
    if ((tripped_ & bit) && (params_[3 * channel + 2] & kPassThrough)) BackToNormal(channel, now);
  }
  return true;
}

void Unit::Trip(int channel, const Now& now) {
  tripped_ |= static_cast<uint16_t>(1u << channel);
  silenced_ = false;
  if (!(params_[3 * channel + 2] & kTripNotLogged)) AddRecord(channel, true, now);
}

void Unit::BackToNormal(int channel, const Now& now) {
  tripped_ &= static_cast<uint16_t>(~(1u << channel));
  if (params_[3 * channel + 2] & kReturnLogged) AddRecord(channel, false, now);
}

void Unit::Command(uint16_t code, const Now& now) {
  const int index = CommandIndex(code);
  if (index < 0) return;  // refused before it gets here; kept safe all the same
  lastCommand_ = code;
  ++commands_[static_cast<size_t>(index)];
  switch (code) {
    case kCmdPusk:
      pump_ = true;
      break;
    case kCmdStop:
      pump_ = false;
      break;
    case kCmdControl:
      lampUntilMs_ = now.SteadyMs + kLampTestMs;
      break;
    case kCmdKvitir:
      silenced_ = true;
      break;
    case kCmdSbros:
      for (int n = 0; n < ChannelCount(model_); ++n) {
        const uint16_t bit = static_cast<uint16_t>(1u << n);
        if ((tripped_ & bit) && !(inputs_ & bit)) BackToNormal(n, now);
      }
      break;
    case kCmdRestart:
      tripped_ = 0;
      lampUntilMs_ = 0;
      silenced_ = false;
      access_ = false;
      break;
    default:
      break;
  }
}

void Unit::AddRecord(int channel, bool alarm, const Now& now) {
  latest_ = latest_ >= 1 && latest_ < kJournalSize ? latest_ + 1 : 1;
  if (count_ < kJournalSize) ++count_;
  const std::array<uint16_t, 3> t = PackDateTime(CivilFromSeconds(DeviceSeconds(now)));
  journal_[latest_ - 1] = {t[0], t[1], t[2],
                           static_cast<uint16_t>((alarm ? 0x80 : 0) | (channel + 1))};
}

void Unit::SetJournal(uint16_t count, uint16_t latest, const Now& now) {
  count = std::min(count, kJournalSize);
  latest = std::min(latest, kJournalSize);
  journal_ = {};
  latest_ = latest;
  count_ = count;
  // Newest first, each record a few minutes older than the one after it; alarm and return
  // pairs, the channels taking turns. With no latest record the ring is laid out as if
  // the latest were 1000, the order in which a reader that meets 0 reads it.
  int k = latest == 0 ? kJournalSize : latest;
  int64_t t = DeviceSeconds(now) - 60;
  const int channels = ChannelCount(model_);
  for (int i = 0; i < count; ++i) {
    const std::array<uint16_t, 3> packed = PackDateTime(CivilFromSeconds(t));
    const int channel = (i / 2) % channels + 1;
    journal_[k - 1] = {packed[0], packed[1], packed[2],
                       static_cast<uint16_t>((i % 2 == 1 ? 0x80 : 0) | channel)};
    k = k == 1 ? kJournalSize : k - 1;
    t -= 400 + (i * 37) % 300;
  }
}

std::string Unit::Password() const {
  std::string text;
  for (uint16_t r : password_) {
    for (uint8_t code : {static_cast<uint8_t>(r >> 8), static_cast<uint8_t>(r & 0xFF)}) {
      uint8_t c = DeviceChar(code);
      text.push_back(static_cast<char>(c ? c : '?'));
    }
  }
  return text;
}

uint32_t Unit::CommandCount(uint16_t code) const {
  int i = CommandIndex(code);
  return i < 0 ? 0 : commands_[i];
}

void Unit::ResetCounters() {
  commands_ = {};
}

}  // namespace Sim
