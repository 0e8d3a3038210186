#pragma once
// The access functions that talk to a unit and the fault kinds of the simulator, with what each
// fault does to a call: shared by the fault matrix and the soak.

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/LIR.h"
#include "sim/Simulator.h"

namespace Robust {

using Kind = Sim::FaultKind;
using Error = ModBus::Error;
constexpr uint8_t kUnit = 7, kOther = 9;

// A call's result, whether its out-values are as they were before it, and those values.
struct Result {
  bool Ok;
  bool Untouched;
  std::string Out;
};

template <typename T>
std::string Hex(const T& value) {
  std::string text;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
  for (size_t i = 0; i < sizeof value; ++i)
    text += "0123456789ABCDEF"[bytes[i] >> 4], text += "0123456789ABCDEF"[bytes[i] & 15];
  return text;
}

// Runs a read with its out-value filled with a pattern no answer gives.
template <typename T>
Result Read(const std::function<bool(T&)>& call) {
  T out, before;
  std::memset(&before, 0xA5, sizeof before);
  std::memcpy(&out, &before, sizeof out);
  const bool ok = call(out);
  return {ok, std::memcmp(&out, &before, sizeof out) == 0, Hex(out)};
}

inline Result Write(bool ok) {
  return {ok, true, ""};
}

// The access functions that talk to a unit, with the length of the answer each awaits.
struct Call {
  const char* Name;
  uint16_t AnswerBytes;
  std::function<Result()> Run;
};

inline const std::vector<Call>& Calls() {
  using LIR::ChannelParams;
  using ModBus::RegisterArray;
  static const ChannelParams params{{{900, 3, 1, 0, 1, 0, 1, 0, 2, 12}}};
  static const std::vector<Call> calls = {
      {"ReadChannelsParam", 77,
       [] {
         return Read<ChannelParams>(
             [](auto& p) { return LIR::ReadChannelsParam(kUnit, 0, 12, p); });
       }},
      {"ReadClock", 11,
       [] { return Read<double>([](auto& t) { return LIR::ReadClock(kUnit, t); }); }},
      {"ReadSettings", 11,
       [] { return Read<RegisterArray>([](auto& r) { return LIR::ReadSettings(kUnit, r); }); }},
      {"ReadCommonReleType", 7,
       [] { return Read<uint8_t>([](auto& t) { return LIR::ReadCommonReleType(kUnit, t); }); }},
      {"ReadChannelsState", 7,
       [] { return Read<uint16_t>([](auto& s) { return LIR::ReadChannelsState(kUnit, s); }); }},
      {"ReadDeviceType", 7,
       [] { return Read<uint8_t>([](auto& t) { return LIR::ReadDeviceType(kUnit, t); }); }},
      {"CheckAccess", 7,
       [] {
         const uint8_t access = LIR::CheckAccess(kUnit);
         return Result{access != LIR::AccessNoAnswer, access == LIR::AccessNoAnswer, Hex(access)};
       }},
      {"ReadJournalInfo", 9,
       [] {
         using Info = std::array<uint16_t, 2>;
         return Read<Info>([](Info& i) { return LIR::ReadJournalInfo(kUnit, i[0], i[1]); });
       }},
      {"ReadJournalRecord", 13,
       [] {
         return Read<LIR::JournalRecord>(
             [](auto& r) { return LIR::ReadJournalRecord(kUnit, 3, r); });
       }},
      {"WriteChannelsParam", 8, [] { return Write(LIR::WriteChannelsParam(kUnit, 0, 1, params)); }},
      {"WriteClock", 8, [] { return Write(LIR::WriteClock(kUnit, 45000.5)); }},
      {"WriteSettings", 8,
       [] {
         return Write(LIR::WriteSettings(kUnit, {0x8102, 3, 0x0405}));
       }},
      {"CmdPusk", 8, [] { return Write(LIR::CmdPusk(kUnit)); }},
      {"CmdStop", 8, [] { return Write(LIR::CmdStop(kUnit)); }},
      {"CmdControl", 8, [] { return Write(LIR::CmdControl(kUnit)); }},
      {"CmdKvitir", 8, [] { return Write(LIR::CmdKvitir(kUnit)); }},
      {"CmdSbros", 8, [] { return Write(LIR::CmdSbros(kUnit)); }},
      {"CmdRestart", 8, [] { return Write(LIR::CmdRestart(kUnit)); }},
      {"WriteCommonReleType", 8, [] { return Write(LIR::WriteCommonReleType(kUnit, true)); }},
      {"WritePassword", 8, [] { return Write(LIR::WritePassword(kUnit, "00000000")); }},
      {"WriteNetAddress", 8, [] { return Write(LIR::WriteNetAddress(kUnit, kUnit)); }},
      {"ClearJournal", 8, [] { return Write(LIR::ClearJournal(kUnit)); }},
  };
  return calls;
}

// The longest a read of n bytes may wait with the port's time-outs.
inline int TotalTimeoutMs(int n) {
  return 10 * n + 200;
}

struct Fault {
  const char* Name;
  Kind FaultKind;
  std::function<uint32_t(int answerBytes)> Param;
  bool Ok;
  Error Expected;
};

inline const Fault kFaults[] = {
    {"silent", Kind::Silent, [](int) { return 0; }, false, Error::NoAnswer},
    {"corrupt", Kind::Corrupt, [](int) { return 0; }, false, Error::BadCrc},
    {"exception", Kind::Exception, [](int) { return 0; }, false, Error::Exception},
    {"split-short", Kind::Split, [](int) { return 40; }, true, Error::None},
    {"split-long", Kind::Split, [](int) { return 400; }, false, Error::ShortAnswer},
    {"late-inside", Kind::Late, [](int n) { return TotalTimeoutMs(n) - 200; }, true, Error::None},
    {"late-outside", Kind::Late, [](int n) { return TotalTimeoutMs(n) + 130; }, false,
     Error::NoAnswer},
    {"noise", Kind::Noise, [](int) { return 4; }, false, Error::BadCrc},
    {"other-address", Kind::OtherAddress, [](int) { return kOther; }, false, Error::WrongAddress},
    {"truncated", Kind::Truncated, [](int) { return 1; }, false, Error::ShortAnswer},
};

}  // namespace Robust
