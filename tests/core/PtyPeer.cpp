#include "PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace Scripted {

PtyPeer::PtyPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
  path_ = ptsname(master_);
  slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t;
  if (slave_ >= 0 && tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
  }
}

PtyPeer::~PtyPeer() {
  StopServing();
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

void PtyPeer::Serve(Responder responder) {
  StopServing();
  responder_ = std::move(responder);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void PtyPeer::StopServing() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<Bytes> PtyPeer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void PtyPeer::Send(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

Bytes PtyPeer::Receive(size_t count, int timeoutMs) {
  Bytes out;
  const auto start = std::chrono::steady_clock::now();
  while (out.size() < count) {
    const int left = timeoutMs - static_cast<int>(Elapsed(start));
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    uint8_t buffer[512];
    const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - out.size()));
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

void PtyPeer::CloseMaster() {
  StopServing();
  if (master_ >= 0) close(master_);
  master_ = -1;
}

namespace {

// Length of the request at the front of the buffer, 0 while it cannot be told yet.
size_t RequestLength(const Bytes& b) {
  if (b.size() < 2) return 0;
  if (b[1] == 16) return b.size() < 7 ? 0 : 9 + b[6];
  return 8;
}

}  // namespace

void PtyPeer::Run() {
  Bytes pending;
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    pending.insert(pending.end(), buffer, buffer + n);
    for (size_t length = RequestLength(pending); length && pending.size() >= length;
         length = RequestLength(pending)) {
      Bytes request(pending.begin(), pending.begin() + static_cast<long>(length));
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(length));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      for (const Chunk& chunk : responder_(request)) {
        if (chunk.DelayMs > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(chunk.DelayMs));
        Send(chunk.Data);
      }
    }
  }
}

uint16_t Crc(const Bytes& bytes) {
  // Written apart from the master's own, so a fault in one does not hide in the other.
  uint16_t crc = 0xFFFF;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i)
      crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
  }
  return crc;
}

Bytes WithCrc(Bytes bytes) {
  const uint16_t crc = Crc(bytes);
  bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
  bytes.push_back(static_cast<uint8_t>(crc >> 8));
  return bytes;
}

Bytes ReadAnswer(uint8_t address, uint8_t function, const std::vector<uint16_t>& regs) {
  Bytes b{address, function, static_cast<uint8_t>(2 * regs.size())};
  for (uint16_t r : regs) {
    b.push_back(static_cast<uint8_t>(r >> 8));
    b.push_back(static_cast<uint8_t>(r & 0xFF));
  }
  return WithCrc(b);
}

Bytes Exception(uint8_t address, uint8_t function, uint8_t code) {
  return WithCrc({address, static_cast<uint8_t>(function | 0x80), code});
}

Bytes Echo(const Bytes& request) {
  return WithCrc(Bytes(request.begin(), request.begin() + 6));
}

std::vector<uint16_t> RegistersOf(const Bytes& request) {
  std::vector<uint16_t> regs;
  for (size_t i = 7; i + 1 < request.size() - 2; i += 2)
    regs.push_back(static_cast<uint16_t>(request[i] << 8 | request[i + 1]));
  return regs;
}

double Elapsed(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

}  // namespace Scripted
