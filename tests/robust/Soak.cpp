// A long run of the access functions on a line that spoils about one answer in twenty, every
// fault kind in turn at random, the unit's registers changed at random before each call. What a
// faulted call accepts must be what the same call takes from the unit without a fault, each
// spoilt answer must be a failure that leaves the caller's values, a write whose answer was lost
// must still have taken effect, and peak memory must stay where it was after the first tenth of
// the run.
// Usage: robust_soak [transactions, default 100000]

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "Calls.h"

namespace {

using namespace Robust;
constexpr int kFaultPercent = 5, kKinds = sizeof kFaults / sizeof kFaults[0];

long PeakKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The registers the calls read, at random; the clock held still at a random moment.
void Shuffle(Sim::Simulator& sim, std::mt19937& random) {
  const uint32_t r = random(), s = random();
  sim.SetAccess(kUnit, true);
  sim.SetChannelInput(kUnit, static_cast<uint8_t>(r % 12), r >> 4 & 1);
  sim.SetHolding(kUnit, static_cast<uint16_t>(3 * (r >> 8 & 7) + 2), uint16_t(s));
  sim.SetHolding(kUnit, static_cast<uint16_t>(523 + r % 3), uint16_t(s >> 16));
  sim.SetHolding(kUnit, 527, r >> 12 & 1);
  sim.SetJournal(kUnit, static_cast<uint16_t>(s % 1001), static_cast<uint16_t>(r % 1001));
  sim.SetClockRegisters(kUnit, uint16_t((1 + s % 28) << 8 | (1 + r % 12)),
                        uint16_t((r >> 4 & 63) << 8 | (s >> 8) % 24),
                        uint16_t((s >> 16) % 60 << 8 | (r >> 16) % 60));
}

// What is left of a spoilt answer (the answer after noise, a late answer, the second half) is
// let out before the next request, whose purge then drops it. Sent just as the request goes
// out, it would stand in for the next answer: on a half-duplex line nothing tells the two
// apart, and a simulator starved of the processor does send it that late. Whether the unit
// drops its rest on hearing the master is for the fault matrix.
void Settle(Sim::Simulator& sim, Kind kind) {
  constexpr std::chrono::milliseconds kPoll{5};
  const size_t parts = kind == Kind::Noise || kind == Kind::Split ? 2 : kind == Kind::Late;
  size_t sent = 0;
  for (int i = 0; sent < parts && i < 600; ++i, std::this_thread::sleep_for(kPoll))
    for (const Sim::Frame& frame : sim.TakeLog())
      sent += !frame.FromMaster;
  std::this_thread::sleep_for(kPoll);  // logged just before it is written
}

// What the writes change in the unit: the channels, the journal's counters, the settings, the
// relay type, and last the commands carried out.
std::vector<uint32_t> Held(const Sim::Simulator& sim) {
  std::vector<uint32_t> held;
  for (uint16_t r = 0; r < 528; r = r == 35 ? 517 : r == 518 ? 523 : r + 1) {
    uint16_t value = 0;
    held.push_back(r == 526 ? 0 : sim.Holding(kUnit, r, value) ? value : 0x10000u);
  }
  for (uint16_t code = 1; code < 64; code = uint16_t(code << 1))
    held.push_back(sim.CommandCount(kUnit, code));
  return held;
}

}  // namespace

int main(int argc, char** argv) {
  const long total = argc > 1 ? std::atol(argv[1]) : 100000;
  char pattern[] = "/tmp/lirsoakXXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string link = std::string(pattern) + "/COM2";
  Sim::Simulator sim({}, {{kUnit, LIR::Model12M, "00000000", true, 50, 20}, {kOther, 6}});
  if (!sim.Start(link)) return std::fprintf(stderr, "simulator: %s\n", sim.LastError().c_str()), 1;
  ModBus::Port->PortName = link;
  if (!ModBus::Port->Open()) return std::fprintf(stderr, "cannot open %s\n", link.c_str()), 1;

  std::mt19937 random(2024);
  long transactions = 0, failed = 0, faults[kKinds] = {}, peakAtStart = 0;
  while (transactions < total) {
    Shuffle(sim, random);
    const Call& call = Calls()[random() % Calls().size()];
    const int f = random() % 100 < kFaultPercent ? static_cast<int>(random() % kKinds) : -1;
    const std::vector<uint32_t> before = Held(sim);
    if (f >= 0) {
      sim.TakeLog();
      sim.InjectFault(kFaults[f].FaultKind, kFaults[f].Param(call.AnswerBytes), 1);
      ++faults[f];
    }
    const Result got = call.Run();
    ++transactions;
    std::string wrong;
    if (f < 0) {
      if (!got.Ok) wrong = "good answer refused";
    } else {
      if (!kFaults[f].Ok) Settle(sim, kFaults[f].FaultKind);
      const std::vector<uint32_t> held = Held(sim);
      sim.SetAccess(kUnit, true);  // a restart withdraws it
      const Result clean = call.Run();
      ++transactions;
      // The write repeated without a fault changes nothing, but counts a command once more:
      // what the faulted one did. Only an exception leaves the write undone.
      std::vector<uint32_t> again = Held(sim);
      for (size_t i = again.size() - 6; i < again.size(); ++i)
        again[i] = before[i] + again[i] - held[i];
      if (kFaults[f].FaultKind != Kind::Exception && again != held) wrong = "write lost";
      if (got.Ok != kFaults[f].Ok) wrong = got.Ok ? "spoilt answer taken" : "good answer refused";
      if (got.Ok ? !clean.Ok || got.Out != clean.Out : !got.Untouched) wrong = "wrong values";
    }
    if (!wrong.empty()) {
      std::fprintf(stderr, "%s: %s (fault %s, error %d)\n", call.Name, wrong.c_str(),
                   f < 0 ? "none" : kFaults[f].Name, static_cast<int>(ModBus::LastError()));
      ++failed;
    }
    if (transactions % 100 < 2) sim.TakeLog();  // the simulator's own record, kept short
    if (!peakAtStart && transactions >= total / 10) {
      peakAtStart = PeakKib();
      std::printf("after %ld transactions: peak memory %ld KiB\n", transactions, peakAtStart);
    }
  }
  const long peakAtEnd = PeakKib();
  ModBus::Port->Close();
  sim.Stop();
  std::filesystem::remove_all(pattern);

  long faulted = 0;
  std::printf("faults:");
  for (int i = 0; i < kKinds; ++i) {
    std::printf(" %s %ld", kFaults[i].Name, faults[i]);
    faulted += faults[i];
  }
  std::printf(
      "\n%ld transactions, %ld faults, %ld wrong outcomes; peak memory %ld KiB at the end\n",
      transactions, faulted, failed, peakAtEnd);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const bool flat = true;  // the sanitizers' own records grow by design
#else
  const bool flat = peakAtEnd - peakAtStart < 2048;
#endif
  if (!flat) std::printf("peak memory grew by %ld KiB\n", peakAtEnd - peakAtStart);
  return failed == 0 && flat ? 0 : 1;
}
