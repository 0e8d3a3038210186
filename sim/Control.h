#pragma once
// The control protocol: one text command a line, one reply each, on top of the Simulator
// API, so a test program that can open only serial ports can steer the line.

#include <string>

#include "sim/Simulator.h"

namespace Sim {

class Control {
 public:
  explicit Control(Simulator& simulator) : sim_(simulator) {}
  // The reply to one line ("ok", a number or "error: ..."), without a line end; empty for
  // a blank line, which gets no reply.
  std::string Execute(const std::string& line);

 private:
  Simulator& sim_;
};

}  // namespace Sim
