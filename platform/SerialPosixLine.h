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

}  // namespace Serial::Posix
