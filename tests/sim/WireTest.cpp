// The line over a real pseudo-terminal, seen from a raw client: framing, addressing,
// exception answers, the address change, timing, and the terminal's link.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "sim/Line.h"
#include "sim/RawClient.h"

namespace {

using SimTest::Bench;
using SimTest::Bytes;
using SimTest::CrcOk;
using SimTest::ReadRequest;
using SimTest::UnitAt;
using SimTest::WithCrc;
using SimTest::WriteMultiple;
using SimTest::WriteSingle;
using Clock = std::chrono::steady_clock;

constexpr int kQuietMs = 100;  // long enough to be sure no answer is coming

void Pause(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

Bytes Exception(uint8_t address, uint8_t function, uint8_t code) {
  return WithCrc({address, static_cast<uint8_t>(function | 0x80), code});
}

std::string TempDir() {
  char pattern[] = "/tmp/lirsim-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "";
}

std::string LinkTarget(const std::string& path) {
  char buf[256];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

TEST(Crc, AgreesWithTheModbusCheckValues) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(0x4B37, Sim::Crc16(digits, sizeof digits));
  EXPECT_EQ((Bytes{1, 3, 0, 0, 0, 1, 0x84, 0x0A}), WithCrc({1, 3, 0, 0, 0, 1}));
  std::mt19937 random(5);
  for (int i = 0; i < 200; ++i) {
    Bytes data(random() % 40 + 1);
    for (uint8_t& b : data)
      b = static_cast<uint8_t>(random());
    ASSERT_EQ(SimTest::TableCrc(data.data(), data.size()), Sim::Crc16(data.data(), data.size()));
  }
}

TEST(Link, PointsAtTheTerminalReplacesLinksAndSparesFiles) {
  const std::string dir = TempDir();
  ASSERT_FALSE(dir.empty());
  const std::string link = dir + "/COM2";
  {
    Sim::Simulator first(Sim::LineSetup(), {Sim::UnitSetup()});
    ASSERT_TRUE(first.Start(link)) << first.LastError();
    EXPECT_EQ(first.TerminalPath(), LinkTarget(link));
    EXPECT_FALSE(first.Start(link));  // already serving
    {
      Sim::Simulator second(Sim::LineSetup(), {Sim::UnitSetup()});
      ASSERT_TRUE(second.Start(link)) << second.LastError();
      EXPECT_EQ(second.TerminalPath(), LinkTarget(link));
      EXPECT_NE(first.TerminalPath(), second.TerminalPath());
    }
    struct stat st;
    EXPECT_NE(0, lstat(link.c_str(), &st));  // gone with the simulator that made it
    first.Stop();
    EXPECT_EQ("", first.TerminalPath());
    ASSERT_TRUE(first.Start(link)) << first.LastError();  // a stopped line starts afresh
    first.Stop();
  }
  const std::string file = dir + "/COM3";
  std::ofstream(file) << "keep me";
  Sim::Simulator sim(Sim::LineSetup(), {Sim::UnitSetup()});
  EXPECT_FALSE(sim.Start(file));
  EXPECT_NE(std::string::npos, sim.LastError().find(file));
  std::string text;
  std::getline(std::ifstream(file), text);
  EXPECT_EQ("keep me", text);
  unlink(file.c_str());
  rmdir(dir.c_str());
}

TEST(Link, RefusesAnImpossibleLine) {
  Sim::Simulator twice(Sim::LineSetup(), {UnitAt(4), UnitAt(4)});
  EXPECT_FALSE(twice.Start());
  EXPECT_NE("", twice.LastError());
  Sim::Simulator broadcast(Sim::LineSetup(), {UnitAt(0)});
  EXPECT_FALSE(broadcast.Start());
}

TEST(Wire, AnswersReadsAndWrites) {
  Bench b;
  ASSERT_TRUE(b.Ready()) << b.sim.LastError();
  EXPECT_EQ(WithCrc({1, 3, 6, 0, 10, 0, 0, 0, 0x20}),
            b.client->Transact(ReadRequest(1, 3, 0, 3), 11));
  EXPECT_EQ(WithCrc({1, 4, 2, 0x80, 7}), b.client->Transact(ReadRequest(1, 4, 50, 1), 7));

  const Bytes single = WriteSingle(1, 523, 0x1234);
  EXPECT_EQ(single, b.client->Transact(single, 8));
  const Bytes multiple = WriteMultiple(1, 6, {900, 0, 0x0C90});
  EXPECT_EQ(WithCrc({1, 16, 0, 6, 0, 3}), b.client->Transact(multiple, 8));
  uint16_t v = 0;
  ASSERT_TRUE(b.sim.Holding(1, 523, v));
  EXPECT_EQ(0x1234, v);
  ASSERT_TRUE(b.sim.Holding(1, 8, v));
  EXPECT_EQ(0x0C90, v);
}

TEST(Wire, KeepsServingWhenTheClientReopensThePort) {
  Bench b;
  ASSERT_TRUE(b.Ready());
  for (int i = 0; i < 3; ++i) {
    b.client.reset(new SimTest::RawClient(b.sim.TerminalPath()));
    EXPECT_EQ(7u, b.client->Transact(ReadRequest(1, 4, 4, 1), 7).size()) << i;
  }
}

TEST(Wire, NeverAnswersBadCrcOtherAddressesOrBroadcasts) {
  Bench b({UnitAt(1)});
  ASSERT_TRUE(b.Ready());
  Bytes bad = ReadRequest(1, 3, 0, 1);
  bad.back() ^= 0x01;
  b.client->Write(bad);
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs));
  Bytes badWrite = WriteSingle(1, 523, 7);
  badWrite[5] ^= 0x40;  // the value, so a unit that ignored the CRC would store 0x47
  b.client->Write(badWrite);
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs));

  EXPECT_EQ(7u, b.client->Transact(ReadRequest(1, 3, 0, 1), 7).size());
  b.client->Write(ReadRequest(2, 3, 0, 1));
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs));
  b.client->Write(WriteSingle(0, 523, 5));
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs));
  b.client->Write(WithCrc({0, 0x11}));
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs));

  uint16_t v = 0;
  ASSERT_TRUE(b.sim.Holding(1, 523, v));
  EXPECT_EQ(0, v);  // neither the broken frame nor the broadcast reached the unit
  EXPECT_EQ(1u, b.sim.RequestCount(1));
  EXPECT_EQ(1u, b.sim.RequestCount(2));
  EXPECT_EQ(2u, b.sim.RequestCount(0));
  EXPECT_EQ(4u, b.sim.TotalRequests());
  b.sim.ResetCounters();
  EXPECT_EQ(0u, b.sim.TotalRequests());
  EXPECT_EQ(0u, b.sim.RequestCount(0));
}

