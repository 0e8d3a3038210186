#pragma once
// Line settings of a POSIX terminal through termios2, which takes any speed (14400, 56000,
// 128000 and 256000 have no B constant). Kept apart: <asm/termbits.h> clashes with
// <termios.h>.

#include <cstdint>

namespace Serial::Posix {

struct LineSettings {
  uint32_t Baud = 0;
  uint8_t ByteSize = 8;      // 5..8
  uint8_t Parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
  bool TwoStopBits = false;  // with 5 data bits the line sends 1.5 instead
  bool CtsRtsFlow = false;
  bool CheckParity = false;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  char XonChar = 0x11;
  char XoffChar = 0x13;
};

// Puts the terminal in raw mode (no echo, no translation, non-canonical).
bool MakeRaw(int fd);
// Applies the settings and reads them back; on any refusal the previous settings are
// restored and false is returned.
bool ApplyLine(int fd, const LineSettings& settings);
bool ReadLine(int fd, LineSettings& settings);

// The kernel's RS-485 mode (struct serial_rs485; Flags holds its SER_RS485_* bits).
struct Rs485 {
  uint32_t Flags = 0;
  uint32_t DelayRtsBeforeSend = 0;  // ms
  uint32_t DelayRtsAfterSend = 0;   // ms
};
// What Win32's RTS toggle asks of the kernel: RTS on while sending and off after, no delays;
// or the mode off.
Rs485 Rs485Request(bool toggle);
// Whether the driver kept the request: the mode on or off as asked and, when on, RTS's level
// while and after sending (a driver may change what it cannot do).
bool Rs485Kept(const Rs485& asked, const Rs485& got);
// TIOCSRS485, read back with TIOCGRS485. On a refusal (ENOTTY or EINVAL: no RS-485 in this
// driver) or another read-back, the previous mode stays and false is returned, errno saying why.
bool ApplyRs485(int fd, bool toggle);
bool Rs485On(int fd);

}  // namespace Serial::Posix
