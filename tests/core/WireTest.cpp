// The master on a real pseudo-terminal against a scripted device: exact frames on the wire,
// the answer checks, the time-outs and the purge.

#include <gtest/gtest.h>

#include <map>

#include "PtyPeer.h"
#include "link/ModBus.h"

namespace {

using Scripted::Bytes;
using Scripted::Chunk;

struct Traffic {
  std::vector<std::pair<Bytes, uint8_t>> Frames;
};

class Wire : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(peer_.TerminalPath().empty());
    ModBus::Port->PortName = peer_.TerminalPath();
    ASSERT_TRUE(ModBus::Port->Open());
    ModBus::SetTrafficSink([this](const uint8_t* b, uint16_t n, uint8_t dir) {
      traffic_.Frames.emplace_back(Bytes(b, b + n), dir);
    });
  }
  void TearDown() override {
    ModBus::SetTrafficSink(nullptr);
    peer_.StopServing();
    ModBus::Port->Close();
  }
  // Answers every request with the given chunks.
  void AnswerWith(std::vector<Chunk> chunks) {
    peer_.Serve([chunks](const Bytes&) { return chunks; });
  }

  Scripted::PtyPeer peer_;
  Traffic traffic_;
};

TEST_F(Wire, ReadRequestAndAnswerAreExactAndShownInOrder) {
  AnswerWith({{Scripted::ReadAnswer(1, 3, {0x1234})}});
  ModBus::RegisterArray regs{};
  ASSERT_TRUE(ModBus::ReadHoldingRegisters(1, 0, 1, regs));
  EXPECT_EQ(regs[0], 0x1234);
  ASSERT_EQ(peer_.Requests().size(), 1u);
  EXPECT_EQ(peer_.Requests()[0], (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
  ASSERT_EQ(traffic_.Frames.size(), 2u);
  EXPECT_EQ(traffic_.Frames[0].second, ModBus::Sent);
  EXPECT_EQ(traffic_.Frames[0].first, peer_.Requests()[0]);
  EXPECT_EQ(traffic_.Frames[1].second, ModBus::Received);
  EXPECT_EQ(traffic_.Frames[1].first, Scripted::ReadAnswer(1, 3, {0x1234}));
}

TEST_F(Wire, EveryFunctionBuildsItsFrame) {
  peer_.Serve([](const Bytes& r) -> std::vector<Chunk> {
    if (r[1] == 3 || r[1] == 4) {
      std::vector<uint16_t> regs(r[5]);
      for (size_t i = 0; i < regs.size(); ++i)
        regs[i] = static_cast<uint16_t>(0x0100 * i + 7);
      return {{Scripted::ReadAnswer(r[0], r[1], regs)}};
    }
    return {{Scripted::Echo(r)}};
  });
  ModBus::RegisterArray regs{};
  ASSERT_TRUE(ModBus::ReadInputRegisters(0x11, 0x1234, 125, regs));
  EXPECT_EQ(regs[0], 7);
  EXPECT_EQ(regs[124], 0x7C07);
  ASSERT_TRUE(ModBus::WriteSingleRegister(0x22, 526, 0xBEEF));
  for (uint16_t i = 0; i < 4; ++i)
    regs[i] = static_cast<uint16_t>(0xA000 + i);
  ASSERT_TRUE(ModBus::WriteMultipleRegisters(0x33, 520, 4, regs));
  const auto requests = peer_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], Scripted::WithCrc({0x11, 0x04, 0x12, 0x34, 0x00, 0x7D}));
  EXPECT_EQ(requests[1], Scripted::WithCrc({0x22, 0x06, 0x02, 0x0E, 0xBE, 0xEF}));
  EXPECT_EQ(requests[2].size(), 17u);
  EXPECT_EQ(requests[2], Scripted::WithCrc({0x33, 0x10, 0x02, 0x08, 0x00, 0x04, 0x08, 0xA0, 0x00,
                                            0xA0, 0x01, 0xA0, 0x02, 0xA0, 0x03}));
  ASSERT_TRUE(ModBus::WriteMultipleRegisters(0x33, 0, 123, regs));
  EXPECT_EQ(peer_.Requests().back().size(), 2u * 123 + 9);
  EXPECT_EQ(peer_.Requests().back()[6], 246);
}

TEST_F(Wire, CountsAFrameCannotCarryAreRefusedWithoutSending) {
  AnswerWith({{Scripted::ReadAnswer(1, 3, {1})}});
  ModBus::RegisterArray regs{};
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 0, regs));
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 126, regs));
  EXPECT_FALSE(ModBus::ReadInputRegisters(1, 0, 1025, regs));
  EXPECT_FALSE(ModBus::WriteMultipleRegisters(1, 0, 0, regs));
  EXPECT_FALSE(ModBus::WriteMultipleRegisters(1, 0, 124, regs));
  EXPECT_TRUE(peer_.Requests().empty());
  EXPECT_TRUE(traffic_.Frames.empty());
}

TEST_F(Wire, NoAnswerEndsAtTheTotalTimeout) {
  ModBus::RegisterArray regs{};
  regs[0] = 0x5555;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(9, 0, 3, regs));  // 11 bytes: 310 ms
  const double ms = Scripted::Elapsed(start);
  EXPECT_GE(ms, 300);
  EXPECT_LT(ms, 900);
  EXPECT_EQ(regs[0], 0x5555);
  ASSERT_EQ(traffic_.Frames.size(), 1u);  // the request only
  EXPECT_EQ(traffic_.Frames[0].second, ModBus::Sent);

  uint8_t buffer[8];
  const auto readStart = std::chrono::steady_clock::now();
  EXPECT_EQ(ModBus::Port->Read(buffer, 8), 0);
  EXPECT_GE(Scripted::Elapsed(readStart), 270);
  EXPECT_LT(Scripted::Elapsed(readStart), 840);
}

