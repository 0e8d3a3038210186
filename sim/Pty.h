#pragma once
// A POSIX pseudo-terminal pair: the simulator serves its master side, the program under
// test opens its terminal side like a serial port.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Line.h"

namespace Sim {

class Pty : public Transport {
 public:
  Pty() = default;
  ~Pty() override;
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Opens a fresh pair with the terminal in raw mode. Our own descriptor of the terminal
  // stays open, so the master side never sees a hang-up when the program under test
  // closes the port and opens it again.
  bool Open(std::string& error);
  // Makes `path` a symbolic link to the terminal. An existing link is replaced; anything
  // else at that path is left alone and refused.
  bool Link(const std::string& path, std::string& error);
  // Closes both sides and removes the link if it still points at our terminal.
  void Close();

  const std::string& TerminalPath() const { return terminal_; }
  const std::string& LinkPath() const { return link_; }

  bool Receive(std::vector<uint8_t>& bytes, int64_t timeoutUs) override;
  bool Send(const uint8_t* data, size_t size) override;
  void Wake() override;

 private:
  int master_ = -1;
  int terminalFd_ = -1;
  int wake_[2] = {-1, -1};
  std::string terminal_;
  std::string link_;
};

}  // namespace Sim
