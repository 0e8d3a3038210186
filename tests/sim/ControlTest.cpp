// The control protocol on a simulator that is not serving: each command reaches the
// state it names, and every malformed line gets an error rather than a guess.

#include <gtest/gtest.h>

#include "sim/Control.h"

namespace {

class ControlTest : public ::testing::Test {
 protected:
  static std::vector<Sim::UnitSetup> Units() {
    Sim::UnitSetup a;
    a.Password =
        "\xC0\xC1\xC2\xC3"
        "1234";
    Sim::UnitSetup b;
    b.Address = 2;
    b.Model = 5;
    b.AccessGranted = false;
    return {a, b};
  }
  uint16_t In(uint8_t address, uint16_t reg) {
    uint16_t v = 0xDEAD;
    EXPECT_TRUE(sim.Input(address, reg, v));
    return v;
  }
  uint16_t Hold(uint8_t address, uint16_t reg) {
    uint16_t v = 0xDEAD;
    EXPECT_TRUE(sim.Holding(address, reg, v));
    return v;
  }

  Sim::Simulator sim{Sim::LineSetup(), Units()};
  Sim::Control control{sim};
};

TEST_F(ControlTest, StateCommandsReachTheUnits) {
  EXPECT_EQ("ok", control.Execute("access 2 1"));
  EXPECT_EQ(0x8005, In(2, 50));
  EXPECT_EQ("ok", control.Execute("input 1 3 1"));
  EXPECT_EQ(0x0004, In(1, 4));
  EXPECT_EQ("ok", control.Execute("input 1 3 0"));
  EXPECT_EQ("ok", control.Execute("set-holding 1 523 0x1234"));
  EXPECT_EQ("4660", control.Execute("holding 1 523"));
  EXPECT_EQ("ok", control.Execute("clock-regs 1 0x010D 0x1800 0"));
  EXPECT_EQ(0x010D, Hold(1, 520));
  EXPECT_EQ("ok", control.Execute("journal 1 10 5"));
  EXPECT_EQ("5", control.Execute("holding 1 517"));
  EXPECT_EQ("10", control.Execute("holding 1 518"));
  EXPECT_EQ("ok", control.Execute("model 1 6"));
  EXPECT_EQ("32774", control.Execute("input-reg 1 50"));
  EXPECT_EQ("АБВГ1234", control.Execute("password 1"));
  EXPECT_EQ("0", control.Execute("count 1"));
  EXPECT_EQ("0", control.Execute("total"));
  EXPECT_EQ("0", control.Execute("commands 1 4"));
  EXPECT_EQ("ok", control.Execute("  reset-counters\t"));
  EXPECT_EQ("ok", control.Execute("fault silent 0 2"));
  EXPECT_EQ("ok", control.Execute("fault-rate late 100 0.5"));
  EXPECT_EQ("ok", control.Execute("clear-faults"));
  EXPECT_EQ("ok", control.Execute("send 0xDE 173 0"));  // nobody serves: nothing to see
}

TEST_F(ControlTest, RefusesMalformedLines) {
  EXPECT_EQ("", control.Execute(""));
  EXPECT_EQ("", control.Execute("   "));
  const char* bad[] = {"launch",
                       "count",
                       "count 1 2",
                       "count x",
                       "count 256",
                       "access 9 1",
                       "access 1 2",
                       "input 2 5 1",
                       "input 1 0 1",
                       "holding 1 100",
                       "holding 7 1",
                       "input-reg 1 5",
                       "set-holding 1 519 1",
                       "set-holding 1 544 2",
                       "journal 1 1001 5",
                       "journal 1 5 1001",
                       "fault bogus 0 1",
                       "fault silent x 1",
                       "fault-rate late 100 1.5",
                       "clock-regs 1 1 2",
                       "model 3 7",
                       "password 9",
                       "total 1",
                       "send",
                       "send 256",
                       "send 0x1 zz"};
  for (const char* line : bad) {
    EXPECT_EQ(0u, control.Execute(line).rfind("error: ", 0)) << line;
  }
  // A refused move leaves both units where they were.
  EXPECT_TRUE(sim.HasUnit(1));
  EXPECT_TRUE(sim.HasUnit(2));
}

}  // namespace
