// Every figure of docs/performance.md in one run, each beside what it is measured against:
// libmodbus's client, the line's own floor, the bare loop of access functions under a window,
// an empty window. Ratios, so that a busy machine still gives a true answer.
// Usage: lir-bench [--quick]

#include <fcntl.h>
#include <modbus/modbus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/LIR.h"
#include "link/Traffic.h"
#include "sim/Simulator.h"
#include "ui/dialogs/Journal.h"
#include "ui/dialogs/Progress.h"
#include "ui/main/Main.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Row(const char* figure, double ours, double reference, const char* unit, const char* target) {
  std::printf("%-44s %11.4g %11.4g %-5s %7.3f  %s\n", figure, ours, reference, unit,
              ours / reference, target);
  std::fflush(stdout);
}

// Alternating rounds of the two, so that drift of the machine's pace falls on both alike; the
// figure is the median of the per-round ratios, the times those of the median round.
void Versus(const char* figure, int rounds, const std::function<double()>& ours,
            const std::function<double()>& reference, const char* unit, const char* target,
            double scale = 1) {
  std::vector<double> a, b, ratios;
  for (int r = 0; r < rounds; ++r) {
    a.push_back(ours() * scale);
    b.push_back(reference() * scale);
    ratios.push_back(a.back() / b.back());
  }
  const size_t median = std::find(ratios.begin(), ratios.end(), Median(ratios)) - ratios.begin();
  Row(figure, a[median], b[median], unit, target);
}

pid_t SpawnSim(const std::string& link, const std::vector<std::string>& options) {
  std::vector<std::string> args = {LIR_SIM_PATH, "--link", link};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;  // it prints its terminal's name
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, LIR_SIM_PATH, &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return 0;
  for (int i = 0; i < 250 && access(link.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return pid;
}

void StopSim(pid_t pid) {
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

bool OpenPort(const std::string& name) {
  ModBus::Port->Close();
  ModBus::Port->PortName = name;
  return ModBus::Port->Open();
}

int failures = 0;

void Libmodbus(const std::string& link, int n) {
  const pid_t sim = SpawnSim(link, {"--turnaround-us", "0", "--unit", "1:7"});
  modbus_t* ctx = modbus_new_rtu(link.c_str(), 9600, 'N', 8, 2);
  if (!sim || !OpenPort(link) || !ctx || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "cannot open %s\n", link.c_str());
    ++failures;
    return;
  }
  modbus_set_slave(ctx, 1);
  for (int count : {1, 3, 36}) {
    char figure[64];
    std::snprintf(figure, sizeof figure, "read of %d registers vs libmodbus (us)", count);
    Versus(
        figure, 7,
        [&] {
          ModBus::RegisterArray regs;
          const auto start = Clock::now();
          for (int i = 0; i < n; ++i)
            failures += !ModBus::ReadHoldingRegisters(1, 0, uint16_t(count), regs);
          return Seconds(start) / n;
        },
        [&] {
          uint16_t regs[125];
          const auto start = Clock::now();
          for (int i = 0; i < n; ++i)
            failures += modbus_read_registers(ctx, 0, count, regs) != count;
          return Seconds(start) / n;
        },
        "us", "<= 1.05", 1e6);
  }
  ModBus::Port->Close();
  modbus_close(ctx);
  modbus_free(ctx);
  StopSim(sim);
}

// The line's limit: at 9600 baud with a turnaround of 3.5 characters, the pseudo-terminal paces
// only the answers, so the floor is their bytes on the wire plus the turnaround.
void PacedJournal(const std::string& link, int records) {
  const double turnaround = 3.5 * 11 / 9600, byte = 11.0 / 9600;
  const pid_t sim =
      SpawnSim(link, {"--pace", "--turnaround-us", "4010", "--unit", "1:7,journal=1000"});
  if (!sim || !OpenPort(link)) {
    ++failures;
    return;
  }
  LIR::JournalRecord rec;
  const auto start = Clock::now();
  for (int k = 0; k < records; ++k)
    failures += !LIR::ReadJournalRecord(1, uint16_t(1000 - k), rec);
  const double measured = Seconds(start);
  Row("paced journal, 13-byte answers, vs floor (s)", measured, records * (13 * byte + turnaround),
      "s", "<= 1.02");
  std::printf("%-44s %11.4g   (a real line, requests too: 21 bytes + turnaround each)\n",
              "  the same on a real line (s)", records * (21 * byte + turnaround));
  ModBus::Port->Close();
  StopSim(sim);
}

// A line whose far end has gone: every call fails at once.
void Unplugged(Sim::Simulator& sim) {
  sim.Stop();
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i)
    failures += LIR::CmdKvitir(1);
  const double wall = Seconds(start);
  getrusage(RUSAGE_SELF, &after);
  const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                     (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                     (after.ru_utime.tv_usec - before.ru_utime.tv_usec) * 1e-6 +
                     (after.ru_stime.tv_usec - before.ru_stime.tv_usec) * 1e-6;
  std::printf("%-44s %11.4g ms per call, 100 calls %.3g ms of CPU\n", "call on an unplugged line",
              wall * 10, cpu * 1e3);
}

// The event loop as the program runs it (QTest::qWait would sleep between its rounds).
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// A full scan of a line with no unit through the main window; in a quick run the scan is
// cancelled after 32 addresses.
void SilentScan(bool quick) {
  int probed = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* p = qobject_cast<TProgressForm*>(w); p && p->isVisible()) {
        probed = p->Label1->text().section(' ', -1).toInt() + 1;
        if (quick && probed >= 32) p->btnCancel->click();
      }
  });
  watch.start(5);
  const auto start = Clock::now();
  MainForm->actNetScan->trigger();
  const double measured = Seconds(start);
  Row("silent scan through the main window (s)", measured, (quick ? probed : 256) * 0.270, "s",
      "<= 1.02");
}

