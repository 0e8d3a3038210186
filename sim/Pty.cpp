#include "sim/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace Sim {

namespace {

constexpr int kSendPatienceMs = 200;  // a terminal nobody reads fills up; then we give up

std::string Failed(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

Pty::~Pty() {
  Close();
}

bool Pty::Open(std::string& error) {
  Close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    error = Failed("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
    error = Failed("pseudo-terminal set-up");
    Close();
    return false;
  }
  terminal_ = name;
  terminalFd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (terminalFd_ < 0 || tcgetattr(terminalFd_, &tio) != 0) {
    error = Failed("opening " + terminal_);
    Close();
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(terminalFd_, TCSANOW, &tio) != 0 ||
      fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
      pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = Failed("pseudo-terminal set-up");
    Close();
    return false;
  }
  return true;
}

bool Pty::Link(const std::string& path, std::string& error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = path + " exists and is not a symbolic link; refusing to replace it";
      return false;
    }
    if (unlink(path.c_str()) != 0) {
      error = Failed("removing the old link " + path);
      return false;
    }
  }
  if (symlink(terminal_.c_str(), path.c_str()) != 0) {
    error = Failed("linking " + path);
    return false;
  }
  link_ = path;
  return true;
}

void Pty::Close() {
  if (!link_.empty()) {
    char target[256];
    const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == terminal_) unlink(link_.c_str());
    link_.clear();
  }
  CloseFd(master_);
  CloseFd(terminalFd_);
  CloseFd(wake_[0]);
  CloseFd(wake_[1]);
  terminal_.clear();
}

bool Pty::Receive(std::vector<uint8_t>& bytes, int64_t timeoutUs) {
  if (master_ < 0) return false;
  pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  timespec limit{};
  limit.tv_sec = static_cast<time_t>(timeoutUs / 1'000'000);
  limit.tv_nsec = static_cast<long>(timeoutUs % 1'000'000 * 1000);
  const int n = ppoll(fds, 2, timeoutUs < 0 ? nullptr : &limit, nullptr);
  if (n < 0) return errno == EINTR;
  if (fds[1].revents & POLLIN) {
    uint8_t drain[64];
    while (read(wake_[0], drain, sizeof drain) > 0) {
    }
  }
  if (fds[0].revents & POLLIN) {
    uint8_t chunk[4096];
    ssize_t got;
    while ((got = read(master_, chunk, sizeof chunk)) > 0) {
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
  } else if (fds[0].revents & (POLLHUP | POLLERR)) {
    // Not expected while we hold the terminal open; do not spin on it.
    poll(nullptr, 0, 10);
  }
  return !(fds[0].revents & POLLNVAL);
}

bool Pty::Send(const uint8_t* data, size_t size) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendPatienceMs);
  while (size > 0 && master_ >= 0) {
    const ssize_t n = write(master_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    pollfd fd{master_, POLLOUT, 0};
    poll(&fd, 1, 10);
  }
  return size == 0;
}

void Pty::Wake() {
  const uint8_t one = 1;
  if (wake_[1] >= 0 && write(wake_[1], &one, 1) < 0) {
    // Full pipe: a wake-up is already pending.
  }
}

}  // namespace Sim
