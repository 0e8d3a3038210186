// The core through the real Win32 calls, under Wine: COM2 is a line served by a lir-sim running
// natively, COM3 its control port; scripts/test-windows starts it with the units below, and with
// its device server on the loopback, whose tcp:// name it passes in LIR_SIM_TCP.

#include <gtest/gtest.h>
#include <winsock2.h>  // and windows.h after it, as Winsock 2 needs
#include <ws2tcpip.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "device/LIR.h"
#include "platform/Ui.h"

namespace {

constexpr uint8_t k4M = 1;      // ЛИР-4М
constexpr uint8_t k8M = 2;      // ЛИР-8М, a journal of 5 records, the newest number 2
constexpr uint8_t kLocked = 3;  // ЛИР-12М, access denied, password ЛИР12345
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

bool UnderWine() {  // Wine stands in for Windows: a few things it cannot show on a terminal
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// ModBus::Port open on the line (COM2 unless a test says otherwise); the control port open,
// faults cleared, counters at zero and the units' access as the script set it, whatever the
// last test did.
class Win32 : public ::testing::Test {
 protected:
  static double Since(Clock::time_point t) { return Ms(Clock::now() - t).count(); }
  static bool Between(double v, double low, double high) { return v >= low && v < high; }
  void SetUp() override {
    control_ = Serial::OpenPort("COM3");
    ASSERT_NE(control_, Serial::InvalidHandle) << "COM3 (the simulator's control port)";
    ASSERT_TRUE(Serial::SetTimeouts(control_, {500, 0, 2000, 0, 1000}));  // replies are lines
    for (const char* command :
         {"clear-faults", "reset-counters", "access 1 1", "access 2 1", "access 3 0"})
      ASSERT_EQ(Ask(command), "ok") << command;
    ModBus::Port->PortName = Line();
    ASSERT_TRUE(ModBus::Port->Open()) << Line() << " (the simulated line) does not open";
  }
  virtual std::string Line() const { return "COM2"; }
  void TearDown() override {
    ModBus::Port->Close();
    Serial::ClosePort(control_);
  }
  // One command a line, one reply line; not through TPort, whose purge could lose the reply.
  std::string Ask(const std::string& command) {
    const std::string line = command + "\n";
    uint32_t n = 0;
    Serial::WriteBytes(control_, line.data(), static_cast<uint32_t>(line.size()), n);
    std::string reply;
    for (char c = 0; reply.size() < 200 && Serial::ReadBytes(control_, &c, 1, n) && n && c != '\n';)
      reply += c;
    return reply;
  }
  uint32_t Number(const std::string& command) {
    const std::string reply = Ask(command);
    EXPECT_FALSE(reply.empty() || reply.rfind("error", 0) == 0) << command << ": " << reply;
    return static_cast<uint32_t>(std::strtoul(reply.c_str(), nullptr, 0));
  }
  Serial::Dcb State() {
    Serial::Dcb dcb{};
    EXPECT_TRUE(Serial::GetState(ModBus::Port->Handle, dcb));
    return dcb;
  }
  bool SetBaud(uint32_t baud) {
    Serial::Dcb dcb = State();
    dcb.BaudRate = baud;
    return Serial::SetState(ModBus::Port->Handle, dcb) && State().BaudRate == baud;
  }
  Serial::Handle control_ = Serial::InvalidHandle;
  ModBus::RegisterArray regs_{};
};

TEST_F(Win32, DefaultsCtsHandshakeAndSpeedsReadBack) {
  Serial::Dcb dcb = State();
  EXPECT_EQ(std::vector<uint32_t>({dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits,
                                   dcb.fBinary, dcb.fOutxCtsFlow}),
            std::vector<uint32_t>({9600, 8, Serial::NoParity, Serial::TwoStopBits, 1, 0}));
  // The part of the flags word a terminal holds itself, under Wine too.
  for (uint32_t flags : {0xA0ADu, 0x8091u}) {
    Serial::SetDcbFlags(dcb, flags);
    Serial::SetState(ModBus::Port->Handle, dcb);
    EXPECT_EQ(State().fOutxCtsFlow, flags == 0xA0AD ? 1u : 0u);
  }
  for (uint32_t baud :
       {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u})
    EXPECT_TRUE(SetBaud(baud)) << baud;
}

TEST_F(Win32, FlagWordsReadBack) {
  if (UnderWine())
    GTEST_SKIP() << "Wine sets and reads DTR and RTS through modem-line calls, which fail on a "
                    "pseudo-terminal: the handshake fields of the flags word do not come back";
  EXPECT_EQ(Serial::DcbFlags(State()) & 0xFFFF, 0x8091u);  // as the port was opened
  for (uint32_t flags : {0xB081u, 0xA0ADu, 0x8091u}) {
    Serial::Dcb dcb = State();
    Serial::SetDcbFlags(dcb, flags);
    EXPECT_TRUE(Serial::SetState(ModBus::Port->Handle, dcb));
    EXPECT_EQ(Serial::DcbFlags(State()) & 0xFFFF, flags) << std::hex << flags;
  }
}

TEST_F(Win32, SpeedsWithoutATermiosConstantReadBack) {
  if (UnderWine())
    GTEST_SKIP() << "Wine maps speeds without a termios constant (14400, 56000, 128000, "
                    "256000) to 38400 on a pseudo-terminal";
  for (uint32_t baud : {14400u, 56000u, 128000u, 256000u})
    EXPECT_TRUE(SetBaud(baud)) << baud;
}

TEST_F(Win32, SecondOpenIsRefused) {
  if (UnderWine())
    GTEST_SKIP() << "Wine does not refuse a second open of a serial port with share mode 0";
  TPort second;
  second.PortName = "COM2";
  EXPECT_FALSE(second.Open());
}

// The same line through the serial port and through the device server.
class Lines : public Win32, public ::testing::WithParamInterface<std::string> {
 protected:
  std::string Line() const override { return GetParam(); }
};

// The answer checks are portable code, proven on Linux; here what the Win32 calls decide.
TEST_P(Lines, TimeOutsGapAndPurge) {
  uint8_t buffer[8];
  auto start = Clock::now();
  EXPECT_EQ(ModBus::Port->Read(buffer, 8), 0);  // 10 * 8 + 200 ms
  EXPECT_PRED3(Between, Since(start), 260, 840);
  start = Clock::now();
  EXPECT_FALSE(ModBus::ReadHoldingRegisters(9, 0, 3, regs_));  // nobody at 9: 310 ms
  EXPECT_PRED3(Between, Since(start), 290, 930);

  ASSERT_EQ(Ask("fault split 60 1"), "ok");
  EXPECT_TRUE(ModBus::ReadInputRegisters(k8M, 50, 1, regs_));
  ASSERT_EQ(Ask("fault split 400 1"), "ok");
  start = Clock::now();
  EXPECT_FALSE(ModBus::ReadInputRegisters(k8M, 50, 1, regs_));
  EXPECT_PRED3(Between, Since(start), 190, 390);  // the 200 ms gap, not the 400 ms tail
  // Stale bytes, and the tail the unit sent late: the master's next request purges both.
  ASSERT_EQ(Ask("send 0x02 0x04 0x02 0xDE 0xAD 0x55"), "ok");
  Sleep(50);
  EXPECT_TRUE(ModBus::ReadInputRegisters(k8M, 50, 1, regs_) && regs_[0] == 0x8006);
}

TEST(Win32Platform, WindowCallsWithoutAnyWindow) {
  EXPECT_FALSE(Platform::IsWindow(nullptr) || Platform::IsWindowVisible(nullptr));
  const auto start = Clock::now();
  Platform::Sleep(30);
  EXPECT_GE(Ms(Clock::now() - start).count(), 25);
}

// The access functions' frames and the units' rules are proven on Linux; here the longest
// write and answer, a single-register write and the password through WriteFile and ReadFile.
TEST_P(Lines, WritesAndTheLongestAnswer) {
  LIR::ChannelParams params{}, back{};
  params[0] = {900, 12, 1, 0, 1, 0, 0, 1, 2, 4};
  ASSERT_TRUE(LIR::WriteChannelsParam(k4M, 3, 1, params));
  EXPECT_EQ(Number("holding 1 11"), 0x04B5u);
  ASSERT_TRUE(LIR::ReadChannelsParam(k4M, 0, 4, back));
  EXPECT_EQ(std::vector<int>({back[3].VrSrabat, back[3].Zvuk}), std::vector<int>({900, 2}));
  ASSERT_TRUE(LIR::CmdKvitir(k8M));
  EXPECT_EQ(Number("commands 2 8"), 1u);
  ASSERT_TRUE(LIR::WritePassword(kLocked, "\313\310\32012345"));  // ЛИР12345 in cp1251
  EXPECT_EQ(LIR::CheckAccess(kLocked), LIR::AccessGranted);
}

std::string SimTcpName() {
  const char* name = std::getenv("LIR_SIM_TCP");
  return name ? name : "tcp://LIR_SIM_TCP-is-not-set:1";
}

INSTANTIATE_TEST_SUITE_P(Win32, Lines, ::testing::Values(std::string("COM2"), SimTcpName()),
                         [](const auto& info) { return info.index == 0 ? "Serial" : "Tcp"; });

// A device server of our own on the loopback, through Winsock: the connection it drops is a
// lost port at once, found again by Reconnect once it listens; a closed port refuses.
TEST(Win32Tcp, ADroppedConnectionIsLostAndFoundAgain) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  ASSERT_TRUE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              listen(listener, 1) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0);
  TPort port;
  port.PortName = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  const auto roundTrip = [&port](SOCKET peer) {
    const uint8_t request[] = {1, 2, 3}, answer[] = {4, 5};
    uint8_t got[8] = {};
    return port.Write(request, 3) == 3 && recv(peer, reinterpret_cast<char*>(got), 8, 0) == 3 &&
           got[2] == 3 && send(peer, reinterpret_cast<const char*>(answer), 2, 0) == 2 &&
           port.Read(got, 2) == 2 && got[1] == 5;
  };
  ASSERT_TRUE(port.Open());
  SOCKET peer = accept(listener, nullptr, nullptr);
  EXPECT_TRUE(roundTrip(peer));
  closesocket(peer);
  uint8_t buffer[8];
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer, 8), 0);
  EXPECT_LT(Ms(Clock::now() - start).count(), 150);
  EXPECT_TRUE(port.Lost() && port.Connected);
  EXPECT_EQ(port.LastFault(), Serial::Fault::ConnectionDropped);
  ASSERT_TRUE(port.Reconnect());
  peer = accept(listener, nullptr, nullptr);
  EXPECT_TRUE(roundTrip(peer) && !port.Lost());
  closesocket(peer);
  closesocket(listener);
  EXPECT_TRUE(port.Close());

  for (const auto& [name, fault] :
       {std::pair<std::string, Serial::Fault>{port.PortName, Serial::Fault::ConnectionRefused},
        {"tcp://127.0.0.1:65536", Serial::Fault::BadName},
        {"tcp://[::1:502", Serial::Fault::BadName}}) {
    port.PortName = name;
    EXPECT_FALSE(port.Open()) << name;
    EXPECT_EQ(port.LastFault(), fault) << name;
  }
}

}  // namespace
