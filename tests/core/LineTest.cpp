// The access functions against the project's simulator, and lines that go and come back under
// the same name, on a real pseudo-terminal and over TCP to the simulator's device server on the
// loopback; names that reach no server; lir-sim --tcp itself; the RS-485 direction of a line.

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "device/LIR.h"
#include "platform/SerialPosixLine.h"
#include "sim/DeviceServer.h"
#include "sim/Simulator.h"
#include "tests/robust/Calls.h"

namespace {

using Clock = std::chrono::steady_clock;
double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

constexpr uint8_t kUnit = 3, k12M = 9, kLocked = 12;
const char kPassword[] = "\313\310\32012345";  // ЛИР12345 in cp1251
std::string TcpName(uint16_t port) {
  return "tcp://127.0.0.1:" + std::to_string(port);
}

std::string TempDir() {
  char dir[] = "/tmp/lir-line-XXXXXX";
  return mkdtemp(dir) ? dir : "";
}

enum class Over { Terminal, Tcp };

// ModBus::Port open on a simulated line under a name that stays when the far end goes and comes
// back: a link to the simulator's terminal, or the tcp:// name of its device server.
class Line : public ::testing::TestWithParam<Over> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(Return());
    ModBus::Port->PortName = Tcp() ? TcpName(port_) : link_;
    ASSERT_TRUE(ModBus::Port->Open());
  }
  void TearDown() override {
    ModBus::Port->Close();
    server_.Stop();
    sim_.Stop();
    rmdir(dir_.c_str());
  }
  bool Tcp() const { return GetParam() == Over::Tcp; }
  // The terminal closes (a pulled adapter), or the device server drops the connection and
  // stops listening.
  void Vanish() { Tcp() ? server_.Stop() : sim_.Stop(); }
  bool Return() {
    std::string error;
    if (sim_.TerminalPath().empty() && !sim_.Start(link_)) return false;
    if (!Tcp()) return true;
    if (!server_.Start(sim_.TerminalPath(), port_, error)) return false;
    port_ = server_.Port();
    return true;
  }
  static bool Answers(uint8_t address = kUnit) {
    uint8_t model = 0;
    return LIR::ReadDeviceType(address, model) && model == LIR::Model8M;
  }

  Sim::Simulator sim_{{},
                      {{kUnit, LIR::Model8M},
                       {k12M, LIR::Model12M},
                       {kLocked, 9, kPassword, false},
                       {Robust::kUnit, LIR::Model12M}}};
  Sim::DeviceServer server_;
  std::string dir_ = TempDir(), link_ = dir_ + "/COM7";
  uint16_t port_ = 0;
};

