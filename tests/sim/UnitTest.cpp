// One unit's rules, driven directly with a hand-made clock: no terminal, no waiting.

#include <gtest/gtest.h>

#include "sim/Unit.h"

namespace {

using Sim::Now;
using Sim::Unit;
using Sim::UnitSetup;

// 2024-05-17 10:20:30.250 local.
Now At(int64_t plusMs = 0) {
  Sim::DateTime t;
  t.Year = 2024;
  t.Month = 5;
  t.Day = 17;
  t.Hour = 10;
  t.Minute = 20;
  t.Second = 30;
  Now now;
  now.LocalMs = Sim::SecondsFromCivil(t) * 1000 + 250 + plusMs;
  now.SteadyMs = 1000000 + plusMs;
  return now;
}

UnitSetup Model(uint8_t model = 7) {
  UnitSetup s;
  s.Model = model;
  return s;
}

uint16_t Hold(const Unit& u, uint16_t reg, const Now& now = At()) {
  uint16_t v = 0xDEAD;
  EXPECT_TRUE(u.Holding(reg, v, now)) << reg;
  return v;
}

uint16_t In(const Unit& u, uint16_t reg, const Now& now = At()) {
  uint16_t v = 0xDEAD;
  EXPECT_TRUE(u.Input(reg, v, now)) << reg;
  return v;
}

std::vector<uint16_t> Record(const Unit& u, int k) {
  std::vector<uint16_t> r;
  EXPECT_EQ(0, u.ReadInput(static_cast<uint16_t>(1000 + 4 * (k - 1)), 4, r, At()));
  return r;
}

// The unit's own encoding of a cp1251 password (first character in the high byte).
std::vector<uint16_t> Encoded(const char* cp1251) {
  std::array<uint16_t, 4> r = Sim::EncodePassword(cp1251);
  return {r.begin(), r.end()};
}

TEST(DeviceCodes, FollowTheDeviceAlphabet) {
  EXPECT_EQ(1, Sim::DeviceCode(0xC0));   // А
  EXPECT_EQ(9, Sim::DeviceCode(0xC8));   // И
  EXPECT_EQ(0, Sim::DeviceCode(0xC9));   // Й has none
  EXPECT_EQ(10, Sim::DeviceCode(0xCA));  // К
  EXPECT_EQ(25, Sim::DeviceCode(0xD9));  // Щ
  EXPECT_EQ(28, Sim::DeviceCode(0xDA));  // Ъ
  EXPECT_EQ(26, Sim::DeviceCode(0xDB));  // Ы
  EXPECT_EQ(27, Sim::DeviceCode(0xDC));  // Ь
  EXPECT_EQ(31, Sim::DeviceCode(0xDF));  // Я
  EXPECT_EQ(32, Sim::DeviceCode('0'));
  EXPECT_EQ(41, Sim::DeviceCode('9'));
  for (int c : {int{'_'}, int{'a'}, int{'Z'}, int{' '}, 0xE0, 0xA8})
    EXPECT_EQ(0, Sim::DeviceCode(static_cast<uint8_t>(c))) << c;
  for (uint8_t code = 0; code <= 41; ++code) {
    EXPECT_EQ(code, Sim::DeviceCode(Sim::DeviceChar(code))) << int(code);
  }
  EXPECT_EQ(0, Sim::DeviceChar(42));
  EXPECT_EQ(0x0102, Sim::EncodePassword("\xC0\xC1"
                                        "000000")[0]);  // АБ...
  EXPECT_EQ(0x201D, Sim::EncodePassword("0\xDD"
                                        "000000")[0]);  // 0Э...
}

TEST(Calendar, ConvertsAndValidates) {
  EXPECT_EQ(11017, Sim::DaysFromCivil(2000, 3, 1));
  for (int64_t s : {int64_t{0}, int64_t{951782400}, int64_t{4102444799}}) {
    EXPECT_EQ(s, Sim::SecondsFromCivil(Sim::CivilFromSeconds(s)));
  }
  EXPECT_TRUE(Sim::ValidDateTime({2000, 2, 29, 23, 59, 59}));
  for (Sim::DateTime bad :
       {Sim::DateTime{2023, 2, 29, 0, 0, 0}, Sim::DateTime{2024, 4, 31, 0, 0, 0},
        Sim::DateTime{2024, 13, 1, 0, 0, 0}, Sim::DateTime{2024, 1, 0, 0, 0, 0},
        Sim::DateTime{2024, 1, 1, 24, 0, 0}, Sim::DateTime{2024, 1, 1, 0, 60, 0},
        Sim::DateTime{2024, 1, 1, 0, 0, 60}}) {
    EXPECT_FALSE(Sim::ValidDateTime(bad));
  }
}

TEST(Registers, ReadsAreLimitedToTheMap) {
  Unit u(Model(), At());
  std::vector<uint16_t> v;
  EXPECT_EQ(0, u.ReadHolding(0, 36, v, At()));
  EXPECT_EQ(36u, v.size());
  EXPECT_EQ(0, u.ReadHolding(517, 2, v, At()));
  EXPECT_EQ(0, u.ReadHolding(520, 8, v, At()));
  EXPECT_EQ(0, u.ReadHolding(544, 1, v, At()));
  EXPECT_EQ(std::vector<uint16_t>{1}, v);
  EXPECT_EQ(2, u.ReadHolding(0, 37, v, At()));
  EXPECT_EQ(2, u.ReadHolding(517, 3, v, At()));
  EXPECT_EQ(2, u.ReadHolding(540, 1, v, At()));  // the password is write-only
  EXPECT_EQ(2, u.ReadHolding(0xFFFF, 2, v, At()));
  EXPECT_EQ(3, u.ReadHolding(0, 0, v, At()));
  EXPECT_EQ(3, u.ReadHolding(0, 126, v, At()));
  EXPECT_EQ(0, u.ReadInput(4, 1, v, At()));
  EXPECT_EQ(0, u.ReadInput(50, 1, v, At()));
  EXPECT_EQ(std::vector<uint16_t>{0x8007}, v);
  EXPECT_EQ(0, u.ReadInput(1000, 125, v, At()));
  EXPECT_EQ(0, u.ReadInput(4996, 4, v, At()));
  EXPECT_EQ(2, u.ReadInput(4997, 4, v, At()));
  EXPECT_EQ(2, u.ReadInput(4, 2, v, At()));
  EXPECT_EQ(2, u.ReadInput(999, 1, v, At()));
  EXPECT_EQ(3, u.ReadInput(1000, 126, v, At()));
}

TEST(Registers, WritesCheckValuesAndChangeNothingWhenRefused) {
  Unit u(Model(), At());
  EXPECT_EQ(0, u.Write(33, {1, 2, 0x0531}, At()));
  EXPECT_EQ(0x0531, Hold(u, 35));
  EXPECT_EQ(2, u.Write(35, {1, 2}, At()));  // 36 does not exist
  EXPECT_EQ(0x0531, Hold(u, 35));
  EXPECT_EQ(2, u.Write(517, {5}, At()));
  EXPECT_EQ(3, u.Write(518, {5}, At()));
  EXPECT_EQ(3, u.Write(526, {3}, At()));
  EXPECT_EQ(3, u.Write(527, {0x0002}, At()));
  EXPECT_EQ(0, u.Write(527, {0x0101}, At()));
  EXPECT_EQ(3, u.Write(544, {0}, At()));
  EXPECT_EQ(3, u.Write(544, {256}, At()));
  EXPECT_EQ(3, u.Write(0, std::vector<uint16_t>(124, 0), At()));
  EXPECT_EQ(3, u.Write(540, {0, 0}, At()));  // half a password
  // A bad value anywhere refuses the whole request: clock and settings stay.
  const uint16_t clock = Hold(u, 520);
  EXPECT_EQ(3, u.Write(520, {0x0101, 0x1800, 0, 7, 8, 9, 8, 2}, At()));
  EXPECT_EQ(clock, Hold(u, 520));
  EXPECT_EQ(0, Hold(u, 523));
  EXPECT_EQ(0u, u.CommandCount(8));
  EXPECT_EQ(0, u.Write(520, {0x0101, 0x1800, 0, 7, 8, 9, 8, 1}, At()));
  EXPECT_EQ(1u, u.CommandCount(8));
  EXPECT_EQ(0x0101, Hold(u, 520));
  EXPECT_EQ(9, Hold(u, 525));
}

TEST(Access, PasswordGrantsAndChangesRestartWithdraws) {
  UnitSetup s = Model();
  s.AccessGranted = false;
  s.Password =
      "\xC0\xC1\xC2\xC3"
      "1234";  // АБВГ1234
  Unit u(s, At());
  EXPECT_EQ(0x0007, In(u, 50));
  EXPECT_EQ(1, u.Write(0, {5}, At()));
  EXPECT_EQ(1, u.Write(526, {4}, At()));
  EXPECT_EQ(1, u.Write(540, {0, 0, 0, 0, 9}, At()));  // reaches past the password
  EXPECT_EQ(0, u.CommandCount(4));

  EXPECT_EQ(0, u.Write(540,
                       Encoded("\xC0\xC1\xC2\xC3"
                               "1235"),
                       At()));
  EXPECT_FALSE(u.Access());
  EXPECT_EQ(0, u.Write(540, {0x0102, 0x0304, 0x2122, 0x2324}, At()));
  EXPECT_EQ(0x8007, In(u, 50));

  // Granted: the same registers now set a new password, and access stays.
  EXPECT_EQ(3, u.Write(540, {0x2A00, 0, 0, 0}, At()));  // 42 is no device code
  EXPECT_EQ(0, u.Write(540,
                       Encoded("\xDF\xDB_9"
                               "0000"),
                       At()));  // ЯЫ_90000
  EXPECT_TRUE(u.Access());
  EXPECT_EQ("\xDF\xDB_90000", u.Password());

  EXPECT_EQ(0, u.Write(526, {32}, At()));
  EXPECT_FALSE(u.Access());
  EXPECT_EQ(0, u.Write(540,
                       Encoded("\xC0\xC1\xC2\xC3"
                               "1234"),
                       At()));
  EXPECT_FALSE(u.Access());
  EXPECT_EQ(0, u.Write(540, Encoded("\xDF\xDB_90000"), At()));
  EXPECT_TRUE(u.Access());
}

TEST(Journal, PrefillLaysRecordsBackInTime) {
  UnitSetup s = Model(5);
  s.JournalCount = 5;
  s.JournalLatest = 2;
  Unit u(s, At());
  EXPECT_EQ(2, Hold(u, 517));
  EXPECT_EQ(5, Hold(u, 518));
  const int order[] = {2, 1, 1000, 999, 998};
  int64_t previous = INT64_MAX;
  for (int i = 0; i < 5; ++i) {
    std::vector<uint16_t> r = Record(u, order[i]);
    Sim::DateTime t{2000 + (r[1] >> 8), r[0] & 0xFF, r[0] >> 8,
                    r[1] & 0xFF,        r[2] >> 8,   r[2] & 0xFF};
    ASSERT_TRUE(Sim::ValidDateTime(t)) << i;
    EXPECT_LT(Sim::SecondsFromCivil(t), previous) << i;
    previous = Sim::SecondsFromCivil(t);
    EXPECT_EQ(i % 2 == 1, (r[3] & 0x80) != 0) << i;
    EXPECT_EQ((i / 2) % 4 + 1, r[3] & 0x7F) << i;
  }
  EXPECT_EQ(std::vector<uint16_t>(4, 0), Record(u, 997));

  // No latest number: 517 says 0, the records sit where a reader that meets 0 looks.
  u.SetJournal(3, 0, At());
  EXPECT_EQ(0, Hold(u, 517));
  EXPECT_NE(0, Record(u, 998)[3]);
  EXPECT_EQ(0, Record(u, 997)[3]);
  EXPECT_EQ(0, Record(u, 1)[3]);
}

TEST(Journal, RingWrapsCapsAndClears) {
  UnitSetup s = Model();
  s.JournalCount = 998;
  s.JournalLatest = 999;
  Unit u(s, At());
  u.SetChannelInput(0, true, At());
  EXPECT_EQ(1000, Hold(u, 517));
  EXPECT_EQ(999, Hold(u, 518));
  u.SetChannelInput(1, true, At());
  EXPECT_EQ(1, Hold(u, 517));
  EXPECT_EQ(1000, Hold(u, 518));
  EXPECT_EQ(0x82, Record(u, 1)[3]);
  u.SetChannelInput(2, true, At());
  EXPECT_EQ(2, Hold(u, 517));
  EXPECT_EQ(1000, Hold(u, 518));

  EXPECT_EQ(0, u.Write(518, {0}, At()));
  EXPECT_EQ(2, Hold(u, 517));
  EXPECT_EQ(0, Hold(u, 518));
  u.SetChannelInput(3, true, At());
  EXPECT_EQ(3, Hold(u, 517));
  EXPECT_EQ(1, Hold(u, 518));
}

TEST(Channels, LatchingAndPassThroughFollowTheirJournalFlags) {
  Unit u(Model(), At());
  // Channel 1 keeps the defaults: latching, trips and returns logged.
  // Channel 2: pass-through, trips not logged, returns not logged.
  // Channel 3: pass-through, trips logged, returns logged.
  EXPECT_EQ(0, u.Write(5, {0x0012}, At()));
  EXPECT_EQ(0, u.Write(8, {0x0022}, At()));

  ASSERT_TRUE(u.SetChannelInput(0, true, At()));
  ASSERT_TRUE(u.SetChannelInput(1, true, At()));
  ASSERT_TRUE(u.SetChannelInput(2, true, At()));
  EXPECT_EQ(0x0007, In(u, 4));
  EXPECT_EQ(2, Hold(u, 518));
  EXPECT_EQ(0x81, Record(u, 1)[3]);
  EXPECT_EQ(0x83, Record(u, 2)[3]);

  u.SetChannelInput(0, false, At());
  u.SetChannelInput(1, false, At());
  u.SetChannelInput(2, false, At());
  EXPECT_EQ(0x0001, In(u, 4));  // only the latching one stays
  EXPECT_EQ(3, Hold(u, 518));
  EXPECT_EQ(0x03, Record(u, 3)[3]);

  // Сброс releases a latched channel only once its input is quiet.
  u.SetChannelInput(3, true, At());
  EXPECT_EQ(0x0009, In(u, 4));
  EXPECT_EQ(0, u.Write(526, {16}, At()));
  EXPECT_EQ(0x0008, In(u, 4));
  EXPECT_EQ(0x01, Record(u, 5)[3]);
  u.SetChannelInput(3, false, At());
  EXPECT_EQ(0x0008, In(u, 4));
  EXPECT_EQ(0, u.Write(526, {16}, At()));
  EXPECT_EQ(0, In(u, 4));
  EXPECT_EQ(0x04, Record(u, 6)[3]);
  EXPECT_EQ(2u, u.CommandCount(16));

  EXPECT_FALSE(Unit(Model(5), At()).SetChannelInput(4, true, At()));
}

TEST(Channels, RecordsCarryTheDeviceTime) {
  Unit u(Model(), At());
  ASSERT_EQ(0, u.Write(520, {0x0503, 0x070E, 0x091E}, At()));  // 5.3.2007 14:09:30
  u.SetChannelInput(4, true, At(2500));
  EXPECT_EQ((std::vector<uint16_t>{0x0503, 0x070E, 0x0920, 0x85}), Record(u, 1));
}

TEST(Channels, InputsActiveAtStartShowTrippedWithoutRecords) {
  UnitSetup s = Model(6);
  s.Inputs = 0x0105;
  Unit u(s, At());
  EXPECT_EQ(0x0005, In(u, 4));  // channel 9 does not exist on a ЛИР-8М
  EXPECT_EQ(0, Hold(u, 518));
}

TEST(Commands, LampTestLastsOneSecondAfterTheLastPress) {
  Unit u(Model(5), At());
  u.SetChannelInput(1, true, At());
  const uint16_t records = Hold(u, 518);
  EXPECT_EQ(0, u.Write(526, {4}, At()));
  EXPECT_EQ(0x000F, In(u, 4, At(999)));
  EXPECT_EQ(0, u.Write(526, {4}, At(900)));
  EXPECT_EQ(0x000F, In(u, 4, At(1899)));
  EXPECT_EQ(0x0002, In(u, 4, At(1900)));
  EXPECT_EQ(records, Hold(u, 518));
  EXPECT_EQ(2u, u.CommandCount(4));
}

TEST(Commands, RestartClearsChannelsSilentlyAndCountsEachCode) {
  Unit u(Model(), At());
  u.SetChannelInput(0, true, At());
  u.SetChannelInput(5, true, At());
  EXPECT_EQ(0, u.Write(526, {1}, At()));
  EXPECT_TRUE(u.PumpRunning());
  EXPECT_EQ(0, u.Write(526, {8}, At()));
  EXPECT_TRUE(u.SoundSilenced());
  EXPECT_EQ(0, u.Write(526, {2}, At()));
  EXPECT_FALSE(u.PumpRunning());
  EXPECT_EQ(0, u.Write(526, {32}, At()));
  EXPECT_EQ(0, In(u, 4));
  EXPECT_EQ(2, Hold(u, 518));
  EXPECT_FALSE(u.Access());
  EXPECT_EQ(32, Hold(u, 526));
  for (uint16_t code : {1, 2, 8, 32})
    EXPECT_EQ(1u, u.CommandCount(code)) << code;
  EXPECT_EQ(0u, u.CommandCount(4));
  u.ResetCounters();
  EXPECT_EQ(0u, u.CommandCount(32));
}

TEST(Clock, RunsFromTheWrittenTime) {
  Unit u(Model(), At());
  EXPECT_EQ((std::vector<uint16_t>{0x1105, 0x180A, 0x141E}),
            (std::vector<uint16_t>{Hold(u, 520), Hold(u, 521), Hold(u, 522)}));
  ASSERT_EQ(0, u.Write(520, {0x1F0C, 0x1717, 0x3B3B}, At()));  // 31.12.2023 23:59:59
  EXPECT_EQ(0x3B3B, Hold(u, 522, At(999)));
  EXPECT_EQ(0x0101, Hold(u, 520, At(1000)));
  EXPECT_EQ(0x1800, Hold(u, 521, At(1000)));
  EXPECT_EQ(0x0000, Hold(u, 522, At(1000)));
  // Writing the time alone keeps the date.
  ASSERT_EQ(0, u.Write(522, {0x0102}, At()));
  EXPECT_EQ(0x1F0C, Hold(u, 520));
  EXPECT_EQ(0x0102, Hold(u, 522, At(999)));
  EXPECT_EQ(3, u.Write(520, {0x1F04}, At()));  // 31 April
  EXPECT_EQ(3, u.Write(521, {0x1818}, At()));  // hour 24
}

TEST(Clock, FrozenRegistersHoldRawValuesUntilTheNextWrite) {
  Unit u(Model(), At());
  u.SetClockRegisters(0x010D, 0x1800, 0x3C00);
  EXPECT_EQ(0x010D, Hold(u, 520, At(5000)));
  EXPECT_EQ(0x3C00, Hold(u, 522, At(5000)));
  ASSERT_EQ(0, u.Write(520, {0x0101, 0x1800, 0}, At()));
  EXPECT_EQ(0x0001, Hold(u, 522, At(1500)));
}

TEST(Address, NewAddressWaitsForTheAnswer) {
  Unit u(Model(), At());
  uint8_t address = 0;
  EXPECT_FALSE(u.TakePendingAddress(address));
  EXPECT_EQ(0, u.Write(544, {9}, At()));
  EXPECT_EQ(1, u.Address());
  EXPECT_EQ(1, Hold(u, 544));
  ASSERT_TRUE(u.TakePendingAddress(address));
  EXPECT_EQ(9, address);
  EXPECT_EQ(0, u.Write(544, {1}, At()));  // its own address: nothing to move
  EXPECT_FALSE(u.TakePendingAddress(address));
}

}  // namespace
