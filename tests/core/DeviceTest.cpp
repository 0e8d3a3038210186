// The access functions against a scripted register map: which registers each one asks for
// or writes, and how it packs and unpacks them.

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "PtyPeer.h"
#include "device/LIR.h"

namespace {

using Scripted::Bytes;
using Scripted::Chunk;

class Device : public ::testing::Test {
 protected:
  void SetUp() override {
    ModBus::Port->PortName = peer_.TerminalPath();
    ASSERT_TRUE(ModBus::Port->Open());
    peer_.Serve([this](const Bytes& r) { return Answer(r); });
  }
  void TearDown() override {
    peer_.StopServing();
    ModBus::Port->Close();
  }

  std::vector<Chunk> Answer(const Bytes& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint16_t first = static_cast<uint16_t>(r[2] << 8 | r[3]);
    const uint16_t value = static_cast<uint16_t>(r[4] << 8 | r[5]);
    if (r[1] == 3 || r[1] == 4) {
      auto& map = r[1] == 3 ? holding_ : input_;
      std::vector<uint16_t> regs;
      for (uint16_t i = 0; i < value; ++i) {
        auto it = map.find(static_cast<uint16_t>(first + i));
        if (it == map.end()) return {{Scripted::Exception(r[0], r[1], 2)}};
        regs.push_back(it->second);
      }
      return {{Scripted::ReadAnswer(r[0], r[1], regs)}};
    }
    if (r[1] == 6) {
      holding_[first] = value;
      return {{Scripted::Echo(r)}};
    }
    const auto regs = Scripted::RegistersOf(r);
    for (size_t i = 0; i < regs.size(); ++i)
      holding_[static_cast<uint16_t>(first + i)] = regs[i];
    return {{Scripted::Echo(r)}};
  }
  uint16_t Held(uint16_t reg) {
    std::lock_guard<std::mutex> lock(mutex_);
    return holding_[reg];
  }
  Bytes LastRequest() { return peer_.Requests().back(); }

  std::mutex mutex_;
  std::map<uint16_t, uint16_t> holding_, input_;
  Scripted::PtyPeer peer_;
};

TEST_F(Device, ChannelParamsReadFromThreeRegistersPerChannel) {
  for (uint16_t r = 0; r < 36; ++r)
    holding_[r] = 0;
  holding_[6] = 900;
  holding_[7] = 12;
  holding_[8] = 0x0531;
  LIR::ChannelParams params{};
  ASSERT_TRUE(LIR::ReadChannelsParam(3, 2, 1, params));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({3, 3, 0, 6, 0, 3}));  // channel 3: registers 6..8
  const LIR::ChannelParam& p = params[0];
  EXPECT_EQ(p.VrSrabat, 900);
  EXPECT_EQ(p.VrZaderj, 12);
  EXPECT_EQ(p.TypeInput, 1);
  EXPECT_EQ(p.TypeChannel, 0);
  EXPECT_EQ(p.ReleMode, 0);
  EXPECT_EQ(p.ToRele, 0);
  EXPECT_EQ(p.Srabat, 0);  // bit 4 set: trips are not logged
  EXPECT_EQ(p.Norm, 1);
  EXPECT_EQ(p.Zvuk, 0);
  EXPECT_EQ(p.ReleNumber, 5);

  ASSERT_TRUE(LIR::ReadChannelsParam(3, 11, 1, params));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({3, 3, 0, 33, 0, 3}));  // channel 12
  ASSERT_TRUE(LIR::ReadChannelsParam(3, 0, 12, params));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({3, 3, 0, 0, 0, 36}));
  EXPECT_EQ(params[2].ReleNumber, 5);
}

TEST_F(Device, SoundBits) {
  for (uint16_t r = 0; r < 36; ++r)
    holding_[r] = 0;
  holding_[2] = 0x0040;
  holding_[5] = 0x0080;
  holding_[8] = 0x00C0 | 0x0010;
  LIR::ChannelParams params{};
  params[2].Zvuk = 2;
  ASSERT_TRUE(LIR::ReadChannelsParam(1, 0, 3, params));
  EXPECT_EQ(params[0].Zvuk, 1);
  EXPECT_EQ(params[1].Zvuk, 2);
  EXPECT_EQ(params[2].Zvuk, 2);  // both bits: no sound the unit knows, the old value stays
  EXPECT_EQ(params[0].Srabat, 1);
  EXPECT_EQ(params[2].Srabat, 0);
}

