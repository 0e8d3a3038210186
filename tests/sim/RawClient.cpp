#include "sim/RawClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>

namespace SimTest {

namespace {

std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : c >> 1;
    table[i] = c;
  }
  return table;
}

void Put16(Bytes& f, uint16_t v) {
  f.push_back(static_cast<uint8_t>(v >> 8));
  f.push_back(static_cast<uint8_t>(v));
}

}  // namespace

uint16_t TableCrc(const uint8_t* data, size_t size) {
  static const std::array<uint16_t, 256> table = MakeTable();
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i)
    crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
  return crc;
}

Bytes WithCrc(Bytes frame) {
  const uint16_t crc = TableCrc(frame.data(), frame.size());
  frame.push_back(static_cast<uint8_t>(crc));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

bool CrcOk(const Bytes& frame) {
  if (frame.size() < 4) return false;
  const uint16_t crc = TableCrc(frame.data(), frame.size() - 2);
  return frame[frame.size() - 2] == (crc & 0xFF) && frame.back() == (crc >> 8);
}

Bytes ReadRequest(uint8_t address, uint8_t function, uint16_t first, uint16_t count) {
  Bytes f{address, function};
  Put16(f, first);
  Put16(f, count);
  return WithCrc(f);
}

Bytes WriteSingle(uint8_t address, uint16_t reg, uint16_t value) {
  Bytes f{address, 6};
  Put16(f, reg);
  Put16(f, value);
  return WithCrc(f);
}

Bytes WriteMultiple(uint8_t address, uint16_t first, const std::vector<uint16_t>& values) {
  Bytes f{address, 16};
  Put16(f, first);
  Put16(f, static_cast<uint16_t>(values.size()));
  f.push_back(static_cast<uint8_t>(2 * values.size()));
  for (uint16_t v : values)
    Put16(f, v);
  return WithCrc(f);
}

std::vector<uint16_t> Registers(const Bytes& answer) {
  std::vector<uint16_t> regs;
  for (size_t i = 3; i + 3 < answer.size(); i += 2) {
    regs.push_back(static_cast<uint16_t>(answer[i] << 8 | answer[i + 1]));
  }
  return regs;
}

RawClient::RawClient(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &tio);
  }
}

RawClient::~RawClient() {
  if (fd_ >= 0) close(fd_);
}

void RawClient::Write(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

Bytes RawClient::Read(size_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Bytes got;
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    uint8_t buf[512];
    const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

Bytes RawClient::ReadUntilQuiet(int quietMs) {
  Bytes got;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0) return got;
    uint8_t buf[512];
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0) return got;
    got.insert(got.end(), buf, buf + n);
  }
}

Bytes RawClient::Transact(const Bytes& request, size_t answerSize, int timeoutMs) {
  Write(request);
  return Read(answerSize, timeoutMs);
}

Bench::Bench(const std::vector<Sim::UnitSetup>& units, const Sim::LineSetup& line)
    : sim(line, units) {
  started = sim.Start();
  client.reset(new RawClient(sim.TerminalPath()));
}

Sim::UnitSetup UnitAt(uint8_t address, uint8_t model) {
  Sim::UnitSetup u;
  u.Address = address;
  u.Model = model;
  return u;
}

}  // namespace SimTest
