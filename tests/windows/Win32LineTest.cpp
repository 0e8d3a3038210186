// The port through the real Win32 calls (under Wine) on a line served by lir-sim: the line
// state round trip, the read time-outs, the purge and the answer checks.

#include <gtest/gtest.h>

#include "Win32Line.h"
#include "platform/Ui.h"

namespace {

using Win32Line::LineTest;
using Win32Line::MillisecondsSince;
using Clock = std::chrono::steady_clock;

Serial::Dcb State() {
  Serial::Dcb dcb{};
  EXPECT_TRUE(Serial::GetState(ModBus::Port->Handle, dcb));
  return dcb;
}

TEST_F(LineTest, OpenAppliesTheDefaults) {
  const Serial::Dcb dcb = State();
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, Serial::NoParity);
  EXPECT_EQ(dcb.StopBits, Serial::TwoStopBits);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
}

// Wine keeps the handshake fields in the modem lines, which a pseudo-terminal does not have.
constexpr char kWineModemLines[] =
    "Wine sets and reads DTR and RTS through modem-line calls, which fail on a "
    "pseudo-terminal: the handshake fields of the flags word do not come back";

TEST_F(LineTest, FlagWordsReadBack) {
  if (Win32Line::UnderWine()) GTEST_SKIP() << kWineModemLines;
  EXPECT_EQ(Serial::DcbFlags(State()) & 0xFFFF, 0x8091u);  // as the port was opened
  for (uint32_t flags : {0xB081u, 0xA0ADu, 0x8091u}) {
    Serial::Dcb dcb = State();
    Serial::SetDcbFlags(dcb, flags);
    EXPECT_TRUE(Serial::SetState(ModBus::Port->Handle, dcb));
    EXPECT_EQ(Serial::DcbFlags(State()) & 0xFFFF, flags) << std::hex << flags;
  }
}

TEST_F(LineTest, CtsHandshakeReadsBack) {
  // The part of the flags word a terminal holds itself, under Wine too.
  Serial::Dcb dcb = State();
  Serial::SetDcbFlags(dcb, 0xA0AD);
  Serial::SetState(ModBus::Port->Handle, dcb);
  EXPECT_EQ(State().fOutxCtsFlow, 1u);
  Serial::SetDcbFlags(dcb, 0x8091);
  Serial::SetState(ModBus::Port->Handle, dcb);
  EXPECT_EQ(State().fOutxCtsFlow, 0u);
}

TEST_F(LineTest, SpeedsReadBack) {
  for (uint32_t baud :
       {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u}) {
    Serial::Dcb dcb = State();
    dcb.BaudRate = baud;
    EXPECT_TRUE(Serial::SetState(ModBus::Port->Handle, dcb)) << baud;
    EXPECT_EQ(State().BaudRate, baud);
  }
}

TEST_F(LineTest, SpeedsWithoutATermiosConstantReadBack) {
  if (Win32Line::UnderWine())
    GTEST_SKIP() << "Wine maps speeds without a termios constant (14400, 56000, 128000, "
                    "256000) to 38400 on a pseudo-terminal";
  for (uint32_t baud : {14400u, 56000u, 128000u, 256000u}) {
    Serial::Dcb dcb = State();
    dcb.BaudRate = baud;
    EXPECT_TRUE(Serial::SetState(ModBus::Port->Handle, dcb)) << baud;
    EXPECT_EQ(State().BaudRate, baud);
  }
}

TEST_F(LineTest, SecondOpenIsRefused) {
  if (Win32Line::UnderWine())
    GTEST_SKIP() << "Wine does not refuse a second open of a serial port with share mode 0";
  TPort second;
  second.PortName = "COM2";
  EXPECT_FALSE(second.Open());
}

TEST_F(LineTest, NoAnswerEndsAtTheTotalTimeout) {
  uint8_t buffer[8];
  auto start = Clock::now();
  EXPECT_EQ(ModBus::Port->Read(buffer, 8), 0);  // 10 * 8 + 200 ms
  EXPECT_GE(MillisecondsSince(start), 260);
  EXPECT_LT(MillisecondsSince(start), 840);

  ModBus::RegisterArray regs{};
  start = Clock::now();
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(9, 0, 3, regs));  // nobody at 9: 310 ms
  EXPECT_GE(MillisecondsSince(start), 290);
  EXPECT_LT(MillisecondsSince(start), 930);
}

TEST_F(LineTest, TheGapBetweenBytesEndsASplitAnswer) {
  ModBus::RegisterArray regs{};
  ASSERT_EQ(control_.Ask("fault split 60 1"), "ok");
  EXPECT_TRUE(ModBus::ReadInputRegisters(Win32Line::k8M, 50, 1, regs));
  ASSERT_EQ(control_.Ask("fault split 400 1"), "ok");
  const auto start = Clock::now();
  EXPECT_FALSE(ModBus::ReadInputRegisters(Win32Line::k8M, 50, 1, regs));
  EXPECT_GE(MillisecondsSince(start), 190);  // the 200 ms gap, not the 400 ms tail
  EXPECT_LT(MillisecondsSince(start), 390);
  // The master's next request takes the line back from the unit.
  EXPECT_TRUE(ModBus::ReadInputRegisters(Win32Line::k8M, 50, 1, regs));
  EXPECT_EQ(regs[0], 0x8006);
}

TEST_F(LineTest, BytesBeforeTheWriteArePurged) {
  ASSERT_EQ(control_.Ask("send 0x02 0x04 0x02 0xDE 0xAD 0x55"), "ok");
  Sleep(50);
  ModBus::RegisterArray regs{};
  EXPECT_TRUE(ModBus::ReadInputRegisters(Win32Line::k8M, 50, 1, regs));
  EXPECT_EQ(regs[0], 0x8006);
}

TEST_F(LineTest, AnswerChecks) {
  ModBus::RegisterArray regs{};
  regs[0] = 0x1234;
  ASSERT_EQ(control_.Ask("fault exception 0 1"), "ok");
  EXPECT_FALSE(ModBus::ReadInputRegisters(Win32Line::k8M, 50, 1, regs));
  ASSERT_EQ(control_.Ask("fault corrupt 0 1"), "ok");
  EXPECT_FALSE(ModBus::ReadInputRegisters(Win32Line::k8M, 50, 1, regs));
  EXPECT_EQ(regs[0], 0x1234);
  ASSERT_EQ(control_.Ask("fault other-address 77 1"), "ok");
  EXPECT_TRUE(ModBus::ReadInputRegisters(Win32Line::k8M, 50, 1, regs));
  EXPECT_EQ(control_.Number("count 2"), 3u);
}

TEST(Win32Platform, WindowCallsWithoutAnyWindow) {
  EXPECT_FALSE(Platform::IsWindow(nullptr));
  EXPECT_FALSE(Platform::IsWindowVisible(nullptr));
  const auto start = Clock::now();
  Platform::Sleep(30);
  EXPECT_GE(MillisecondsSince(start), 25);
}

}  // namespace
