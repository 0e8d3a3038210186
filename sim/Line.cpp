#include "sim/Line.h"

#include <algorithm>
#include <ctime>

namespace Sim {

namespace {

constexpr uint16_t kAddressReg = 544;
constexpr size_t kMaxFrame = 256;

uint16_t Be16(const std::vector<uint8_t>& f, size_t at) {
  return static_cast<uint16_t>(f[at] << 8 | f[at + 1]);
}

void PutBe16(std::vector<uint8_t>& f, uint16_t v) {
  f.push_back(static_cast<uint8_t>(v >> 8));
  f.push_back(static_cast<uint8_t>(v & 0xFF));
}

void AppendCrc(std::vector<uint8_t>& f) {
  const uint16_t crc = Crc16(f.data(), f.size());
  f.push_back(static_cast<uint8_t>(crc & 0xFF));
  f.push_back(static_cast<uint8_t>(crc >> 8));
}

bool CrcOk(const std::vector<uint8_t>& f, size_t size) {
  if (size < 4) return false;
  const uint16_t crc = Crc16(f.data(), size - 2);
  return f[size - 2] == (crc & 0xFF) && f[size - 1] == (crc >> 8);
}

std::vector<uint8_t> ExceptionAnswer(const std::vector<uint8_t>& frame, uint8_t code) {
  return {frame[0], static_cast<uint8_t>(frame[1] | 0x80), code};
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t size) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
  }
  return crc;
}

Now HostNow() {
  using namespace std::chrono;
  const int64_t utcMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(utcMs / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);  // the process may host other threads that use localtime
  DateTime t;
  t.Year = local.tm_year + 1900;
  t.Month = local.tm_mon + 1;
  t.Day = local.tm_mday;
  t.Hour = local.tm_hour;
  t.Minute = local.tm_min;
  t.Second = std::min(local.tm_sec, 59);
  Now now;
  now.LocalMs = SecondsFromCivil(t) * 1000 + utcMs % 1000;
  now.SteadyMs = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return now;
}

Line::Line(const LineSetup& setup, const std::vector<UnitSetup>& units)
    : setup_(setup), random_(setup.Seed) {
  std::array<bool, 256> taken{};
  for (const UnitSetup& u : units) {
    const std::string unit = "unit " + std::to_string(u.Address);
    if (u.Address == 0) {
      setupError_ = "address 0 is the broadcast address, no unit can have it";
    } else if (taken[u.Address]) {
      setupError_ = unit + ": address used twice";
    } else if (u.JournalCount > kJournalSize || u.JournalLatest > kJournalSize) {
      setupError_ = unit + ": journal count and latest record must be 0..1000";
    } else if (u.Password.size() != 8) {
      setupError_ = unit + ": the password must be 8 characters";
    }
    if (!setupError_.empty()) break;
    taken[u.Address] = true;
  }
  if (setup.Baud == 0) setupError_ = "the line speed must not be 0";
  if (!setupError_.empty()) return;
  const Now now = HostNow();
  units_.reserve(units.size());
  for (const UnitSetup& u : units)
    units_.emplace_back(u, now);
}

Line::~Line() {
  Stop();
}

bool Line::Start(Transport* transport) {
  if (thread_.joinable() || !setupError_.empty()) return false;
  {
    std::lock_guard<std::mutex> lock(sendMutex_);
    transport_ = transport;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    origin_ = Clock::now();
  }
  buffer_.clear();
  discarding_ = false;
  nextTrip_ = Clock::now() + std::chrono::milliseconds(setup_.TripPeriodMs);
  stopping_ = false;
  thread_ = std::thread(&Line::Serve, this);
  return true;
}

void Line::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  transport_->Wake();
  thread_.join();
  std::lock_guard<std::mutex> lock(sendMutex_);
  transport_ = nullptr;
}

