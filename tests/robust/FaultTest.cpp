// A bad line as the master meets it: every access function against every fault the simulator
// can throw, the far end unplugged, port names that are no line, and every value a unit can put
// in each field.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "Calls.h"

namespace Robust {
void PrintTo(const Fault& fault, std::ostream* out) {
  *out << fault.Name;
}
}  // namespace Robust

namespace {

using namespace Robust;
using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}
double MsSince(Clock::time_point start) {
  return MsBetween(start, Clock::now());
}

// A line of two units, its terminal linked in a fresh folder, and the program's port on it.
class Line : public ::testing::Test {
 protected:
  explicit Line(Sim::LineSetup setup = Sim::LineSetup{9600, false, 0})
      : sim_(setup, {{kUnit, LIR::Model12M, "00000000", true, 50, 20}, {kOther, LIR::Model8M}}) {}
  void SetUp() override {
    char pattern[] = "/tmp/lirrobustXXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    folder_ = pattern;
    link_ = folder_ + "/COM2";
    ASSERT_TRUE(sim_.Start(link_)) << sim_.LastError();
    ModBus::Port->PortName = link_;
    ASSERT_TRUE(ModBus::Port->Open());
    Reset();
  }
  void TearDown() override {
    ModBus::Port->Close();
    sim_.Stop();
    std::filesystem::remove_all(folder_);
  }
  // What the calls may have changed, back as it was; the clock frozen, so reads repeat (the
  // journal's records stay the same after a clear).
  void Reset() {
    sim_.ClearFaults();
    sim_.SetAccess(kUnit, true);
    sim_.SetClockRegisters(kUnit, 0x0F06, 0x180C, 0x1E2D);
  }
  Sim::Simulator sim_;
  std::string folder_, link_;
};

class FaultMatrix : public Line, public ::testing::WithParamInterface<Fault> {};

// As the master's answer checks promise: a spoilt answer is a false result with the caller's
// values untouched, a fault that leaves the answer whole and in time is none, and the next
// transaction on the line succeeds with the unit's values.
TEST_P(FaultMatrix, EveryAccessFunction) {
  const Fault& f = GetParam();
  for (const Call& call : Calls()) {
    SCOPED_TRACE(call.Name);
    Reset();
    const Result clean = call.Run();
    ASSERT_TRUE(clean.Ok);
    Reset();
    sim_.InjectFault(f.FaultKind, f.Param(call.AnswerBytes), 1);
    const auto start = Clock::now();
    const Result faulted = call.Run();
    const double ms = MsSince(start);
    EXPECT_EQ(faulted.Ok, f.Ok);
    EXPECT_EQ(ModBus::LastError(), f.Expected);
    EXPECT_EQ(faulted.Out, f.Ok ? clean.Out : faulted.Out);
    EXPECT_TRUE(f.Ok || faulted.Untouched) << faulted.Out;
    EXPECT_LT(ms, TotalTimeoutMs(call.AnswerBytes) + 400);
    Reset();
    const Result next = call.Run();
    EXPECT_TRUE(next.Ok);
    EXPECT_EQ(next.Out, clean.Out);
  }
}

INSTANTIATE_TEST_SUITE_P(Robust, FaultMatrix, ::testing::ValuesIn(kFaults), [](const auto& info) {
  std::string name = info.param.Name;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// Every call on a line whose far end has gone fails at once, and keeps failing at once. Gone
// between transactions: the core's line tests.
void ExpectEveryCallFailsAtOnce() {
  const auto start = Clock::now();
  for (int round = 0; round < 5; ++round)
    for (const Call& call : Calls()) {
      EXPECT_FALSE(call.Run().Ok) << call.Name;
      EXPECT_EQ(ModBus::LastError(), Error::PortLost) << call.Name;
    }
  EXPECT_LT(MsSince(start), 150) << Calls().size() * 5 << " calls";
}

class Unplugged : public Line {
 protected:
  Unplugged() : Line(Paced()) {}
  static Sim::LineSetup Paced() {
    Sim::LineSetup setup;
    setup.Baud = 1200;  // 77 bytes take 706 ms
    setup.Pace = true;
    return setup;
  }
  // The line back under the same name: port selection closes and opens the port again.
  void Replug() {
    ASSERT_TRUE(sim_.Start(link_)) << sim_.LastError();
    ModBus::Port->Close();
    ASSERT_TRUE(ModBus::Port->Open());
    uint8_t type = 0;
    EXPECT_TRUE(LIR::ReadDeviceType(kUnit, type) && type == LIR::Model12M);
  }
};

TEST_F(Unplugged, InTheMiddleOfAPacedAnswer) {
  Clock::time_point gone;
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    sim_.Stop();
    gone = Clock::now();
  });
  LIR::ChannelParams params{};
  EXPECT_FALSE(LIR::ReadChannelsParam(kUnit, 0, 12, params));
  const auto returned = Clock::now();
  unplug.join();
  EXPECT_EQ(ModBus::LastError(), Error::PortLost);
  EXPECT_LT(MsBetween(gone, returned), 150);
  ExpectEveryCallFailsAtOnce();
  Replug();
}

