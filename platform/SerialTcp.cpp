#include "platform/SerialTcp.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/SerialShared.h"

namespace Serial {

// Both platforms' layers ask it of every name they open.
bool IsTcpName(const char* name) {
  static const char kScheme[] = "tcp://";
  for (size_t i = 0; kScheme[i] != '\0'; ++i) {
    const char c =
        name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    if (c != kScheme[i]) return false;
  }
  return true;
}

}  // namespace Serial

namespace Serial::Tcp {
namespace {

// Data the server has not acknowledged for this long means it is gone (a device server
// switched off or cut off): the connection fails, and the next call says the line is lost,
// instead of every unit seeming silent for the quarter of an hour TCP would otherwise wait.
constexpr int kUnacknowledgedMs = 3000;

// The few places where Winsock and BSD sockets differ.
#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;  // Windows raises no signal on a broken connection
#ifndef TCP_MAXRT
#define TCP_MAXRT 5  // ws2ipdef.h of newer SDKs: retransmission limit in seconds
#endif

bool StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
int SocketError() {
  return WSAGetLastError();
}
bool WouldBlock(int error) {
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}
bool Interrupted(int error) {
  return error == WSAEINTR;
}
Fault ConnectFault(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return Fault::ConnectionRefused;
    case WSAETIMEDOUT:
      return Fault::TimedOut;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEADDRNOTAVAIL:
      return Fault::HostUnreachable;
    default:
      return Fault::Other;
  }
}
void CloseSocket(Socket s) {
  closesocket(s);
}
Socket NewSocket(int family) {
  Socket s = socket(family, SOCK_STREAM, IPPROTO_TCP);
  u_long nonBlocking = 1;
  if (s != kNoSocket && ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  return s;
}
void SetOptions(Socket s) {
  const DWORD one = 1, seconds = (kUnacknowledgedMs + 999) / 1000;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&seconds), sizeof seconds);
}
// > 0 ready (or broken: the next call tells), 0 time-out, < 0 failed. A failed connect
// shows in the exception set, not the write set.
int WaitSocket(Socket s, bool forWrite, int waitMs) {
  fd_set ready, broken;
  FD_ZERO(&ready);
  FD_ZERO(&broken);
  FD_SET(s, &ready);
  FD_SET(s, &broken);
  timeval limit{waitMs / 1000, waitMs % 1000 * 1000};
  return select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &broken,
                waitMs < 0 ? nullptr : &limit);
}
Handle ToHandle(Socket s) {
  return reinterpret_cast<Handle>(s);
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a dropped connection must not kill the program

bool StartSockets() {
  return true;
}
int SocketError() {
  return errno;
}
bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}
bool Interrupted(int error) {
  return error == EINTR;
}
Fault ConnectFault(int error) {
  switch (error) {
    case ECONNREFUSED:
      return Fault::ConnectionRefused;
    case ETIMEDOUT:
      return Fault::TimedOut;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EADDRNOTAVAIL:
      return Fault::HostUnreachable;
    default:
      return Fault::Other;
  }
}
void CloseSocket(Socket s) {
  close(s);
}
Socket NewSocket(int family) {
  return socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
}
void SetOptions(Socket s) {
  const int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#ifdef TCP_USER_TIMEOUT
  const unsigned limit = kUnacknowledgedMs;
  setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &limit, sizeof limit);