Line::Clock::duration Line::ByteTime() const {
  return std::chrono::nanoseconds(11'000'000'000LL / setup_.Baud);
}

Line::Clock::duration Line::SilenceGap() const {
  return std::max<Clock::duration>(ByteTime() * 7 / 2, std::chrono::milliseconds(2));
}

void Line::Serve() {
  std::vector<uint8_t> chunk;
  while (!stopping_) {
    Clock::time_point now = Clock::now();
    Clock::time_point deadline = Clock::time_point::max();
    if (!buffer_.empty()) deadline = lastByte_ + SilenceGap();
    if (setup_.TripPeriodMs > 0) deadline = std::min(deadline, nextTrip_);
    int64_t timeoutUs = -1;
    if (deadline != Clock::time_point::max()) {
      timeoutUs = std::max<int64_t>(
          0, std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count() + 1);
    }
    chunk.clear();
    if (!transport_->Receive(chunk, timeoutUs)) break;
    now = Clock::now();
    if (!chunk.empty()) {
      lastByte_ = now;
      buffer_.insert(buffer_.end(), chunk.begin(), chunk.end());
      Parse();
    } else if (!buffer_.empty() && now - lastByte_ >= SilenceGap()) {
      OnSilence();
      Parse();  // what the master said while we answered
    }
    if (setup_.TripPeriodMs > 0 && now >= nextTrip_) {
      AutoTrip();
      nextTrip_ = std::max(nextTrip_ + std::chrono::milliseconds(setup_.TripPeriodMs), now);
    }
  }
}

// Frames are cut by the length their function code implies and served at once, without
// waiting for the silence after them: the master may ask again right after an answer.
void Line::Parse() {
  while (!discarding_ && buffer_.size() >= 2) {
    const uint8_t function = buffer_[1];
    size_t need = 0;
    if (function == 3 || function == 4 || function == 6) {
      need = 8;
    } else if (function == 16) {
      if (buffer_.size() < 7) return;
      need = 9 + buffer_[6];
    } else {
      return;  // unknown function: its end is the silence after it
    }
    if (buffer_.size() < need) return;
    if (!CrcOk(buffer_, need)) {
      // Where the next frame starts is unknown now; whatever follows goes with this one
      // until the line falls silent.
      discarding_ = true;
      break;
    }
    std::vector<uint8_t> frame(buffer_.begin(), buffer_.begin() + static_cast<long>(need));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(need));
    Handle(frame);
  }
  if (buffer_.size() > 2 * kMaxFrame) {  // no frame is that long: rubbish, keep its tail
    discarding_ = true;
    buffer_.erase(buffer_.begin(), buffer_.end() - static_cast<long>(kMaxFrame));
  }
}

void Line::OnSilence() {
  // What is left is a frame of a function the length rule does not know (or a function 16
  // frame whose byte count lies), or it is rubbish.
  std::vector<uint8_t> pending;
  pending.swap(buffer_);
  const bool discarded = discarding_;
  discarding_ = false;
  const bool lengthKnown =
      pending.size() >= 2 && (pending[1] == 3 || pending[1] == 4 || pending[1] == 6);
  if (!discarded && !lengthKnown && pending.size() <= kMaxFrame && CrcOk(pending, pending.size())) {
    Handle(pending);
  } else {
    LogLocked(true, pending);
  }
}

void Line::Handle(const std::vector<uint8_t>& frame) {
  Reply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Log(true, frame);
    const uint8_t address = frame[0];
    ++requests_[address];
    ++total_;
    // Broadcasts are ignored altogether: no unit acts on address 0.
    Unit* unit = address == 0 ? nullptr : Find(address);
    if (unit == nullptr) return;
    reply.Applied = NextFault();
    if (reply.Applied.Kind == FaultKind::Exception) {
      reply.Bytes = ExceptionAnswer(frame, kDeviceFailure);
    } else {
      reply.Bytes = Dispatch(*unit, frame);
      reply.Mover = unit;
    }
    if (reply.Applied.Kind == FaultKind::OtherAddress) {
      reply.Bytes[0] = static_cast<uint8_t>(reply.Applied.Param);
    }
    AppendCrc(reply.Bytes);
    if (reply.Applied.Kind == FaultKind::Corrupt) {
      const size_t at = random_() % (reply.Bytes.size() - 2);
      reply.Bytes[at] ^= static_cast<uint8_t>(1 + random_() % 255);
    }
    if (reply.Applied.Kind == FaultKind::Truncated) {
      reply.Bytes.resize(reply.Bytes.size() -
                         std::min<size_t>(reply.Applied.Param, reply.Bytes.size()));
    }
    if (reply.Applied.Kind == FaultKind::Noise) {
      for (uint32_t i = 0; i < reply.Applied.Param; ++i) {
        reply.Noise.push_back(static_cast<uint8_t>(random_()));
      }
    }
  }
  Answer(reply);
}