TEST(Wire, ExceptionAnswers) {
  Bench b;
  ASSERT_TRUE(b.Ready());
  auto& c = *b.client;
  EXPECT_EQ(Exception(1, 0x11, 1), c.Transact(WithCrc({1, 0x11}), 5));
  EXPECT_EQ(Exception(1, 0x2B, 1), c.Transact(WithCrc({1, 0x2B, 0x0E, 1, 0}), 5));
  EXPECT_EQ(Exception(1, 3, 2), c.Transact(ReadRequest(1, 3, 100, 1), 5));
  EXPECT_EQ(Exception(1, 3, 2), c.Transact(ReadRequest(1, 3, 540, 4), 5));
  EXPECT_EQ(Exception(1, 4, 2), c.Transact(ReadRequest(1, 4, 5, 1), 5));
  EXPECT_EQ(Exception(1, 3, 3), c.Transact(ReadRequest(1, 3, 0, 0), 5));
  EXPECT_EQ(Exception(1, 4, 3), c.Transact(ReadRequest(1, 4, 1000, 126), 5));
  EXPECT_EQ(Exception(1, 6, 3), c.Transact(WriteSingle(1, 527, 2), 5));
  EXPECT_EQ(Exception(1, 6, 3), c.Transact(WriteSingle(1, 526, 3), 5));
  EXPECT_EQ(Exception(1, 16, 3), c.Transact(WriteMultiple(1, 0, std::vector<uint16_t>(124)), 5));
  // A byte count that disagrees with the register count.
  EXPECT_EQ(Exception(1, 16, 3), c.Transact(WithCrc({1, 16, 0, 0, 0, 2, 2, 0, 1}), 5));
  EXPECT_EQ(Exception(1, 16, 3), c.Transact(WithCrc({1, 16, 0, 0, 0, 1, 4, 0, 1, 0, 2}), 5));
  b.sim.SetAccess(1, false);
  EXPECT_EQ(Exception(1, 6, 1), c.Transact(WriteSingle(1, 523, 1), 5));
  EXPECT_EQ(Exception(1, 16, 1), c.Transact(WriteMultiple(1, 0, {1, 2, 3}), 5));
  EXPECT_EQ(8u, c.Transact(WriteMultiple(1, 540, {0, 0, 0, 0}), 8).size());
  // An unknown function to an address nobody has stays unanswered too.
  c.Write(WithCrc({9, 0x11}));
  EXPECT_EQ(Bytes(), c.ReadUntilQuiet(kQuietMs));
}

