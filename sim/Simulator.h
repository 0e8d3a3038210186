#pragma once
// A line of simulated ЛИР units behind a pseudo-terminal. The far end of the terminal is
// served by a thread of this object; everything public here may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Sim {

// One unit on the line. Model is any byte: 5, 6 and 7 are the three known models; any
// other code is answered as it is, so the tool's handling of unknown models can be shown.
struct UnitSetup {
  uint8_t Address = 1;
  uint8_t Model = 7;
  std::string Password = "00000000";  // 8 characters, code page 1251 bytes
  bool AccessGranted = true;
  uint16_t JournalCount = 0;   // records prefilled at start, 0..1000
  uint16_t JournalLatest = 0;  // number of the latest record, 0..1000
  uint16_t Inputs = 0;         // channel inputs active at start, bit n = channel n + 1
};

enum class FaultKind {
  None,
  Silent,        // no answer at all
  Corrupt,       // one byte of the answer flipped, CRC left as it was
  Exception,     // an exception answer (code 4) instead of the normal one
  Split,         // the answer in two halves, Param milliseconds apart
  Late,          // the answer Param milliseconds later than usual
  Noise,         // Param random bytes on the line just before the answer
  OtherAddress,  // a correct answer that bears the address Param (CRC recomputed)
  Truncated,     // the answer without its last Param bytes, as from a unit cut off mid-frame
};

struct LineSetup {
  uint32_t Baud = 9600;          // used for pacing and for the frame gap
  bool Pace = false;             // send answers at 11 bits a byte at Baud
  uint32_t TurnaroundUs = 2000;  // pause between the end of a request and its answer
  uint32_t Seed = 1;
  uint32_t TripPeriodMs = 0;  // 0: inputs change only on command; else a random channel
                              // of a random unit toggles its input every period
};

struct Frame {
  double Time;  // seconds since Start
  bool FromMaster;
  std::vector<uint8_t> Bytes;
};

class Line;

class Simulator {
 public:
  Simulator(const LineSetup& line, const std::vector<UnitSetup>& units);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens a fresh pseudo-terminal pair, links its terminal to linkPath when that is not
  // empty (replacing an existing link, never a regular file), and starts serving.
  bool Start(const std::string& linkPath = std::string());
  void Stop();
  std::string TerminalPath() const;  // e.g. /dev/pts/7
  std::string LastError() const;

  // Faults. The next `count` requests addressed to a unit get the fault; or, with a
  // probability, each such request does.
  void InjectFault(FaultKind kind, uint32_t param, uint32_t count);
  void SetFaultProbability(FaultKind kind, uint32_t param, double probability);
  void ClearFaults();
  // Bytes written onto the line now, outside any transaction.
  void SendRaw(const std::vector<uint8_t>& bytes);

  // Observation.
  uint32_t RequestCount(uint8_t address) const;  // good frames addressed to that unit
  uint32_t TotalRequests() const;                // good frames to any address, 0 included
  uint32_t CommandCount(uint8_t address, uint16_t code) const;  // register 526 writes
  std::vector<Frame> TakeLog();                                 // frames since the last call
  void ResetCounters();

  // The units' state, bypassing every device rule (for tests and the control port).
  bool HasUnit(uint8_t address) const;
  bool Holding(uint8_t address, uint16_t reg, uint16_t& value) const;
  bool SetHolding(uint8_t address, uint16_t reg, uint16_t value);
  bool Input(uint8_t address, uint16_t reg, uint16_t& value) const;
  bool SetAccess(uint8_t address, bool granted);
  bool SetModel(uint8_t address, uint8_t model);
  bool SetChannelInput(uint8_t address, uint8_t channel, bool active);  // channel from 0
  bool SetClockRegisters(uint8_t address, uint16_t r520, uint16_t r521, uint16_t r522);
  bool SetJournal(uint8_t address, uint16_t count, uint16_t latest);
  std::string Password(uint8_t address) const;

 private:
  struct Port;  // the pseudo-terminal, and what Start and Stop share
  std::unique_ptr<Line> line_;
  std::unique_ptr<Port> port_;
};

}  // namespace Sim
