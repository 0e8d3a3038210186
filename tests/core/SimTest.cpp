// Every access function against the project's simulator of the units, over a real
// pseudo-terminal, with the faults the line can throw at the master.

#include <gtest/gtest.h>

#include <ctime>

#include "PtyPeer.h"
#include "device/LIR.h"
#include "sim/Simulator.h"

namespace {

constexpr uint8_t k4M = 3, k8M = 5, k12M = 9, kLocked = 12;

class Sim_ : public ::testing::Test {
 protected:
  static std::vector<Sim::UnitSetup> Units() {
    std::vector<Sim::UnitSetup> units(4);
    units[0].Address = k4M;
    units[0].Model = LIR::Model4M;
    units[1].Address = k8M;
    units[1].Model = LIR::Model8M;
    units[2].Address = k12M;
    units[2].Model = LIR::Model12M;
    units[2].JournalCount = 5;
    units[2].JournalLatest = 2;
    units[3].Address = kLocked;
    units[3].Model = 9;
    units[3].AccessGranted = false;
    units[3].Password =
        "\xCB\xC8\xD0"
        "12345";  // ЛИР12345
    return units;
  }
  void SetUp() override {
    ASSERT_TRUE(sim_.Start()) << sim_.LastError();
    ModBus::Port->PortName = sim_.TerminalPath();
    ASSERT_TRUE(ModBus::Port->Open());
  }
  void TearDown() override {
    ModBus::Port->Close();
    sim_.Stop();
  }
  Sim::Simulator sim_{Sim::LineSetup{}, Units()};
};

TEST_F(Sim_, TypesAndAccessOfEveryUnit) {
  uint8_t type = 0;
  ASSERT_TRUE(LIR::ReadDeviceType(k4M, type));
  EXPECT_EQ(type, LIR::Model4M);
  ASSERT_TRUE(LIR::ReadDeviceType(k8M, type));
  EXPECT_EQ(type, LIR::Model8M);
  ASSERT_TRUE(LIR::ReadDeviceType(kLocked, type));
  EXPECT_EQ(type, 9);
  EXPECT_FALSE(LIR::ReadDeviceType(1, type));  // nobody there
  EXPECT_FALSE(LIR::ReadDeviceType(0, type));  // broadcast: nobody answers
  EXPECT_EQ(LIR::CheckAccess(k12M), LIR::AccessGranted);
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessDenied);
  EXPECT_EQ(LIR::CheckAccess(1), LIR::AccessNoAnswer);
}

TEST_F(Sim_, PasswordGrantsAccessAndWritesNeedIt) {
  EXPECT_FALSE(LIR::CmdKvitir(kLocked));  // refused while locked
  ASSERT_TRUE(LIR::WritePassword(kLocked, "00000000"));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessDenied);
  ASSERT_TRUE(LIR::WritePassword(kLocked,
                                 "\xCB\xC8\xD0"
                                 "12345"));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessGranted);
  EXPECT_TRUE(LIR::CmdKvitir(kLocked));
  EXPECT_EQ(sim_.CommandCount(kLocked, LIR::CodeKvitir), 1u);
  // Granted, the same write sets a new password; the restart withdraws access.
  ASSERT_TRUE(LIR::WritePassword(kLocked,
                                 "\xDF\xDF"
                                 "______"));
  ASSERT_TRUE(LIR::CmdRestart(kLocked));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessDenied);
  ASSERT_TRUE(LIR::WritePassword(kLocked,
                                 "\xDF\xDF"
                                 "______"));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessGranted);
}

TEST_F(Sim_, ChannelParametersAndState) {
  LIR::ChannelParams params{};
  for (uint8_t i = 0; i < 8; ++i)
    params[i] = {static_cast<uint16_t>(100 + i), static_cast<uint16_t>(i),   1, 1, 0, 1, 1, 1,
                 static_cast<uint8_t>(i % 3),    static_cast<uint8_t>(i + 1)};
  ASSERT_TRUE(LIR::WriteChannelsParam(k8M, 0, 8, params));
  LIR::ChannelParams back{};
  ASSERT_TRUE(LIR::ReadChannelsParam(k8M, 0, 8, back));
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(back[i].VrSrabat, params[i].VrSrabat);
    EXPECT_EQ(back[i].Zvuk, params[i].Zvuk);
    EXPECT_EQ(back[i].ReleNumber, params[i].ReleNumber);
    EXPECT_EQ(back[i].Srabat, 1);
  }
  uint16_t state = 0xFFFF;
  ASSERT_TRUE(LIR::ReadChannelsState(k8M, state));
  EXPECT_EQ(state, 0);
  ASSERT_TRUE(sim_.SetChannelInput(k8M, 2, true));
  ASSERT_TRUE(LIR::ReadChannelsState(k8M, state));
  EXPECT_EQ(state, 1 << 2);
}

TEST_F(Sim_, ClockRunsFromWhatWasWritten) {
  double when = 0;
  ASSERT_TRUE(LIR::EncodeDateTime({2033, 7, 14, 10, 20, 30}, when));
  ASSERT_TRUE(LIR::WriteClock(k12M, when));
  double now = 0;
  ASSERT_TRUE(LIR::ReadClock(k12M, now));
  EXPECT_GE(now, when - 1e-6);
  EXPECT_LE(now, when + 3.0 / 86400);
  ASSERT_TRUE(sim_.SetClockRegisters(k12M, 0x1F04, 0x1800, 0));
  double kept = 5;
  EXPECT_EQ(LIR::ReadClockChecked(k12M, kept), LIR::ClockResult::InvalidDate);
  EXPECT_EQ(kept, 5);
  EXPECT_EQ(LIR::ReadClockChecked(1, kept), LIR::ClockResult::NoAnswer);
}

