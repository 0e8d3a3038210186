#pragma once
// A serial device server in front of the simulated line: a TCP port on 127.0.0.1 whose client
// talks to the line in raw mode, as an Ethernet-to-RS-485 converter carries RTU. One client at
// a time: another is closed at once; when the client goes, the next may come. The server
// holds the line's terminal only while a client is connected, so in between a program may
// open the terminal itself. If the terminal goes (the simulator stopped), the client is
// dropped, as a server that loses its serial side would.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace Sim {

class DeviceServer {
 public:
  DeviceServer() = default;
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port the system picks) for clients of the line whose
  // terminal is `terminal`. A port just left by a Stop can be taken again at once.
  bool Start(const std::string& terminal, uint16_t port, std::string& error);
  // Closes the client's connection and stops listening.
  void Stop();
  uint16_t Port() const { return port_; }

 private:
  void Serve();
  bool Attach();  // the new client's line: the terminal opened raw, stale bytes dropped
  void Detach();
  void Forward(int from, int to);

  std::string terminal_;
  uint16_t port_ = 0;
  int listener_ = -1, client_ = -1, line_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace Sim
