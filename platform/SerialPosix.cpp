// The Win32 serial contract on a POSIX terminal:
// - open is exclusive (flock against our own kind, TIOCEXCL against others) and refuses
//   anything that is not a terminal, so a stray file named like a port is never written;
// - a read of n bytes ends when all arrived, when the gap between two bytes passes
//   ReadIntervalTimeout, or when ReadTotalTimeoutMultiplier * n + ReadTotalTimeoutConstant
//   has passed, as ReadFile does;
// - the DCB maps to termios and to the modem-line ioctls, and a setting the line refuses
//   fails as a whole, leaving the handle as it was; a pseudo-terminal carries bytes with no
//   framing and no modem lines (the kernel pins it to 8 bits without parity), so there those
//   fields are remembered per handle, as a virtual serial port would keep them;
// - the purge of received bytes that follows a write: on a pseudo-terminal it takes effect
//   where the write begins, since the far end may have answered before write() returns; on a
//   real line write() returns before the request is on the wire, so the purge first drains
//   the output and waits out the request's time on the wire, then flushes the input: an
//   RS-485 adapter's echo of the request and the tail of a late answer are gone with it;
// - a line that has gone (the far end of a pseudo-terminal closed, a USB adapter pulled) reads
//   0 with a hang-up and fails writes with EIO: reads and writes then fail at once with
//   Fault::DeviceRemoved, never taken for a unit that does not answer;
// - RTS toggle, which on Windows drives an RS-485 transceiver's direction, is the kernel's
//   RS-485 mode on a real line (a driver without it refuses the setting); a pseudo-terminal
//   has no RTS and only remembers it, as it does the other handshake fields.
// A tcp:// name is a socket instead, handed to SerialTcp.cpp by every call.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "platform/Serial.h"
#include "platform/SerialPosixLine.h"
#include "platform/SerialShared.h"
#include "platform/SerialTcp.h"

namespace Serial {
namespace {

struct PortState {
  CommTimeouts Timeouts{};
  Dcb State{};  // what SetState last accepted, for the fields termios does not hold
  bool ModemLines = false;
  bool Pseudo = false;         // a pseudo-terminal
  bool LinePurge = false;      // purge as a real line does: drain, wait out the wire, flush
  bool PurgedAtWrite = false;  // the input was flushed when the last write began
  bool KernelRs485 = false;    // RTS toggle goes to the kernel's RS-485 mode
  bool Rs485 = false;          // the kernel's RS-485 mode is on
  bool Rs485Ours = false;      // ... because we turned it on, so leaving toggle turns it off
  // The last write, for the real line's purge.
  Clock::time_point WriteStart{}, WriteDeadline{};
  uint32_t WriteCount = 0;
};

// Never destroyed: the program's port object closes its handle from a static destructor,
// which may run after this file's statics are gone.
struct Registry {
  std::mutex Mutex;
  std::map<int, PortState> Ports;
};
Registry& Ports() {
  static Registry* registry = new Registry;
  return *registry;
}

// Runs edit on the handle's state under the lock; false for a handle that is not open.
template <typename Edit>
bool WithPort(Handle handle, Edit edit) {
  Registry& r = Ports();
  std::lock_guard<std::mutex> lock(r.Mutex);
  auto it = r.Ports.find(static_cast<int>(handle));
  if (it == r.Ports.end()) return Fail(Fault::Other);
  edit(it->second);
  return true;
}

bool Lookup(Handle handle, PortState& state) {
  return WithPort(handle, [&state](PortState& s) { state = s; });
}

int Fd(Handle handle) {
  return static_cast<int>(handle);
}

Fault OpenFault(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
    case EIO:
      return Fault::NoSuchPort;
    case EBUSY:
    case EWOULDBLOCK:
      return Fault::PortBusy;
    case EACCES:
    case EPERM:
    case EROFS:
      return Fault::NoPermission;
    default:
      return Fault::Other;
  }
}

// What a pulled adapter or a closed pseudo-terminal answers once the open has succeeded.
Fault IoFault(int error) {
  switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EBADF:
    case EPIPE:
      return Fault::DeviceRemoved;
    default:
      return Fault::Other;
  }
}

bool IsPseudoTerminal(int fd) {
  struct stat st;
  // Unix 98 pseudo-terminal slaves have the majors 136 to 143.
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
         major(st.st_rdev) <= 143;
}

