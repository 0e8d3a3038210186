#pragma once
// The line the Windows tests run on: Wine's COM2 is the terminal of a lir-sim running
// natively, COM3 its control port. scripts/test-windows starts it with these units.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "link/ModBus.h"

namespace Win32Line {

constexpr uint8_t k4M = 1;      // ЛИР-4М
constexpr uint8_t k8M = 2;      // ЛИР-8М, a journal of 5 records, the newest number 2
constexpr uint8_t kLocked = 3;  // ЛИР-12М, access denied, password ЛИР12345

// Wine stands in for Windows: a few things it cannot show on a pseudo-terminal.
bool UnderWine();

// The simulator's control port: one command a line, one reply line.
class Control {
 public:
  bool Open(const char* name = "COM3");
  void Close();
  std::string Ask(const std::string& command);
  uint32_t Number(const std::string& command);  // a reply that is a number

 private:
  Serial::Handle handle_ = Serial::InvalidHandle;
};

// ModBus::Port open on COM2, the control port open, faults cleared and counters at zero.
class LineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Control control_;
};

double MillisecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace Win32Line