TEST_F(Device, ChannelParamsWritePacksTheFlagWord) {
  LIR::ChannelParams params{};
  params[0] = {900, 1, 0, 0, 0, 0, 0, 0, 2, 12};
  params[1] = {5, 6, 1, 1, 1, 1, 1, 1, 1, 3};
  ASSERT_TRUE(LIR::WriteChannelsParam(7, 4, 2, params));
  const Bytes r = LastRequest();
  EXPECT_EQ(r[1], 16);
  EXPECT_EQ((r[2] << 8 | r[3]), 12);  // channel 5
  EXPECT_EQ(Scripted::RegistersOf(r), (std::vector<uint16_t>{900, 1, 0x0C90, 5, 6, 0x036F}));
  EXPECT_FALSE(LIR::WriteChannelsParam(7, 0, 0, params));
  EXPECT_FALSE(LIR::WriteChannelsParam(7, 0, 13, params));
  EXPECT_FALSE(LIR::ReadChannelsParam(7, 0, 0, params));
  EXPECT_EQ(peer_.Requests().size(), 1u);
}

TEST_F(Device, ClockPackingBothWays) {
  double value = 0;
  ASSERT_TRUE(LIR::EncodeDateTime({2007, 3, 5, 14, 9, 30}, value));
  ASSERT_TRUE(LIR::WriteClock(1, value));
  EXPECT_EQ(Scripted::RegistersOf(LastRequest()), (std::vector<uint16_t>{0x0503, 0x070E, 0x091E}));
  EXPECT_EQ(LastRequest()[3], 8);  // register 520

  double read = 0;
  ASSERT_TRUE(LIR::ReadClock(1, read));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({1, 3, 0x02, 0x08, 0, 3}));
  EXPECT_NEAR(read, value, 1e-9);

  // Beyond 2255 the year byte wraps, as the unit holds it.
  ASSERT_TRUE(LIR::EncodeDateTime({2300, 1, 2, 3, 4, 5}, value));
  ASSERT_TRUE(LIR::WriteClock(1, value));
  EXPECT_EQ(Held(521), (44 << 8) | 3);
  EXPECT_FALSE(LIR::WriteClock(1, std::nan("")));
}

TEST_F(Device, ClockThatIsNoDateIsToldApartFromNoAnswer) {
  holding_[520] = 0x1F04;  // 31 April
  holding_[521] = 0x0700;
  holding_[522] = 0x0000;
  double value = 123.0;
  EXPECT_EQ(LIR::ReadClockChecked(1, value), LIR::ClockResult::InvalidDate);
  EXPECT_FALSE(LIR::ReadClock(1, value));
  EXPECT_EQ(value, 123.0);
  for (auto regs : {std::array<uint16_t, 3>{0x010D, 0x0700, 0},
                    {0x0001, 0x0700, 0},
                    {0x0101, 0x0718, 0},
                    {0x0101, 0x0700, 0x3C00},
                    {0x0101, 0x0700, 0x003C}}) {
    holding_[520] = regs[0];
    holding_[521] = regs[1];
    holding_[522] = regs[2];
    EXPECT_EQ(LIR::ReadClockChecked(1, value), LIR::ClockResult::InvalidDate);
  }
  EXPECT_EQ(value, 123.0);
  holding_.erase(520);  // now the unit answers with an exception
  EXPECT_EQ(LIR::ReadClockChecked(1, value), LIR::ClockResult::NoAnswer);
}