void Windows(Sim::Simulator& sim, bool quick) {
  const int records = quick ? 200 : 1000;
  Main::SelectedAddress = 1;
  Main::SelectedModel = LIR::Model12M;
  sim.SetJournal(1, uint16_t(records), uint16_t(records));
  Versus(
      "journal dialog vs bare ReadJournalRecord (s)", 3,
      [&] {
        const auto start = Clock::now();
        JournalForm->Init(1);
        failures += JournalForm->Journal->rowCount() != records;
        return Seconds(start);
      },
      [&] {
        LIR::JournalRecord rec;
        uint16_t latest, count;
        const auto start = Clock::now();
        failures += !LIR::ReadJournalInfo(1, latest, count);
        for (int k = records; k > 0; --k)
          failures += !LIR::ReadJournalRecord(1, uint16_t(k), rec);
        return Seconds(start);
      },
      "s", "<= 1.10");
  MainForm->EnableLIRControls();
  const int reads = quick ? 200 : 1000;
  Versus(
      "channel table vs its two bare reads (ms)", 5,
      [&] {
        const auto start = Clock::now();
        for (int i = 0; i < reads; ++i)
          MainForm->actGetChannelsParamExecute();
        return Seconds(start) / reads;
      },
      [&] {
        uint16_t state;
        LIR::ChannelParams params;
        const auto start = Clock::now();
        for (int i = 0; i < reads; ++i)
          failures +=
              !LIR::ReadChannelsState(1, state) || !LIR::ReadChannelsParam(1, 0, 12, params);
        return Seconds(start) / reads;
      },
      "ms", "", 1e3);
  const int holdMs = quick ? 300 : 1000;
  Versus(
      "held Квитир. vs bare CmdKvitir (per s)", 3,
      [&] {
        const uint32_t before = sim.CommandCount(1, LIR::CodeKvitir);
        QTest::mousePress(MainForm->btnKvitir, Qt::LeftButton);
        Pump(holdMs);
        QTest::mouseRelease(MainForm->btnKvitir, Qt::LeftButton);
        return (sim.CommandCount(1, LIR::CodeKvitir) - before) * 1000.0 / holdMs;
      },
      [&] {
        int sent = 0;
        for (const auto start = Clock::now(); Seconds(start) * 1000 < holdMs; ++sent)
          failures += !LIR::CmdKvitir(1);
        return sent * 1000.0 / holdMs;
      },
      "/s", "one a tick of 1 ms");
}

