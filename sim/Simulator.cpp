#include "sim/Simulator.h"

#include <mutex>

#include "sim/Line.h"
#include "sim/Pty.h"

namespace Sim {

struct Simulator::Port {
  mutable std::mutex Mutex;
  std::unique_ptr<Pty> Terminal;
  std::string Error;
};

Simulator::Simulator(const LineSetup& line, const std::vector<UnitSetup>& units)
    : line_(new Line(line, units)), port_(new Port) {}

Simulator::~Simulator() {
  Stop();
}

bool Simulator::Start(const std::string& linkPath) {
  std::lock_guard<std::mutex> lock(port_->Mutex);
  if (port_->Terminal) {
    port_->Error = "already started";
    return false;
  }
  if (!line_->SetupError().empty()) {
    port_->Error = line_->SetupError();
    return false;
  }
  std::unique_ptr<Pty> pty(new Pty);
  std::string error;
  if (!pty->Open(error) || (!linkPath.empty() && !pty->Link(linkPath, error))) {
    port_->Error = error;
    return false;
  }
  if (!line_->Start(pty.get())) {
    port_->Error = "the serving thread did not start";
    return false;
  }
  port_->Terminal = std::move(pty);
  port_->Error.clear();
  return true;
}

void Simulator::Stop() {
  std::lock_guard<std::mutex> lock(port_->Mutex);
  line_->Stop();
  port_->Terminal.reset();
}

std::string Simulator::TerminalPath() const {
  std::lock_guard<std::mutex> lock(port_->Mutex);
  return port_->Terminal ? port_->Terminal->TerminalPath() : std::string();
}

std::string Simulator::LastError() const {
  std::lock_guard<std::mutex> lock(port_->Mutex);
  return port_->Error;
}

void Simulator::InjectFault(FaultKind kind, uint32_t param, uint32_t count) {
  line_->InjectFault(kind, param, count);
}

void Simulator::SetFaultProbability(FaultKind kind, uint32_t param, double probability) {
  line_->SetFaultProbability(kind, param, probability);
}

void Simulator::ClearFaults() {
  line_->ClearFaults();
}
void Simulator::SendRaw(const std::vector<uint8_t>& bytes) {
  line_->SendRaw(bytes);
}
uint32_t Simulator::RequestCount(uint8_t address) const {
  return line_->RequestCount(address);
}
uint32_t Simulator::TotalRequests() const {
  return line_->TotalRequests();
}

uint32_t Simulator::CommandCount(uint8_t address, uint16_t code) const {
  return line_->CommandCount(address, code);
}

std::vector<Frame> Simulator::TakeLog() {
  return line_->TakeLog();
}
void Simulator::ResetCounters() {
  line_->ResetCounters();
}
bool Simulator::HasUnit(uint8_t address) const {
  return line_->HasUnit(address);
}

bool Simulator::Holding(uint8_t address, uint16_t reg, uint16_t& value) const {
  return line_->Holding(address, reg, value);
}

bool Simulator::SetHolding(uint8_t address, uint16_t reg, uint16_t value) {
  return line_->SetHolding(address, reg, value);
}

bool Simulator::Input(uint8_t address, uint16_t reg, uint16_t& value) const {
  return line_->Input(address, reg, value);
}

bool Simulator::SetAccess(uint8_t address, bool granted) {
  return line_->SetAccess(address, granted);
}

bool Simulator::SetModel(uint8_t address, uint8_t model) {
  return line_->SetModel(address, model);
}

bool Simulator::SetChannelInput(uint8_t address, uint8_t channel, bool active) {
  return line_->SetChannelInput(address, channel, active);
}

bool Simulator::SetClockRegisters(uint8_t address, uint16_t r520, uint16_t r521, uint16_t r522) {
  return line_->SetClockRegisters(address, r520, r521, r522);
}

bool Simulator::SetJournal(uint8_t address, uint16_t count, uint16_t latest) {
  return line_->SetJournal(address, count, latest);
}

std::string Simulator::Password(uint8_t address) const {
  return line_->Password(address);
}

}  // namespace Sim
