// The core on a pseudo-terminal: the master's frames, answer checks, time-outs and purge, and
// the access functions' registers, against a scripted unit and libmodbus; the line settings.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "device/LIR.h"

// The descriptor whose next close reports EIO, as Linux may after releasing it.
std::atomic<int> gCloseFailsFor{-1};

extern "C" int close(int fd) {
  const int result = static_cast<int>(syscall(SYS_close, fd));
  int target = fd;
  if (result == 0 && gCloseFailsFor.compare_exchange_strong(target, -1)) {
    errno = EIO;
    return -1;
  }
  return result;
}

namespace {

using Bytes = std::vector<uint8_t>;
using Regs = std::vector<uint16_t>;
using Frame = std::pair<Bytes, uint8_t>;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;  // for time-outs

// With the master's checksum: the logic tests pin it to known values.
Bytes WithCrc(Bytes bytes) {
  const uint16_t crc = ModBus::Crc16(bytes.data(), bytes.size());
  bytes.insert(bytes.end(), {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
  return bytes;
}
Bytes ReadAnswer(uint8_t address, uint8_t function, const Regs& regs) {
  Bytes b{address, function, static_cast<uint8_t>(2 * regs.size())};
  for (uint16_t r : regs)
    b.insert(b.end(), {static_cast<uint8_t>(r >> 8), static_cast<uint8_t>(r & 0xFF)});
  return WithCrc(b);
}
Bytes Write16(uint8_t address, uint16_t first, const Regs& regs) {  // a function 16 request
  Bytes b = ReadAnswer(address, 16, regs);
  b.resize(b.size() - 2);
  const auto byte = [](int value) { return static_cast<uint8_t>(value); };
  b.insert(b.begin() + 2, {byte(first >> 8), byte(first), 0, byte(regs.size())});
  return WithCrc(b);
}

// ModBus::Port on a pseudo-terminal whose far end is a scripted unit: a thread takes each
// request off the line and sends back the chunks answer_ makes of it, pauseMs_ apart.
class Wire : public ::testing::Test {
 protected:
  static double Since(Clock::time_point t) { return Ms(Clock::now() - t).count(); }
  static bool Between(double v, double low, double high) { return v >= low && v < high; }

  void SetUp() override {
    ASSERT_TRUE(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0);
    ModBus::Port->PortName = ptsname(master_);
    ASSERT_TRUE(ModBus::Port->Open());
    ModBus::SetTrafficSink([this](const uint8_t* b, uint16_t n, uint8_t direction) {
      traffic_.emplace_back(Bytes(b, b + n), direction);
    });
    AnswerRegs({});
    peer_ = std::thread([this] { Serve(); });
  }
  void TearDown() override {
    ModBus::SetTrafficSink(nullptr);
    StopPeer();
    ModBus::Port->Close();
    if (master_ >= 0) close(master_);
  }
  void Serve() {
    Bytes in, buffer(512);
    // A request is 8 bytes, or 9 and its byte count for function 16.
    const auto length = [&] { return in.size() >= 8 && in[1] == 16 ? 9u + in[6] : 8u; };
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      // Data only: a hang-up while the port is closed and reopened is no data to wait for.
      const bool ready = poll(&p, 1, 20) > 0 && p.revents & POLLIN;
      const ssize_t n = ready ? read(master_, buffer.data(), buffer.size()) : 0;
      if (!ready && p.revents) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      in.insert(in.end(), buffer.begin(), buffer.begin() + (n > 0 ? n : 0));
      for (size_t size; in.size() >= (size = length()); in.erase(in.begin(), in.begin() + size)) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(in.begin(), in.begin() + size);
        int pause = 0;
        for (const Bytes& chunk : answer_(requests_.back())) {
          std::this_thread::sleep_for(std::chrono::milliseconds(std::exchange(pause, pauseMs_)));
          Send(chunk);
        }
      }
    }
  }
  void StopPeer() {
    stop_ = true;
    if (peer_.joinable()) peer_.join();
  }
  void Send(const Bytes& bytes) {  // a pseudo-terminal takes a few bytes in one write
    if (write(master_, bytes.data(), bytes.size()) < 0) ADD_FAILURE() << "write";
  }
  void AnswerWith(std::vector<Bytes> chunks, int pauseMs = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = [chunks](const Bytes&) { return chunks; };
    pauseMs_ = pauseMs;
  }
  void AnswerRegs(Regs regs) {  // reads get the first of these, writes the acknowledge
    regs.resize(125);
    std::lock_guard<std::mutex> lock(mutex_);
    pauseMs_ = 0;
    answer_ = [regs](const Bytes& r) {
      return std::vector<Bytes>{
          r[1] > 4 ? WithCrc(Bytes(r.begin(), r.begin() + 6))
                   : ReadAnswer(r[0], r[1], Regs(regs.begin(), regs.begin() + r[5]))};
    };
  }
  std::vector<Bytes> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  Bytes Last() { return Requests().back(); }
  Bytes Sent(bool ok) { return ok ? Last() : Bytes(); }  // the request of a call that succeeded
  bool Call(uint8_t function) {  // one transaction with unit 1; reads ask for three registers
    return function == 3   ? ModBus::ReadHoldingRegisters(1, 0, 3, regs_)
           : function == 4 ? ModBus::ReadInputRegisters(1, 0, 3, regs_)
           : function == 6 ? ModBus::WriteSingleRegister(1, 526, 1)
                           : ModBus::WriteMultipleRegisters(1, 0, 1, regs_);
  }

  int master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC), pauseMs_ = 0;
  std::thread peer_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::function<std::vector<Bytes>(const Bytes& request)> answer_;
  std::vector<Bytes> requests_;
  std::vector<Frame> traffic_;
  ModBus::RegisterArray regs_{};
};

