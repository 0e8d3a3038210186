#include "Win32Line.h"

#include <windows.h>

namespace Win32Line {

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool Control::Open(const char* name) {
  handle_ = Serial::OpenPort(name);
  if (handle_ == Serial::InvalidHandle) return false;
  Serial::CommTimeouts timeouts{};
  timeouts.ReadIntervalTimeout = 500;
  timeouts.ReadTotalTimeoutConstant = 2000;
  timeouts.WriteTotalTimeoutConstant = 1000;
  return Serial::SetTimeouts(handle_, timeouts);
}

void Control::Close() {
  if (handle_ != Serial::InvalidHandle) Serial::ClosePort(handle_);
  handle_ = Serial::InvalidHandle;
}

std::string Control::Ask(const std::string& command) {
  // Not through TPort: its purge after the write could throw the reply away.
  const std::string line = command + "\n";
  uint32_t written = 0;
  Serial::WriteBytes(handle_, line.data(), static_cast<uint32_t>(line.size()), written);
  std::string reply;
  for (char c = 0; reply.size() < 200;) {
    uint32_t read = 0;
    if (!Serial::ReadBytes(handle_, &c, 1, read) || read == 0 || c == '\n') break;
    reply += c;
  }
  return reply;
}

uint32_t Control::Number(const std::string& command) {
  const std::string reply = Ask(command);
  EXPECT_FALSE(reply.empty() || reply.rfind("error", 0) == 0) << command << ": " << reply;
  return static_cast<uint32_t>(std::strtoul(reply.c_str(), nullptr, 0));
}

void LineTest::SetUp() {
  ASSERT_TRUE(control_.Open()) << "COM3 (the simulator's control port) does not open";
  ASSERT_EQ(control_.Ask("clear-faults"), "ok");
  ASSERT_EQ(control_.Ask("reset-counters"), "ok");
  // Each test starts from the line as the script set it up, whatever the last one did.
  ASSERT_EQ(control_.Ask("access 1 1"), "ok");
  ASSERT_EQ(control_.Ask("access 2 1"), "ok");
  ASSERT_EQ(control_.Ask("access 3 0"), "ok");
  ModBus::Port->PortName = "COM2";
  ASSERT_TRUE(ModBus::Port->Open()) << "COM2 (the simulated line) does not open";
}

void LineTest::TearDown() {
  ModBus::Port->Close();
  control_.Ask("clear-faults");
  control_.Close();
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace Win32Line