TEST(Wire, FramesByLengthAndDropsRubbishAtTheSilence) {
  Sim::LineSetup slow;
  slow.Baud = 1200;  // a 32 ms frame gap leaves room to send a frame in pieces
  Bench b({UnitAt(1)}, slow);
  ASSERT_TRUE(b.Ready());
  auto& c = *b.client;
  // Two frames in one write: both answered, in order.
  Bytes two = ReadRequest(1, 3, 0, 3);
  const Bytes second = ReadRequest(1, 4, 50, 1);
  two.insert(two.end(), second.begin(), second.end());
  const Bytes answers = c.Transact(two, 18);
  ASSERT_EQ(18u, answers.size());
  EXPECT_TRUE(CrcOk(Bytes(answers.begin(), answers.begin() + 11)));
  EXPECT_EQ(WithCrc({1, 4, 2, 0x80, 7}), Bytes(answers.begin() + 11, answers.end()));

  // A frame that arrives in pieces within the gap is one frame.
  const Bytes request = WriteMultiple(1, 523, {1, 2});
  for (size_t i = 0; i < request.size(); i += 4) {
    c.Write(Bytes(request.begin() + i, request.begin() + std::min(i + 4, request.size())));
    Pause(2);
  }
  EXPECT_EQ(8u, c.Read(8, 1000).size());

  // Rubbish, then silence, then a good frame: the frame is answered.
  c.Write({0x55, 0x11, 0x22});
  Pause(80);
  EXPECT_EQ(7u, c.Transact(ReadRequest(1, 3, 0, 1), 7).size());
  // A frame cut short is dropped at the silence, and the next one is served.
  c.Write(Bytes{1, 3, 0, 0});
  Pause(80);
  EXPECT_EQ(7u, c.Transact(ReadRequest(1, 3, 0, 1), 7).size());
  EXPECT_EQ(Bytes(), c.ReadUntilQuiet(kQuietMs));
}

TEST(Wire, AddressChangeTakesEffectAfterTheAnswer) {
  Bench b({UnitAt(1), UnitAt(3, 5)});
  ASSERT_TRUE(b.Ready());
  auto& c = *b.client;
  const Bytes move = WriteSingle(1, 544, 9);
  EXPECT_EQ(move, c.Transact(move, 8));  // answered under the old address
  EXPECT_EQ(WithCrc({9, 3, 2, 0, 9}), c.Transact(ReadRequest(9, 3, 544, 1), 7));
  c.Write(ReadRequest(1, 3, 544, 1));
  EXPECT_EQ(Bytes(), c.ReadUntilQuiet(kQuietMs));
  EXPECT_TRUE(b.sim.HasUnit(9));
  EXPECT_FALSE(b.sim.HasUnit(1));
  // Onto a neighbour's address: refused, both stay.
  EXPECT_EQ(Exception(9, 6, 3), c.Transact(WriteSingle(9, 544, 3), 5));
  EXPECT_EQ(Exception(9, 16, 3), c.Transact(WriteMultiple(9, 544, {3}), 5));
  EXPECT_EQ(Exception(9, 6, 3), c.Transact(WriteSingle(9, 544, 0), 5));
  EXPECT_TRUE(b.sim.HasUnit(9));
  EXPECT_TRUE(b.sim.HasUnit(3));
  EXPECT_FALSE(b.sim.SetHolding(9, 544, 3));
  EXPECT_TRUE(b.sim.SetHolding(9, 544, 1));
  EXPECT_TRUE(b.sim.HasUnit(1));
}

