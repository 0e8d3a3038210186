#pragma once
// The far end of a pseudo-terminal for tests: a scripted device that answers each request
// frame with whatever the test's responder returns, in chunks with pauses between them.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Scripted {

using Bytes = std::vector<uint8_t>;

struct Chunk {
  Bytes Data;
  int DelayMs = 0;  // pause before this chunk
};
using Responder = std::function<std::vector<Chunk>(const Bytes& request)>;

class PtyPeer {
 public:
  PtyPeer();  // opens the pair; the terminal is raw
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& TerminalPath() const { return path_; }
  int MasterFd() const { return master_; }

  // Starts answering: every complete request frame goes to the responder.
  void Serve(Responder responder);
  void StopServing();
  std::vector<Bytes> Requests();  // request frames seen so far

  // Direct use without a serving thread.
  void Send(const Bytes& bytes);
  Bytes Receive(size_t count, int timeoutMs);

  // Closes the far end, as when a cable or adapter goes away.
  void CloseMaster();

 private:
  void Run();

  int master_ = -1;
  int slave_ = -1;  // kept open so the master never sees a hang-up between opens
  std::string path_;
  Responder responder_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Bytes> requests_;
};

// Modbus helpers for building scripted answers.
uint16_t Crc(const Bytes& bytes);
Bytes WithCrc(Bytes bytes);
Bytes ReadAnswer(uint8_t address, uint8_t function, const std::vector<uint16_t>& regs);
Bytes Exception(uint8_t address, uint8_t function, uint8_t code);
// The 8-byte acknowledge of a write: the first six bytes of the request with a new CRC.
Bytes Echo(const Bytes& request);
std::vector<uint16_t> RegistersOf(const Bytes& writeMultiple);  // values of a function 16

double Elapsed(std::chrono::steady_clock::time_point since);  // milliseconds

}  // namespace Scripted
