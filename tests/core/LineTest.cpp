// Lines that go and come back under the same name, on a real pseudo-terminal.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "device/LIR.h"
#include "sim/Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

constexpr uint8_t kUnit = 3;

std::string TempDir() {
  char dir[] = "/tmp/lir-line-XXXXXX";
  return mkdtemp(dir) ? dir : "";
}

enum class Over { Terminal };

// ModBus::Port open on a simulated line under a name that stays when the far end goes and comes
// back: a link to the simulator's terminal.
class Line : public ::testing::TestWithParam<Over> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(Return());
    ModBus::Port->PortName = link_;
    ASSERT_TRUE(ModBus::Port->Open());
  }
  void TearDown() override {
    ModBus::Port->Close();
    sim_.Stop();
    rmdir(dir_.c_str());
  }
  // The terminal closes, as a pulled adapter's does.
  void Vanish() { sim_.Stop(); }
  bool Return() { return sim_.TerminalPath().empty() ? sim_.Start(link_) : true; }
  static bool Answers(uint8_t address = kUnit) {
    uint8_t model = 0;
    return LIR::ReadDeviceType(address, model) && model == LIR::Model8M;
  }

  Sim::Simulator sim_{{}, {{kUnit, LIR::Model8M}}};
  std::string dir_ = TempDir(), link_ = dir_ + "/COM7";
};

TEST_P(Line, GoesFailsAtOnceAndComesBackWithItsLineSettings) {
  Serial::Dcb dcb{}, back{};
  ASSERT_TRUE(Serial::GetState(ModBus::Port->Handle, dcb));
  dcb.BaudRate = 19200;
  dcb.Parity = Serial::EvenParity;
  ASSERT_TRUE(Serial::SetState(ModBus::Port->Handle, dcb) && Answers());

  Vanish();
  const Serial::Fault loss = Serial::Fault::DeviceRemoved, reopen = Serial::Fault::NoSuchPort;
  for (const Serial::Fault fault : {loss, reopen, reopen}) {  // each call tries one reopen
    const auto start = Clock::now();
    EXPECT_FALSE(Answers());
    EXPECT_LT(MsSince(start), 150);
    EXPECT_EQ(ModBus::LastError(), ModBus::Error::PortLost);
    EXPECT_TRUE(ModBus::Port->Lost() && ModBus::Port->Connected);
    EXPECT_EQ(ModBus::Port->LastFault(), fault);
  }
  EXPECT_FALSE(ModBus::Port->Reconnect());

  ASSERT_TRUE(Return());
  EXPECT_TRUE(Answers());  // the next action finds it again
  EXPECT_FALSE(ModBus::Port->Lost());
  EXPECT_EQ(ModBus::Port->LastFault(), Serial::Fault::None);
  ASSERT_TRUE(Serial::GetState(ModBus::Port->Handle, back));
  EXPECT_EQ(std::vector<uint32_t>({back.BaudRate, back.Parity}),
            std::vector<uint32_t>({19200, Serial::EvenParity}));
  // A lost port closes like any other, and opens again with the defaults.
  Vanish();
  EXPECT_FALSE(Answers());
  EXPECT_TRUE(ModBus::Port->Close() && !ModBus::Port->Connected && !ModBus::Port->Lost());
  ASSERT_TRUE(Return() && ModBus::Port->Open() && Serial::GetState(ModBus::Port->Handle, back));
  EXPECT_EQ(back.BaudRate, 9600u);
}

// A scan waits on empty addresses; the line goes during such a wait: that read ends at once
// and the scan stops there, instead of taking every address for a silent one.
TEST_P(Line, AScanStopsWhenTheLineGoesDuringARead) {
  std::atomic<int> address{kUnit + 1}, reading{0};
  std::atomic<Clock::rep> vanishedAt{0};
  std::thread taker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    reading = address.load();
    vanishedAt = Clock::now().time_since_epoch().count();
    Vanish();
  });
  for (; address < 256; ++address)
    if (!Answers(static_cast<uint8_t>(address)) && ModBus::LastError() == ModBus::Error::PortLost)
      break;
  const auto end = Clock::now();
  taker.join();
  EXPECT_EQ(address, reading);
  const Clock::time_point vanished{Clock::duration(vanishedAt)};
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(end - vanished).count(), 150);
}

TEST_P(Line, TimeOutsAsOnASerialLineAndOtherLinesComingAndGoing) {
  auto start = Clock::now();
  EXPECT_FALSE(Answers(kUnit + 1));  // 7 bytes awaited: 10 * 7 + 200 ms
  EXPECT_GT(MsSince(start), 260);
  EXPECT_LT(MsSince(start), 900);
  EXPECT_EQ(ModBus::LastError(), ModBus::Error::NoAnswer);
  sim_.InjectFault(Sim::FaultKind::Split, 400, 1);
  start = Clock::now();
  EXPECT_FALSE(Answers());
  EXPECT_GT(MsSince(start), 190);
  EXPECT_LT(MsSince(start), 390);  // the 200 ms gap, not the 400 ms tail
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Answers());  // the late tail is purged by the next request

  // Ports the system lists come and go while ours is open: ours is not disturbed.
  for (int i = 0; i < 3; ++i) {
    Sim::Simulator other({}, {{kUnit, LIR::Model4M}});
    ASSERT_TRUE(other.Start(dir_ + "/COM8"));
    EXPECT_TRUE(Answers());
    other.Stop();
    EXPECT_TRUE(Answers() && !ModBus::Port->Lost());
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, Line, ::testing::Values(Over::Terminal),
                         [](const auto&) { return "Terminal"; });

}  // namespace