// Names that are no line are refused and nothing is written to what they name.
TEST_F(Line, PortNamesThatAreNoLine) {
  ASSERT_TRUE(ModBus::Port->Close());
  const std::string file = folder_ + "/COM3", text = "not a line\n";
  std::ofstream(file) << text;
  struct stat before {};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  ASSERT_EQ(mkdir((folder_ + "/COM4").c_str(), 0700), 0);
  ASSERT_EQ(symlink((folder_ + "/gone").c_str(), (folder_ + "/COM5").c_str()), 0);
  ASSERT_EQ(symlink(file.c_str(), (folder_ + "/COM6").c_str()), 0);
  for (const std::string& name :
       {file, folder_ + "/COM4", folder_ + "/missing", std::string(), std::string("/dev/null"),
        std::string("/dev/zero"), std::string("/dev/ptmx"), folder_ + "/COM5", folder_ + "/COM6"}) {
    ModBus::Port->PortName = name;
    EXPECT_FALSE(ModBus::Port->Open()) << name;
    EXPECT_FALSE(ModBus::Port->Connected);
    EXPECT_EQ(ModBus::Port->Handle, Serial::InvalidHandle);
    EXPECT_FALSE(LIR::CmdKvitir(kUnit));
  }
  struct stat after {};
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
  EXPECT_EQ(after.st_mtim.tv_nsec + after.st_mtim.tv_sec * 1000000000L,
            before.st_mtim.tv_nsec + before.st_mtim.tv_sec * 1000000000L);
  ModBus::Port->PortName = link_;
  EXPECT_TRUE(ModBus::Port->Open());
}

// Every value a unit can send in each field reaches the caller as the register map says.
TEST_F(Line, EveryValueOfEachField) {
  uint8_t type = 0;
  for (int model = 0; model < 256; ++model) {
    sim_.SetModel(kUnit, static_cast<uint8_t>(model));
    sim_.SetAccess(kUnit, model % 2);
    ASSERT_TRUE(LIR::ReadDeviceType(kUnit, type));
    EXPECT_EQ(type, model);
    EXPECT_EQ(LIR::CheckAccess(kUnit), model % 2 ? LIR::AccessGranted : LIR::AccessDenied);
  }
  // Relay numbers 0..255, the four sound patterns, the six flag bits in every combination.
  const uint8_t sound[] = {0, 1, 2, 77};  // bits 7-6 both set: no sound, the value stays
  LIR::ChannelParams params{};
  for (int v = 0; v < 1024; v += 12) {
    for (uint16_t ch = 0; ch < 12; ++ch)
      sim_.SetHolding(kUnit, static_cast<uint16_t>(3 * ch + 2),
                      static_cast<uint16_t>((v + ch) % 1024 << 6 | (v + ch) % 64));
    for (LIR::ChannelParam& p : params)
      p.Zvuk = 77;
    ASSERT_TRUE(LIR::ReadChannelsParam(kUnit, 0, 12, params));
    for (int ch = 0; ch < 12; ++ch) {
      const int r = (v + ch) % 1024 << 6 | (v + ch) % 64;
      const LIR::ChannelParam& p = params[ch];
      EXPECT_EQ(std::vector<int>({p.TypeInput, p.TypeChannel, p.ReleMode, p.ToRele, p.Srabat,
                                  p.Norm, p.Zvuk, p.ReleNumber}),
                std::vector<int>({r & 1, r >> 1 & 1, r >> 2 & 1, r >> 3 & 1, !(r >> 4 & 1),
                                  r >> 5 & 1, sound[r >> 6 & 3], r >> 8}))
          << std::hex << r;
    }
  }
  ModBus::RegisterArray settings{};
  for (int b = 0; b < 256; ++b) {
    const uint16_t r[] = {uint16_t(b << 8 | (255 - b)), uint16_t((255 - b) << 8 | b),
                          uint16_t(b * 0x0101)};
    for (uint16_t i = 0; i < 3; ++i)
      sim_.SetHolding(kUnit, uint16_t(523 + i), r[i]);
    ASSERT_TRUE(LIR::ReadSettings(kUnit, settings));
    EXPECT_EQ(std::vector<uint16_t>(settings.begin(), settings.begin() + 3),
              std::vector<uint16_t>(r, r + 3));
    sim_.SetHolding(kUnit, 527, uint16_t(b << 8 | (255 - b)));
    type = 9;
    ASSERT_TRUE(LIR::ReadCommonReleType(kUnit, type));
    EXPECT_EQ(type, 255 - b < 2 ? 255 - b : 9);
  }
  // Each clock field through all 256 values, the others on 15.06.2024 12:30:45: a value that is
  // no date fails with the caller's value kept.
  const int base[] = {24, 6, 15, 12, 30, 45}, valid[] = {256, 13, 31, 24, 60, 60};
  for (int field = 0; field < 6; ++field) {
    for (int value = 0; value < 256; ++value) {
      int f[6];
      std::copy(base, base + 6, f);
      f[field] = value;
      sim_.SetClockRegisters(kUnit, uint16_t(f[2] << 8 | f[1]), uint16_t(f[0] << 8 | f[3]),
                             uint16_t(f[4] << 8 | f[5]));
      double read = -1, expected = 0;
      const bool ok = (field == 1 || field == 2 ? value > 0 : true) && value < valid[field];
      ASSERT_EQ(LIR::ReadClockChecked(kUnit, read),
                ok ? LIR::ClockResult::Ok : LIR::ClockResult::InvalidDate)
          << field << " " << value;
      EXPECT_TRUE(!ok ||
                  LIR::EncodeDateTime({2000 + f[0], f[1], f[2], f[3], f[4], f[5]}, expected));
      EXPECT_EQ(read, ok ? expected : -1);
    }
  }
  // Journal counters in the ring, at its edges and far outside it.
  uint16_t latest = 0, count = 0;
  for (uint16_t l : {0, 1, 999, 1000, 1001, 32768, 65535})
    for (uint16_t c : {0, 1, 1000, 1001, 65535}) {
      sim_.SetHolding(kUnit, 517, l);
      sim_.SetHolding(kUnit, 518, c);
      ASSERT_TRUE(LIR::ReadJournalInfo(kUnit, latest, count));
      EXPECT_EQ(std::make_pair(latest, count), std::make_pair(l, c));
    }
}

}  // namespace