// The frames at the counts' limits, and what the traffic window is given; each function's frame
// is pinned through the access functions below.
TEST_F(Wire, FramesAtTheLimitsAndCountsAFrameCannotCarry) {
  AnswerRegs({0x1234});
  EXPECT_EQ(Sent(ModBus::ReadHoldingRegisters(1, 0, 1, regs_)),
            Bytes({1, 3, 0, 0, 0, 1, 0x84, 0x0A}));
  EXPECT_EQ(regs_[0], 0x1234);
  EXPECT_EQ(traffic_, (std::vector<Frame>{{Last(), ModBus::Sent},
                                          {ReadAnswer(1, 3, {0x1234}), ModBus::Received}}));
  Regs many(125, 7);
  many[124] = 0x7C07;
  AnswerRegs(many);
  EXPECT_EQ(Sent(ModBus::ReadInputRegisters(0x11, 0x1234, 125, regs_)),
            WithCrc({0x11, 4, 0x12, 0x34, 0, 0x7D}));
  EXPECT_EQ(regs_[124], 0x7C07);
  EXPECT_EQ(Sent(ModBus::WriteMultipleRegisters(0x33, 0, 123, regs_)).size(), 2u * 123 + 9);
  EXPECT_EQ(Last()[6], 246);
  // Counts a frame cannot carry are refused without sending.
  const size_t sent = Requests().size();
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 0, regs_) ||
               ModBus::ReadHoldingRegisters(1, 0, 126, regs_) ||
               ModBus::ReadInputRegisters(1, 0, 1025, regs_) ||
               ModBus::WriteMultipleRegisters(1, 0, 0, regs_) ||
               ModBus::WriteMultipleRegisters(1, 0, 124, regs_));
  EXPECT_EQ(Requests().size(), sent);
}

