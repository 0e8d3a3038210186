#include "link/FrameLog.h"

#include <algorithm>

TFrameLog::TFrameLog(uint32_t ringSize, uint64_t recorded)
    : ringSize_(ringSize), recorded_(recorded) {}

void TFrameLog::Add(int64_t timeMs, uint8_t direction, const uint8_t* bytes, uint16_t count) {
  if (count == 0 || ringSize_ == 0) return;
  const uint64_t start = recorded_;
  recorded_ += count;
  // A frame stays while its first byte does: the ring overwrites oldest first.
  const uint64_t oldest = recorded_ > ringSize_ ? recorded_ - ringSize_ : 0;
  while (!frames_.empty() && frames_.front().Start < oldest)
    frames_.pop_front();
  if (start >= oldest)
    frames_.push_back({start, {timeMs, direction, std::vector<uint8_t>(bytes, bytes + count)}});
}

long TFrameLog::FrameAt(uint32_t slot) const {
  if (slot >= ringSize_) return -1;
  const uint64_t oldest = recorded_ > ringSize_ ? recorded_ - ringSize_ : 0;
  const uint64_t byte = oldest + (slot + ringSize_ - oldest % ringSize_) % ringSize_;
  if (byte >= recorded_) return -1;
  const auto after = std::upper_bound(frames_.begin(), frames_.end(), byte,
                                      [](uint64_t b, const Entry& e) { return b < e.Start; });
  if (after == frames_.begin()) return -1;
  const Entry& entry = *(after - 1);
  if (byte >= entry.Start + entry.Frame.Bytes.size()) return -1;
  return static_cast<long>(after - 1 - frames_.begin());
}

const FrameDecode::Frame* TFrameLog::RequestOf(size_t index) const {
  if (index == 0 || index >= frames_.size() || frames_[index].Frame.Direction == 0) return nullptr;
  const FrameDecode::Frame& before = frames_[index - 1].Frame;
  return before.Direction == 0 ? &before : nullptr;
}

std::vector<std::string> TFrameLog::Describe(size_t index) const {
  const FrameDecode::Frame& frame = frames_[index].Frame;
  std::vector<std::string> lines = FrameDecode::Describe(frame, RequestOf(index));
  if (frame.Direction != 0) return lines;
  // Only complete answers are recorded: a request followed by anything else had none.
  if (RequestOf(index + 1)) {
    lines.push_back("Ответ через " + std::to_string(At(index + 1).TimeMs - frame.TimeMs) + " мс");
  } else if (index + 1 < frames_.size()) {
    lines.push_back("Полного ответа нет");
  }
  return lines;
}

std::string TFrameLog::Line(size_t index) const {
  const std::vector<std::string> lines = Describe(index);
  std::string line = lines.front() + "\t" + FrameDecode::Hex(At(index).Bytes) + "\t";
  for (size_t i = 1; i < lines.size(); ++i)
    line += (i > 1 ? "; " : "") + lines[i];
  return line;
}
