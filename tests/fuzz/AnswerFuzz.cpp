// Arbitrary answer bytes through the master's answer checks and each access function's
// unpacking. Input: the function (byte 0), the unit's address (1), two argument bytes (2, 3),
// then the bytes the line delivers. A call may only succeed on the answer to its own request,
// read in one piece, with values that are those registers; a failed call leaves the caller's
// values as they were.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ScriptedSerial.h"
#include "device/LIR.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

uint16_t Be16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

// The answer, when the call succeeded on it: one read of exactly the awaited length, the
// request's address and function, its byte count or echo, a good CRC.
const uint8_t* CheckedAnswer(const uint8_t* answer) {
  const std::vector<uint8_t>& request = Scripted::Written();
  Check(request.size() >= 8 && Scripted::Reads() == 1);
  const bool read = request[1] == 3 || request[1] == 4;
  const size_t length = read ? 2u * Be16(&request[4]) + 5 : 8;
  Check(Scripted::BytesRead() == length && answer[0] == request[0] && answer[1] == request[1]);
  Check(read ? answer[2] == length - 5 : std::memcmp(answer + 2, &request[2], 4) == 0);
  Check(ModBus::Crc16(answer, length - 2) == (answer[length - 2] | answer[length - 1] << 8));
  Check(ModBus::LastError() == ModBus::Error::None);
  return answer + 3;  // the first register of a read
}

// Runs a read with its out-value filled with a pattern; on success `values` checks it against
// the answer's registers, on failure (also a good answer that is no date) it must be untouched.
template <typename T, typename Call, typename Values>
void Read(const uint8_t* answer, Call call, Values values) {
  T out, before;
  std::memset(&before, 0xA5, sizeof before);
  std::memcpy(&out, &before, sizeof out);
  if (call(out)) {
    values(out, CheckedAnswer(answer));
  } else {
    Check(std::memcmp(&out, &before, sizeof out) == 0);
  }
}

void Write(const uint8_t* answer, bool ok) {
  if (ok) CheckedAnswer(answer);
}

bool Flag(uint8_t value) {
  return value <= 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool open = [] {
    ModBus::Port->PortName = "scripted";
    return ModBus::Port->Open();
  }();
  Check(open);
  if (size < 4) return 0;
  const uint8_t address = data[1], a = data[2], b = data[3];
  const uint8_t* answer = data + 4;
  Scripted::SetAnswer(answer, size - 4);
  using LIR::ChannelParams;
  switch (data[0] % 22) {
    case 0:
      return Read<ChannelParams>(
                 answer, [&](auto& p) { return LIR::ReadChannelsParam(address, a, b, p); },
                 [&](const ChannelParams& p, const uint8_t* r) {
                   for (int i = 0; i < b; ++i, r += 6) {
                     const LIR::ChannelParam& c = p[i];
                     Check(c.VrSrabat == Be16(r) && c.VrZaderj == Be16(r + 2) &&
                           c.ReleNumber == r[4] && Flag(c.TypeInput) && Flag(c.TypeChannel) &&
                           Flag(c.ReleMode) && Flag(c.ToRele) && Flag(c.Srabat) && Flag(c.Norm) &&
                           (c.Zvuk <= 2 || (c.Zvuk == 0xA5 && (r[5] & 0xC0) == 0xC0)));
                   }
                 }),
             0;
    case 1:
      return Read<double>(
                 answer, [&](double& t) { return LIR::ReadClock(address, t); },
                 [](double t, const uint8_t* r) {
                   LIR::DateTimeParts p;
                   Check(LIR::DecodeDateTime(t, p));
                   const int regs[] = {p.Day, p.Month, p.Year - 2000, p.Hour, p.Minute, p.Second};
                   for (int i = 0; i < 6; ++i)
                     Check(regs[i] == r[i]);
                 }),
             0;
    case 2:
      return Read<ModBus::RegisterArray>(
                 answer, [&](auto& regs) { return LIR::ReadSettings(address, regs); },
                 [](const auto& regs, const uint8_t* r) {
                   Check(regs[0] == Be16(r) && regs[1] == Be16(r + 2) && regs[2] == Be16(r + 4) &&
                         regs[3] == 0xA5A5);
                 }),
             0;
    case 3:
      return Read<uint8_t>(
                 answer, [&](uint8_t& t) { return LIR::ReadCommonReleType(address, t); },
                 [](uint8_t t, const uint8_t* r) { Check(t == (r[1] <= 1 ? r[1] : 0xA5)); }),
             0;
    case 4:
      return Read<uint16_t>(
                 answer, [&](uint16_t& s) { return LIR::ReadChannelsState(address, s); },
                 [](uint16_t s, const uint8_t* r) { Check(s == Be16(r)); }),
             0;
    case 5:
      return Read<uint8_t>(
                 answer, [&](uint8_t& t) { return LIR::ReadDeviceType(address, t); },
                 [](uint8_t t, const uint8_t* r) { Check(t == r[1]); }),
             0;
    case 6: {
      const uint8_t access = LIR::CheckAccess(address);
      if (access != LIR::AccessNoAnswer) Check(access == CheckedAnswer(answer)[0] >> 7);
      return 0;
    }
    case 7:
      return Read<uint32_t>(
                 answer,
                 [&](uint32_t& info) {
                   uint16_t latest = 0, count = 0;
                   const bool ok = LIR::ReadJournalInfo(address, latest, count);
                   if (ok) info = uint32_t{latest} << 16 | count;
                   return ok;
                 },
                 [](uint32_t info, const uint8_t* r) {
                   Check(info == (uint32_t{Be16(r)} << 16 | Be16(r + 2)));
                 }),
             0;
    case 8:
      return Read<LIR::JournalRecord>(
                 answer,
                 [&](auto& rec) {
                   return LIR::ReadJournalRecord(address, uint16_t(a << 8 | b), rec);
                 },
                 [](const LIR::JournalRecord& rec, const uint8_t* r) {
                   const int got[] = {rec.Day,    rec.Month,  rec.Year,    rec.Hour,
                                      rec.Minute, rec.Second, rec.Channel, rec.Alarm};
                   const int regs[] = {r[0], r[1], r[2], r[3], r[4], r[5], r[7] & 127, r[7] >> 7};
                   Check(std::memcmp(got, regs, sizeof got) == 0);
                 }),
             0;
    case 9:
      return Write(answer, LIR::WriteChannelsParam(address, a, b, ChannelParams{})), 0;
    case 10:
      return Write(answer, LIR::WriteClock(address, (a << 8 | b) * 37.25 - 700000)), 0;
    case 11:
      return Write(answer, LIR::WriteSettings(address, {a, b, 0xFFFF})), 0;
    case 12:
      return Write(answer, LIR::CmdPusk(address)), 0;
    case 13:
      return Write(answer, LIR::CmdStop(address)), 0;
    case 14:
      return Write(answer, LIR::CmdControl(address)), 0;
    case 15:
      return Write(answer, LIR::CmdKvitir(address)), 0;
    case 16:
      return Write(answer, LIR::CmdSbros(address)), 0;
    case 17:
      return Write(answer, LIR::CmdRestart(address)), 0;
    case 18:
      return Write(answer, LIR::WriteCommonReleType(address, a & 1)), 0;
    case 19:
      return Write(answer, LIR::WritePassword(address, std::string(a % 10, char(b)))), 0;
    case 20:
      return Write(answer, LIR::WriteNetAddress(address, a)), 0;
    default:
      return Write(answer, LIR::ClearJournal(address)), 0;
  }
}
