// A long run of the access functions on a line that spoils about one answer in twenty, every
// fault kind in turn at random. Each value a call accepts is checked against what the unit
// holds (its registers, or what the run wrote to it), each spoilt answer must be a failure, and
// peak memory must stay where it was after the first tenth of the run.
// Usage: robust_soak [transactions, default 100000]

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "device/LIR.h"
#include "sim/Simulator.h"

namespace {

using Kind = Sim::FaultKind;
constexpr uint8_t kUnit = 1;
constexpr int kFaultPercent = 5;
constexpr std::chrono::milliseconds kPoll{5};

// Each kind with its parameter for an answer of n bytes: inside or outside the read time-out
// (10 n + 200 ms) by a margin that a loaded machine does not eat up.
struct FaultRow {
  const char* Name;
  Kind FaultKind;
  bool Spoils;
  uint32_t (*Param)(int n, uint32_t random);
};
const FaultRow kFaults[] = {
    {"silent", Kind::Silent, true, [](int, uint32_t) { return 0u; }},
    {"corrupt", Kind::Corrupt, true, [](int, uint32_t) { return 0u; }},
    {"exception", Kind::Exception, true, [](int, uint32_t) { return 0u; }},
    {"split-short", Kind::Split, false, [](int, uint32_t) { return 40u; }},
    {"split-long", Kind::Split, true, [](int, uint32_t) { return 400u; }},
    {"late-inside", Kind::Late, false, [](int n, uint32_t) { return uint32_t(10 * n); }},
    {"late-outside", Kind::Late, true, [](int n, uint32_t) { return uint32_t(10 * n + 330); }},
    {"noise", Kind::Noise, true, [](int, uint32_t r) { return 1 + r % 8; }},
    {"other-address", Kind::OtherAddress, true, [](int, uint32_t) { return 2u; }},
    {"truncated", Kind::Truncated, true, [](int, uint32_t r) { return 1 + r % 3; }},
};
constexpr int kKinds = sizeof kFaults / sizeof kFaults[0];

long PeakKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

template <typename T>
bool Same(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class Soak {
 public:
  explicit Soak(Sim::Simulator& sim) : sim_(sim) {
    params_.fill({10, 0, 0, 0, 0, 0, 1, 1, 0, 0});  // the simulator's channels at start
  }

  // One transaction with a fault one time in twenty; false when its outcome was wrong.
  bool Step() {
    fault_ = random_() % 100 < kFaultPercent ? static_cast<int>(random_() % kKinds) : -1;
    const uint32_t r = random_();
    switch (random_() % 16) {
      case 0:
        return Params(true);
      case 1:
        return Params(false);
      case 2: {
        const ModBus::RegisterArray regs{uint16_t(r), uint16_t(r >> 16), uint16_t(random_())};
        const bool ok = Judge(8, [&] { return LIR::WriteSettings(kUnit, regs); });
        if (Took()) std::copy_n(regs.begin(), 3, settings_.begin());
        return ok;
      }
      case 3:
        return Read<ModBus::RegisterArray>(
            11, [](auto& regs) { return LIR::ReadSettings(kUnit, regs); },
            [this](auto& regs) { return std::memcmp(regs.data(), settings_.data(), 6) == 0; });
      case 4: {
        const bool ok = Judge(8, [&] { return LIR::WriteCommonReleType(kUnit, r % 2); });
        if (Took()) releType_ = r % 2;
        return ok;
      }
      case 5:
        return Read<uint8_t>(
            7, [](uint8_t& t) { return LIR::ReadCommonReleType(kUnit, t); },
            [this](uint8_t t) { return t == releType_; });
      case 6:
        return Command(r % 6);
      case 7: {
        std::string text(8, '0');
        for (char& c : text)  // the digits, '_' and А..Я without Й
          c = "_0123456789\300\301\302\310\312\320\333\334\332\337"[random_() % 20];
        const std::string before = sim_.Password(kUnit);
        const bool ok = Judge(8, [&] { return LIR::WritePassword(kUnit, text); });
        return ok && sim_.Password(kUnit) == (Took() ? text : before);
      }
      case 8:
        return Judge(8, [] { return LIR::WriteNetAddress(kUnit, kUnit); }) && sim_.HasUnit(kUnit);
      case 9: {
        uint16_t count = 1;
        return Judge(8, [] { return LIR::ClearJournal(kUnit); }) &&
               sim_.Holding(kUnit, 518, count) && (!Took() || count == 0);
      }
      case 10: {
        const uint16_t count = r % 1001, latest = r / 1001 % 1001;
        sim_.SetJournal(kUnit, count, latest);
        return Read<std::array<uint16_t, 2>>(
            9, [](auto& i) { return LIR::ReadJournalInfo(kUnit, i[0], i[1]); },
            [&](auto& i) { return i[0] == latest && i[1] == count; });
      }
      case 11:
        return Record(static_cast<uint16_t>(1 + r % 1000));
      case 12: {
        uint16_t before = 0, after = 0;
        sim_.SetChannelInput(kUnit, static_cast<uint8_t>(r % 12), r >> 8 & 1);
        sim_.Input(kUnit, 4, before);
        return Read<uint16_t>(
            7, [](uint16_t& s) { return LIR::ReadChannelsState(kUnit, s); },
            [&](uint16_t s) { return sim_.Input(kUnit, 4, after) && (s == before || s == after); });
      }
      case 13:
        sim_.SetModel(kUnit, static_cast<uint8_t>(r));
        return Read<uint8_t>(
            7, [](uint8_t& t) { return LIR::ReadDeviceType(kUnit, t); },
            [r](uint8_t t) { return t == uint8_t(r); });
      case 14: {
        sim_.SetAccess(kUnit, r % 2);
        uint8_t access = 0xA5;
        const bool ok = Judge(
            7, [&] { return (access = LIR::CheckAccess(kUnit)) != LIR::AccessNoAnswer; },
            [&] { return access == (r % 2 ? LIR::AccessGranted : LIR::AccessDenied); });
        sim_.SetAccess(kUnit, true);
        return ok;
      }
      default:
        return Clock();
    }
  }

  long Transactions() const { return transactions_; }
  const long* Faults() const { return faults_; }

 private:
  // The fault for an answer of n bytes is injected, the call run and its result judged: false
  // for a spoilt answer, true with right values otherwise.
  bool Judge(
      int n, const std::function<bool()>& call,
      const std::function<bool()>& right = [] { return true; }) {
    ++transactions_;
    if (fault_ >= 0) {
      sim_.TakeLog();
      sim_.InjectFault(kFaults[fault_].FaultKind, kFaults[fault_].Param(n, random_()), 1);
      ++faults_[fault_];
    }
    const bool ok = call();
    const bool spoilt = fault_ >= 0 && kFaults[fault_].Spoils;
    if (spoilt) Settle();
    const char* fault = fault_ < 0 ? "none" : kFaults[fault_].Name;
    if (ok && !right()) {
      std::fprintf(stderr, "wrong value accepted (fault %s)\n", fault);
      return false;
    }
    if (ok == spoilt) {
      std::fprintf(stderr, "%s answer %s (fault %s, error %d)\n", spoilt ? "spoilt" : "good",
                   ok ? "taken" : "refused", fault, static_cast<int>(ModBus::LastError()));
      return false;
    }
    return true;
  }

  // A read whose out-value starts as a pattern no answer gives.
  template <typename T, typename Call, typename Right>
  bool Read(int n, Call call, Right right) {
    T out;
    std::memset(&out, 0xA5, sizeof out);
    return Judge(
        n, [&] { return call(out); }, [&] { return right(out); });
  }

  // What is left of a spoilt answer (the answer after noise, a late answer, the second half)
  // is let out before the next request, whose purge then drops it. Sent just as the request
  // goes out, it would stand in for the next answer: on a half-duplex line nothing tells the
  // two apart, and a simulator starved of the processor does send it that late. Whether the
  // unit drops its rest on hearing the master is for the fault matrix.
  void Settle() {
    const Kind kind = kFaults[fault_].FaultKind;
    const size_t parts = kind == Kind::Noise || kind == Kind::Split ? 2 : kind == Kind::Late;
    size_t sent = 0;
    for (int i = 0; sent < parts && i < 600; ++i, std::this_thread::sleep_for(kPoll))
      for (const Sim::Frame& frame : sim_.TakeLog())
        sent += !frame.FromMaster;
    std::this_thread::sleep_for(kPoll);  // logged just before it is written
  }

  // The write reached the unit: every fault but the exception loses only the answer.
  bool Took() const { return fault_ < 0 || kFaults[fault_].FaultKind != Kind::Exception; }

  bool Params(bool write) {
    const uint8_t first = static_cast<uint8_t>(random_() % 12);
    const uint8_t count = static_cast<uint8_t>(1 + random_() % (12 - first));
    if (!write)
      return Read<LIR::ChannelParams>(
          6 * count + 5, [&](auto& p) { return LIR::ReadChannelsParam(kUnit, first, count, p); },
          [&](auto& p) {
            return std::memcmp(p.data(), params_.data() + first, count * sizeof p[0]) == 0;
          });
    LIR::ChannelParams p{};
    for (int i = 0; i < count; ++i) {
      const uint32_t r = random_();
      const auto bit = [r](int n) { return static_cast<uint8_t>(r >> n & 1); };
      p[i] = {uint16_t(r % 901),
              uint16_t(r / 901 % 901),
              bit(20),
              bit(21),
              bit(22),
              bit(23),
              bit(24),
              bit(25),
              uint8_t((r >> 26 & 3) % 3),
              uint8_t(random_() % 256)};
    }
    const bool ok = Judge(8, [&] { return LIR::WriteChannelsParam(kUnit, first, count, p); });
    if (Took()) std::copy_n(p.begin(), count, params_.begin() + first);
    return ok;
  }

  bool Command(int which) {
    static bool (*const kCommands[])(uint8_t) = {LIR::CmdPusk,   LIR::CmdStop,  LIR::CmdControl,
                                                 LIR::CmdKvitir, LIR::CmdSbros, LIR::CmdRestart};
    const uint16_t code = static_cast<uint16_t>(1 << which);
    const uint32_t before = sim_.CommandCount(kUnit, code);
    const bool ok = Judge(8, [&] { return kCommands[which](kUnit); });
    sim_.SetAccess(kUnit, true);  // the restart withdraws it
    return ok && sim_.CommandCount(kUnit, code) == before + Took();
  }

  // Record k's registers as the unit holds them, field by field.
  bool Record(uint16_t k) {
    uint16_t r[4] = {};
    for (uint16_t i = 0; i < 4; ++i)
      sim_.Input(kUnit, static_cast<uint16_t>(1000 + 4 * (k - 1) + i), r[i]);
    const int held[] = {r[0] >> 8, r[0] & 255, r[1] >> 8,  r[1] & 255,
                        r[2] >> 8, r[2] & 255, r[3] & 127, r[3] >> 7 & 1};
    return Read<LIR::JournalRecord>(
        13, [k](auto& rec) { return LIR::ReadJournalRecord(kUnit, k, rec); },
        [&held](auto& rec) {
          const int got[] = {rec.Day,    rec.Month,  rec.Year,    rec.Hour,
                             rec.Minute, rec.Second, rec.Channel, rec.Alarm};
          return Same(got, held);
        });
  }

  // A write of the clock, or a read of a clock the unit holds still at a random moment.
  bool Clock() {
    const LIR::DateTimeParts t{2000 + int(random_() % 100), 1 + int(random_() % 12),
                               1 + int(random_() % 28),     int(random_() % 24),
                               int(random_() % 60),         int(random_() % 60)};
    double value = 0;
    LIR::EncodeDateTime(t, value);
    if (random_() % 2) return Judge(8, [&] { return LIR::WriteClock(kUnit, value); });
    sim_.SetClockRegisters(kUnit, uint16_t(t.Day << 8 | t.Month),
                           uint16_t((t.Year - 2000) << 8 | t.Hour),
                           uint16_t(t.Minute << 8 | t.Second));
    return Read<double>(
        11, [](double& read) { return LIR::ReadClock(kUnit, read); },
        [value](double read) { return read == value; });
  }

  Sim::Simulator& sim_;
  std::mt19937 random_{2024};
  int fault_ = -1;
  long transactions_ = 0, faults_[kKinds] = {};
  LIR::ChannelParams params_;
  std::array<uint16_t, 3> settings_{};
  bool releType_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  const long total = argc > 1 ? std::atol(argv[1]) : 100000;
  char pattern[] = "/tmp/lirsoakXXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string link = std::string(pattern) + "/COM2";
  Sim::Simulator sim({}, {{kUnit, LIR::Model12M}, {2, LIR::Model8M}});
  if (!sim.Start(link)) return std::fprintf(stderr, "simulator: %s\n", sim.LastError().c_str()), 1;
  ModBus::Port->PortName = link;
  if (!ModBus::Port->Open()) return std::fprintf(stderr, "cannot open %s\n", link.c_str()), 1;

  Soak soak(sim);
  long failed = 0, peakAtStart = 0;
  while (soak.Transactions() < total) {
    failed += !soak.Step();
    if (soak.Transactions() % 100 == 0) sim.TakeLog();  // the simulator's own record, kept short
    if (!peakAtStart && soak.Transactions() >= total / 10) {
      peakAtStart = PeakKib();
      std::printf("after %ld transactions: peak memory %ld KiB\n", soak.Transactions(),
                  peakAtStart);
    }
  }
  const long peakAtEnd = PeakKib();
  ModBus::Port->Close();
  sim.Stop();
  std::filesystem::remove_all(pattern);

  long faults = 0;
  std::printf("faults:");
  for (int i = 0; i < kKinds; ++i) {
    std::printf(" %s %ld", kFaults[i].Name, soak.Faults()[i]);
    faults += soak.Faults()[i];
  }
  std::printf(
      "\n%ld transactions, %ld faults, %ld wrong outcomes; peak memory %ld KiB at the end\n",
      soak.Transactions(), faults, failed, peakAtEnd);
#if defined(__SANITIZE_ADDRESS__)
  const bool flat = true;  // the sanitizer's quarantine grows by design
#else
  const bool flat = peakAtEnd - peakAtStart < 2048;
#endif
  if (!flat) std::printf("peak memory grew by %ld KiB\n", peakAtEnd - peakAtStart);
  return failed == 0 && flat ? 0 : 1;
}