TEST_P(Line, GoesFailsAtOnceAndComesBackWithItsLineSettings) {
  Serial::Dcb dcb{}, back{};
  ASSERT_TRUE(Serial::GetState(ModBus::Port->Handle, dcb));
  dcb.BaudRate = 19200;
  dcb.Parity = Serial::EvenParity;
  ASSERT_TRUE(Serial::SetState(ModBus::Port->Handle, dcb) && Answers());

  Vanish();
  const Serial::Fault loss =
      Tcp() ? Serial::Fault::ConnectionDropped : Serial::Fault::DeviceRemoved;
  const Serial::Fault reopen = Tcp() ? Serial::Fault::ConnectionRefused : Serial::Fault::NoSuchPort;
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

// Through the simulator, over TCP too: the longest answer and write, each function code, the
// access a unit grants. Each access function's request and every value it reads are the wire
// and robustness suites', the unit's rules (a password's grant) the simulator's.
TEST_P(Line, AccessFunctionsRoundTrip) {
  uint8_t type = 0;
  uint16_t state = 0;
  LIR::ChannelParams params{}, back{};
  params[7] = {900, 12, 1, 1, 0, 1, 1, 1, 2, 8};
  ASSERT_TRUE(sim_.SetChannelInput(kUnit, 2, true));
  ASSERT_TRUE(LIR::ReadDeviceType(kLocked, type) && LIR::ReadChannelsState(kUnit, state));
  EXPECT_EQ(std::vector<int>({type, state}), std::vector<int>({9, 1 << 2}));
  ASSERT_TRUE(LIR::WriteChannelsParam(k12M, 0, 12, params) &&
              LIR::ReadChannelsParam(k12M, 0, 12, back));
  EXPECT_EQ(std::vector<int>({back[7].VrSrabat, back[7].Zvuk, back[7].ReleNumber}),
            std::vector<int>({900, 2, 8}));
  EXPECT_EQ(
      std::vector<int>({LIR::CheckAccess(k12M), LIR::CheckAccess(kLocked), LIR::CheckAccess(1)}),
      std::vector<int>({LIR::AccessGranted, LIR::AccessDenied, LIR::AccessNoAnswer}));
}

// Every access function that talks to a unit, as the fault matrix calls it, over TCP too.
TEST_P(Line, EveryAccessFunction) {
  for (const Robust::Call& call : Robust::Calls()) {
    ASSERT_TRUE(sim_.SetAccess(Robust::kUnit, true));  // a restart withdraws it
    EXPECT_TRUE(call.Run().Ok) << call.Name;
  }
}

// The time-outs as on a serial line, over TCP too: a spoilt answer takes one request only, and
// what is left of it is purged by the next.
TEST_P(Line, FaultsTimeOutsAndPurge) {
  using Kind = Sim::FaultKind;
  const struct {
    Kind kind;
    uint32_t param;
    bool ok;
    double low, high;                                 // ms
  } faults[] = {{Kind::Silent, 0, false, 260, 900},   // 7 bytes awaited: 10 * 7 + 200 ms
                {Kind::Split, 400, false, 190, 390},  // the 200 ms gap, not the 400 ms tail
                {Kind::Noise, 3, false, 0, 900},
                {Kind::Late, 50, true, 0, 900},
                {Kind::Late, 400, false, 260, 900}};
  for (const auto& f : faults) {
    sim_.InjectFault(f.kind, f.param, 1);
    const auto start = Clock::now();
    EXPECT_EQ(Answers(), f.ok) << int(f.kind) << " " << f.param;
    EXPECT_GE(MsSince(start), f.low);
    EXPECT_LT(MsSince(start), f.high);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the rest lands
    EXPECT_TRUE(Answers()) << int(f.kind) << " " << f.param;
  }

  // Ports the system lists come and go while ours is open: ours is not disturbed.
  for (int i = 0; i < 3; ++i) {
    Sim::Simulator other({}, {{kUnit, LIR::Model4M}});
    ASSERT_TRUE(other.Start(dir_ + "/COM8"));
    EXPECT_TRUE(Answers());
    other.Stop();
    EXPECT_TRUE(Answers() && !ModBus::Port->Lost());
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, Line, ::testing::Values(Over::Terminal, Over::Tcp),
                         [](const auto& info) {
                           return info.param == Over::Tcp ? "Tcp" : "Terminal";
                         });

// A loopback port (0: one the system picks): nobody listens on it, or (full) a listener whose
// queue of connections not yet accepted is full, so the kernel drops further attempts
// unanswered. The descriptors live as long as the process unless `listener` takes the
// listener's; a test needs only a few.
uint16_t LoopbackPort(bool full, uint16_t port = 0, int* listener = nullptr) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  socklen_t size = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
  if (!full) {
    close(s);
    return ntohs(a.sin_port);
  }
  listen(s, 0);
  for (int i = 0; i < 4; ++i)
    connect(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0), reinterpret_cast<sockaddr*>(&a),
            sizeof a);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (listener) *listener = s;
  return ntohs(a.sin_port);
}