TEST_F(Device, SettingsReleTypePasswordAddressAndCommands) {
  holding_[523] = 0x8102;
  holding_[524] = 0x0304;
  holding_[525] = 0x85FF;
  ModBus::RegisterArray regs{};
  ASSERT_TRUE(LIR::ReadSettings(2, regs));
  EXPECT_EQ(regs[0], 0x8102);
  EXPECT_EQ(regs[2], 0x85FF);
  regs = {0x1111, 0x2222, 0x3333};
  ASSERT_TRUE(LIR::WriteSettings(2, regs));
  EXPECT_EQ(Scripted::RegistersOf(LastRequest()), (std::vector<uint16_t>{0x1111, 0x2222, 0x3333}));
  EXPECT_EQ(Held(523), 0x1111);

  uint8_t type = 9;
  holding_[527] = 0x0101;
  ASSERT_TRUE(LIR::ReadCommonReleType(2, type));
  EXPECT_EQ(type, 1);
  holding_[527] = 2;
  ASSERT_TRUE(LIR::ReadCommonReleType(2, type));
  EXPECT_EQ(type, 1);  // 2 is no type: the caller's value stays
  ASSERT_TRUE(LIR::WriteCommonReleType(2, false));
  EXPECT_EQ(LastRequest()[1], 16);
  EXPECT_EQ(Held(527), 0);
  ASSERT_TRUE(LIR::ReadCommonReleType(2, type));
  EXPECT_EQ(type, 0);
  ASSERT_TRUE(LIR::WriteCommonReleType(2, true));
  EXPECT_EQ(Held(527), 1);

  ASSERT_TRUE(LIR::WritePassword(2,
                                 "\xC0\xC1\xC2\xC3"
                                 "1234"));
  EXPECT_EQ(Scripted::RegistersOf(LastRequest()),
            (std::vector<uint16_t>{0x0102, 0x0304, (33 << 8) | 34, (35 << 8) | 36}));
  EXPECT_EQ((LastRequest()[2] << 8 | LastRequest()[3]), 540);

  ASSERT_TRUE(LIR::WriteNetAddress(2, 77));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({2, 6, 0x02, 0x20, 0, 77}));

  const std::pair<bool (*)(uint8_t), uint16_t> commands[] = {
      {LIR::CmdPusk, 1},   {LIR::CmdStop, 2},   {LIR::CmdControl, 4},
      {LIR::CmdKvitir, 8}, {LIR::CmdSbros, 16}, {LIR::CmdRestart, 32}};
  for (const auto& [command, code] : commands) {
    ASSERT_TRUE(command(2));
    EXPECT_EQ(LastRequest(), Scripted::WithCrc({2, 6, 0x02, 0x0E, 0, static_cast<uint8_t>(code)}));
  }
}

TEST_F(Device, StateTypeAndAccess) {
  input_[4] = 0x0801;
  input_[50] = 0x8006;
  uint16_t state = 0;
  ASSERT_TRUE(LIR::ReadChannelsState(4, state));
  EXPECT_EQ(state, 0x0801);
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({4, 4, 0, 4, 0, 1}));
  uint8_t type = 0;
  ASSERT_TRUE(LIR::ReadDeviceType(4, type));
  EXPECT_EQ(type, 6);
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({4, 4, 0, 50, 0, 1}));
  EXPECT_EQ(LIR::CheckAccess(4), LIR::AccessGranted);
  input_[50] = 0x8007;
  EXPECT_EQ(LIR::CheckAccess(4), LIR::AccessGranted);
  input_[50] = 0x0007;
  EXPECT_EQ(LIR::CheckAccess(4), LIR::AccessDenied);
  input_.erase(50);  // the unit answers with an exception
  EXPECT_EQ(LIR::CheckAccess(4), LIR::AccessNoAnswer);
  type = 3;
  EXPECT_FALSE(LIR::ReadDeviceType(4, type));
  EXPECT_EQ(type, 3);
}

TEST_F(Device, Journal) {
  holding_[517] = 1000;
  holding_[518] = 17;
  uint16_t latest = 0, count = 0;
  ASSERT_TRUE(LIR::ReadJournalInfo(5, latest, count));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({5, 3, 0x02, 0x05, 0, 2}));
  EXPECT_EQ(latest, 1000);
  EXPECT_EQ(count, 17);

  input_[1000] = 0x0503;
  input_[1001] = 0x180E;
  input_[1002] = 0x091E;
  input_[1003] = 0x0085;
  LIR::JournalRecord rec{};
  ASSERT_TRUE(LIR::ReadJournalRecord(5, 1, rec));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({5, 4, 0x03, 0xE8, 0, 4}));
  EXPECT_EQ(rec.Day, 5);
  EXPECT_EQ(rec.Month, 3);
  EXPECT_EQ(rec.Year, 24);
  EXPECT_EQ(rec.Hour, 14);
  EXPECT_EQ(rec.Minute, 9);
  EXPECT_EQ(rec.Second, 30);
  EXPECT_EQ(rec.Alarm, 1);
  EXPECT_EQ(rec.Channel, 5);

  for (uint16_t r = 4996; r < 5000; ++r)
    input_[r] = 0;
  input_[4999] = 0xFF05;
  ASSERT_TRUE(LIR::ReadJournalRecord(5, 1000, rec));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({5, 4, 0x13, 0x84, 0, 4}));  // 4996
  EXPECT_EQ(rec.Alarm, 0);
  EXPECT_EQ(rec.Channel, 5);

  ASSERT_TRUE(LIR::ClearJournal(5));
  EXPECT_EQ(LastRequest(), Scripted::WithCrc({5, 16, 0x02, 0x06, 0, 1, 2, 0, 0}));
}

}  // namespace
