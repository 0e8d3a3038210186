#include "sim/DeviceServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Sim {

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Everything, or false when the far side has gone. A full terminal or socket is waited for
// briefly: a request or an answer is a few hundred bytes at most.
bool SendAll(int fd, const uint8_t* data, size_t size, bool socket) {
  while (size > 0) {
    const ssize_t n = socket ? send(fd, data, size, MSG_NOSIGNAL) : write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 200) == 0) return false;
  }
  return true;
}

}  // namespace

DeviceServer::~DeviceServer() {
  Stop();
}

bool DeviceServer::Start(const std::string& terminal, uint16_t port, std::string& error) {
  Stop();
  terminal_ = terminal;
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 || setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 4) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = "tcp port " + std::to_string(port) + ": " + std::strerror(errno);
    Stop();
    return false;
  }
  port_ = ntohs(address.sin_port);
  stopping_ = false;
  thread_ = std::thread(&DeviceServer::Serve, this);
  return true;
}

void DeviceServer::Stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    const uint8_t one = 1;
    if (write(wake_[1], &one, 1) < 0) {
      // Full pipe: a wake-up is already pending.
    }
    thread_.join();
  }
  Detach();
  CloseFd(listener_);
  CloseFd(wake_[0]);
  CloseFd(wake_[1]);
  port_ = 0;
}

bool DeviceServer::Attach() {
  line_ = open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio{};
  if (line_ < 0 || tcgetattr(line_, &tio) != 0) {
    CloseFd(line_);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(line_, TCSANOW, &tio);
  tcflush(line_, TCIFLUSH);
  const int one = 1;
  setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

void DeviceServer::Detach() {
  CloseFd(client_);
  CloseFd(line_);
}

// What one side has to the other; a side that has gone ends the connection.
void DeviceServer::Forward(int from, int to) {
  uint8_t chunk[4096];
  const ssize_t n = read(from, chunk, sizeof chunk);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0 || !SendAll(to, chunk, static_cast<size_t>(n), to == client_)) Detach();
}

void DeviceServer::Serve() {
  while (!stopping_) {
    pollfd fds[4] = {
        {wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}, {client_, POLLIN, 0}, {line_, POLLIN, 0}};
    if (poll(fds, 4, -1) < 0) continue;
    if (fds[0].revents) {
      uint8_t drain[16];
      while (read(wake_[0], drain, sizeof drain) > 0) {
      }
      continue;
    }
    if (fds[2].revents) Forward(client_, line_);
    if (line_ >= 0 && fds[3].revents) Forward(line_, client_);
    if (fds[1].revents & POLLIN) {
      const int accepted = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (accepted < 0) continue;
      if (client_ >= 0) {
        close(accepted);  // one client at a time
        continue;
      }
      client_ = accepted;
      if (!Attach()) Detach();
    }
  }
}

}  // namespace Sim
