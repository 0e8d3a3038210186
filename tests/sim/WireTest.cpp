// The line over a real pseudo-terminal, seen from a raw client: framing, addressing,
// exception answers, the address change and which requests a fault hits; the lir-sim program.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/Line.h"
#include "sim/Options.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Sim::FaultKind;

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes WithCrc(const Bytes& f) {
  const uint16_t crc = Sim::Crc16(f.data(), f.size());
  return Cat(f, {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
}

// Functions 3, 4 and 6: two 16-bit fields after the function code.
Bytes Req(uint8_t address, uint8_t function, uint16_t a, uint16_t b) {
  return WithCrc({address, function, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a),
                  static_cast<uint8_t>(b >> 8), static_cast<uint8_t>(b)});
}

Bytes Exception(uint8_t address, uint8_t function, uint8_t code) {
  return WithCrc({address, static_cast<uint8_t>(function | 0x80), code});
}

class Client {
 public:
  explicit Client(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
  ~Client() { close(fd_); }
  bool Write(const Bytes& b) { return write(fd_, b.data(), b.size()) == ssize_t(b.size()); }
  // Reads until `count` bytes have come or none has come for `quietMs`; the default
  // quiet time is long enough to be sure that no answer is coming.
  Bytes Read(size_t count = SIZE_MAX, int quietMs = 100) {
    Bytes got;
    uint8_t buf[256];
    pollfd p{fd_, POLLIN, 0};
    while (got.size() < count && poll(&p, 1, quietMs) > 0) {
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  Bytes Transact(const Bytes& request, size_t count) {
    Write(request);
    return Read(count, 1000);
  }

 private:
  int fd_;
};

struct Bench {
  explicit Bench(const std::vector<Sim::UnitSetup>& units = {Sim::UnitSetup()})
      : sim(Sim::LineSetup(), units), started(sim.Start()), client(sim.TerminalPath()) {}
  Sim::Simulator sim;
  bool started;
  Client client;
};

TEST(Wire, AnswersGoodFramesToItsUnitsAndMovesOnlyAfterTheAnswer) {
  Bench b({{1}, {3}});
  ASSERT_TRUE(b.started) << b.sim.LastError();
  Bytes badCrc = Req(1, 6, 523, 7);
  badCrc[5] ^= 0x40;  // a unit that ignored the CRC would store 0x47
  for (const Bytes& request : {badCrc, Req(2, 3, 0, 1), Req(0, 6, 523, 5), WithCrc({9, 0x11})}) {
    b.client.Write(request);
    EXPECT_EQ(Bytes(), b.client.Read()) << testing::PrintToString(request);
  }
  EXPECT_EQ(WithCrc({1, 3, 2, 0, 0}), b.client.Transact(Req(1, 3, 523, 1), 7));
  EXPECT_EQ(Cat(WithCrc({1, 3, 6, 0, 10, 0, 0, 0, 0x20}), WithCrc({1, 4, 2, 0x80, 7})),
            b.client.Transact(Cat(Req(1, 3, 0, 3), Req(1, 4, 50, 1)), 18));

  const Bytes move = Req(1, 6, 544, 9);
  EXPECT_EQ(move, b.client.Transact(move, 8));
  EXPECT_EQ(WithCrc({9, 3, 2, 0, 9}), b.client.Transact(Req(9, 3, 544, 1), 7));
  b.client.Write(Req(1, 3, 544, 1));
  EXPECT_EQ(Bytes(), b.client.Read());
  EXPECT_EQ(Exception(9, 6, 3), b.client.Transact(Req(9, 6, 544, 3), 5));  // the neighbour's
  EXPECT_EQ(7u, b.client.Transact(Req(3, 3, 544, 1), 7).size());
}

TEST(Wire, ExceptionAnswers) {
  Bench b;
  ASSERT_TRUE(b.started) << b.sim.LastError();
  const Bytes tooMany = WithCrc(Cat({1, 16, 0, 0, 0, 124, 248}, Bytes(248)));
  const std::vector<Bytes> refused[] = {
      // with exception code 1, 2, 3
      {WithCrc({1, 0x11})},
      {Req(1, 3, 0, 37), Req(1, 3, 540, 4), Req(1, 4, 5, 1), Req(1, 4, 4997, 4)},
      {Req(1, 3, 0, 0), Req(1, 4, 1000, 126), Req(1, 6, 527, 2), Req(1, 6, 526, 3), tooMany,
       WithCrc({1, 16, 0, 0, 0, 2, 2, 0, 1}), WithCrc({1, 16}), WithCrc({1, 16, 2, 0x0F}),
       WithCrc({1, 16, 2, 0x0F, 0, 1})}};  // the last three cut short of their header
  for (uint8_t code = 1; code <= 3; ++code) {
    for (const Bytes& request : refused[code - 1])
      EXPECT_EQ(Exception(1, request[1], code), b.client.Transact(request, 5))
          << testing::PrintToString(request);
  }
  // Denied access refuses every write but the password.
  b.sim.SetAccess(1, false);
  EXPECT_EQ(Exception(1, 6, 1), b.client.Transact(Req(1, 6, 523, 1), 5));
  EXPECT_EQ(Exception(1, 16, 1), b.client.Transact(WithCrc({1, 16, 0, 0, 0, 1, 2, 0, 1}), 5));
  EXPECT_EQ(8u, b.client.Transact(WithCrc(Cat({1, 16, 2, 0x1C, 0, 4, 8}, Bytes(8))), 8).size());
}

// Which requests a fault hits: the next `count` addressed to the unit, then none. What each
// kind does to an answer is proven through the master, in the robustness suite.
TEST(Wire, InjectedFaultsHitTheNextRequestsThenStop) {
  Bench b;
  ASSERT_TRUE(b.started) << b.sim.LastError();
  const Bytes request = Req(1, 3, 0, 3), good = b.client.Transact(request, 11);
  ASSERT_EQ(11u, good.size());
  b.sim.InjectFault(FaultKind::Exception, 0, 2);
  b.client.Write(Req(5, 3, 0, 3));  // nobody there: does not use the fault up
  EXPECT_EQ(Bytes(), b.client.Read());
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Exception(1, 3, 4), b.client.Transact(request, 5));
  EXPECT_EQ(good, b.client.Transact(request, 11));
  EXPECT_EQ(Bytes(), b.client.Read());
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Bounded in time, so that a run that should have failed cannot hang the test.
pid_t Spawn(const std::string& args) {
  const std::string command = "exec timeout 20 '" LIR_SIM_PATH "' " + args + " >/dev/null 2>&1";
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ)) return -1;
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(Executable, ParsesItsCommandLineAndExitsWithTwoOnBadOptions) {
  Sim::Options o;
  std::string error;
  ASSERT_TRUE(Sim::ParseOptions({}, o, error)) << error;
  EXPECT_EQ("COM2", o.Link);
  EXPECT_EQ(7, o.Units.at(0).Model);
  EXPECT_FALSE(Sim::ParseOptions({"--frobnicate"}, o, error));
  EXPECT_NE(std::string::npos, error.find("--frobnicate"));
  for (const char* bad : {"--unit 0", "--unit 5 --unit 5:6", "--unit 1,password=abcdefgh",
                          "--fault fire", "--frobnicate", "--tcp 65536"}) {
    EXPECT_EQ(2, ExitCode(Spawn(bad))) << bad;
  }
  EXPECT_EQ(0, ExitCode(Spawn("--help")));
}

// The one child of `timeout`.
pid_t Child(pid_t parent) {
  const std::string path =
      "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return -1;
  int child = -1;
  if (fscanf(f, "%d", &child) != 1) child = -1;
  fclose(f);
  return child;
}

std::vector<pid_t> Threads(pid_t pid) {
  std::vector<pid_t> ids;
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
  if (dir == nullptr) return ids;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') ids.push_back(static_cast<pid_t>(std::stoi(e->d_name)));
  }
  closedir(dir);
  return ids;
}

// Every reply to the lines, as the control port sends them.
std::string Ask(Client& control, const std::string& lines) {
  control.Write(Bytes(lines.begin(), lines.end()));
  const Bytes got = control.Read(SIZE_MAX, 300);
  return std::string(got.begin(), got.end());
}

TEST(Executable, ServesLineAndControlThenRemovesItsLinks) {
  char pattern[] = "/tmp/lirsim-exe-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string dir = pattern, link = dir + "/COM7", controlLink = dir + "/CTL";
  const pid_t pid = Spawn("--link " + link + " --control " + controlLink +
                          " --unit 4:5,password=абвг_123,journal=20@7 --unit 9,access=denied"
                          " --fault exception --fault-next 1");
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 500 && !Exists(controlLink); ++i)
    usleep(10000);
  {
    Client line(link), control(controlLink);
    EXPECT_EQ(Exception(4, 4, 4), line.Transact(Req(4, 4, 50, 1), 5));
    EXPECT_EQ(WithCrc({4, 4, 2, 0x80, 5}), line.Transact(Req(4, 4, 50, 1), 7));
    EXPECT_EQ(
        "2\nАБВГ_123\n7\n20\n7\n",  // the blank line gets no reply
        Ask(control, "count 4\r\npassword 4\nholding 4 517\n\nholding 4 518\ninput-reg 9 50\n"));
    EXPECT_EQ("ok\n", Ask(control, "send 0xAA 187\n"));
    EXPECT_EQ((Bytes{0xAA, 0xBB}), line.Read(2, 1000));
  }
  // A second Ctrl+C or `timeout`'s forwarded signal may land on any thread of the simulator:
  // each thread gets one, the serving ones first.
  const pid_t sim = Child(pid);
  std::vector<pid_t> threads = Threads(sim);
  std::partition(threads.begin(), threads.end(), [sim](pid_t t) { return t != sim; });
  for (pid_t tid : threads)
    EXPECT_EQ(0, syscall(SYS_tgkill, sim, tid, SIGTERM));
  if (threads.empty()) {
    ASSERT_EQ(0, kill(pid, SIGTERM));  // a kernel without /proc's children
  }
  EXPECT_EQ(0, ExitCode(pid));
  EXPECT_FALSE(Exists(link) || Exists(controlLink));
  rmdir(dir.c_str());
}

}  // namespace