// One 13-byte frame recorded and drawn, the ring full and wrapped against the ring empty
// (cleared before each: 13 cells to draw) and against a ring holding one boxful (as many cells
// to draw as when full); the monitor shown.
void Traffic(bool quick) {
  TrafficForm->show();
  failures += !QTest::qWaitForWindowExposed(TrafficForm);
  const int frames = quick ? 500 : 3000;
  const uint8_t frame[13] = {1, 4, 8, 0x05, 0x03, 0x18, 0x0E, 0x09, 0x1E, 0x00, 0x85, 0x12, 0x34};
  enum Ring { Empty, Boxful, Full };
  const auto time = [&](Ring ring) {
    std::vector<uint8_t> fill(65535, 0x55);
    TrafficForm->miClearClick();
    if (ring == Full) TrafficForm->AddBytes(fill.data(), 65535, ModBus::Sent);
    double spent = 0;
    for (int i = 0; i < frames; ++i) {
      if (ring != Full) TrafficForm->miClearClick();
      if (ring == Boxful) TrafficForm->AddBytes(fill.data(), 144, ModBus::Sent);
      const auto start = Clock::now();
      TrafficForm->AddBytes(frame, 13, ModBus::Received);
      spent += Seconds(start);
    }
    failures += (ring == Full) != TrafficForm->Wrapped;
    return spent / frames;
  };
  Versus(
      "traffic frame, ring full vs empty (us)", 5, [&] { return time(Full); },
      [&] { return time(Empty); }, "us", "<= 1.2", 1e6);
  Versus(
      "traffic frame, ring full vs one boxful (us)", 5, [&] { return time(Full); },
      [&] { return time(Boxful); }, "us", "<= 1.2", 1e6);
  std::printf("%-44s %11.0f frames a second, ring full\n", "", 1 / time(Full));
  TrafficForm->hide();
}

// Process start to the main window shown, and peak memory, beside an empty window built alike.
struct Start {
  double Seconds;
  long PeakKib;
};
Start StartUp(const char* program) {
  int out[2];
  if (pipe(out) != 0) return {0, 0};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  char* argv[] = {const_cast<char*>(program), nullptr};
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) return {0, 0};
  close(out[1]);
  char line[64] = {};
  const bool shown = read(out[0], line, sizeof line - 1) > 0;
  const double seconds = ::Seconds(start);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  posix_spawn_file_actions_destroy(&actions);
  long peak = 0;
  failures += !shown || std::sscanf(line, "shown %ld", &peak) != 1;
  return {seconds, peak};
}

void StartUps() {
  std::vector<double> times, peaks;
  Start tool{}, empty{};
  std::vector<double> ratios;
  for (int i = 0; i < 5; ++i) {
    tool = StartUp(LIR_STARTUP_PATH);
    empty = StartUp(LIR_STARTUP_EMPTY_PATH);
    ratios.push_back(tool.Seconds / empty.Seconds);
    peaks.push_back(double(tool.PeakKib) / empty.PeakKib);
  }
  const double ratio = Median(ratios);
  std::printf("%-44s %11.4g %11.4g %-5s %7.3f\n", "start-up to main window vs empty window (s)",
              tool.Seconds, empty.Seconds, "s", ratio);
  std::printf("%-44s %11ld %11ld %-5s %7.3f\n", "  peak memory (KiB)", tool.PeakKib, empty.PeakKib,
              "KiB", Median(peaks));
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  setvbuf(stdout, nullptr, _IOLBF, 0);
  char pattern[] = "/tmp/lirbenchXXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string folder = pattern;
  std::filesystem::create_directory(folder + "/runtime");
  std::filesystem::permissions(folder + "/runtime", std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (folder + "/runtime").c_str(), 0);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QT_LOGGING_RULES", "default.warning=false", 0);  // what offscreen cannot do
  std::filesystem::current_path(folder);

  std::printf("%-44s %11s %11s %-5s %7s  %s\n", "figure", "ours", "against", "unit", "ratio",
              "target");
  Libmodbus(folder + "/bench", quick ? 300 : 1000);
  PacedJournal(folder + "/paced", quick ? 100 : 1000);

  QApplication app(argc, argv);
  ModBus::Port->PortName = "COM2";  // as at the program's start
  {
    Sim::Simulator silent(Sim::LineSetup{}, {});
    if (!silent.Start(folder + "/COM2")) return 1;
    CreateForms();
    SilentScan(quick);
  }
  Sim::Simulator line(Sim::LineSetup{9600, false, 0}, {{1, LIR::Model12M}});
  if (!line.Start(folder + "/COM2")) return 1;
  MainForm->actPortConnection->trigger();
  Windows(line, quick);
  Traffic(quick);
  ModBus::Port->Close();  // the started tool opens the line itself
  StartUps();
  failures += !OpenPort(folder + "/COM2");
  Unplugged(line);
  MainForm->close();

  std::filesystem::current_path("/");
  std::filesystem::remove_all(folder);
  std::printf("failed transactions or checks: %d\n", failures);
  return failures ? 1 : 0;
}