bool HasModemLines(int fd) {
  int bits = 0;
  return ioctl(fd, TIOCMGET, &bits) == 0;
}

bool SetModemLine(int fd, int line, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

Dcb InitialDcb(int fd, bool rs485) {
  Dcb dcb{};
  dcb.DCBlength = sizeof(Dcb);
  dcb.fBinary = 1;
  dcb.fDtrControl = DtrControlEnable;
  dcb.fRtsControl = rs485 ? RtsControlToggle : RtsControlEnable;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  Posix::LineSettings line;
  if (Posix::ReadLine(fd, line)) {
    dcb.BaudRate = line.Baud;
    dcb.ByteSize = line.ByteSize;
    dcb.Parity = line.Parity;
    dcb.StopBits = line.TwoStopBits ? TwoStopBits : OneStopBit;
  }
  return dcb;
}

// Without modem lines (a pseudo-terminal) the handshake fields are only remembered. With
// them, what Linux cannot do is refused: DTR and DSR handshaking. RTS toggle is the kernel's
// RS-485 mode's business.
bool ValidHandshake(const Dcb& dcb, bool modemLines) {
  if (!modemLines) return true;
  return dcb.fDtrControl != DtrControlHandshake && !dcb.fOutxDsrFlow && !dcb.fDsrSensitivity;
}

// Turns the kernel's RS-485 mode on for RTS toggle, and off again when toggle is left, if it
// was we who turned it on: a mode the system set up for its transceiver stays.
bool SetRs485(int fd, const Dcb& dcb, PortState& state) {
  const bool toggle = dcb.fRtsControl == RtsControlToggle;
  if (!state.KernelRs485 || toggle == state.Rs485 || (!toggle && !state.Rs485Ours)) return true;
  if (!Posix::ApplyRs485(fd, toggle)) return false;
  state.Rs485 = state.Rs485Ours = toggle;
  return true;
}

// How long `count` characters take on the wire with the handle's framing: a start bit, the
// data bits, parity and the stop bits each.
Clock::duration WireTime(const Dcb& dcb, uint32_t count) {
  const uint32_t bits =
      1 + dcb.ByteSize + (dcb.Parity != NoParity) + (dcb.StopBits == OneStopBit ? 1 : 2);
  const uint64_t baud = std::max<uint32_t>(dcb.BaudRate, 1);
  return std::chrono::microseconds(uint64_t{count} * bits * 1'000'000 / baud);
}

// Waits until the last write has left the wire: the kernel's queue drained (tcdrain; with
// flow control, which could hold the output for ever, only within the write time-out) and
// at least the request's own time on the wire gone by, for adapters whose driver cannot
// tell when their transmitter is empty.
void LetWriteLeave(int fd, const PortState& state) {
  termios t{};
  const bool flowControl = tcgetattr(fd, &t) == 0 && (t.c_cflag & CRTSCTS || t.c_iflag & IXON);
  if (!flowControl) {
    tcdrain(fd);
  } else {
    for (int queued = 1; Clock::now() < state.WriteDeadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(1)))
      if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued == 0) break;
  }
  std::this_thread::sleep_until(state.WriteStart + WireTime(state.State, state.WriteCount));
}

}  // namespace

Fault LastFault() {
  return tLastFault;
}

Handle OpenPort(const char* name, uint32_t connectTimeoutMs) {
  if (IsTcpName(name)) return Tcp::Open(name, connectTimeoutMs);
  int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(OpenFault(errno));
    return InvalidHandle;
  }
  // A pseudo-terminal master (/dev/ptmx) passes isatty but is no line: opening it makes a
  // new terminal pair that nobody listens to.
  int ptyNumber = 0;
  const bool master = ioctl(fd, TIOCGPTN, &ptyNumber) == 0;
  const bool line = isatty(fd) && !master;
  if (!line || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    Fail(line ? Fault::PortBusy : Fault::NotALine);
    return InvalidHandle;
  }
  ioctl(fd, TIOCEXCL);
  Posix::MakeRaw(fd);
  PortState state;
  state.ModemLines = HasModemLines(fd);
  state.Pseudo = IsPseudoTerminal(fd);
  state.LinePurge = state.KernelRs485 = !state.Pseudo;
  state.Rs485 = state.KernelRs485 && Posix::Rs485On(fd);
  state.State = InitialDcb(fd, state.Rs485);
  Registry& r = Ports();
  std::lock_guard<std::mutex> lock(r.Mutex);
  r.Ports[fd] = state;
  return fd;
}