TEST_F(Wire, NoAnswerShortAnswersAndTheFarEndGone) {
  AnswerWith({});
  regs_[0] = regs_[1] = 0x5555;
  auto start = Clock::now();
  EXPECT_FALSE(Call(3));  // 11 bytes: 10 * 11 + 200 ms
  EXPECT_PRED3(Between, Since(start), 300, 900);
  EXPECT_EQ(ModBus::LastError(), ModBus::Error::NoAnswer);
  AnswerWith({WithCrc({1, 0x83, 2})});
  start = Clock::now();
  EXPECT_FALSE(Call(3));
  EXPECT_PRED3(Between, Since(start), 190, 600);  // the 200 ms gap after the fifth byte
  EXPECT_EQ(ModBus::LastError(), ModBus::Error::Exception);
  EXPECT_EQ(ModBus::LastException(), 2);
  AnswerWith({Bytes{1, 3, 6, 0}});
  EXPECT_FALSE(Call(3));
  EXPECT_EQ(ModBus::LastError(), ModBus::Error::ShortAnswer);
  // The requests only: neither the missing answer nor the short ones are shown.
  EXPECT_EQ(traffic_, (std::vector<Frame>(3, {Last(), ModBus::Sent})));
  EXPECT_EQ(Regs(regs_.begin(), regs_.begin() + 2), Regs({0x5555, 0x5555}));

  const size_t shown = traffic_.size();
  StopPeer();  // the far end goes, as a cable or adapter does: a failure at once
  close(master_);
  master_ = -1;
  start = Clock::now();
  uint8_t buffer[8];
  EXPECT_FALSE(Call(3) || ModBus::Port->Read(buffer, 8));
  EXPECT_LT(Since(start), 150);
  EXPECT_EQ(ModBus::LastError(), ModBus::Error::PortLost);
  EXPECT_EQ(traffic_.size(), shown);  // a write cut short is not shown
}

// Only the answer to the request counts: right length and CRC are not enough. Each bad answer
// fails with the caller's registers untouched and is still shown; the next transaction, with
// a good answer, succeeds.
TEST_F(Wire, AnswersThatAreNotTheAnswerToTheRequest) {
  using E = ModBus::Error;
  Bytes corrupt = ReadAnswer(1, 3, {0x1111, 0x2222, 0x3333}), echo = WithCrc({1, 6, 2, 14, 0, 1});
  corrupt[5] ^= 0x40;
  echo[7] ^= 1;
  const struct {
    uint8_t function;
    Bytes answer;
    E error;
  } cases[] = {
      {3, corrupt, E::BadCrc},
      {6, echo, E::BadCrc},
      {3, ReadAnswer(42, 3, {1, 2, 0xABCD}), E::WrongAddress},    // another unit's
      {3, ReadAnswer(1, 4, {1, 2, 3}), E::WrongAnswer},           // another function
      {4, WithCrc({1, 4, 4, 0, 1, 0, 2, 9, 9}), E::WrongAnswer},  // another byte count
      {6, WithCrc({1, 6, 2, 15, 0, 1}), E::WrongAnswer},          // another register's echo
      {6, WithCrc({1, 6, 2, 14, 0, 2}), E::WrongAnswer},          // another value's echo
      {6, WithCrc({1, 3, 2, 14, 0, 1}), E::WrongAnswer},
      {16, WithCrc({1, 16, 0, 1, 0, 1}), E::WrongAnswer},  // other registers acknowledged
      {16, WithCrc({1, 16, 0, 0, 0, 2}), E::WrongAnswer},
      {16, WithCrc({9, 16, 0, 0, 0, 1}), E::WrongAddress},
      {6, WithCrc({42, 0x86, 2, 14, 0, 1}), E::WrongAddress},  // even an exception
      {6, WithCrc({1, 0x86, 4, 0, 0, 0}), E::Exception},       // of full length
      {16, WithCrc({1, 0x90, 4, 0, 0, 0}), E::Exception},
      {4, WithCrc({1, 0x84, 2, 0, 0, 0, 0, 0, 0}), E::Exception},
  };
  std::vector<std::pair<int, int>> told;  // the failures the windows hear of
  ModBus::SetFailureSink(
      [&told](uint8_t address, uint8_t function) { told.emplace_back(address, function); });
  for (const auto& c : cases) {
    regs_.fill(0x5555);
    AnswerWith({c.answer});
    traffic_.clear();
    told.clear();
    EXPECT_FALSE(Call(c.function)) << testing::PrintToString(c.answer);
    EXPECT_EQ(told, (std::vector<std::pair<int, int>>{{1, c.function}}));
    EXPECT_EQ(ModBus::LastError(), c.error) << testing::PrintToString(c.answer);
    EXPECT_EQ(traffic_, (std::vector<Frame>{{Last(), ModBus::Sent}, {c.answer, ModBus::Received}}));
    EXPECT_EQ(regs_[0], 0x5555);
    AnswerRegs({7, 8, 9});
    EXPECT_TRUE(Call(c.function)) << testing::PrintToString(c.answer);
    EXPECT_EQ(ModBus::LastError(), E::None);
    EXPECT_EQ(told.size(), 1u);
  }
  ModBus::SetFailureSink(nullptr);
  EXPECT_EQ(ModBus::LastException(), 0);

  // Noise in place of an answer, then the answer after all: it must not reach the line after
  // the next request, whose answer it would pass for.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pauseMs_ = 40;
    answer_ = [n = 0](const Bytes& r) mutable {
      const uint16_t value = static_cast<uint16_t>(++n);
      return n == 1 ? std::vector<Bytes>{Bytes(11, 0x55), ReadAnswer(r[0], r[1], {1, 1, 1})}
                    : std::vector<Bytes>{ReadAnswer(r[0], r[1], {value, value, value})};
    };
  }
  EXPECT_FALSE(Call(3));
  EXPECT_EQ(ModBus::LastError(), E::BadCrc);
  EXPECT_TRUE(Call(3) && regs_[0] == 2) << regs_[0];

  // A unit that froze answers its last request late, while the master already asks the next:
  // the backlog answer, as long as the new one's and with a good CRC, is not taken for it.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = [backlog = std::make_shared<Bytes>()](const Bytes& r) {
      std::vector<Bytes> out;
      if (!backlog->empty()) out.push_back(*backlog);
      *backlog = ReadAnswer(1, r[1], {0x4242});
      return out;
    };
  }
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 1, regs_));  // no answer yet: frozen
  EXPECT_FALSE(ModBus::ReadInputRegisters(1, 50, 1, regs_));   // gets the answer to the first
  EXPECT_EQ(ModBus::LastError(), E::WrongAnswer);
}

