// lir-sim: ЛИР units on a pseudo-terminal, for the service tool and its tests.

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/Control.h"
#include "sim/DeviceServer.h"
#include "sim/Options.h"
#include "sim/Pty.h"
#include "sim/Simulator.h"

namespace {

// Atomic, not volatile: a signal may land on any thread not blocking it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

void OnSignal(int) {
  stopRequested = true;
}

void CatchSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a signal ends the wait at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// The serving threads inherit a mask that keeps SIGINT and SIGTERM for the main loop.
sigset_t BlockStopSignals() {
  sigset_t stop, old;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, &old);
  return old;
}

void PrintFrames(Sim::Simulator& sim) {
  for (const Sim::Frame& f : sim.TakeLog()) {
    std::fprintf(stderr, "%12.6f %s", f.Time, f.FromMaster ? "master>" : "<units ");
    for (uint8_t b : f.Bytes)
      std::fprintf(stderr, " %02X", b);
    std::fputc('\n', stderr);
  }
}

// Runs the control protocol on what arrived; a line is cut at LF, a CR before it dropped.
void ServeControl(Sim::Pty& port, Sim::Control& control, std::string& pending,
                  const std::vector<uint8_t>& bytes) {
  const size_t kMaxLine = 4096;
  for (uint8_t b : bytes) {
    if (b != '\n') {
      if (pending.size() < kMaxLine) pending.push_back(static_cast<char>(b));
      continue;
    }
    if (!pending.empty() && pending.back() == '\r') pending.pop_back();
    std::string reply = control.Execute(pending);
    pending.clear();
    if (reply.empty()) continue;
    reply += '\n';
    port.Send(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  }
}

}  // namespace

int main(int argc, char** argv) {
  Sim::Options options;
  std::string error;
  if (!Sim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "lir-sim: %s\nTry 'lir-sim --help'.\n", error.c_str());
    return 2;
  }
  if (options.Help) {
    std::fputs(Sim::HelpText().c_str(), stdout);
    return 0;
  }
  CatchSignals();
  const sigset_t unblocked = BlockStopSignals();

  Sim::Simulator sim(options.Line, options.Units);
  if (options.FaultNext > 0) {
    sim.InjectFault(options.Fault, options.FaultParam, options.FaultNext);
  } else if (options.Fault != Sim::FaultKind::None) {
    sim.SetFaultProbability(options.Fault, options.FaultParam, options.FaultRate);
  }
  if (!sim.Start(options.Link)) {
    std::fprintf(stderr, "lir-sim: %s\n", sim.LastError().c_str());
    return 1;
  }
  std::printf("terminal %s\nlink %s\n", sim.TerminalPath().c_str(), options.Link.c_str());
  Sim::DeviceServer server;
  if (options.Tcp >= 0) {
    if (!server.Start(sim.TerminalPath(), static_cast<uint16_t>(options.Tcp), error)) {
      std::fprintf(stderr, "lir-sim: %s\n", error.c_str());
      return 1;
    }
    std::printf("tcp 127.0.0.1:%u\n", server.Port());
  }

  Sim::Pty controlPort;
  Sim::Control control(sim);
  const bool controlled = !options.Control.empty();
  if (controlled) {
    if (!controlPort.Open(error) || !controlPort.Link(options.Control, error)) {
      std::fprintf(stderr, "lir-sim: control port: %s\n", error.c_str());
      return 1;
    }
    std::printf("control %s\ncontrol-link %s\n", controlPort.TerminalPath().c_str(),
                options.Control.c_str());
  }
  std::fflush(stdout);
  pthread_sigmask(SIG_SETMASK, &unblocked, nullptr);

  std::string pending;
  std::vector<uint8_t> bytes;
  while (!stopRequested) {
    bytes.clear();
    if (controlled) {
      controlPort.Receive(bytes, 50000);
      ServeControl(controlPort, control, pending, bytes);
    } else {
      poll(nullptr, 0, 50);
    }
    if (options.Verbose) PrintFrames(sim);
  }
  server.Stop();
  sim.Stop();
  controlPort.Close();
  if (options.Verbose) PrintFrames(sim);
  return 0;
}
