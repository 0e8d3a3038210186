#include "sim/Control.h"

#include <sstream>
#include <vector>

#include "sim/Options.h"

namespace Sim {

namespace {

const char kOk[] = "ok";

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;)
    words.push_back(w);
  return words;
}

}  // namespace

std::string Control::Execute(const std::string& line) {
  const std::vector<std::string> w = Words(line);
  if (w.empty()) return std::string();
  const std::string& cmd = w[0];
  std::vector<uint64_t> n(w.size(), 0);
  // Argument i as a number up to max; reports which one is wrong.
  std::string error;
  auto num = [&](size_t i, uint64_t max) {
    if (!error.empty()) return false;
    if (!ParseNumber(w[i], max, n[i])) error = "error: bad number '" + w[i] + "'";
    return error.empty();
  };
  auto arity = [&](size_t count) {
    if (w.size() != count + 1)
      error = "error: " + cmd + " takes " + std::to_string(count) + " argument" +
              (count == 1 ? "" : "s");
    return error.empty();
  };
  auto done = [&](bool ok) { return ok ? std::string(kOk) : std::string("error: no such unit"); };
  auto unit = [&]() { return static_cast<uint8_t>(n[1]); };

  if (cmd == "fault" || cmd == "fault-rate") {
    if (!arity(3)) return error;
    FaultKind kind;
    if (!ParseFaultKind(w[1], kind)) return "error: unknown fault kind '" + w[1] + "'";
    if (!num(2, 0xFFFFFFFFu)) return error;
    if (cmd == "fault") {
      if (!num(3, 0xFFFFFFFFu)) return error;
      sim_.InjectFault(kind, static_cast<uint32_t>(n[2]), static_cast<uint32_t>(n[3]));
    } else {
      double p = 0;
      if (!ParseProbability(w[3], p)) return "error: bad probability '" + w[3] + "'";
      sim_.SetFaultProbability(kind, static_cast<uint32_t>(n[2]), p);
    }
    return kOk;
  }
  if (cmd == "send") {
    // Stray bytes on the line, e.g. for a purge to throw away.
    if (w.size() < 2) return "error: send takes at least 1 argument";
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < w.size(); ++i) {
      if (!num(i, 0xFF)) return error;
      bytes.push_back(static_cast<uint8_t>(n[i]));
    }
    sim_.SendRaw(bytes);
    return kOk;
  }
  if (cmd == "clear-faults" || cmd == "reset-counters" || cmd == "total") {
    if (!arity(0)) return error;
    if (cmd == "total") return std::to_string(sim_.TotalRequests());
    if (cmd == "clear-faults") sim_.ClearFaults();
    if (cmd == "reset-counters") sim_.ResetCounters();
    return kOk;
  }
  if (cmd == "count") {
    if (!arity(1) || !num(1, 255)) return error;
    return std::to_string(sim_.RequestCount(unit()));
  }
  if (cmd == "password") {
    if (!arity(1) || !num(1, 255)) return error;
    if (!sim_.HasUnit(unit())) return done(false);
    return Cp1251ToUtf8(sim_.Password(unit()));
  }
  if (cmd == "commands") {
    if (!arity(2) || !num(1, 255) || !num(2, 0xFFFF)) return error;
    return std::to_string(sim_.CommandCount(unit(), static_cast<uint16_t>(n[2])));
  }
  if (cmd == "access" || cmd == "model") {
    if (!arity(2) || !num(1, 255) || !num(2, cmd == "access" ? 1 : 255)) return error;
    return done(cmd == "access" ? sim_.SetAccess(unit(), n[2] != 0)
                                : sim_.SetModel(unit(), static_cast<uint8_t>(n[2])));
  }
  if (cmd == "input") {
    if (!arity(3) || !num(1, 255) || !num(2, 16) || !num(3, 1)) return error;
    if (!sim_.HasUnit(unit())) return done(false);
    if (n[2] == 0 || !sim_.SetChannelInput(unit(), static_cast<uint8_t>(n[2] - 1), n[3] != 0)) {
      return "error: no channel " + w[2] + " on unit " + w[1];
    }
    return kOk;
  }
  if (cmd == "holding" || cmd == "input-reg") {
    if (!arity(2) || !num(1, 255) || !num(2, 0xFFFF)) return error;
    if (!sim_.HasUnit(unit())) return done(false);
    uint16_t value = 0;
    const uint16_t reg = static_cast<uint16_t>(n[2]);
    const bool ok =
        cmd == "holding" ? sim_.Holding(unit(), reg, value) : sim_.Input(unit(), reg, value);
    return ok ? std::to_string(value) : "error: no register " + w[2];
  }
  if (cmd == "set-holding") {
    if (!arity(3) || !num(1, 255) || !num(2, 0xFFFF) || !num(3, 0xFFFF)) return error;
    if (!sim_.HasUnit(unit())) return done(false);
    if (!sim_.SetHolding(unit(), static_cast<uint16_t>(n[2]), static_cast<uint16_t>(n[3]))) {
      return "error: register " + w[2] + " does not take " + w[3];
    }
    return kOk;
  }
  if (cmd == "clock-regs") {
    if (!arity(4) || !num(1, 255) || !num(2, 0xFFFF) || !num(3, 0xFFFF) || !num(4, 0xFFFF)) {
      return error;
    }
    return done(sim_.SetClockRegisters(unit(), static_cast<uint16_t>(n[2]),
                                       static_cast<uint16_t>(n[3]), static_cast<uint16_t>(n[4])));
  }
  if (cmd == "journal") {
    if (!arity(3) || !num(1, 255) || !num(2, 1000) || !num(3, 1000)) return error;
    return done(sim_.SetJournal(unit(), static_cast<uint16_t>(n[2]), static_cast<uint16_t>(n[3])));
  }
  return "error: unknown command '" + cmd + "'";
}

}  // namespace Sim