bool ClosePort(Handle handle) {
  if (Tcp::Owns(handle)) return Tcp::Close(handle);
  {
    Registry& r = Ports();
    std::lock_guard<std::mutex> lock(r.Mutex);
    if (r.Ports.erase(Fd(handle)) == 0) {
      errno = EBADF;
      return Fail(Fault::Other);
    }
  }
  // The exclusive flag outlives our descriptor when another one (the far end's) keeps the
  // terminal alive.
  ioctl(Fd(handle), TIOCNXCL);
  // Linux releases the descriptor even when close reports an error (EIO, EINTR): the port is
  // closed then, and saying otherwise would leave it open in name with no handle behind it.
  return close(Fd(handle)) == 0 || errno != EBADF;
}

bool SetTimeouts(Handle handle, const CommTimeouts& timeouts) {
  if (Tcp::Owns(handle)) return Tcp::SetTimeouts(handle, timeouts);
  return WithPort(handle, [&timeouts](PortState& s) { s.Timeouts = timeouts; });
}

bool SetupQueues(Handle handle, uint32_t inQueue, uint32_t outQueue) {
  if (Tcp::Owns(handle)) return Tcp::SetupQueues(handle, inQueue, outQueue);
  // The kernel sizes its own queues; the call only has to be valid.
  PortState state;
  return Lookup(handle, state) && inQueue > 0 && outQueue > 0;
}

bool SetState(Handle handle, const Dcb& dcb) {
  if (Tcp::Owns(handle)) return Tcp::SetState(handle, dcb);
  PortState state;
  if (!Lookup(handle, state)) return false;
  const int fd = Fd(handle);
  if (!ValidFraming(dcb) || !ValidHandshake(dcb, state.ModemLines)) return Fail(Fault::Other);
  const PortState before = state;
  if (!SetRs485(fd, dcb, state)) return Fail(Fault::Other);

  Posix::LineSettings line;
  line.Baud = dcb.BaudRate;
  line.ByteSize = state.Pseudo ? 8 : dcb.ByteSize;
  line.Parity = state.Pseudo ? uint8_t{NoParity} : dcb.Parity;
  line.TwoStopBits = dcb.StopBits != OneStopBit;
  line.CtsRtsFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RtsControlHandshake;
  line.CheckParity = dcb.fParity;
  line.XonXoffOut = dcb.fOutX;
  line.XonXoffIn = dcb.fInX;
  line.XonChar = dcb.XonChar;
  line.XoffChar = dcb.XoffChar;
  if (!Posix::ApplyLine(fd, line)) {
    const int saved = errno;
    if (state.Rs485 != before.Rs485) Posix::ApplyRs485(fd, before.Rs485);
    errno = saved;
    return Fail(IoFault(errno));
  }

  if (state.ModemLines) {
    if (dcb.fDtrControl != DtrControlHandshake)
      SetModemLine(fd, TIOCM_DTR, dcb.fDtrControl == DtrControlEnable);
    // In RS-485 mode the driver moves RTS itself.
    if (!state.Rs485 &&
        (dcb.fRtsControl == RtsControlEnable || dcb.fRtsControl == RtsControlDisable))
      SetModemLine(fd, TIOCM_RTS, dcb.fRtsControl == RtsControlEnable);
  }

  return WithPort(handle, [&dcb, &state](PortState& s) {
    s.State = dcb;
    s.State.DCBlength = sizeof(Dcb);
    s.Rs485 = state.Rs485;
    s.Rs485Ours = state.Rs485Ours;
  });
}