// The rest of a split answer lands after the gap ended the read; the next write purges it.
TEST_F(Wire, SplitAnswerAndPurge) {
  const Bytes answer = ReadAnswer(1, 3, {1, 2, 3});
  const Bytes head(answer.begin(), answer.begin() + 4), tail(answer.begin() + 4, answer.end());
  AnswerWith({head, tail}, 350);
  const auto start = Clock::now();
  EXPECT_FALSE(Call(3));
  EXPECT_LT(Since(start), 340);                // ended by the gap, not by the tail
  AnswerRegs({9, 9, 9});                       // once the late tail has landed
  Send({0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x03});  // and stale bytes: the write purges both
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (int i = 0; i < 300; ++i)  // nor is an instant answer lost to the purge
    ASSERT_TRUE(Call(3) && regs_[0] == 9) << i;
}

// A 2-wire RS-485 adapter hears its own request. On a real line the purge after the write
// waits until the request has left the wire, so it drops that echo (and anything older) but
// not the answer that follows. The pseudo-terminal purges as a real line here, at 1200 baud:
// 73 ms on the wire for an 8-byte request, the unit's answer 150 ms after its echo.
TEST_F(Wire, TheLinesPurgeDropsTheEchoNotTheAnswer) {
  Serial::Dcb dcb{};
  ASSERT_TRUE(Serial::GetState(ModBus::Port->Handle, dcb));
  dcb.BaudRate = 1200;
  ASSERT_TRUE(Serial::SetState(ModBus::Port->Handle, dcb));
  const auto echoThen = [this](bool answered) {
    std::lock_guard<std::mutex> lock(mutex_);
    pauseMs_ = 150;
    answer_ = [answered](const Bytes& r) {
      std::vector<Bytes> out{r};
      if (answered)
        out.push_back(r[1] > 4 ? WithCrc(Bytes(r.begin(), r.begin() + 6))
                               : ReadAnswer(r[0], r[1], Regs(r[5], 7)));
      return out;
    };
  };
  echoThen(true);
  EXPECT_FALSE(Call(3));  // purged where the write begins, the echo heads the answer
  ASSERT_TRUE(Serial::UseLinePurge(ModBus::Port->Handle, true));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (uint8_t function : {3, 4, 6, 16})
    EXPECT_TRUE(Call(function) && (function > 4 || regs_[2] == 7)) << int(function);
  Send({0xDE, 0xAD, 0xBE});  // stale bytes go too
  EXPECT_TRUE(Call(3));
  echoThen(false);  // a unit that does not answer: its echo is no acknowledgement
  EXPECT_FALSE(Call(6));
  EXPECT_EQ(ModBus::LastError(), ModBus::Error::NoAnswer);
}