TEST(TcpNames, RefusedMalformedOneClientAtATimeAndAHostName) {
  const struct {
    std::string name;
    Serial::Fault fault;
  } refused[] = {
      {TcpName(LoopbackPort(false)), Serial::Fault::ConnectionRefused},
      {"tcp://127.0.0.1", Serial::Fault::BadName},  // what else is malformed: the logic tests'

  };
  for (const auto& r : refused) {
    TPort port;
    port.PortName = r.name;
    const auto start = Clock::now();
    EXPECT_FALSE(port.Open() || port.Connected) << r.name;
    EXPECT_LT(MsSince(start), 150) << r.name;
    EXPECT_EQ(port.LastFault(), r.fault) << r.name;
    EXPECT_EQ(port.Handle, Serial::InvalidHandle);
  }
  Sim::Simulator sim({}, {{kUnit, LIR::Model8M}});
  Sim::DeviceServer server;
  std::string error;
  ASSERT_TRUE(sim.Start() && server.Start(sim.TerminalPath(), 0, error)) << error;
  TPort& first = *ModBus::Port;
  TPort second;
  first.PortName = "TCP://localhost:" + std::to_string(server.Port());
  second.PortName = TcpName(server.Port());
  ASSERT_TRUE(first.Open() && second.Open());
  uint8_t buffer[8], model = 0;
  EXPECT_EQ(second.Read(buffer, 8), 0);  // the server closed the second at once
  EXPECT_TRUE(second.Lost());
  EXPECT_EQ(second.LastFault(), Serial::Fault::ConnectionDropped);
  EXPECT_TRUE(LIR::ReadDeviceType(kUnit, model) && model == LIR::Model8M);
  first.Close();
}

// A device server that stops answering connections (switched off behind a switch): one
// transaction waits out the connect bound, those of the pause that follows fail at once, the
// program's own reopening gives up at its short bound, and finds the line once it is back.
TEST(TcpNames, AnUnansweringServerHoldsOneTransactionNotEach) {
  Sim::Simulator sim({}, {{kUnit, LIR::Model8M}});
  Sim::DeviceServer server;
  std::string error;
  ASSERT_TRUE(sim.Start() && server.Start(sim.TerminalPath(), 0, error)) << error;
  const uint16_t port = server.Port();
  TPort& p = *ModBus::Port;
  p.PortName = TcpName(port);
  uint8_t model = 0;
  ASSERT_TRUE(p.Open() && LIR::ReadDeviceType(kUnit, model));
  server.Stop();
  int listener = -1;
  ASSERT_EQ(LoopbackPort(true, port, &listener), port);
  std::vector<const char*> waits;
  for (int i = 0; i < 4; ++i) {
    const auto start = Clock::now();
    EXPECT_FALSE(LIR::ReadDeviceType(kUnit, model));
    EXPECT_EQ(ModBus::LastError(), ModBus::Error::PortLost);
    const double ms = MsSince(start);
    waits.push_back(ms < 150 ? "none" : ms > 950 && ms < 1500 ? "bound" : "other");
  }
  EXPECT_EQ(waits, (std::vector<const char*>{"none", "bound", "none", "none"}));
  EXPECT_EQ(p.LastFault(), Serial::Fault::TimedOut);
  const auto start = Clock::now();
  EXPECT_FALSE(p.Reconnect(200));
  EXPECT_GT(MsSince(start), 190);
  EXPECT_LT(MsSince(start), 600);

  close(listener);
  ASSERT_TRUE(server.Start(sim.TerminalPath(), port, error)) << error;
  EXPECT_TRUE(p.Reconnect(200) && LIR::ReadDeviceType(kUnit, model));
  p.Close();
}

// The program itself: it prints the port it listens on and serves the line there (the Windows
// lane's tcp:// name), and dies with its clients' connection.
pid_t SpawnSim(const std::string& args, uint16_t& port) {
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string command = "exec timeout 30 '" LIR_SIM_PATH "' " + args;
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ)) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char c = 0;
  for (pollfd p{out[0], POLLIN, 0};
       text.find("tcp 127.0.0.1:") == std::string::npos || text.back() != '\n';) {
    if (poll(&p, 1, 5000) <= 0 || read(out[0], &c, 1) != 1) break;
    text += c;
  }
  close(out[0]);
  const size_t at = text.find("tcp 127.0.0.1:");
  port = at == std::string::npos ? 0 : static_cast<uint16_t>(std::atoi(text.c_str() + at + 14));
  return pid;
}

