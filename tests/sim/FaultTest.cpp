// Injected faults, each seen from a raw client the way a master would meet it.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim/RawClient.h"

namespace {

using Sim::FaultKind;
using SimTest::Bench;
using SimTest::Bytes;
using SimTest::CrcOk;
using SimTest::ReadRequest;
using SimTest::UnitAt;
using SimTest::WithCrc;
using SimTest::WriteSingle;
using Clock = std::chrono::steady_clock;

constexpr int kQuietMs = 100;

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(b.Ready()) << b.sim.LastError();
    good = b.client->Transact(request, 11);
    ASSERT_EQ(11u, good.size());
  }
  uint16_t Hold(uint16_t reg) {
    uint16_t v = 0xDEAD;
    EXPECT_TRUE(b.sim.Holding(1, reg, v));
    return v;
  }

  Bench b{{UnitAt(1)}};
  const Bytes request = ReadRequest(1, 3, 0, 3);
  Bytes good;  // the answer without a fault
};

TEST_F(Faults, SilentForTheNextCountThenAnswersAgain) {
  b.sim.InjectFault(FaultKind::Silent, 0, 2);
  // Requests to an address without a unit do not use the fault up.
  b.client->Write(ReadRequest(5, 3, 0, 3));
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs));
  for (int i = 0; i < 2; ++i) {
    b.client->Write(request);
    EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs)) << i;
  }
  EXPECT_EQ(good, b.client->Transact(request, 11));
  EXPECT_EQ(4u, b.sim.RequestCount(1));
}

TEST_F(Faults, LostAnswersStillLeaveTheWriteDone) {
  b.sim.InjectFault(FaultKind::Silent, 0, 1);
  b.client->Write(WriteSingle(1, 523, 7));
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(kQuietMs));
  EXPECT_EQ(7, Hold(523));

  b.sim.InjectFault(FaultKind::Corrupt, 0, 1);
  EXPECT_EQ(8u, b.client->Transact(WriteSingle(1, 544, 9), 8).size());
  EXPECT_TRUE(b.sim.HasUnit(9));

  b.sim.InjectFault(FaultKind::Exception, 0, 1);
  EXPECT_EQ(WithCrc({9, 0x86, 4}), b.client->Transact(WriteSingle(9, 523, 8), 5));
  uint16_t v = 0;
  ASSERT_TRUE(b.sim.Holding(9, 523, v));
  EXPECT_EQ(7, v);  // the unit refused: nothing changed
}

TEST_F(Faults, CorruptChangesOneByteAndKeepsTheCrc) {
  b.sim.InjectFault(FaultKind::Corrupt, 0, 1);
  const Bytes bad = b.client->Transact(request, 11);
  ASSERT_EQ(11u, bad.size());
  EXPECT_FALSE(CrcOk(bad));
  int changed = 0;
  for (size_t i = 0; i < bad.size(); ++i)
    changed += bad[i] != good[i];
  EXPECT_EQ(1, changed);
  EXPECT_EQ(Bytes(good.end() - 2, good.end()), Bytes(bad.end() - 2, bad.end()));
}

TEST_F(Faults, ExceptionAnswersCodeFour) {
  b.sim.InjectFault(FaultKind::Exception, 0, 1);
  EXPECT_EQ(WithCrc({1, 0x83, 4}), b.client->Transact(request, 5));
}

TEST_F(Faults, SplitSendsTwoHalvesApart) {
  b.sim.InjectFault(FaultKind::Split, 120, 1);
  b.client->Write(request);
  const Bytes first = b.client->Read(5, 1000);
  ASSERT_EQ(5u, first.size());
  const Clock::time_point t = Clock::now();
  EXPECT_EQ(Bytes(), b.client->Read(1, 40));
  Bytes rest = b.client->Read(6, 2000);
  const double gapMs = std::chrono::duration<double, std::milli>(Clock::now() - t).count();
  EXPECT_GE(gapMs, 60);
  Bytes whole = first;
  whole.insert(whole.end(), rest.begin(), rest.end());
  EXPECT_EQ(good, whole);
}

TEST_F(Faults, TheMasterSpeakingCutsTheRestOfAnAnswer) {
  b.sim.InjectFault(FaultKind::Split, 300, 1);
  b.client->Write(request);
  ASSERT_EQ(5u, b.client->Read(5, 1000).size());
  b.sim.InjectFault(FaultKind::Late, 300, 1);
  EXPECT_EQ(Bytes(), b.client->Transact(request, 1, 50));
  EXPECT_EQ(good, b.client->Transact(request, 11));
  EXPECT_EQ(Bytes(), b.client->ReadUntilQuiet(350));  // neither stale half nor late answer
  const std::vector<Sim::Frame> log = b.sim.TakeLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(good, log.back().Bytes);
}

TEST_F(Faults, LateAnswersAfterTheDelay) {
  b.sim.InjectFault(FaultKind::Late, 200, 1);
  b.client->Write(request);
  EXPECT_EQ(Bytes(), b.client->Read(1, 100));
  EXPECT_EQ(good, b.client->Read(11, 2000));
}

TEST_F(Faults, NoiseComesJustBeforeTheAnswer) {
  b.sim.InjectFault(FaultKind::Noise, 5, 1);
  const Bytes got = b.client->Transact(request, 16);
  ASSERT_EQ(16u, got.size());
  EXPECT_EQ(good, Bytes(got.begin() + 5, got.end()));
}

TEST_F(Faults, OtherAddressIsAWellFormedAnswer) {
  b.sim.InjectFault(FaultKind::OtherAddress, 9, 1);
  const Bytes got = b.client->Transact(request, 11);
  ASSERT_EQ(11u, got.size());
  EXPECT_EQ(9, got[0]);
  EXPECT_TRUE(CrcOk(got));
  EXPECT_EQ(Bytes(good.begin() + 1, good.end() - 2), Bytes(got.begin() + 1, got.end() - 2));
}

TEST_F(Faults, ProbabilityFaultsSomeRequestsAndClears) {
  auto exceptions = [&](int n) {
    int count = 0;
    for (int i = 0; i < n; ++i) {
      const Bytes head = b.client->Transact(request, 5);
      if (head.size() == 5 && (head[1] & 0x80)) {
        ++count;
      } else {
        EXPECT_EQ(6u, b.client->Read(6, 1000).size());
      }
    }
    return count;
  };
  b.sim.SetFaultProbability(FaultKind::Exception, 0, 1.0);
  EXPECT_EQ(5, exceptions(5));
  b.sim.SetFaultProbability(FaultKind::Exception, 0, 0.5);
  const int some = exceptions(40);
  EXPECT_GT(some, 4);
  EXPECT_LT(some, 36);
  b.sim.ClearFaults();
  EXPECT_EQ(0, exceptions(5));
}

}  // namespace
