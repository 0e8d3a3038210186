// The model without a terminal: a unit's rules on a hand-made clock, and the control protocol.

#include <gtest/gtest.h>

#include <sstream>

#include "sim/Control.h"
#include "sim/Unit.h"

namespace {

using Regs = std::vector<uint16_t>;

const auto At = [](int64_t ms = 0) { return Sim::Now{1700000000250 + ms, ms}; };

Regs Holding(const Sim::Unit& u, uint16_t first, uint16_t count, const Sim::Now& now = At()) {
  Regs r;
  EXPECT_EQ(0, u.ReadHolding(first, count, r, now)) << first;
  return r;
}

Regs Input(const Sim::Unit& u, uint16_t first, uint16_t count) {
  Regs r;
  EXPECT_EQ(0, u.ReadInput(first, count, r, At())) << first;
  return r;
}

// The channel and kind (0x80: trip) of journal records 1..n.
Regs Kinds(const Sim::Unit& u, int n) {
  Regs records = Input(u, 1000, static_cast<uint16_t>(4 * n)), kinds;
  for (int k = 0; k < n; ++k)
    kinds.push_back(records[4 * k + 3]);
  return kinds;
}

TEST(Unit, PasswordGrantsAccessUntilRestart) {
  Sim::Unit u({1, 7, "\xC0\xCA\xD9\xDA\xDC\xDD\xDF\xDB", false}, At());  // АКЩЪЬЭЯЫ, denied
  const Regs right{0x010A, 0x191C, 0x1B1D, 0x1F1A}, fresh{0x1F1A, 0x2920, 0x2020, 0x2020};
  EXPECT_EQ(1, u.Write(540, {0, 0, 0, 0, 9}, At()));                   // reaches past the password
  EXPECT_EQ(0, u.Write(540, {0x010A, 0x191C, 0x1B1D, 0x1F1B}, At()));  // one code off
  EXPECT_FALSE(u.Access());
  EXPECT_EQ(0, u.Write(540, right, At()));
  EXPECT_TRUE(u.Access());
  // Granted, the same registers set a new password.
  EXPECT_EQ(3, u.Write(540, {0x2A00, 0, 0, 0}, At()));  // 42 is no character
  EXPECT_EQ(0, u.Write(540, fresh, At()));
  EXPECT_EQ(std::string("\xDF\xDB") + "900000", u.Password());  // ЯЫ900000
  EXPECT_EQ(0, u.Write(526, {32}, At()));
  EXPECT_FALSE(u.Access());
  EXPECT_EQ(0, u.Write(540, right, At()));
  EXPECT_FALSE(u.Access());
  EXPECT_EQ(0, u.Write(540, fresh, At()));
  EXPECT_TRUE(u.Access());
}

TEST(Unit, JournalRingWrapsPastAThousandAndClearKeepsTheLatest) {
  Sim::Unit u({1, 7, "00000000", true, 998, 999}, At());  // 998 records, the latest 999
  auto trip = [&](uint8_t channel) {
    u.SetChannelInput(channel, true, At());
    return Holding(u, 517, 2);  // latest record, count
  };
  EXPECT_EQ((Regs{1000, 999}), trip(0));
  EXPECT_EQ((Regs{1, 1000}), trip(1));
  EXPECT_EQ(Regs{0x82}, Kinds(u, 1));
  EXPECT_EQ((Regs{2, 1000}), trip(2));
  EXPECT_EQ(0, u.Write(518, {0}, At()));
  EXPECT_EQ((Regs{3, 1}), trip(3));
}

TEST(Unit, ChannelsLatchOrPassThroughAndLogPerTheirFlags) {
  Sim::Unit u(Sim::UnitSetup(), At());
  // Channel 1 as made: latching, trips and returns logged. Channels 2 and 3 pass through;
  // bit 4 stops logging trips, bit 5 logs returns.
  EXPECT_EQ(0, u.Write(5, {0x0012, 10, 0, 0x0022}, At()));
  for (uint8_t channel : {0, 1, 2})
    u.SetChannelInput(channel, true, At());
  EXPECT_EQ(Regs{0x0007}, Input(u, 4, 1));
  for (uint8_t channel : {0, 1, 2})
    u.SetChannelInput(channel, false, At());
  EXPECT_EQ(Regs{0x0001}, Input(u, 4, 1));
  EXPECT_EQ((Regs{0x81, 0x83, 0x03, 0}), Kinds(u, 4));
  // Сброс releases a latched channel only once its input is quiet.
  u.SetChannelInput(3, true, At());
  EXPECT_EQ(0, u.Write(526, {16}, At()));
  EXPECT_EQ(Regs{0x0008}, Input(u, 4, 1));
  u.SetChannelInput(3, false, At());
  EXPECT_EQ(Regs{0x0008}, Input(u, 4, 1));
  EXPECT_EQ(0, u.Write(526, {16}, At()));
  EXPECT_EQ(Regs{0}, Input(u, 4, 1));
  EXPECT_EQ((Regs{0x81, 0x83, 0x03, 0x84, 0x01, 0x04, 0}), Kinds(u, 7));
}

TEST(Unit, ClockRunsFromTheWrittenTimeUnlessFrozenInvalid) {
  Sim::Unit u(Sim::UnitSetup(), At());
  ASSERT_EQ(0, u.Write(520, {0x1F0C, 0x1717, 0x3B3B}, At()));  // 31.12.2023 23:59:59
  EXPECT_EQ((Regs{0x1F0C, 0x1717, 0x3B3B}), Holding(u, 520, 3, At(999)));
  u.SetChannelInput(4, true, At(1000));
  EXPECT_EQ((Regs{0x0101, 0x1800, 0, 0x85}), Input(u, 1000, 4));
  EXPECT_EQ(3, u.Write(520, {0x1F04}, At()));  // 31 April
  u.SetClockRegisters(0x010D, 0x1800, 0x3C00);
  EXPECT_EQ((Regs{0x010D, 0x1800, 0x3C00}), Holding(u, 520, 3, At(5000)));
  ASSERT_EQ(0, u.Write(520, {0x0101, 0x1800, 0}, At()));
  EXPECT_EQ((Regs{0x0101, 0x1800, 1}), Holding(u, 520, 3, At(1500)));
}

struct ControlTest : testing::Test {
  Sim::Simulator sim{Sim::LineSetup(), {Sim::UnitSetup()}};
  Sim::Control control{sim};
};

TEST_F(ControlTest, CommandsReachTheUnits) {
  // Command, reply, command, reply...; blank lines get none.
  std::istringstream script(
      "access 1 0|ok|input-reg 1 50|7|input 1 3 1|ok|input-reg 1 4|4|"
      "set-holding 1 523 0x1234|ok|holding 1 523|4660|clock-regs 1 0x010D 0x1800 0|ok|"
      "holding 1 520|269|journal 1 10 5|ok|holding 1 517|5|holding 1 518|10|model 1 6|ok|"
      "input-reg 1 50|6|password 1|00000000|count 1|0|total|0|commands 1 4|0|"
      "  reset-counters\t|ok|fault silent 0 2|ok|fault-rate late 100 0.5|ok|"
      "fault truncated 3 1|ok|clear-faults|ok|"
      "send 0xDE 173 0|ok|||   ||");
  for (std::string line, reply;
       std::getline(script, line, '|') && std::getline(script, reply, '|');)
    EXPECT_EQ(reply, control.Execute(line)) << line;
}

TEST_F(ControlTest, RefusesMalformedLines) {
  std::istringstream bad(
      "launch|count|count 1 2|count x|count 256|access 9 1|access 1 2|input 1 13 1|input 1 0 1|"
      "holding 1 100|holding 7 1|input-reg 1 5|set-holding 1 519 1|set-holding 1 544 0|"
      "journal 1 1001 5|journal 1 5 1001|fault bogus 0 1|fault silent x 1|"
      "fault-rate late 100 1.5|clock-regs 1 1 2|model 3 7|password 9|total 1|send|send 256|"
      "send 0x1 zz");
  for (std::string line; std::getline(bad, line, '|');)
    EXPECT_EQ(0u, control.Execute(line).rfind("error: ", 0)) << line;
  EXPECT_EQ("error: unknown command 'launch'", control.Execute("launch"));
  EXPECT_EQ("error: send takes at least 1 argument", control.Execute("send"));
  EXPECT_EQ("error: bad number 'zz'", control.Execute("send 0x1 zz"));
  EXPECT_EQ("error: no such unit", control.Execute("model 3 7"));
}

}  // namespace
