#pragma once
// What the implementations of Serial.h share: the failure of the calling thread, the checks of
// a DCB's framing, and the ReadFile time-outs of one read as a sequence of waits, so a terminal
// and a socket end their reads alike.

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>

#include "platform/Serial.h"

namespace Serial {

inline thread_local Fault tLastFault = Fault::None;

// Records the failure; false, so a failing call can return it.
inline bool Fail(Fault fault) {
  tLastFault = fault;
  return false;
}

// As the Windows serial driver: 5 to 8 data bits, 1.5 stop bits only with 5, 2 never with 5.
inline bool ValidFraming(const Dcb& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SpaceParity)
    return false;
  if (dcb.StopBits == One5StopBits) return dcb.ByteSize == 5;
  if (dcb.StopBits == TwoStopBits) return dcb.ByteSize != 5;
  return dcb.StopBits == OneStopBit;
}

using Clock = std::chrono::steady_clock;

// Time-outs are 32-bit millisecond counts and their products: saturated far beyond any wait
// that matters, so neither the clock's arithmetic nor a poll's int can overflow.
constexpr uint64_t kLongestWaitMs = INT_MAX / 2;

inline Clock::time_point After(Clock::time_point from, uint64_t ms) {
  return from + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
}

// What is left until the deadline, for a wait that rounds down: one extra millisecond keeps a
// read from ending early. 0 once it has passed.
inline int MillisLeft(Clock::time_point deadline, Clock::time_point now = Clock::now()) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
  if (left.count() <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(left.count(), kLongestWaitMs)) + 1;
}

// One ReadFile of `count` bytes: it ends when all arrived, when the gap between two bytes
// passes ReadIntervalTimeout, or when ReadTotalTimeoutMultiplier * count +
// ReadTotalTimeoutConstant has passed; MAXDWORD interval with no totals returns what is there,
// MAXDWORD interval and multiplier with a constant waits for the first bytes only.
class ReadTimer {
 public:
  ReadTimer(const CommTimeouts& t, uint32_t count, Clock::time_point start = Clock::now())
      : immediate_(t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                   t.ReadTotalTimeoutConstant == 0),
        firstBytesOnly_(t.ReadIntervalTimeout == MaxDword &&
                        t.ReadTotalTimeoutMultiplier == MaxDword &&
                        t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MaxDword),
        interval_(t.ReadIntervalTimeout),
        intervalLimited_(!firstBytesOnly_ && t.ReadIntervalTimeout != 0 &&
                         t.ReadIntervalTimeout != MaxDword),
        lastBytes_(start) {
    const uint64_t totalMs = firstBytesOnly_ ? t.ReadTotalTimeoutConstant
                                             : uint64_t{t.ReadTotalTimeoutMultiplier} * count +
                                                   t.ReadTotalTimeoutConstant;
    totalLimited_ = firstBytesOnly_ || totalMs > 0;
    total_ = After(start, totalMs);
  }

  // The wait for more bytes, `got` of them in hand: -1 without limit, 0 to look without
  // waiting. False when the read is over.
  bool NextWait(uint32_t got, int& waitMs, Clock::time_point now = Clock::now()) const {
    if (immediate_) {
      waitMs = 0;
      return true;
    }
    if (firstBytesOnly_ && got > 0) return false;
    waitMs = -1;
    if (totalLimited_) waitMs = MillisLeft(total_, now);
    if (intervalLimited_ && got > 0) {
      const int gap = MillisLeft(After(lastBytes_, interval_), now);
      waitMs = waitMs < 0 ? gap : std::min(waitMs, gap);
    }
    return waitMs != 0;  // a steady stream must not outlast the time-outs
  }
  void Arrived(Clock::time_point now = Clock::now()) { lastBytes_ = now; }

 private:
  bool immediate_, firstBytesOnly_;
  uint32_t interval_;
  bool intervalLimited_, totalLimited_ = false;
  Clock::time_point total_, lastBytes_;
};

}  // namespace Serial