std::vector<uint8_t> Line::Dispatch(Unit& unit, const std::vector<uint8_t>& frame) {
  const uint8_t function = frame[1];
  const Now now = HostNow();
  std::vector<uint8_t> answer;
  std::vector<uint16_t> values;
  uint8_t refused = 0;
  switch (function) {
    case 3:
    case 4: {
      const uint16_t first = Be16(frame, 2);
      const uint16_t count = Be16(frame, 4);
      refused = function == 3 ? unit.ReadHolding(first, count, values, now)
                              : unit.ReadInput(first, count, values, now);
      if (refused) break;
      answer = {frame[0], function, static_cast<uint8_t>(2 * count)};
      for (uint16_t v : values)
        PutBe16(answer, v);
      break;
    }
    case 6:
    case 16: {
      // A frame cut at a silence can be shorter than its header.
      if (frame.size() < (function == 6 ? 8u : 9u)) {
        refused = kIllegalDataValue;
        break;
      }
      const uint16_t first = Be16(frame, 2);
      if (function == 6) {
        values = {Be16(frame, 4)};
      } else {
        const uint16_t count = Be16(frame, 4);
        const size_t bytes = frame[6];
        if (count == 0 || count > 123 || bytes != 2u * count || frame.size() != 9 + bytes) {
          refused = kIllegalDataValue;
          break;
        }
        for (size_t i = 0; i < count; ++i)
          values.push_back(Be16(frame, 7 + 2 * i));
      }
      if (MovesToTakenAddress(unit, frame)) {
        refused = kIllegalDataValue;
        break;
      }
      refused = unit.Write(first, values, now);
      if (!refused) answer.assign(frame.begin(), frame.begin() + 6);
      break;
    }
    default:
      refused = kIllegalFunction;
      break;
  }
  return refused ? ExceptionAnswer(frame, refused) : answer;
}

// Two units on one address would talk over each other, so the line refuses such a move.
bool Line::MovesToTakenAddress(const Unit& unit, const std::vector<uint8_t>& frame) const {
  if (!unit.Access()) return false;
  const uint16_t first = Be16(frame, 2);
  uint32_t value = 0x10000;
  if (frame[1] == 6 && first == kAddressReg) value = Be16(frame, 4);
  if (frame[1] == 16) {
    const uint16_t count = Be16(frame, 4);
    if (first <= kAddressReg && first + count > kAddressReg) {
      value = Be16(frame, 7 + 2 * (kAddressReg - first));
    }
  }
  if (value == 0 || value > 255 || value == unit.Address()) return false;
  return Find(static_cast<uint8_t>(value)) != nullptr;
}

Line::Fault Line::NextFault() {
  if (nextFaultCount_ > 0) {
    --nextFaultCount_;
    return nextFault_;
  }
  if (rate_ > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < rate_) {
    return rateFault_;
  }
  return {};
}

void Line::Answer(const Reply& reply) {
  Emit(reply);
  // The answer (or its loss) is behind us: now a unit told to move takes its new address.
  if (reply.Mover != nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint8_t address = 0;
    if (reply.Mover->TakePendingAddress(address)) reply.Mover->SetAddress(address);
  }
}

void Line::Emit(const Reply& reply) {
  using std::chrono::milliseconds;
  const FaultKind kind = reply.Applied.Kind;
  const uint32_t param = reply.Applied.Param;
  if (kind == FaultKind::Silent) return;
  if (!HoldOff(lastByte_ + std::chrono::microseconds(setup_.TurnaroundUs))) return;
  if (kind == FaultKind::Late && !HoldOff(Clock::now() + milliseconds(param))) return;
  if (!Transmit(reply.Noise)) return;
  if (kind != FaultKind::Split) {
    Transmit(reply.Bytes);
    return;
  }
  const size_t half = reply.Bytes.size() / 2;
  if (!Transmit(std::vector<uint8_t>(reply.Bytes.begin(), reply.Bytes.begin() + half))) return;
  if (!HoldOff(Clock::now() + milliseconds(param))) return;
  Transmit(std::vector<uint8_t>(reply.Bytes.begin() + half, reply.Bytes.end()));
}

bool Line::Transmit(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (transport_ == nullptr || bytes.empty()) return true;
  if (!setup_.Pace) {
    LogLocked(false, bytes);
    transport_->Send(bytes.data(), bytes.size());
    return true;
  }
  // Absolute deadlines, so the sleeps' own lateness does not add up over the frame.
  const Clock::time_point start = Clock::now();
  size_t sent = 0;
  for (; sent < bytes.size(); ++sent) {
    if (!HoldOff(start + ByteTime() * static_cast<long>(sent))) break;
    transport_->Send(&bytes[sent], 1);
  }
  LogLocked(false, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(sent)));
  return sent == bytes.size();
}

// A unit that hears the master while it still has something to say stops: on a half-duplex
// line the master has taken over. What it heard is kept and served as usual.
bool Line::HoldOff(Clock::time_point deadline) {
  std::vector<uint8_t> chunk;
  for (;;) {
    if (stopping_) return false;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return true;
    const int64_t us =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count() + 1;
    if (!transport_->Receive(chunk, us)) return false;
    if (!chunk.empty()) {
      buffer_.insert(buffer_.end(), chunk.begin(), chunk.end());
      lastByte_ = Clock::now();
      return false;
    }
  }
}

