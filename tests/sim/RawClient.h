#pragma once
// A bare serial client for the simulator's terminal: raw bytes in and out, with its own
// table-driven CRC so the simulator's CRC is not checked against itself.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Simulator.h"

namespace SimTest {

using Bytes = std::vector<uint8_t>;

uint16_t TableCrc(const uint8_t* data, size_t size);
Bytes WithCrc(Bytes frame);
bool CrcOk(const Bytes& frame);

Bytes ReadRequest(uint8_t address, uint8_t function, uint16_t first, uint16_t count);
Bytes WriteSingle(uint8_t address, uint16_t reg, uint16_t value);
Bytes WriteMultiple(uint8_t address, uint16_t first, const std::vector<uint16_t>& values);
// The registers carried by an answer to function 3 or 4.
std::vector<uint16_t> Registers(const Bytes& answer);

class RawClient {
 public:
  explicit RawClient(const std::string& path);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Write(const Bytes& bytes);
  // Reads until `count` bytes have arrived or `timeoutMs` has passed.
  Bytes Read(size_t count, int timeoutMs);
  // Reads whatever arrives until nothing has come for `quietMs`.
  Bytes ReadUntilQuiet(int quietMs);
  Bytes Transact(const Bytes& request, size_t answerSize, int timeoutMs = 1000);

 private:
  int fd_ = -1;
};

// A simulator serving a fresh terminal, with a raw client on that terminal.
struct Bench {
  explicit Bench(const std::vector<Sim::UnitSetup>& units = {Sim::UnitSetup()},
                 const Sim::LineSetup& line = Sim::LineSetup());
  bool Ready() const { return started && client->IsOpen(); }

  Sim::Simulator sim;
  bool started = false;
  std::unique_ptr<RawClient> client;
};

Sim::UnitSetup UnitAt(uint8_t address, uint8_t model = 7);

}  // namespace SimTest