TEST(LirSimTcp, ServesTheLineAndItsEndIsALostPort) {
  const std::string dir = TempDir();
  uint16_t port = 0;
  const pid_t pid = SpawnSim(" --link " + dir + "/COM9 --unit 3:6 --tcp 0", port);
  ASSERT_GT(pid, 0);
  ASSERT_NE(port, 0);
  TPort& p = *ModBus::Port;
  p.PortName = TcpName(port);
  ASSERT_TRUE(p.Open());
  uint8_t model = 0;
  EXPECT_TRUE(LIR::ReadDeviceType(kUnit, model) && model == LIR::Model8M);
  int status = 0;
  ASSERT_TRUE(kill(pid, SIGTERM) == 0 && waitpid(pid, &status, 0) == pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(LIR::ReadDeviceType(kUnit, model));
  EXPECT_EQ(ModBus::LastError(), ModBus::Error::PortLost);
  p.Close();
  rmdir(dir.c_str());
}

// RTS toggle on Linux is the kernel's RS-485 mode: RTS on while sending, off after, no delays;
// what the driver reads back must be that. A pseudo-terminal's driver has no RS-485 (ENOTTY):
// the setting is refused as a whole and the handle keeps what it had.
TEST(Rs485, TheRequestTheReadBackAndAPseudoTerminalsRefusal) {
  using Serial::Posix::Rs485;
  const Rs485 on = Serial::Posix::Rs485Request(true), off = Serial::Posix::Rs485Request(false);
  EXPECT_EQ(on.Flags, uint32_t{SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND});
  EXPECT_EQ(std::vector<uint32_t>({on.DelayRtsBeforeSend, on.DelayRtsAfterSend, off.Flags}),
            std::vector<uint32_t>({0, 0, 0}));
  const std::pair<uint32_t, bool> readBacks[] = {
      {SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND, true},
      {SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RX_DURING_TX, true},
      {SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND, false},  // the level the other way round
      {SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND, false},
      {SER_RS485_RTS_ON_SEND, false}};
  for (const auto& [flags, kept] : readBacks)
    EXPECT_EQ(Serial::Posix::Rs485Kept(on, {flags, 0, 0}), kept) << std::hex << flags;
  EXPECT_TRUE(Serial::Posix::Rs485Kept(off, {SER_RS485_RTS_ON_SEND, 0, 0}));
  EXPECT_FALSE(Serial::Posix::Rs485Kept(off, {SER_RS485_ENABLED, 0, 0}));

  Sim::Simulator sim({}, {{kUnit, LIR::Model8M}});
  ASSERT_TRUE(sim.Start());
  TPort port;
  port.PortName = sim.TerminalPath();
  ASSERT_TRUE(port.Open());
  Serial::Dcb before{}, toggle{}, after{};
  ASSERT_TRUE(Serial::GetState(port.Handle, before));
  toggle = before;
  toggle.fRtsControl = Serial::RtsControlToggle;
  toggle.BaudRate = 19200;
  EXPECT_TRUE(Serial::SetState(port.Handle, toggle));  // no RTS to drive: only remembered
  ASSERT_TRUE(Serial::SetState(port.Handle, before) && Serial::UseKernelRs485(port.Handle, true));
  EXPECT_FALSE(Serial::SetState(port.Handle, toggle));
  EXPECT_EQ(errno, ENOTTY);
  ASSERT_TRUE(Serial::GetState(port.Handle, after));
  EXPECT_EQ(std::vector<uint32_t>({after.BaudRate, after.fRtsControl}),
            std::vector<uint32_t>({before.BaudRate, before.fRtsControl}));
}

}  // namespace
