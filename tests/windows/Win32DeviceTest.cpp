// Every access function through the Win32 serial calls against the simulated units.

#include <gtest/gtest.h>

#include "Win32Line.h"
#include "device/LIR.h"

namespace {

using Win32Line::k4M;
using Win32Line::k8M;
using Win32Line::kLocked;
using DeviceTest = Win32Line::LineTest;

TEST_F(DeviceTest, TypesAndAccess) {
  uint8_t type = 0;
  ASSERT_TRUE(LIR::ReadDeviceType(k4M, type));
  EXPECT_EQ(type, LIR::Model4M);
  ASSERT_TRUE(LIR::ReadDeviceType(kLocked, type));
  EXPECT_EQ(type, LIR::Model12M);
  EXPECT_FALSE(LIR::ReadDeviceType(0, type));
  EXPECT_EQ(LIR::CheckAccess(k8M), LIR::AccessGranted);
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessDenied);
  EXPECT_EQ(LIR::CheckAccess(9), LIR::AccessNoAnswer);
}

TEST_F(DeviceTest, ChannelsStateAndCommands) {
  LIR::ChannelParams params{};
  params[0] = {900, 12, 1, 0, 1, 0, 0, 1, 2, 4};
  ASSERT_TRUE(LIR::WriteChannelsParam(k4M, 3, 1, params));
  EXPECT_EQ(control_.Number("holding 1 11"), 0x04B5u);
  LIR::ChannelParams back{};
  ASSERT_TRUE(LIR::ReadChannelsParam(k4M, 0, 4, back));
  EXPECT_EQ(back[3].VrSrabat, 900);
  EXPECT_EQ(back[3].Zvuk, 2);

  ASSERT_EQ(control_.Ask("input 1 2 1"), "ok");
  uint16_t state = 0;
  ASSERT_TRUE(LIR::ReadChannelsState(k4M, state));
  EXPECT_EQ(state, 0x0002);
  ASSERT_TRUE(LIR::CmdSbros(k4M));
  ASSERT_TRUE(LIR::CmdKvitir(k4M));
  ASSERT_TRUE(LIR::CmdControl(k4M));
  EXPECT_EQ(control_.Number("commands 1 16"), 1u);
  EXPECT_EQ(control_.Number("commands 1 8"), 1u);
  ASSERT_EQ(control_.Ask("input 1 2 0"), "ok");
  ASSERT_TRUE(LIR::CmdRestart(k4M));
}

TEST_F(DeviceTest, ClockSettingsAndReleType) {
  double when = 0;
  ASSERT_TRUE(LIR::EncodeDateTime({2007, 3, 5, 14, 9, 30}, when));
  ASSERT_TRUE(LIR::WriteClock(k8M, when));
  double now = 0;
  ASSERT_TRUE(LIR::ReadClock(k8M, now));
  EXPECT_NEAR(now, when, 5.0 / 86400);
  ASSERT_EQ(control_.Ask("clock-regs 2 0x1F04 0x0700 0"), "ok");  // 31 April
  EXPECT_EQ(LIR::ReadClockChecked(k8M, now), LIR::ClockResult::InvalidDate);

  ModBus::RegisterArray regs{};
  regs[0] = 0x8102;
  regs[1] = 0x0304;
  regs[2] = 0x8506;
  ASSERT_TRUE(LIR::WriteSettings(k8M, regs));
  ModBus::RegisterArray read{};
  ASSERT_TRUE(LIR::ReadSettings(k8M, read));
  EXPECT_EQ(read[2], 0x8506);
  ASSERT_TRUE(LIR::WriteCommonReleType(k8M, true));
  uint8_t type = 0;
  ASSERT_TRUE(LIR::ReadCommonReleType(k8M, type));
  EXPECT_EQ(type, 1);
  ASSERT_TRUE(LIR::WriteCommonReleType(k8M, false));
}

TEST_F(DeviceTest, PasswordUnlocks) {
  EXPECT_FALSE(LIR::ClearJournal(kLocked));  // refused while locked
  ASSERT_TRUE(LIR::WritePassword(kLocked, "12345678"));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessDenied);
  ASSERT_TRUE(LIR::WritePassword(kLocked,
                                 "\xCB\xC8\xD0"
                                 "12345"));  // ЛИР12345 in cp1251
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessGranted);
  ASSERT_EQ(control_.Ask("access 3 0"), "ok");
}

TEST_F(DeviceTest, JournalAndAddress) {
  ASSERT_EQ(control_.Ask("journal 2 5 2"), "ok");
  uint16_t latest = 0, count = 0;
  ASSERT_TRUE(LIR::ReadJournalInfo(k8M, latest, count));
  EXPECT_EQ(latest, 2);
  EXPECT_EQ(count, 5);
  LIR::JournalRecord rec{};
  ASSERT_TRUE(LIR::ReadJournalRecord(k8M, 1000, rec));
  EXPECT_GE(rec.Channel, 1);
  EXPECT_LE(rec.Channel, 8);
  ASSERT_TRUE(LIR::ClearJournal(k8M));
  EXPECT_EQ(control_.Number("holding 2 518"), 0u);

  ASSERT_TRUE(LIR::WriteNetAddress(k4M, 41));  // answered under the old address
  EXPECT_EQ(LIR::CheckAccess(41), LIR::AccessGranted);
  ASSERT_TRUE(LIR::WriteNetAddress(41, k4M));
  EXPECT_EQ(LIR::CheckAccess(k4M), LIR::AccessGranted);
}

}  // namespace