// Each access function's request, byte for byte, against the unit's register map; what the
// reads make of every value is the robustness suite's.
TEST_F(Wire, RequestOfEveryAccessFunction) {
  AnswerRegs({0x0503, 0x070E, 0x091E, 0x0085});  // a date every read takes
  LIR::ChannelParams params{}, out{};
  params[0] = {900, 1, 0, 0, 0, 0, 0, 0, 2, 12};
  params[1] = {5, 6, 1, 1, 1, 1, 1, 1, 1, 3};
  double value = 0, read = 0;
  ASSERT_TRUE(LIR::EncodeDateTime({2007, 3, 5, 14, 9, 30}, value));
  ModBus::RegisterArray regs{};
  uint8_t byte = 0;
  uint16_t state = 0, latest = 0, count = 0;
  LIR::JournalRecord rec{};
  const std::pair<std::function<bool()>, Bytes> calls[] = {
      {[&] { return LIR::ReadChannelsParam(3, 2, 1, out); }, WithCrc({3, 3, 0, 6, 0, 3})},
      {[&] { return LIR::ReadChannelsParam(3, 11, 1, out); }, WithCrc({3, 3, 0, 33, 0, 3})},
      {[&] { return LIR::ReadChannelsParam(3, 0, 12, out); }, WithCrc({3, 3, 0, 0, 0, 36})},
      {[&] { return LIR::WriteChannelsParam(7, 4, 2, params); },
       Write16(7, 12, {900, 1, 0x0C90, 5, 6, 0x036F})},
      {[&] { return LIR::WriteClock(1, value); }, Write16(1, 520, {0x0503, 0x070E, 0x091E})},
      {[&] { return LIR::ReadClock(1, read) && std::abs(read - value) < 1e-9; },
       WithCrc({1, 3, 0x02, 0x08, 0, 3})},
      {[&] { return LIR::ReadSettings(2, regs); }, WithCrc({2, 3, 0x02, 0x0B, 0, 3})},
      {[&] {
         return LIR::WriteSettings(2, {1, 2, 3});
       },
       Write16(2, 523, {1, 2, 3})},
      {[&] { return LIR::ReadCommonReleType(2, byte); }, WithCrc({2, 3, 0x02, 0x0F, 0, 1})},
      {[&] { return LIR::WriteCommonReleType(2, true); }, Write16(2, 527, {1})},
      {[&] { return LIR::WriteCommonReleType(2, false); }, Write16(2, 527, {0})},
      {[&] { return LIR::WritePassword(2, "\300\301\302\3031234"); },  // А Б В Г 1 2 3 4
       Write16(2, 540, {0x0102, 0x0304, 33 << 8 | 34, 35 << 8 | 36})},
      {[&] { return LIR::WriteNetAddress(2, 77); }, WithCrc({2, 6, 0x02, 0x20, 0, 77})},
      {[&] { return LIR::ReadChannelsState(4, state); }, WithCrc({4, 4, 0, 4, 0, 1})},
      {[&] { return LIR::ReadDeviceType(4, byte); }, WithCrc({4, 4, 0, 50, 0, 1})},
      {[&] { return LIR::CheckAccess(4) == LIR::AccessDenied; }, WithCrc({4, 4, 0, 50, 0, 1})},
      {[&] { return LIR::ReadJournalInfo(5, latest, count); }, WithCrc({5, 3, 0x02, 0x05, 0, 2})},
      {[&] { return LIR::ReadJournalRecord(5, 1, rec); }, WithCrc({5, 4, 0x03, 0xE8, 0, 4})},
      {[&] { return LIR::ReadJournalRecord(5, 1000, rec); },  // register 4996
       WithCrc({5, 4, 0x13, 0x84, 0, 4})},
      {[&] { return LIR::ClearJournal(5); }, Write16(5, 518, {0})},
  };
  for (const auto& [call, request] : calls)
    EXPECT_EQ(Sent(call()), request);
  const std::pair<bool (*)(uint8_t), uint8_t> commands[] = {
      {LIR::CmdPusk, 1},   {LIR::CmdStop, 2},   {LIR::CmdControl, 4},
      {LIR::CmdKvitir, 8}, {LIR::CmdSbros, 16}, {LIR::CmdRestart, 32}};
  for (const auto& [command, code] : commands)
    EXPECT_EQ(Sent(command(2)), WithCrc({2, 6, 0x02, 0x0E, 0, code}));
  AnswerWith({WithCrc({1, 0x83, 2})});
  EXPECT_EQ(LIR::ReadClockChecked(1, read), LIR::ClockResult::NoAnswer);
}

