// Every access function against the project's simulator of the units, over a real
// pseudo-terminal and over TCP through the simulator's device server, with the faults the line
// can throw at the master.

#include <gtest/gtest.h>

#include <thread>

#include "device/LIR.h"
#include "sim/DeviceServer.h"
#include "sim/Simulator.h"

namespace {

constexpr uint8_t k8M = 5, k12M = 9, kLocked = 12;
const char kPassword[] = "\313\310\32012345";  // ЛИР12345 in cp1251

enum class Over { Terminal, Tcp };

class OnSim : public ::testing::TestWithParam<Over> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start()) << sim_.LastError();
    ModBus::Port->PortName = sim_.TerminalPath();
    std::string error;
    if (GetParam() == Over::Tcp) {
      ASSERT_TRUE(server_.Start(sim_.TerminalPath(), 0, error)) << error;
      ModBus::Port->PortName = "tcp://127.0.0.1:" + std::to_string(server_.Port());
    }
    ASSERT_TRUE(ModBus::Port->Open());
  }
  void TearDown() override { ModBus::Port->Close(); }
  Sim::Simulator sim_{{},
                      {{k8M, LIR::Model8M},
                       {k12M, LIR::Model12M, "00000000", true, 5, 2},
                       {kLocked, 9, kPassword, false}}};
  Sim::DeviceServer server_;
};

TEST_P(OnSim, EveryAccessFunctionRoundTrips) {
  uint8_t type = 0;
  uint16_t state = 0, latest = 0, count = 0;
  LIR::ChannelParams params{}, back{};
  params[7] = {900, 12, 1, 1, 0, 1, 1, 1, 2, 8};
  ASSERT_TRUE(sim_.SetChannelInput(k8M, 2, true));
  ASSERT_TRUE(LIR::ReadDeviceType(kLocked, type) && LIR::ReadChannelsState(k8M, state));
  EXPECT_EQ(std::vector<int>({type, state}), std::vector<int>({9, 1 << 2}));
  ASSERT_TRUE(LIR::WriteChannelsParam(k8M, 0, 8, params) &&
              LIR::ReadChannelsParam(k8M, 0, 8, back));
  EXPECT_EQ(std::vector<int>({back[7].VrSrabat, back[7].Zvuk, back[7].ReleNumber}),
            std::vector<int>({900, 2, 8}));
  EXPECT_EQ(
      std::vector<int>({LIR::CheckAccess(k12M), LIR::CheckAccess(kLocked), LIR::CheckAccess(1)}),
      std::vector<int>({LIR::AccessGranted, LIR::AccessDenied, LIR::AccessNoAnswer}));

  double when = 0, now = 0;
  ASSERT_TRUE(LIR::EncodeDateTime({2033, 7, 14, 10, 20, 30}, when));
  ASSERT_TRUE(LIR::WriteClock(k12M, when) && LIR::ReadClock(k12M, now));
  EXPECT_TRUE(now >= when - 1e-6 && now <= when + 3.0 / 86400);  // the clock runs on from it
  ModBus::RegisterArray regs{0x8102, 0x0304, 0x0586}, read{};
  ASSERT_TRUE(LIR::WriteSettings(k12M, regs) && LIR::ReadSettings(k12M, read));
  EXPECT_EQ(read, regs);
  ASSERT_TRUE(LIR::WriteCommonReleType(k12M, true) && LIR::ReadCommonReleType(k12M, type));
  EXPECT_EQ(type, 1);
  ASSERT_TRUE(LIR::CmdControl(k12M) && LIR::CmdControl(k12M) && LIR::CmdSbros(k12M) &&
              LIR::CmdPusk(k12M) && LIR::CmdStop(k12M));
  EXPECT_EQ(sim_.CommandCount(k12M, LIR::CodeControl), 2u);
  EXPECT_EQ(sim_.CommandCount(k12M, LIR::CodeSbros), 1u);

  ASSERT_TRUE(LIR::ReadJournalInfo(k12M, latest, count));
  EXPECT_EQ(std::vector<int>({latest, count}), std::vector<int>({2, 5}));
  for (uint16_t k : {2, 1, 1000, 999, 998}) {  // the newest five, back across the wrap
    LIR::JournalRecord rec{};
    ASSERT_TRUE(LIR::ReadJournalRecord(k12M, k, rec)) << k;
    EXPECT_TRUE(rec.Month >= 1 && rec.Month <= 12 && rec.Channel >= 1 && rec.Channel <= 12) << k;
  }
  ASSERT_TRUE(LIR::ClearJournal(k12M) && LIR::ReadJournalInfo(k12M, latest, count));
  EXPECT_EQ(count, 0);
  ASSERT_TRUE(LIR::WriteNetAddress(k12M, 40));  // answered under the old address
  EXPECT_EQ(LIR::CheckAccess(k12M), LIR::AccessNoAnswer);
  EXPECT_EQ(LIR::CheckAccess(40), LIR::AccessGranted);
}

TEST_P(OnSim, PasswordGrantsAccessAndWritesNeedIt) {
  EXPECT_FALSE(LIR::CmdKvitir(kLocked));  // refused while locked
  ASSERT_TRUE(LIR::WritePassword(kLocked, "00000000"));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessDenied);
  ASSERT_TRUE(LIR::WritePassword(kLocked, kPassword));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessGranted);
  EXPECT_TRUE(LIR::CmdKvitir(kLocked));
  EXPECT_EQ(sim_.CommandCount(kLocked, LIR::CodeKvitir), 1u);
  // Granted, the same write sets a new password; the restart withdraws access.
  ASSERT_TRUE(LIR::WritePassword(kLocked, "\337\337______") && LIR::CmdRestart(kLocked));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessDenied);
  ASSERT_TRUE(LIR::WritePassword(kLocked, "\337\337______"));
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessGranted);
}

TEST_P(OnSim, FaultsOfTheLine) {
  uint16_t state = 0;
  using Kind = Sim::FaultKind;
  for (const auto& [kind, param, ok] : {std::tuple<Kind, uint32_t, bool>{Kind::Silent, 0, false},
                                        {Kind::Noise, 3, false},
                                        {Kind::OtherAddress, k12M, false},
                                        {Kind::Corrupt, 0, false},
                                        {Kind::Exception, 0, false},
                                        {Kind::Late, 50, true},
                                        {Kind::Late, 400, false}}) {
    sim_.InjectFault(kind, param, 1);
    EXPECT_EQ(LIR::ReadChannelsState(k8M, state), ok) << int(kind) << " " << param;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a late answer lands
    EXPECT_TRUE(LIR::ReadChannelsState(k8M, state));  // one request only, the rest purged
  }
  // A write whose answer is lost still took effect in the unit.
  sim_.InjectFault(Sim::FaultKind::Silent, 0, 1);
  EXPECT_FALSE(LIR::CmdKvitir(k8M));
  EXPECT_EQ(sim_.CommandCount(k8M, LIR::CodeKvitir), 1u);
}

INSTANTIATE_TEST_SUITE_P(Lines, OnSim, ::testing::Values(Over::Terminal, Over::Tcp),
                         [](const auto& info) {
                           return info.param == Over::Tcp ? "Tcp" : "Terminal";
                         });

}  // namespace