void Line::AutoTrip() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (units_.empty()) return;
  Unit& unit = units_[random_() % units_.size()];
  const uint8_t channel = static_cast<uint8_t>(random_() % ChannelCount(unit.Model()));
  unit.SetChannelInput(channel, !unit.ChannelInput(channel), HostNow());
}

void Line::Log(bool fromMaster, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return;
  Frame f;
  f.Time = std::chrono::duration<double>(Clock::now() - origin_).count();
  f.FromMaster = fromMaster;
  f.Bytes = bytes;
  log_.push_back(std::move(f));
  if (log_.size() > kLogCap) log_.pop_front();
}

void Line::LogLocked(bool fromMaster, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  Log(fromMaster, bytes);
}

Unit* Line::Find(uint8_t address) {
  for (Unit& u : units_) {
    if (u.Address() == address) return &u;
  }
  return nullptr;
}

const Unit* Line::Find(uint8_t address) const {
  for (const Unit& u : units_) {
    if (u.Address() == address) return &u;
  }
  return nullptr;
}

void Line::InjectFault(FaultKind kind, uint32_t param, uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  nextFault_ = {kind, param};
  nextFaultCount_ = count;
}

void Line::SetFaultProbability(FaultKind kind, uint32_t param, double probability) {
  std::lock_guard<std::mutex> lock(mutex_);
  rateFault_ = {kind, param};
  rate_ = probability;
}

void Line::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  nextFault_ = {};
  nextFaultCount_ = 0;
  rateFault_ = {};
  rate_ = 0;
}

void Line::SendRaw(const std::vector<uint8_t>& bytes) {
  LogLocked(false, bytes);
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (transport_ != nullptr && !bytes.empty()) transport_->Send(bytes.data(), bytes.size());
}

uint32_t Line::RequestCount(uint8_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_[address];
}

uint32_t Line::TotalRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_;
}

uint32_t Line::CommandCount(uint8_t address, uint16_t code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Unit* unit = Find(address);
  return unit ? unit->CommandCount(code) : 0;
}

std::vector<Frame> Line::TakeLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Frame> frames(log_.begin(), log_.end());
  log_.clear();
  return frames;
}

void Line::ResetCounters() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_ = {};
  total_ = 0;
  for (Unit& u : units_)
    u.ResetCounters();
}

bool Line::HasUnit(uint8_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Find(address) != nullptr;
}

bool Line::Holding(uint8_t address, uint16_t reg, uint16_t& value) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Unit* unit = Find(address);
  return unit && unit->Holding(reg, value, HostNow());
}

bool Line::SetHolding(uint8_t address, uint16_t reg, uint16_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  Unit* unit = Find(address);
  if (!unit) return false;
  if (reg == kAddressReg && value != address && value <= 255 && Find(static_cast<uint8_t>(value))) {
    return false;
  }
  return unit->SetHolding(reg, value, HostNow());
}

bool Line::Input(uint8_t address, uint16_t reg, uint16_t& value) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Unit* unit = Find(address);
  return unit && unit->Input(reg, value, HostNow());
}

bool Line::SetAccess(uint8_t address, bool granted) {
  std::lock_guard<std::mutex> lock(mutex_);
  Unit* unit = Find(address);
  if (unit) unit->SetAccess(granted);
  return unit != nullptr;
}

bool Line::SetModel(uint8_t address, uint8_t model) {
  std::lock_guard<std::mutex> lock(mutex_);
  Unit* unit = Find(address);
  if (unit) unit->SetModel(model);
  return unit != nullptr;
}

bool Line::SetChannelInput(uint8_t address, uint8_t channel, bool active) {
  std::lock_guard<std::mutex> lock(mutex_);
  Unit* unit = Find(address);
  return unit && unit->SetChannelInput(channel, active, HostNow());
}

bool Line::SetClockRegisters(uint8_t address, uint16_t r520, uint16_t r521, uint16_t r522) {
  std::lock_guard<std::mutex> lock(mutex_);
  Unit* unit = Find(address);
  if (unit) unit->SetClockRegisters(r520, r521, r522);
  return unit != nullptr;
}

bool Line::SetJournal(uint8_t address, uint16_t count, uint16_t latest) {
  std::lock_guard<std::mutex> lock(mutex_);
  Unit* unit = Find(address);
  if (!unit || count > kJournalSize || latest > kJournalSize) return false;
  unit->SetJournal(count, latest, HostNow());
  return true;
}

std::string Line::Password(uint8_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Unit* unit = Find(address);
  return unit ? unit->Password() : std::string();
}

}  // namespace Sim
