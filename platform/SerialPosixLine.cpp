#include "platform/SerialPosixLine.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>

#include <cerrno>
#include <cstdlib>

// <sys/ioctl.h> would pull in the libc termios structures that clash with termbits.
extern "C" int ioctl(int fd, unsigned long request, ...);

namespace Serial::Posix {
namespace {

struct SpeedCode {
  uint32_t Baud;
  tcflag_t Code;
};
constexpr SpeedCode kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

tcflag_t SizeFlag(uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

tcflag_t ParityFlags(uint8_t parity) {
  switch (parity) {
    case 1:
      return PARENB | PARODD;
    case 2:
      return PARENB;
    case 3:
      return PARENB | PARODD | CMSPAR;
    case 4:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

uint8_t ParityOf(tcflag_t cflag) {
  if (!(cflag & PARENB)) return 0;
  const bool odd = cflag & PARODD;
  if (cflag & CMSPAR) return odd ? 3 : 4;
  return odd ? 1 : 2;
}

void SetSpeed(termios2& t, uint32_t baud) {
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  for (const SpeedCode& s : kSpeeds) {
    if (s.Baud == baud) {
      t.c_cflag |= s.Code;
      t.c_ispeed = t.c_ospeed = baud;
      return;
    }
  }
  t.c_cflag |= BOTHER;
  t.c_ispeed = t.c_ospeed = baud;
}

// A driver may round an odd speed to what its divisor gives; more than 2 % off is a refusal.
bool SpeedClose(uint32_t wanted, uint32_t got) {
  return std::llabs(static_cast<long long>(wanted) - static_cast<long long>(got)) * 50 <=
         static_cast<long long>(wanted);
}

Rs485 FromKernel(const serial_rs485& k) {
  return {k.flags, k.delay_rts_before_send, k.delay_rts_after_send};
}

bool ReadRs485(int fd, serial_rs485& mode) {
  mode = serial_rs485{};
  return ioctl(fd, TIOCGRS485, &mode) == 0;
}

}  // namespace

bool MakeRaw(int fd) {
  termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &t) == 0;
}

bool ApplyLine(int fd, const LineSettings& s) {
  termios2 old;
  if (ioctl(fd, TCGETS2, &old) != 0) return false;
  termios2 t = old;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= SizeFlag(s.ByteSize) | ParityFlags(s.Parity) | CLOCAL | CREAD;
  if (s.TwoStopBits) t.c_cflag |= CSTOPB;
  if (s.CtsRtsFlow) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(INPCK | IXON | IXOFF);
  if (s.CheckParity) t.c_iflag |= INPCK;
  if (s.XonXoffOut) t.c_iflag |= IXON;
  if (s.XonXoffIn) t.c_iflag |= IXOFF;
  if (s.XonXoffOut || s.XonXoffIn) {
    t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
  }
  SetSpeed(t, s.Baud);
  if (ioctl(fd, TCSETS2, &t) != 0) return false;

  // The kernel accepts a request it could only partly carry out; compare what it kept.
  termios2 got;
  const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  const bool kept = ioctl(fd, TCGETS2, &got) == 0 && (got.c_cflag & mask) == (t.c_cflag & mask) &&
                    SpeedClose(s.Baud, got.c_ospeed);
  if (!kept) {
    ioctl(fd, TCSETS2, &old);
    return false;
  }
  return true;
}

bool ReadLine(int fd, LineSettings& s) {
  termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  s.Baud = t.c_ospeed;
  s.ByteSize = ByteSizeOf(t.c_cflag);
  s.Parity = ParityOf(t.c_cflag);
  s.TwoStopBits = t.c_cflag & CSTOPB;
  s.CtsRtsFlow = t.c_cflag & CRTSCTS;
  s.CheckParity = t.c_iflag & INPCK;
  s.XonXoffOut = t.c_iflag & IXON;
  s.XonXoffIn = t.c_iflag & IXOFF;
  s.XonChar = static_cast<char>(t.c_cc[VSTART]);
  s.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return true;
}

Rs485 Rs485Request(bool toggle) {
  Rs485 request;
  if (toggle) request.Flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  return request;
}

bool Rs485Kept(const Rs485& asked, const Rs485& got) {
  const uint32_t mask = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND;
  if (!(asked.Flags & SER_RS485_ENABLED)) return !(got.Flags & SER_RS485_ENABLED);
  return (got.Flags & mask) == (asked.Flags & mask);
}

bool ApplyRs485(int fd, bool toggle) {
  serial_rs485 old, got;
  if (!ReadRs485(fd, old)) return false;
  const Rs485 asked = Rs485Request(toggle);
  serial_rs485 request = old;  // the driver's other fields (RX during TX, terminator) stay
  request.flags =
      (old.flags & ~(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND)) |
      asked.Flags;
  request.delay_rts_before_send = asked.DelayRtsBeforeSend;
  request.delay_rts_after_send = asked.DelayRtsAfterSend;
  if (ioctl(fd, TIOCSRS485, &request) != 0) return false;
  if (ReadRs485(fd, got) && Rs485Kept(asked, FromKernel(got))) return true;
  ioctl(fd, TIOCSRS485, &old);
  errno = EINVAL;
  return false;
}

bool Rs485On(int fd) {
  serial_rs485 mode;
  return ReadRs485(fd, mode) && (mode.flags & SER_RS485_ENABLED);
}

}  // namespace Serial::Posix
