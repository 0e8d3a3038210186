#pragma once
// The serial line: frames the master's bytes, checks them, hands them to the unit they are
// addressed to, and sends the unit's answer with the line's timing and any injected fault.
// Knows nothing of the operating system's devices: bytes come and go through a Transport.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/Simulator.h"
#include "sim/Unit.h"

namespace Sim {

class Transport {
 public:
  virtual ~Transport() = default;
  // Appends what arrives within timeoutUs (negative: no limit) to `bytes`. Returns false
  // only when the transport has failed for good.
  virtual bool Receive(std::vector<uint8_t>& bytes, int64_t timeoutUs) = 0;
  virtual bool Send(const uint8_t* data, size_t size) = 0;
  // Makes a Receive that is waiting return at once.
  virtual void Wake() = 0;
};

// Modbus CRC-16: reflected polynomial 0xA001, initial value 0xFFFF; sent low byte first.
uint16_t Crc16(const uint8_t* data, size_t size);
// Host local time and a monotonic time, as the units take them.
Now HostNow();

constexpr size_t kLogCap = 10000;

class Line {
 public:
  Line(const LineSetup& setup, const std::vector<UnitSetup>& units);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Empty when the units can be put on one line (addresses 1..255, each once).
  const std::string& SetupError() const { return setupError_; }
  bool Start(Transport* transport);
  void Stop();

  void InjectFault(FaultKind kind, uint32_t param, uint32_t count);
  void SetFaultProbability(FaultKind kind, uint32_t param, double probability);
  void ClearFaults();
  void SendRaw(const std::vector<uint8_t>& bytes);

  uint32_t RequestCount(uint8_t address) const;
  uint32_t TotalRequests() const;
  uint32_t CommandCount(uint8_t address, uint16_t code) const;
  std::vector<Frame> TakeLog();
  void ResetCounters();

  bool HasUnit(uint8_t address) const;
  bool Holding(uint8_t address, uint16_t reg, uint16_t& value) const;
  bool SetHolding(uint8_t address, uint16_t reg, uint16_t value);
  bool Input(uint8_t address, uint16_t reg, uint16_t& value) const;
  bool SetAccess(uint8_t address, bool granted);
  bool SetModel(uint8_t address, uint8_t model);
  bool SetChannelInput(uint8_t address, uint8_t channel, bool active);
  bool SetClockRegisters(uint8_t address, uint16_t r520, uint16_t r521, uint16_t r522);
  bool SetJournal(uint8_t address, uint16_t count, uint16_t latest);
  std::string Password(uint8_t address) const;

 private:
  using Clock = std::chrono::steady_clock;

  struct Fault {
    FaultKind Kind = FaultKind::None;
    uint32_t Param = 0;
  };
  // What one request leads to, worked out under the lock and sent without it.
  struct Reply {
    std::vector<uint8_t> Bytes;  // empty: nothing goes out
    std::vector<uint8_t> Noise;  // sent just before the answer
    Fault Applied;
    Unit* Mover = nullptr;  // unit that takes a new address once the answer is out
  };

  void Serve();
  void Parse();
  void OnSilence();
  void Handle(const std::vector<uint8_t>& frame);
  void Answer(const Reply& reply);
  void Emit(const Reply& reply);
  std::vector<uint8_t> Dispatch(Unit& unit, const std::vector<uint8_t>& frame);
  bool MovesToTakenAddress(const Unit& unit, const std::vector<uint8_t>& frame) const;
  Fault NextFault();
  bool Transmit(const std::vector<uint8_t>& bytes);  // false when cut short
  bool HoldOff(Clock::time_point deadline);          // false when the master spoke first
  void AutoTrip();
  void Log(bool fromMaster, const std::vector<uint8_t>& bytes);  // under mutex_
  void LogLocked(bool fromMaster, const std::vector<uint8_t>& bytes);
  Unit* Find(uint8_t address);
  const Unit* Find(uint8_t address) const;
  Clock::duration ByteTime() const;
  Clock::duration SilenceGap() const;

  const LineSetup setup_;
  std::string setupError_;

  mutable std::mutex mutex_;  // units, counters, faults, random numbers, log
  std::vector<Unit> units_;
  std::array<uint32_t, 256> requests_{};
  uint32_t total_ = 0;
  Fault nextFault_;
  uint32_t nextFaultCount_ = 0;
  Fault rateFault_;
  double rate_ = 0;
  std::mt19937 random_;
  std::deque<Frame> log_;
  Clock::time_point origin_;

  std::mutex sendMutex_;  // one writer on the line at a time
  Transport* transport_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  // Serving thread only.
  std::vector<uint8_t> buffer_;
  Clock::time_point lastByte_;
  bool discarding_ = false;  // after a bad frame, until the line falls silent
  Clock::time_point nextTrip_;
};

}  // namespace Sim