TEST_F(Sim_, SettingsReleTypeAndAddressChange) {
  ModBus::RegisterArray regs{};
  regs[0] = 0x8102;
  regs[1] = 0x0304;
  regs[2] = 0x0586;
  ASSERT_TRUE(LIR::WriteSettings(k12M, regs));
  ModBus::RegisterArray back{};
  ASSERT_TRUE(LIR::ReadSettings(k12M, back));
  EXPECT_EQ(back[0], 0x8102);
  EXPECT_EQ(back[2], 0x0586);
  ASSERT_TRUE(LIR::WriteCommonReleType(k12M, true));
  uint8_t type = 0;
  ASSERT_TRUE(LIR::ReadCommonReleType(k12M, type));
  EXPECT_EQ(type, 1);

  ASSERT_TRUE(LIR::WriteNetAddress(k12M, 40));  // answered under the old address
  EXPECT_EQ(LIR::CheckAccess(k12M), LIR::AccessNoAnswer);
  EXPECT_EQ(LIR::CheckAccess(40), LIR::AccessGranted);
}

TEST_F(Sim_, JournalAndClear) {
  uint16_t latest = 0, count = 0;
  ASSERT_TRUE(LIR::ReadJournalInfo(k12M, latest, count));
  EXPECT_EQ(latest, 2);
  EXPECT_EQ(count, 5);
  for (uint16_t k : {2, 1, 1000, 999, 998}) {
    LIR::JournalRecord rec{};
    ASSERT_TRUE(LIR::ReadJournalRecord(k12M, k, rec)) << k;
    EXPECT_GE(rec.Month, 1);
    EXPECT_LE(rec.Month, 12);
    EXPECT_GE(rec.Channel, 1);
    EXPECT_LE(rec.Channel, 12);
  }
  ASSERT_TRUE(LIR::ClearJournal(k12M));
  ASSERT_TRUE(LIR::ReadJournalInfo(k12M, latest, count));
  EXPECT_EQ(count, 0);
}

TEST_F(Sim_, PanelCommandsAreCountedPerCode) {
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(LIR::CmdControl(k4M));
  ASSERT_TRUE(LIR::CmdPusk(k4M));
  ASSERT_TRUE(LIR::CmdStop(k4M));
  ASSERT_TRUE(LIR::CmdSbros(k4M));
  EXPECT_EQ(sim_.CommandCount(k4M, LIR::CodeControl), 3u);
  EXPECT_EQ(sim_.CommandCount(k4M, LIR::CodePusk), 1u);
  EXPECT_EQ(sim_.CommandCount(k4M, LIR::CodeSbros), 1u);
  EXPECT_EQ(sim_.CommandCount(k8M, LIR::CodeControl), 0u);
}

TEST_F(Sim_, FaultsOfTheLine) {
  uint16_t state = 0;
  sim_.InjectFault(Sim::FaultKind::Silent, 0, 1);
  EXPECT_FALSE(LIR::ReadChannelsState(k8M, state));
  EXPECT_TRUE(LIR::ReadChannelsState(k8M, state));  // one request only
  sim_.InjectFault(Sim::FaultKind::Corrupt, 0, 1);
  EXPECT_FALSE(LIR::ReadChannelsState(k8M, state));
  sim_.InjectFault(Sim::FaultKind::Exception, 0, 1);
  EXPECT_FALSE(LIR::ReadChannelsState(k8M, state));
  sim_.InjectFault(Sim::FaultKind::Noise, 3, 1);
  EXPECT_FALSE(LIR::ReadChannelsState(k8M, state));
  sim_.InjectFault(Sim::FaultKind::OtherAddress, 77, 1);
  EXPECT_TRUE(LIR::ReadChannelsState(k8M, state));
  sim_.InjectFault(Sim::FaultKind::Split, 50, 1);
  EXPECT_TRUE(LIR::ReadChannelsState(k8M, state));
  sim_.InjectFault(Sim::FaultKind::Split, 400, 1);
  EXPECT_FALSE(LIR::ReadChannelsState(k8M, state));
  sim_.InjectFault(Sim::FaultKind::Late, 50, 1);
  EXPECT_TRUE(LIR::ReadChannelsState(k8M, state));
  sim_.InjectFault(Sim::FaultKind::Late, 400, 1);
  EXPECT_FALSE(LIR::ReadChannelsState(k8M, state));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the late answer lands
  EXPECT_TRUE(LIR::ReadChannelsState(k8M, state));              // and is purged
  // A write whose answer is lost still took effect in the unit.
  sim_.InjectFault(Sim::FaultKind::Silent, 0, 1);
  EXPECT_FALSE(LIR::CmdKvitir(k8M));
  EXPECT_EQ(sim_.CommandCount(k8M, LIR::CodeKvitir), 1u);
}

TEST_F(Sim_, StaleBytesOnTheLineArePurged) {
  sim_.SendRaw({0x05, 0x04, 0x02, 0x00, 0x00});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  uint16_t state = 0xFFFF;
  EXPECT_TRUE(LIR::ReadChannelsState(k8M, state));
  EXPECT_EQ(state, 0);
}

}  // namespace