bool GetState(Handle handle, Dcb& dcb) {
  if (Tcp::Owns(handle)) return Tcp::GetState(handle, dcb);
  PortState state;
  if (!Lookup(handle, state)) return false;
  Posix::LineSettings line;
  if (!Posix::ReadLine(Fd(handle), line)) return Fail(IoFault(errno));
  dcb = state.State;
  if (state.Rs485) dcb.fRtsControl = RtsControlToggle;
  dcb.BaudRate = line.Baud;
  if (!state.Pseudo) {
    dcb.ByteSize = line.ByteSize;
    dcb.Parity = line.Parity;
  }
  dcb.StopBits = !line.TwoStopBits ? OneStopBit : dcb.ByteSize == 5 ? One5StopBits : TwoStopBits;
  dcb.fParity = line.CheckParity;
  dcb.fOutX = line.XonXoffOut;
  dcb.fInX = line.XonXoffIn;
  if (!line.CtsRtsFlow) {
    dcb.fOutxCtsFlow = 0;
    if (dcb.fRtsControl == RtsControlHandshake) dcb.fRtsControl = RtsControlEnable;
  }
  return true;
}

bool Purge(Handle handle, uint32_t flags) {
  if (Tcp::Owns(handle)) return Tcp::Purge(handle, flags);
  PortState state;
  if (!WithPort(handle, [&state](PortState& s) {
        state = s;
        s.PurgedAtWrite = false;
        s.WriteCount = 0;
      }))
    return false;
  if (!(flags & PurgeRxClear) || state.PurgedAtWrite) return true;
  if (state.LinePurge && state.WriteCount > 0) LetWriteLeave(Fd(handle), state);
  return tcflush(Fd(handle), TCIFLUSH) == 0 || Fail(IoFault(errno));
}

bool ReadBytes(Handle handle, void* buffer, uint32_t count, uint32_t& read) {
  if (Tcp::Owns(handle)) return Tcp::ReadBytes(handle, buffer, count, read);
  read = 0;
  PortState state;
  if (!WithPort(handle, [&state](PortState& s) {
        s.PurgedAtWrite = false;
        state = s;
      }))
    return false;
  const int fd = Fd(handle);
  auto* out = static_cast<uint8_t*>(buffer);
  ReadTimer timer(state.Timeouts, count);
  int waitMs = 0;
  while (read < count && timer.NextWait(read, waitMs)) {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Fail(IoFault(errno));
    }
    if (ready == 0) break;  // a time-out ended the read
    const ssize_t n = ::read(fd, out + read, count - read);
    if (n > 0) {
      read += static_cast<uint32_t>(n);
      timer.Arrived();
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    // The far end has gone: say so at once rather than spin on it or wait out the time-outs.
    if (n < 0) return Fail(IoFault(errno));
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return Fail(Fault::DeviceRemoved);
    break;
  }
  return true;
}

bool WriteBytes(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
  if (Tcp::Owns(handle)) return Tcp::WriteBytes(handle, buffer, count, written);
  written = 0;
  PortState state;
  if (!Lookup(handle, state)) return false;
  const int fd = Fd(handle);
  const CommTimeouts& t = state.Timeouts;
  const uint64_t totalMs =
      uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
  const auto start = Clock::now();
  const auto deadline = After(start, totalMs);
  const auto* in = static_cast<const uint8_t*>(buffer);

  if (!state.LinePurge) tcflush(fd, TCIFLUSH);
  WithPort(handle, [&](PortState& s) {
    s.PurgedAtWrite = !s.LinePurge;
    s.WriteStart = start;
    s.WriteDeadline = totalMs > 0 ? deadline : Clock::time_point::max();
  });
  Fault fault = Fault::None;
  while (written < count && fault == Fault::None) {
    const ssize_t n = ::write(fd, in + written, count - written);
    if (n > 0) {
      written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      fault = IoFault(errno);
      break;
    }
    pollfd p{fd, POLLOUT, 0};
    const int ready = poll(&p, 1, totalMs > 0 ? MillisLeft(deadline) : -1);
    if (ready == 0) fault = Fault::TimedOut;
    if (ready < 0 && errno != EINTR) fault = IoFault(errno);
    if (ready > 0 && p.revents & (POLLERR | POLLHUP | POLLNVAL)) fault = Fault::DeviceRemoved;
  }
  WithPort(handle, [written](PortState& s) { s.WriteCount = written; });
  return written == count || Fail(fault);
}

bool UseLinePurge(Handle handle, bool line) {
  return WithPort(handle, [line](PortState& s) { s.LinePurge = line; });
}

bool UseKernelRs485(Handle handle, bool kernel) {
  return WithPort(handle, [kernel](PortState& s) { s.KernelRs485 = kernel; });
}

}  // namespace Serial