// The line settings, through the port's handle as the port configuration dialog uses it:
// speed, byte size, parity (none, odd, even, mark, space), stop bits (1, 1.5, 2), flag word.
using Setting = std::vector<uint32_t>;
const Setting kDefaults{9600, 8, 0, 2, 0x8091};

Setting Settings(const TPort& port = *ModBus::Port) {
  Serial::Dcb d{};
  EXPECT_TRUE(Serial::GetState(port.Handle, d));
  return {d.BaudRate, d.ByteSize, d.Parity, d.StopBits, Serial::DcbFlags(d)};
}
bool Set(const Setting& s) {
  Serial::Dcb d{};
  Serial::GetState(ModBus::Port->Handle, d);
  std::tie(d.BaudRate, d.ByteSize, d.Parity, d.StopBits) =
      std::tuple<uint32_t, uint8_t, uint8_t, uint8_t>(s[0], s[1], s[2], s[3]);
  Serial::SetDcbFlags(d, s[4]);
  return Serial::SetState(ModBus::Port->Handle, d);
}

TEST_F(Wire, LineSettingsReopenAndExclusiveOpen) {
  EXPECT_EQ(Settings(), kDefaults);
  for (uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                        56000u, 57600u, 115200u, 128000u, 256000u}) {
    EXPECT_TRUE(Set({baud, 8, 0, 2, 0x8091})) << baud;
    EXPECT_EQ(Settings()[0], baud);
  }
  // 1.5 stop bits only with 5 data bits, 2 never with 5.
  const std::pair<Setting, bool> cases[] = {
      {{9600, 8, 0, 2, 0xB081}, true},   {{9600, 8, 0, 2, 0xA0AD}, true},
      {{19200, 8, 2, 0, 0x8091}, true},  {{19200, 7, 1, 2, 0x8091}, true},
      {{19200, 6, 3, 0, 0x8091}, true},  {{19200, 5, 4, 1, 0x8091}, true},
      {{19200, 8, 0, 1, 0x8091}, false}, {{19200, 5, 0, 2, 0x8091}, false},
      {{19200, 4, 0, 0, 0x8091}, false}, {{19200, 9, 0, 0, 0x8091}, false},
      {{19200, 8, 5, 0, 0x8091}, false}, {{19200, 8, 0, 3, 0x8091}, false},
      {{0, 8, 0, 0, 0x8091}, false},     {kDefaults, true}};
  for (const auto& [setting, ok] : cases) {
    const Setting before = Settings();
    EXPECT_EQ(Set(setting), ok) << setting[0] << " " << setting[1] << setting[2] << setting[3];
    EXPECT_EQ(Settings(), ok ? setting : before);
  }
  ASSERT_TRUE(Set({19200, 8, 2, 0, 0xA0AD}));
  ASSERT_TRUE(ModBus::Port->Close());
  ASSERT_TRUE(ModBus::Port->Open());
  EXPECT_EQ(Settings(), kDefaults);  // reopening restores the defaults

  TPort second;  // the open is exclusive, and the lock goes with the destroyed object
  second.PortName = ModBus::Port->PortName;
  EXPECT_FALSE(second.Open() || second.Connected);
  ASSERT_TRUE(ModBus::Port->Close());
  auto scoped = std::make_unique<TPort>();
  scoped->PortName = ModBus::Port->PortName;
  ASSERT_TRUE(scoped->Open());
  const int fd = static_cast<int>(scoped->Handle);
  scoped.reset();
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_TRUE(second.Open());
}