TEST_F(Wire, ExceptionAnswerFailsAfterTheGapAndLeavesRegisters) {
  AnswerWith({{Scripted::Exception(1, 3, 2)}});
  ModBus::RegisterArray regs{};
  regs[0] = 0x5555;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 3, regs));
  const double ms = Scripted::Elapsed(start);
  EXPECT_GE(ms, 190);  // the 200 ms gap after the fifth byte ends the read
  EXPECT_LT(ms, 600);
  EXPECT_EQ(regs[0], 0x5555);
  EXPECT_EQ(traffic_.Frames.size(), 1u);  // a short answer is not shown

  // An exception of full length: told apart by its function code.
  AnswerWith({{Scripted::WithCrc({1, 0x86, 4, 0, 0, 0})}});
  EXPECT_FALSE(ModBus::WriteSingleRegister(1, 526, 1));
  AnswerWith({{Scripted::WithCrc({1, 0x90, 4, 0, 0, 0})}});
  EXPECT_FALSE(ModBus::WriteMultipleRegisters(1, 0, 1, regs));
  AnswerWith({{Scripted::WithCrc({1, 0x84, 2, 0, 0})}});
  EXPECT_FALSE(ModBus::ReadInputRegisters(1, 0, 1, regs));
}

TEST_F(Wire, CorruptedByteFailsTheCrc) {
  Bytes answer = Scripted::ReadAnswer(1, 3, {0x1111, 0x2222, 0x3333});
  answer[5] ^= 0x40;
  AnswerWith({{answer}});
  ModBus::RegisterArray regs{};
  regs[1] = 0x5555;
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 3, regs));
  EXPECT_EQ(regs[1], 0x5555);
  Bytes echo = Scripted::WithCrc({1, 6, 2, 14, 0, 1});
  echo[7] ^= 1;
  AnswerWith({{echo}});
  EXPECT_FALSE(ModBus::WriteSingleRegister(1, 526, 1));
}

TEST_F(Wire, AnswerBearingAnotherAddressIsAccepted) {
  AnswerWith({{Scripted::ReadAnswer(42, 3, {0xABCD})}});
  ModBus::RegisterArray regs{};
  EXPECT_TRUE(ModBus::ReadHoldingRegisters(1, 0, 1, regs));
  EXPECT_EQ(regs[0], 0xABCD);
  // Not even an exception code from another unit counts as one.
  AnswerWith({{Scripted::WithCrc({42, 0x86, 2, 14, 0, 1})}});
  EXPECT_TRUE(ModBus::WriteSingleRegister(1, 526, 1));
}

TEST_F(Wire, SplitAnswerJoinsWithinTheGapAndFailsBeyondIt) {
  const Bytes answer = Scripted::ReadAnswer(1, 3, {1, 2, 3});
  const Bytes head(answer.begin(), answer.begin() + 4), tail(answer.begin() + 4, answer.end());
  AnswerWith({{head}, {tail, 60}});
  ModBus::RegisterArray regs{};
  EXPECT_TRUE(ModBus::ReadHoldingRegisters(1, 0, 3, regs));
  EXPECT_EQ(regs[2], 3);
  AnswerWith({{head}, {tail, 350}});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 3, regs));
  EXPECT_LT(Scripted::Elapsed(start), 340);                     // ended by the gap, not by the tail
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // let the late tail land
  // The next transaction is not disturbed by it: the write purges.
  AnswerWith({{Scripted::ReadAnswer(1, 3, {9})}});
  EXPECT_TRUE(ModBus::ReadHoldingRegisters(1, 0, 1, regs));
  EXPECT_EQ(regs[0], 9);
}

TEST_F(Wire, BytesBeforeTheWriteArePurged) {
  peer_.Send({0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x03});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  AnswerWith({{Scripted::ReadAnswer(1, 3, {0x0102})}});
  ModBus::RegisterArray regs{};
  EXPECT_TRUE(ModBus::ReadHoldingRegisters(1, 0, 1, regs));
  EXPECT_EQ(regs[0], 0x0102);

  peer_.StopServing();
  peer_.Send({1, 2, 3});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint8_t byte = 0x55;
  EXPECT_EQ(ModBus::Port->Write(&byte, 1), 1);
  peer_.Send({7});
  uint8_t got[4] = {};
  EXPECT_EQ(ModBus::Port->Read(got, 4), 1);
  EXPECT_EQ(got[0], 7);
}

TEST_F(Wire, InstantAnswerIsNotLostToThePurge) {
  AnswerWith({{Scripted::ReadAnswer(1, 4, {0x8007})}});
  ModBus::RegisterArray regs{};
  for (int i = 0; i < 300; ++i)
    ASSERT_TRUE(ModBus::ReadInputRegisters(1, 50, 1, regs)) << i;
}

TEST_F(Wire, FarEndGoneFailsAtOnce) {
  peer_.CloseMaster();
  ModBus::RegisterArray regs{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(1, 0, 1, regs));
  uint8_t buffer[8];
  EXPECT_EQ(ModBus::Port->Read(buffer, 8), 0);
  EXPECT_LT(Scripted::Elapsed(start), 150);
  EXPECT_TRUE(traffic_.Frames.empty());  // a write cut short is not shown
}

}  // namespace
