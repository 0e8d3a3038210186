#pragma once
// The command line of lir-sim, and the small text conversions it shares with the control
// port. Pure: no I/O.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Simulator.h"

namespace Sim {

struct Options {
  std::string Link = "COM2";
  std::vector<UnitSetup> Units;  // one ЛИР-12М at address 1 when none is given
  LineSetup Line;
  FaultKind Fault = FaultKind::None;
  uint32_t FaultParam = 0;
  uint32_t FaultNext = 0;  // > 0: the next N requests
  double FaultRate = 0;    // else each request with this probability
  std::string Control;     // link of the control terminal, empty for none
  int32_t Tcp = -1;        // also serve the line on this TCP port of 127.0.0.1 (0: any); -1 not
  bool Verbose = false;
  bool Help = false;
};

// Reads the arguments that follow the program name. On false, `error` says what is wrong.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);
std::string HelpText();

bool ParseFaultKind(const std::string& name, FaultKind& kind);
// Default parameter of a fault kind; false when the kind needs one given.
bool DefaultFaultParam(FaultKind kind, uint32_t& param);
// A decimal number, or hexadecimal after 0x, up to `max`.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value);
bool ParseProbability(const std::string& text, double& value);

// Password text as typed (UTF-8, Cyrillic letters in either case, digits, '_') to the 8
// cp1251 characters a unit keeps; false when it is not a valid password.
bool PasswordFromText(const std::string& utf8, std::string& cp1251, std::string& error);
std::string Cp1251ToUtf8(const std::string& text);

}  // namespace Sim
