// The line settings and the exclusive open of a real terminal, through the port object's
// handle as the port configuration dialog uses it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "PtyPeer.h"
#include "link/PortDef.h"

namespace {

class Line : public ::testing::Test {
 protected:
  void SetUp() override {
    port_.PortName = peer_.TerminalPath();
    ASSERT_TRUE(port_.Open());
  }
  Serial::Dcb State() {
    Serial::Dcb dcb{};
    EXPECT_TRUE(Serial::GetState(port_.Handle, dcb));
    return dcb;
  }
  Scripted::PtyPeer peer_;
  TPort port_;
};

TEST_F(Line, OpenAppliesTheDefaults) {
  const Serial::Dcb dcb = State();
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, Serial::NoParity);
  EXPECT_EQ(dcb.StopBits, Serial::TwoStopBits);
  EXPECT_EQ(Serial::DcbFlags(dcb), 0x8091u);
}

TEST_F(Line, EverySpeedOfTheListIsTakenAndReadBack) {
  for (uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                        56000u, 57600u, 115200u, 128000u, 256000u}) {
    Serial::Dcb dcb = State();
    dcb.BaudRate = baud;
    ASSERT_TRUE(Serial::SetState(port_.Handle, dcb)) << baud;
    EXPECT_EQ(State().BaudRate, baud);
  }
}

TEST_F(Line, FramingIsTakenOrRefusedAsAWhole) {
  struct Case {
    uint8_t ByteSize, Parity, StopBits;
    bool Ok;
  };
  const Case cases[] = {
      {8, Serial::EvenParity, Serial::OneStopBit, true},
      {7, Serial::OddParity, Serial::TwoStopBits, true},
      {6, Serial::MarkParity, Serial::OneStopBit, true},
      {5, Serial::SpaceParity, Serial::One5StopBits, true},
      {8, Serial::NoParity, Serial::One5StopBits, false},  // 1.5 only with 5 bits
      {5, Serial::NoParity, Serial::TwoStopBits, false},   // 2 never with 5 bits
      {4, Serial::NoParity, Serial::OneStopBit, false},
      {9, Serial::NoParity, Serial::OneStopBit, false},
      {8, 5, Serial::OneStopBit, false},
      {8, Serial::NoParity, 3, false},
  };
  for (const Case& c : cases) {
    Serial::Dcb before = State();
    Serial::Dcb dcb = before;
    dcb.BaudRate = 19200;
    dcb.ByteSize = c.ByteSize;
    dcb.Parity = c.Parity;
    dcb.StopBits = c.StopBits;
    EXPECT_EQ(Serial::SetState(port_.Handle, dcb), c.Ok) << int(c.ByteSize) << int(c.Parity);
    const Serial::Dcb after = State();
    const Serial::Dcb& expected = c.Ok ? dcb : before;
    EXPECT_EQ(after.BaudRate, expected.BaudRate);
    EXPECT_EQ(after.ByteSize, expected.ByteSize);
    EXPECT_EQ(after.Parity, expected.Parity);
    EXPECT_EQ(after.StopBits, expected.StopBits);
  }
  Serial::Dcb dcb = State();
  dcb.BaudRate = 0;
  EXPECT_FALSE(Serial::SetState(port_.Handle, dcb));
}

TEST_F(Line, HandshakeFieldsAreKeptPerHandle) {
  for (uint32_t flags : {0xB081u, 0xA0ADu, 0x8091u}) {
    Serial::Dcb dcb = State();
    Serial::SetDcbFlags(dcb, flags);
    ASSERT_TRUE(Serial::SetState(port_.Handle, dcb));
    EXPECT_EQ(Serial::DcbFlags(State()), flags);
  }
  // Another handle on another terminal keeps its own.
  Scripted::PtyPeer otherPeer;
  TPort other;
  other.PortName = otherPeer.TerminalPath();
  ASSERT_TRUE(other.Open());
  Serial::Dcb dcb{};
  ASSERT_TRUE(Serial::GetState(other.Handle, dcb));
  EXPECT_EQ(Serial::DcbFlags(dcb), 0x8091u);
}

TEST_F(Line, ReopeningRestoresTheDefaults) {
  Serial::Dcb dcb = State();
  dcb.BaudRate = 19200;
  dcb.Parity = Serial::EvenParity;
  Serial::SetDcbFlags(dcb, 0xA0AD);
  ASSERT_TRUE(Serial::SetState(port_.Handle, dcb));
  ASSERT_TRUE(port_.Close());
  ASSERT_TRUE(port_.Open());
  EXPECT_EQ(State().BaudRate, 9600u);
  EXPECT_EQ(State().Parity, Serial::NoParity);
  EXPECT_EQ(Serial::DcbFlags(State()), 0x8091u);
}

TEST_F(Line, OpenIsExclusiveAndStateful) {
  const Serial::Handle handle = port_.Handle;
  EXPECT_FALSE(port_.Open());  // already open: refused, handle kept
  EXPECT_EQ(port_.Handle, handle);
  TPort second;
  second.PortName = peer_.TerminalPath();
  EXPECT_FALSE(second.Open());
  EXPECT_FALSE(second.Connected);
  ASSERT_TRUE(port_.Close());
  EXPECT_FALSE(port_.Close());
  EXPECT_TRUE(second.Open());
}

TEST_F(Line, DestructorClosesAnOpenHandle) {
  int fd = -1;
  {
    TPort scoped;
    scoped.PortName = Scripted::PtyPeer().TerminalPath();  // gone again: open fails
    EXPECT_FALSE(scoped.Open());
    Scripted::PtyPeer peer;
    scoped.PortName = peer.TerminalPath();
    ASSERT_TRUE(scoped.Open());
    fd = static_cast<int>(scoped.Handle);
  }
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  ASSERT_TRUE(port_.Close());
  {
    TPort scoped;
    scoped.PortName = peer_.TerminalPath();
    ASSERT_TRUE(scoped.Open());
  }
  EXPECT_TRUE(port_.Open());  // the lock went with the destroyed object
}

TEST_F(Line, ReadEndsOnTheIntervalOrTheTotal) {
  // A steady trickle never ends by the gap; the total limit still holds.
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    while (!stop) {
      peer_.Send({0x55});
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  uint8_t buffer[100];
  auto start = std::chrono::steady_clock::now();
  const int32_t n = port_.Read(buffer, sizeof buffer);  // 10 * 100 + 200 ms
  const double ms = Scripted::Elapsed(start);
  stop = true;
  trickle.join();
  EXPECT_GT(n, 20);
  EXPECT_LT(n, 100);
  EXPECT_GE(ms, 1150);
  EXPECT_LT(ms, 2500);

  // Three bytes, then silence: the 200 ms gap ends the read long before the total.
  port_.Write(buffer, 0);
  peer_.Send({1, 2, 3});
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), 3);
  EXPECT_GE(Scripted::Elapsed(start), 190);
  EXPECT_LT(Scripted::Elapsed(start), 700);
}

}  // namespace
