// Mean time of read transactions made by our master and by libmodbus's RTU client against
// the simulator on a pseudo-terminal (unpaced, no turnaround), and their ratio.
// Usage: lir-bench [N]

#include <modbus/modbus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/ModBus.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double MicrosPer(Clock::time_point start, int n) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
}

double Ours(int count, int n, int& failures) {
  ModBus::RegisterArray regs;
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i)
    if (!ModBus::ReadHoldingRegisters(1, 0, static_cast<uint16_t>(count), regs)) ++failures;
  return MicrosPer(start, n);
}

double Theirs(modbus_t* ctx, int count, int n, int& failures) {
  uint16_t regs[125];
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i)
    if (modbus_read_registers(ctx, 0, count, regs) != count) ++failures;
  return MicrosPer(start, n);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
  char dir[] = "/tmp/lirbenchXXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string link = std::string(dir) + "/COM2";
  const char* simArgs[] = {LIR_SIM_PATH, "--link", link.c_str(), "--turnaround-us",
                           "0",          "--unit", "1:7",        nullptr};
  pid_t sim = 0;
  if (posix_spawn(&sim, LIR_SIM_PATH, nullptr, nullptr, const_cast<char**>(simArgs), environ) !=
      0) {
    std::fprintf(stderr, "cannot start %s\n", LIR_SIM_PATH);
    return 1;
  }
  for (int i = 0; i < 100 && access(link.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  ModBus::Port->PortName = link;
  modbus_t* ctx = modbus_new_rtu(link.c_str(), 9600, 'N', 8, 2);
  if (!ModBus::Port->Open() || !ctx || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "cannot open %s\n", link.c_str());
    kill(sim, SIGTERM);
    return 1;
  }
  modbus_set_slave(ctx, 1);

  // Rounds alternate between the two clients so that drift of the machine's pace falls on
  // both alike; the figure per client is the median of its rounds.
  constexpr int kRounds = 7;
  const int counts[] = {1, 3, 36};
  std::vector<double> ours[3], theirs[3];
  int oursFailed = 0, theirsFailed = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (int i = 0; i < 3; ++i) {
      ours[i].push_back(Ours(counts[i], n / kRounds, oursFailed));
      theirs[i].push_back(Theirs(ctx, counts[i], n / kRounds, theirsFailed));
    }
  }
  ModBus::Port->Close();
  modbus_close(ctx);
  modbus_free(ctx);
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  rmdir(dir);

  std::printf(
      "%d read transactions per size and client in %d alternating rounds, lir-sim on a "
      "pseudo-terminal, unpaced; median of the rounds\n",
      n / kRounds * kRounds, kRounds);
  std::printf("%-10s %14s %14s %8s\n", "registers", "ours (us)", "libmodbus (us)", "ratio");
  for (int i = 0; i < 3; ++i)
    std::printf("%-10d %14.1f %14.1f %8.2f\n", counts[i], Median(ours[i]), Median(theirs[i]),
                Median(ours[i]) / Median(theirs[i]));
  std::printf("failed transactions: ours %d, libmodbus %d\n", oursFailed, theirsFailed);
  return oursFailed || theirsFailed ? 1 : 0;
}