// A name that is no line, or that the system would take for another name, is refused; a close
// that reports an error after the system released the descriptor still closes the port.
TEST_F(Wire, NamesThatAreNoLineAndACloseThatFails) {
  const std::string name = ModBus::Port->PortName;
  gCloseFailsFor = static_cast<int>(ModBus::Port->Handle);
  EXPECT_TRUE(ModBus::Port->Close());
  EXPECT_FALSE(ModBus::Port->Connected);
  ModBus::Port->PortName = name + std::string("\0x", 2);
  EXPECT_FALSE(ModBus::Port->Open());
  EXPECT_EQ(ModBus::Port->Handle, Serial::InvalidHandle);
  ModBus::Port->PortName = name;
  EXPECT_TRUE(ModBus::Port->Open());
}

TEST_F(Wire, LineReadEndsOnTheIntervalOrTheTotal) {
  // A byte every 20 ms never leaves the 200 ms gap: only the total limit, 10 * 100 + 200 ms,
  // ends the read; the gap ending a read is the short answers' test above.
  const uint8_t request[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  uint8_t buffer[100];
  AnswerWith(std::vector<Bytes>(80, {0x55}), 20);
  auto start = Clock::now();
  ASSERT_EQ(ModBus::Port->Write(request, 8), 8);
  EXPECT_PRED3(Between, ModBus::Port->Read(buffer, sizeof buffer), 21, 100);
  EXPECT_PRED3(Between, Since(start), 1150, 2500);
  // Time-outs near the 32-bit limit do not overflow into an endless or an instant wait: an
  // interval of 49 days leaves the 300 ms total to end the read.
  ASSERT_TRUE(Serial::SetTimeouts(ModBus::Port->Handle, {0xFFFFFFFE, 0, 300, 10, 10}));
  AnswerWith({Bytes{1, 2, 3}, Bytes{4, 5}}, 1500);
  ASSERT_EQ(ModBus::Port->Write(request, 8), 8);
  start = Clock::now();
  EXPECT_EQ(ModBus::Port->Read(buffer, 8), 3);
  EXPECT_PRED3(Between, Since(start), 290, 1000);
}

// libmodbus's RTU server, an independent implementation, must understand our frames of every
// function, and we its answers.
TEST_F(Wire, LibmodbusServerTakesEveryFunctionAndAnException) {
  StopPeer();
  modbus_mapping_t* mapping = modbus_mapping_new(0, 0, 600, 5000);
  modbus_t* ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 2);
  ASSERT_TRUE(mapping && ctx);
  mapping->tab_registers[134] = 0x1234;
  mapping->tab_input_registers[4999] = 0xBEEF;
  modbus_set_slave(ctx, 17);
  modbus_set_socket(ctx, master_);  // it works on the far end directly
  modbus_set_indication_timeout(ctx, 0, 50000);
  std::atomic<bool> stop{false};
  std::thread server([&] {
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    for (int n; !stop;)
      if ((n = modbus_receive(ctx, query)) > 0) modbus_reply(ctx, query, n, mapping);
  });
  ModBus::RegisterArray regs{};  // no assertions from here: the server must be joined
  EXPECT_TRUE(ModBus::ReadHoldingRegisters(17, 10, 125, regs) && regs[124] == 0x1234);
  EXPECT_TRUE(ModBus::ReadInputRegisters(17, 4996, 4, regs) && regs[3] == 0xBEEF);
  EXPECT_TRUE(ModBus::WriteSingleRegister(17, 526, 0xFFEE) &&
              mapping->tab_registers[526] == 0xFFEE);
  regs[0] = 0x4321;
  EXPECT_TRUE(ModBus::WriteMultipleRegisters(17, 100, 123, regs) &&
              mapping->tab_registers[100] == 0x4321);
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(17, 590, 20, regs));  // beyond the map
  EXPECT_EQ(regs[0], 0x4321);
  stop = true;
  server.join();
  modbus_free(ctx);  // the descriptor stays the fixture's
  modbus_mapping_free(mapping);
}

}  // namespace
