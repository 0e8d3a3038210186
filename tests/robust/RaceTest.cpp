// The simulator serves from a thread of its own inside the test programs; what it shares with
// the program around it must bear use at the same time. Telling, not only passing, under
// ThreadSanitizer (scripts/test --tsan).

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "device/LIR.h"
#include "sim/Simulator.h"

namespace {

// The units' clock follows the host's local time: the simulator's thread must not share the C
// library's one result buffer with a program that calls localtime meanwhile. Nor may the state a
// test reads and sets through the simulator's interface be torn while the line is served.
TEST(Threads, TheLineServedWhileTheProgramSteersItAndCallsLocaltime) {
  Sim::Simulator sim(Sim::LineSetup{9600, false, 0}, {{1, 7}, {2, 6}});
  ASSERT_TRUE(sim.Start()) << sim.LastError();
  ModBus::Port->PortName = sim.TerminalPath();
  ASSERT_TRUE(ModBus::Port->Open());
  std::atomic<bool> done{false};
  int ok = 0, local = 0;
  std::thread master([&] {
    uint16_t state = 0;
    double when = 0;
    for (int i = 0; i < 300; ++i)
      ok += LIR::ReadClock(1, when) && LIR::ReadChannelsState(1, state) && LIR::CmdKvitir(2);
    done = true;
  });
  for (uint16_t i = 0; !done; ++i) {
    const std::time_t now = std::time(nullptr);
    local += std::localtime(&now)->tm_mday > 0;
    sim.SetHolding(1, 523, i);
    sim.SetChannelInput(1, static_cast<uint8_t>(i % 12), i % 2);
    sim.InjectFault(Sim::FaultKind::None, 0, 0);
    sim.TakeLog();
  }
  master.join();
  ModBus::Port->Close();
  EXPECT_EQ(ok, 300);
  EXPECT_GT(local, 0);
  EXPECT_EQ(sim.CommandCount(2, LIR::CodeKvitir), 300u);
}

}  // namespace