TEST(Wire, ClockReadsBackWhatWasWritten) {
  Bench b;
  ASSERT_TRUE(b.Ready());
  auto& c = *b.client;
  const Clock::time_point written = Clock::now();
  ASSERT_EQ(8u, c.Transact(WriteMultiple(1, 520, {0x0503, 0x070E, 0x091E}), 8).size());
  const std::vector<uint16_t> regs = SimTest::Registers(c.Transact(ReadRequest(1, 3, 520, 3), 11));
  ASSERT_EQ(3u, regs.size());
  EXPECT_EQ(0x0503, regs[0]);
  EXPECT_EQ(0x070E, regs[1]);
  if (MsSince(written) < 1000) {
    EXPECT_TRUE(regs[2] == 0x091E || regs[2] == 0x091F) << std::hex << regs[2];
  }
  EXPECT_EQ(Exception(1, 16, 3), c.Transact(WriteMultiple(1, 520, {0x1F04, 0x070E, 0}), 5));

  ASSERT_TRUE(b.sim.SetClockRegisters(1, 0x010D, 0x1800, 0x3C00));
  EXPECT_EQ(WithCrc({1, 3, 6, 0x01, 0x0D, 0x18, 0x00, 0x3C, 0x00}),
            c.Transact(ReadRequest(1, 3, 520, 3), 11));
}

TEST(Wire, AnswersAfterTheTurnaroundAndPacesWhenAsked) {
  Bench quick;
  ASSERT_TRUE(quick.Ready());
  Clock::time_point t = Clock::now();
  ASSERT_EQ(7u, quick.client->Transact(ReadRequest(1, 4, 4, 1), 7).size());
  EXPECT_GE(MsSince(t), 1.5);  // 2 ms turnaround, give or take the clocks

  Sim::LineSetup paced;
  paced.Pace = true;
  paced.TurnaroundUs = 0;
  Bench b({UnitAt(1)}, paced);
  ASSERT_TRUE(b.Ready());
  b.client->Write(ReadRequest(1, 3, 0, 3));
  ASSERT_EQ(1u, b.client->Read(1, 1000).size());
  t = Clock::now();
  ASSERT_EQ(10u, b.client->Read(10, 1000).size());
  EXPECT_GE(MsSince(t), 8.0);  // 10 bytes at 11 bits each at 9600: 11.5 ms
}

TEST(Wire, SendRawAndTheFrameLog) {
  Bench b;
  ASSERT_TRUE(b.Ready());
  b.sim.SendRaw({0xAA, 0xBB});
  EXPECT_EQ((Bytes{0xAA, 0xBB}), b.client->Read(2, 1000));
  const Bytes request = ReadRequest(1, 4, 50, 1);
  const Bytes answer = b.client->Transact(request, 7);
  ASSERT_EQ(7u, answer.size());
  const std::vector<Sim::Frame> log = b.sim.TakeLog();
  ASSERT_EQ(3u, log.size());
  EXPECT_FALSE(log[0].FromMaster);
  EXPECT_EQ((Bytes{0xAA, 0xBB}), log[0].Bytes);
  EXPECT_TRUE(log[1].FromMaster);
  EXPECT_EQ(request, log[1].Bytes);
  EXPECT_FALSE(log[2].FromMaster);
  EXPECT_EQ(answer, log[2].Bytes);
  EXPECT_LE(log[0].Time, log[1].Time);
  EXPECT_LE(log[1].Time, log[2].Time);
  EXPECT_TRUE(b.sim.TakeLog().empty());
}

TEST(Wire, ChannelsTripByThemselvesWhenAsked) {
  Sim::LineSetup line;
  line.TripPeriodMs = 5;
  line.Seed = 7;
  Bench b({UnitAt(1), UnitAt(2, 5)}, line);
  ASSERT_TRUE(b.Ready());
  uint16_t a = 0, c = 0;
  for (int i = 0; i < 200 && a + c < 4; ++i) {
    Pause(10);
    b.sim.Holding(1, 518, a);
    b.sim.Holding(2, 518, c);
  }
  EXPECT_GE(a + c, 4);
}

}  // namespace
