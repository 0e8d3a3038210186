#pragma once
// The frames behind the traffic monitor's byte ring: each frame as it was recorded, kept as
// long as all its bytes are still in the ring, so a cell of the ring leads back to its frame
// and an answer to the request it followed.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/FrameDecode.h"

class TFrameLog {
 public:
  // `recorded` bytes already fill the ring's first slots (they belong to no frame kept).
  explicit TFrameLog(uint32_t ringSize, uint64_t recorded = 0);

  // A frame whose bytes take the ring's next slots, wrapping at its end; the frames whose
  // slots they take are dropped, and so is a frame longer than the ring.
  void Add(int64_t timeMs, uint8_t direction, const uint8_t* bytes, uint16_t count);
  // Empties the log with the ring: the next byte goes to slot 0.
  void Clear() { *this = TFrameLog(ringSize_); }

  size_t Size() const { return frames_.size(); }
  const FrameDecode::Frame& At(size_t index) const { return frames_[index].Frame; }
  // The frame a ring slot's byte belongs to; -1 when it belongs to none kept.
  long FrameAt(uint32_t slot) const;
  // The request an answer follows; nullptr for a request, or an answer with none kept.
  const FrameDecode::Frame* RequestOf(size_t index) const;

  // The frame decoded, one line per fact: an answer against its request; a request with
  // when its answer came, or that none did.
  std::vector<std::string> Describe(size_t index) const;
  // The same on one line: the head (direction, time), the bytes in hex, then the facts.
  std::string Line(size_t index) const;

 private:
  struct Entry {
    uint64_t Start;  // the number of its first byte, counted from the ring's last clearing
    FrameDecode::Frame Frame;
  };
  uint32_t ringSize_;
  uint64_t recorded_;
  std::deque<Entry> frames_;
};