#endif
}
int WaitSocket(Socket s, bool forWrite, int waitMs) {
  pollfd p{s, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  return poll(&p, 1, waitMs);
}
Handle ToHandle(Socket s) {
  return s;
}
#endif

struct SocketState {
  Socket Fd = kNoSocket;
  CommTimeouts Timeouts{};
  Dcb State{};                 // the line settings, which the server applies, not we
  bool PurgedAtWrite = false;  // the input was discarded when the last write began
};

// Never destroyed, as the terminals' registry: a port closed from a static destructor still
// finds it.
struct Registry {
  std::mutex Mutex;
  std::map<Handle, SocketState> Sockets;
};
Registry& Sockets() {
  static Registry* registry = new Registry;
  return *registry;
}

template <typename Edit>
bool WithSocket(Handle handle, Edit edit) {
  Registry& r = Sockets();
  std::lock_guard<std::mutex> lock(r.Mutex);
  auto it = r.Sockets.find(handle);
  if (it == r.Sockets.end()) return Fail(Fault::Other);
  edit(it->second);
  return true;
}

Dcb InitialDcb() {
  Dcb dcb{};
  dcb.DCBlength = sizeof(Dcb);
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.fDtrControl = DtrControlEnable;
  dcb.fRtsControl = RtsControlEnable;
  dcb.ByteSize = 8;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsNameChar(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
         c == '_';
}

// Digits and dots only: then it is an IPv4 address, four numbers 0..255, or nothing.
bool ValidDotted(const std::string& host) {
  int parts = 0;
  for (size_t at = 0; at <= host.size(); ++parts) {
    size_t end = host.find('.', at);
    if (end == std::string::npos) end = host.size();
    if (end == at || end - at > 3) return false;
    int value = 0;
    for (size_t i = at; i < end; ++i)
      value = value * 10 + (host[i] - '0');
    if (value > 255) return false;
    at = end + 1;
  }
  return parts == 4;
}

bool ValidHost(const std::string& host, bool bracketed) {
  if (host.empty() || host.size() > 253) return false;
  if (bracketed) {
    if (host.find(':') == std::string::npos) return false;  // brackets hold IPv6 only
    for (char c : host)
      if (!IsHex(c) && c != ':' && c != '.') return false;
    return true;
  }
  bool dotted = true;
  for (char c : host) {
    if (!IsNameChar(c)) return false;
    dotted = dotted && (IsDigit(c) || c == '.');
  }
  if (host.front() == '-' || host.front() == '.') return false;
  return !dotted || ValidDotted(host);
}

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// A name lookup has no time-out of its own (a dead name server holds it for many seconds):
// it runs on a thread of its own, and a lookup that outlasts the deadline is abandoned to it.
struct Lookup {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Finished = false, Abandoned = false;
  int Result = 0;
  addrinfo* List = nullptr;
};

// getaddrinfo's result; EAI_AGAIN when the deadline passed first.
int LookUp(const Address& address, bool numeric, Clock::time_point deadline, addrinfo*& list) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
  const std::string service = std::to_string(address.Port);
  if (numeric) return getaddrinfo(address.Host.c_str(), service.c_str(), &hints, &list);

  auto job = std::make_shared<Lookup>();
  std::thread([job, host = address.Host, service, hints] {
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    std::lock_guard<std::mutex> lock(job->Mutex);
    if (job->Abandoned) {
      if (found) freeaddrinfo(found);
      return;
    }
    job->Result = result;
    job->List = found;
    job->Finished = true;
    job->Done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(job->Mutex);
  if (!job->Done.wait_until(lock, deadline, [&job] { return job->Finished; })) {
    job->Abandoned = true;
    return EAI_AGAIN;
  }
  list = job->List;
  return job->Result;
}

// Waits for a connection under way; None once it stands.
Fault AwaitConnect(Socket s, Clock::time_point deadline) {
  for (;;) {
    const int ready = WaitSocket(s, true, MillisLeft(deadline));
    if (ready == 0) return Fault::TimedOut;
    if (ready > 0) break;
    if (!Interrupted(SocketError())) return Fault::Other;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
    return Fault::Other;
  return error == 0 ? Fault::None : ConnectFault(error);
}

// A connected socket, or kNoSocket and the reason.
Socket Connect(const addrinfo& to, Clock::time_point deadline, Fault& fault) {
  const Socket s = NewSocket(to.ai_family);
  if (s == kNoSocket) {
    fault = Fault::Other;
    return kNoSocket;
  }
  fault = Fault::None;
  if (connect(s, to.ai_addr, static_cast<socklen_t>(to.ai_addrlen)) != 0) {
    const int error = SocketError();
    fault = WouldBlock(error) ? AwaitConnect(s, deadline) : ConnectFault(error);
  }
  if (fault == Fault::None) return s;
  CloseSocket(s);
  return kNoSocket;
}

// Discards what has arrived; false when the server has closed or reset the connection.
bool Drain(Socket s) {
  char chunk[512];
  for (;;) {
    const auto n = recv(s, chunk, sizeof chunk, 0);
    if (n > 0) continue;
    if (n == 0) return false;
    const int error = SocketError();
    if (!Interrupted(error)) return WouldBlock(error);
  }
}

}  // namespace

bool ParseName(const std::string& name, Address& address) {
  static const char kScheme[] = "tcp://";
  constexpr size_t kSchemeSize = sizeof kScheme - 1;
  if (!IsTcpName(name.c_str())) return false;
  const std::string rest = name.substr(kSchemeSize);
  const bool bracketed = !rest.empty() && rest[0] == '[';
  size_t colon;
  std::string host;
  if (bracketed) {
    const size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    host = rest.substr(1, close - 1);
    colon = close + 1;
    if (colon >= rest.size() || rest[colon] != ':') return false;
  } else {
    colon = rest.find(':');
    if (colon == std::string::npos) return false;
    host = rest.substr(0, colon);
  }
  Address parsed;
  if (!ValidHost(host, bracketed) || !ParsePort(rest.substr(colon + 1), parsed.Port)) return false;
  parsed.Host = host;
  address = parsed;
  return true;
}

Handle Open(const char* name, uint32_t connectTimeoutMs) {
  const Clock::time_point deadline = After(Clock::now(), connectTimeoutMs);
  Address address;
  if (!ParseName(name, address)) {
    Fail(Fault::BadName);
    return InvalidHandle;
  }
  if (!StartSockets()) {
    Fail(Fault::Other);
    return InvalidHandle;
  }
  // A numeric address needs no lookup; brackets promise one.
  addrinfo* list = nullptr;
  int found = LookUp(address, true, deadline, list);
  if (found == EAI_NONAME && address.Host.find(':') == std::string::npos)
    found = LookUp(address, false, deadline, list);
  if (found != 0 || list == nullptr) {
    Fail(found == EAI_NONAME && address.Host.find(':') != std::string::npos ? Fault::BadName
                                                                            : Fault::HostNotFound);
    return InvalidHandle;
  }
  Fault fault = Fault::HostNotFound;
  Socket s = kNoSocket;
  for (const addrinfo* a = list; a != nullptr && s == kNoSocket; a = a->ai_next)
    s = Connect(*a, deadline, fault);
  freeaddrinfo(list);
  if (s == kNoSocket) {
    Fail(fault);
    return InvalidHandle;
  }
  SetOptions(s);
  SocketState state;
  state.Fd = s;
  state.State = InitialDcb();
  Registry& r = Sockets();
  std::lock_guard<std::mutex> lock(r.Mutex);
  r.Sockets[ToHandle(s)] = state;
  return ToHandle(s);
}

bool Owns(Handle handle) {
  Registry& r = Sockets();
  std::lock_guard<std::mutex> lock(r.Mutex);
  return r.Sockets.count(handle) != 0;
}

bool SetTimeouts(Handle handle, const CommTimeouts& timeouts) {
  return WithSocket(handle, [&timeouts](SocketState& s) { s.Timeouts = timeouts; });
}

bool SetupQueues(Handle handle, uint32_t inQueue, uint32_t outQueue) {
  return WithSocket(handle, [](SocketState&) {}) && inQueue > 0 && outQueue > 0;
}

bool SetState(Handle handle, const Dcb& dcb) {
  if (!ValidFraming(dcb)) return Fail(Fault::Other);
  return WithSocket(handle, [&dcb](SocketState& s) {
    s.State = dcb;
    s.State.DCBlength = sizeof(Dcb);
  });
}

bool GetState(Handle handle, Dcb& dcb) {
  return WithSocket(handle, [&dcb](SocketState& s) { dcb = s.State; });
}

bool Purge(Handle handle, uint32_t flags) {
  SocketState state;
  if (!WithSocket(handle, [&state](SocketState& s) {
        state = s;
        s.PurgedAtWrite = false;
      }))
    return false;
  if (!(flags & PurgeRxClear) || state.PurgedAtWrite) return true;
  return Drain(state.Fd) || Fail(Fault::ConnectionDropped);
}

bool ReadBytes(Handle handle, void* buffer, uint32_t count, uint32_t& read) {
  read = 0;
  SocketState state;
  if (!WithSocket(handle, [&state](SocketState& s) {
        s.PurgedAtWrite = false;
        state = s;
      }))
    return false;
  auto* out = static_cast<char*>(buffer);
  ReadTimer timer(state.Timeouts, count);
  int waitMs = 0;
  while (read < count && timer.NextWait(read, waitMs)) {
    const int ready = WaitSocket(state.Fd, false, waitMs);
    if (ready == 0) break;  // a time-out ended the read
    if (ready < 0) {
      if (Interrupted(SocketError())) continue;
      return Fail(Fault::Other);
    }
    const auto n = recv(state.Fd, out + read, static_cast<int>(count - read), 0);
    if (n > 0) {
      read += static_cast<uint32_t>(n);
      timer.Arrived();
      continue;
    }
    const int error = n == 0 ? 0 : SocketError();
    if (n < 0 && (Interrupted(error) || WouldBlock(error))) continue;
    return Fail(Fault::ConnectionDropped);  // closed (0) or reset by the server
  }
  return true;
}

bool WriteBytes(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
  written = 0;
  SocketState state;
  if (!WithSocket(handle, [&state](SocketState& s) {
        s.PurgedAtWrite = true;
        state = s;
      }))
    return false;
  if (!Drain(state.Fd)) return Fail(Fault::ConnectionDropped);
  const CommTimeouts& t = state.Timeouts;
  const uint64_t totalMs =
      uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
  const Clock::time_point deadline = After(Clock::now(), totalMs);
  const auto* in = static_cast<const char*>(buffer);
  while (written < count) {
    const auto n = send(state.Fd, in + written, static_cast<int>(count - written), kSendFlags);
    if (n > 0) {
      written += static_cast<uint32_t>(n);
      continue;
    }
    const int error = SocketError();
    if (n < 0 && Interrupted(error)) continue;
    if (n < 0 && WouldBlock(error)) {
      const int ready = WaitSocket(state.Fd, true, totalMs > 0 ? MillisLeft(deadline) : -1);
      if (ready == 0) return Fail(Fault::TimedOut);
      if (ready < 0 && !Interrupted(SocketError())) return Fail(Fault::Other);
      continue;  // ready, or broken: the next send tells
    }
    return Fail(Fault::ConnectionDropped);
  }
  return true;
}

bool Close(Handle handle) {
  Socket s = kNoSocket;
  {
    Registry& r = Sockets();
    std::lock_guard<std::mutex> lock(r.Mutex);
    auto it = r.Sockets.find(handle);
    if (it == r.Sockets.end()) return Fail(Fault::Other);
    s = it->second.Fd;
    r.Sockets.erase(it);
  }
  CloseSocket(s);
  return true;
}

}  // namespace Serial::Tcp
